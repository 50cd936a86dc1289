// tarnlook: a contact sheet of the night's frames, one PNG picture, and the
// night's report beside it (a web page and a CSV table).
//
//   tarnlook              every *.fit of the current folder, in name order
//   tarnlook FILE...      the files given, in the order given
//   tarnlook -h | --help, tarnlook --version
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "folder.h"
#include "frame.h"
#include "layout.h"
#include "leftovers.h"
#include "night_report_file.h"
#include "sheet.h"
#include "temporary_file.h"

#ifndef TARNLOOK_VERSION
#define TARNLOOK_VERSION "unknown"
#endif

namespace {

constexpr int kStatusWriteFailed = 1;  // a picture, the page, the table, the console or the folder failed
constexpr int kStatusUsage = 2;        // wrong command line

const char* const kUsage =
    "Usage: tarnlook [FILE...]\n"
    "       tarnlook -h | --help\n"
    "       tarnlook --version\n"
    "\n"
    "Draws a contact sheet of FITS frames: one thumbnail per frame, averaged in\n"
    "blocks and stretched between the frame's zscale limits, row 1 at the\n"
    "bottom, labelled with the file name and the header's OBJECT, DATA-TYP,\n"
    "FILTER, UT and AIRMASS where present.\n"
    "\n"
    "Without FILE arguments it takes every *.fit file of the current folder in\n"
    "name order; with them, those files in the order given. It writes in the\n"
    "current folder\n"
    "  tarnlook.png     the sheet: up to 48 frames, 8 across and 6 down\n"
    "  tarnlook-N.png   sheets 1, 2, ... when there are more than 48 frames\n"
    "  tarnlook.html    the night's report: the sheets, each thumbnail a link to\n"
    "                   its frame's row in a table of the header values and the\n"
    "                   zscale limits, and the files passed over\n"
    "  tarnlook.csv     that table for programs (RFC 4180, CRLF line ends)\n"
    "replacing an older file only by a complete one, and prints one line per\n"
    "frame (name, OBJECT, the two zscale limits), then the pictures written.\n"
    "Then it removes the sheets of earlier runs that it did not write again\n"
    "(tarnlook.png when it wrote numbered sheets, or the reverse, and numbers\n"
    "beyond its own), so that the sheets in the folder come from one run; it\n"
    "removes no other file. A run without a frame writes and removes nothing.\n"
    "A file that is not a FITS file with a 2-D image is passed over with a note.\n"
    "Bytes of names and header values outside printable ASCII are shown as \\xNN\n"
    "and a backslash as \\\\, on the console, the page and in the table.\n"
    "\n"
    "Exit status:\n"
    "  0  the pictures, page and table were written, or there was no frame\n"
    "  1  a picture, the page or the table could not be written, an older sheet\n"
    "     could not be removed, the current folder could not be listed, or\n"
    "     standard output failed\n"
    "  2  wrong command line; no file was read or written\n"
    "\n"
    "Manual: man tarnlook\n";

bool isHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }
bool isKnown(const std::string& arg) { return isHelp(arg) || arg == "--version"; }

int usageError(const std::string& message) {
  std::fprintf(stderr, "tarnlook: %s\n\n", message.c_str());
  std::fputs(kUsage, stderr);
  return kStatusUsage;
}

// Every run ends here: the console lines, help and version go to standard
// output, and a full disk or a closed pipe there must not pass for success.
int finishStandardOutput() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("tarnlook: cannot write to standard output\n", stderr);
    return kStatusWriteFailed;
  }
  return 0;
}

// Puts into `frames` the *.fit files of the current folder (as a shell's
// *.fit finds them: no names starting with '.'), regular files only, in byte
// order of the names. Returns an empty text, else why the folder could not
// be read.
std::string framesOfFolder(std::vector<std::string>& frames) {
  std::vector<std::string> names;
  const std::string failure = tarnlook::listFolder(".", names);
  if (!failure.empty()) return failure;
  for (const std::string& name : names) {
    if (name.size() <= 4 || name[0] == '.' || name.compare(name.size() - 4, 4, ".fit") != 0) {
      continue;
    }
    std::error_code ignored;
    if (std::filesystem::is_regular_file(name, ignored)) frames.push_back(name);
  }
  std::sort(frames.begin(), frames.end());
  return "";
}

int runFailed(const std::string& message) {
  std::fprintf(stderr, "tarnlook: %s\n", message.c_str());
  return kStatusWriteFailed;
}

// Collects the frames of the run and writes them sheet by sheet, keeping at
// most one sheet's thumbnails (and the next frame) in memory.
class SheetWriter {
 public:
  explicit SheetWriter(LeftoverTemporaries& leftovers) : leftovers_(leftovers) {}

  // Takes a frame; false when an earlier full sheet could not be written.
  bool add(tarnlook::Frame&& frame) {
    if (pending_.size() == static_cast<std::size_t>(tarnlook::kFramesPerSheet)) {
      // Another frame after a full sheet: the sheets are numbered.
      if (!flush(tarnlook::sheetName(static_cast<int>(written_.size()) + 1, true))) return false;
    }
    pending_.push_back(std::move(frame));
    return true;
  }

  // Writes what is left; false on failure.
  bool finish() {
    if (pending_.empty()) return true;
    return flush(tarnlook::sheetName(static_cast<int>(written_.size()) + 1, !written_.empty()));
  }

  // The number of sheets written.
  int count() const { return static_cast<int>(written_.size()); }

  // "Picture: tarnlook.png (12 frames)", or every sheet after "Pictures:".
  std::string summary() const {
    std::string text = written_.size() == 1 ? "Picture:" : "Pictures:";
    for (std::size_t i = 0; i < written_.size(); ++i) {
      text += (i == 0 ? " " : ", ") + written_[i];
    }
    return text;
  }

 private:
  bool flush(const std::string& name) {
    const std::string error = tarnlook::writeSheet(pending_, name, leftovers_);
    if (!error.empty()) {
      std::printf("Cannot write. (%s)\n", name.c_str());
      std::fflush(stdout);
      std::fprintf(stderr, "tarnlook: %s\n", error.c_str());
      return false;
    }
    written_.push_back(name + " (" + std::to_string(pending_.size()) +
                       (pending_.size() == 1 ? " frame)" : " frames)"));
    pending_.clear();
    return true;
  }

  LeftoverTemporaries& leftovers_;
  std::vector<tarnlook::Frame> pending_;
  std::vector<std::string> written_;
};

int run(const std::vector<std::string>& given) {
  std::vector<std::string> names = given;
  if (given.empty()) {
    const std::string failure = framesOfFolder(names);
    if (!failure.empty()) return runFailed(failure);
  }
  tarnlook::FrameReader reader;
  // The temporaries of killed runs beside the pictures go as they are
  // written again; this run's own go if a signal ends it.
  removeTemporariesOnSignals();
  LeftoverTemporaries leftovers;
  SheetWriter sheets(leftovers);
  tarnlook::NightReport report;
  int frames = 0;
  for (const std::string& name : names) {
    tarnlook::Frame frame;
    const std::string note = reader.read(name, frame);
    if (!note.empty()) {
      std::printf("%s\n", note.c_str());
      report.passedOver.push_back(note);
      continue;
    }
    std::printf("%s\n", tarnlook::consoleLine(frame.name, frame.header, frame.limits).c_str());
    ++frames;
    report.frames.push_back({frame.name, frame.header, frame.limits, frame.size});
    if (!sheets.add(std::move(frame))) return kStatusWriteFailed;
  }
  if (frames == 0) {
    std::puts(given.empty() ? "No frame (*.fit) in this folder; nothing written."
                            : "No frame to draw; nothing written.");
    return 0;
  }
  if (!sheets.finish()) return kStatusWriteFailed;
  std::printf("%s\n", sheets.summary().c_str());
  if (const auto failure = tarnlook::writeReport(std::move(report), leftovers)) {
    std::printf("Cannot write. (%s)\n", failure->file.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "tarnlook: %s\n", failure->reason.c_str());
    return kStatusWriteFailed;
  }
  // Only now, with this run's sheets in place, do the older ones go.
  const std::string failure = tarnlook::removeStaleSheets(sheets.count());
  return failure.empty() ? 0 : runFailed(failure);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (!arg.empty() && arg[0] == '-' && !isKnown(arg)) {
      return usageError("unknown argument '" + arg + "'");
    }
  }
  for (const std::string& arg : args) {
    if (!isKnown(arg)) continue;
    if (args.size() > 1) {
      const std::string& other = args[0] == arg ? args[1] : args[0];
      return usageError("unexpected argument '" + other + "'");
    }
    if (isHelp(arg)) {
      std::fputs(kUsage, stdout);
    } else {
      std::printf("tarnlook %s\n", TARNLOOK_VERSION);
    }
    return finishStandardOutput();
  }
  const int status = run(args);
  const int console = finishStandardOutput();
  return status != 0 ? status : console;
}
