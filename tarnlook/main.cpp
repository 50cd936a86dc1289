// tarnlook: a contact sheet of the night's frames, one PNG picture, and the
// night's report beside it (a web page and a CSV table).
//
//   tarnlook              every *.fit of the current folder, in time order
//   tarnlook FILE...      the files given, in time order
//   tarnlook -h | --help, tarnlook --version
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "escape.h"
#include "folder.h"
#include "frame.h"
#include "layout.h"
#include "label.h"
#include "leftovers.h"
#include "night_account_file.h"
#include "measure.h"
#include "night_report_file.h"
#include "quality.h"
#include "sheet.h"
#include "temporary_file.h"

#ifndef TARNLOOK_VERSION
#define TARNLOOK_VERSION "unknown"
#endif

namespace {

constexpr int kStatusWriteFailed = 1;  // a picture, the page, the table, the console or the folder failed
constexpr int kStatusUsage = 2;        // wrong command line
constexpr int kMmapThresholdBytes = 1 << 20;  // blocks this large are mapped, not kept

const char* const kUsage =
    "Usage: tarnlook [--scale NAXIS1xNAXIS2=ARCSEC]... [FILE...]\n"
    "       tarnlook -h | --help\n"
    "       tarnlook --version\n"
    "\n"
    "Draws a contact sheet of FITS frames and writes the night's report: one\n"
    "thumbnail per frame, averaged in blocks and stretched between the frame's\n"
    "zscale limits, row 1 at the bottom, labelled with the file name and the\n"
    "header's OBJECT, DATA-TYP, FILTER, UT and AIRMASS where present. A file\n"
    "whose primary HDU holds no image is drawn from its first image extension\n"
    "(tile-compressed ones too), named NAME[n].\n"
    "\n"
    "Without FILE arguments it takes every *.fit file of the current folder;\n"
    "with them, those files. The frames go in the order of the time of their\n"
    "exposure: DATE-OBS with its own time, else DATE-OBS with UT or TIME-OBS,\n"
    "else MJD-OBS or JD (the converters write the middle of the exposure);\n"
    "frames without a time follow, in name order (files named: in the order\n"
    "given). It writes in the current folder\n"
    "  tarnlook.png     the sheet: up to 48 frames, 8 across and 6 down\n"
    "  tarnlook-N.png   sheets 1, 2, ... when there are more than 48 frames\n"
    "  tarnlook.html    the night's report, one file with the thumbnails in it:\n"
    "                   the night's date and UT span; first what to look at:\n"
    "                   run-list lines not converted or warned, a stop, camera\n"
    "                   files the run list leaves out, files passed over; frames\n"
    "                   by DATA-TYP, OBJECT exposure, observer, weather, seeing;\n"
    "                   the thumbnails, each a link to its frame's row in a\n"
    "                   table of the header values and zscale limits\n"
    "  tarnlook.csv     that table for programs (RFC 4180, CRLF line ends)\n"
    "  tarnlook-runlist.csv\n"
    "                   the run list's account, when the folder has tarnlist.dat\n"
    "                   and no FILE is given (else an older one is removed):\n"
    "                   each line's outcome and reason, from the converters' run\n"
    "                   records (tarnfits-run.csv, ...), else from tarnfits.log\n"
    "replacing an older file only by a complete one, and prints one line per\n"
    "frame (name, OBJECT, the two zscale limits), then the files written.\n"
    "Then it removes the sheets of earlier runs that it did not write again\n"
    "(tarnlook.png when it wrote numbered sheets, or the reverse, and numbers\n"
    "beyond its own), so that the sheets in the folder come from one run; it\n"
    "removes no other file. A run without a frame writes and removes nothing,\n"
    "but for the page and tables when the folder's run list or a run record\n"
    "has an account to give.\n"
    "A file that is not a FITS file with a 2-D image is passed over with a note.\n"
    "\n"
    "Every frame is measured (level, noise, maximum, saturated pixels); the\n"
    "stars of OBJECT frames are found with SEP (count, median FWHM and a/b,\n"
    "sky, the target at the centre). Frames far from the rest of the night are\n"
    "flagged with the reason, on the page, in the table and at the end of the\n"
    "console line, which also gives the FWHM in pixels. The page draws FWHM,\n"
    "sky and airmass against UT.\n"
    "  --scale NAXIS1xNAXIS2=ARCSEC\n"
    "                   arcseconds per pixel of the frames of that image size\n"
    "                   (a detector at a binning): FWHM in arcseconds too,\n"
    "                   beside the observer's SEEING; may be given again\n"
    "Bytes of names and header values outside printable ASCII are shown as \\xNN\n"
    "and a backslash as \\\\, on the console, the page and in the tables.\n"
    "\n"
    "Exit status:\n"
    "  0  the pictures, page and tables were written, or there was no frame\n"
    "  1  a picture, the page or a table could not be written, an older sheet\n"
    "     or account could not be removed, the current folder could not be\n"
    "     listed, or standard output failed\n"
    "  2  wrong command line; no file was read or written\n"
    "\n"
    "Manual: man tarnlook\n";

bool isHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }
bool isKnown(const std::string& arg) { return isHelp(arg) || arg == "--version"; }

int usageError(const std::string& message) {
  std::fprintf(stderr, "tarnlook: %s\nTry 'tarnlook --help'.\n", message.c_str());
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

// The run-list line that made each output, as the account tells it before
// any frame is drawn: what the editors' outputs lack comes from there.
std::map<std::string, tarnlook::ListLine> makersOfOutputs(
    const std::optional<std::vector<tarnlook::ListLine>>& lines) {
  if (!lines) return {};
  std::set<std::string> outputs;
  for (const tarnlook::ListLine& line : *lines) outputs.insert(line.output);
  const auto account = tarnlook::readAccount(lines, outputs, {});
  return account ? tarnlook::makersOf(*account, *lines) : std::map<std::string, tarnlook::ListLine>{};
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

  // Says which sheet could not be written, after add() or finish() failed.
  void reportFailure() const {
    std::printf("Cannot write. (%s)\n", failure_.first.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "tarnlook: %s\n", failure_.second.c_str());
  }

  // The number of sheets written.
  int count() const { return static_cast<int>(written_.size()); }

  // "Picture: tarnlook.png (12 frames)", or every sheet after "Pictures:".
  std::string pictures() const {
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
      failure_ = {name, error};
      return false;
    }
    written_.push_back(name + " (" + std::to_string(pending_.size()) +
                       (pending_.size() == 1 ? " frame)" : " frames)"));
    pending_.clear();
    return true;
  }

  LeftoverTemporaries& leftovers_;
  std::pair<std::string, std::string> failure_;  // the sheet and why, once one failed
  std::vector<tarnlook::Frame> pending_;
  std::vector<std::string> written_;
};

// The report's files on the last console line: "page: tarnlook.html;
// table: tarnlook.csv", the account's table after the other.
std::string reportLine(bool account) {
  return std::string("page: ") + tarnlook::kPageName +
         (account ? std::string("; tables: ") + tarnlook::kTableName + ", " +
                        tarnlook::kAccountTableName
                  : std::string("; table: ") + tarnlook::kTableName);
}

// What the run list and the camera's cards give the header of an output
// that lacks them (tarnlook::fillFromRunList), by the output's name.
using Fill = std::function<tarnlook::Filled(const std::string&, tarnlook::FrameHeader&)>;

// A frame read and measured, or why it was passed over.
struct Read {
  std::optional<tarnlook::PassedOver> passed;
  tarnlook::Frame frame;
  tarnlook::Filled filled;  // what `fill` gave its header
};

Read readFrame(const std::string& name, const Fill& fill) {
  Read read;
  tarnlook::FrameReader reader;
  read.passed = reader.read(name, read.frame, [&](tarnlook::FrameHeader& header) {
    read.filled = fill(name, header);
  });
  return read;
}

// Reads the frames `order` of `names` in that order, each on a thread of
// its own, at most one per core ahead of the one taken (frames are
// independent; CFITSIO and SEP keep no state between them, and `fill` only
// reads).
class FrameQueue {
 public:
  FrameQueue(const std::vector<std::string>& names, std::vector<std::size_t> order, const Fill& fill)
      : names_(names), order_(std::move(order)), fill_(fill),
        ahead_(std::max(1u, std::thread::hardware_concurrency())) {}

  bool done() const { return taken_ == order_.size(); }

  Read take() {
    while (pending_.size() < ahead_ && started_ < order_.size()) {
      pending_.push_back(std::async(std::launch::async, readFrame,
                                    std::cref(names_[order_[started_++]]), std::cref(fill_)));
    }
    Read read = pending_.front().get();
    pending_.pop_front();
    ++taken_;
    return read;
  }

 private:
  const std::vector<std::string>& names_;
  std::vector<std::size_t> order_;
  const Fill& fill_;
  std::size_t ahead_;
  std::size_t started_ = 0, taken_ = 0;
  std::deque<std::future<Read>> pending_;
};

// The console's lines, in the night's order: the frames' lines end with
// what the whole night says of them, so they are printed at the end.
struct ConsoleLine {
  std::string text;
  std::optional<std::size_t> frame;  // index in the report's frames
};

void printConsole(const std::vector<ConsoleLine>& lines, const tarnlook::NightReport& report) {
  for (const ConsoleLine& line : lines) {
    std::string text = line.text;
    if (line.frame) {
      const tarnlook::ReportFrame& f = report.frames[*line.frame];
      text += tarnlook::consoleEnd(f.header, f.measurement, f.quality);
    }
    std::printf("%s\n", text.c_str());
  }
}

void judge(tarnlook::NightReport& report) {
  std::vector<tarnlook::QualityInput> inputs;
  for (const tarnlook::ReportFrame& f : report.frames) inputs.push_back({&f.header, &f.measurement});
  const std::vector<tarnlook::FrameQuality> quality = tarnlook::judgeNight(inputs);
  for (std::size_t i = 0; i < quality.size(); ++i) report.frames[i].quality = quality[i];
}

int sheetFailed(const SheetWriter& sheets, const std::vector<ConsoleLine>& console,
                const tarnlook::NightReport& report) {
  printConsole(console, report);
  sheets.reportFailure();
  return kStatusWriteFailed;
}

int run(const std::vector<std::string>& given, const std::vector<tarnlook::PixelScale>& scales) {
  std::vector<std::string> names = given;
  if (given.empty()) {
    const std::string failure = framesOfFolder(names);
    if (!failure.empty()) return runFailed(failure);
  }
  const auto lines = given.empty() ? tarnlook::readRunListLines() : std::nullopt;
  const auto makers = makersOfOutputs(lines);
  // What an output's run-list line and its camera's cards give a header
  // that lacks them: before the night is ordered and the frame measured.
  const Fill fill = [&makers](const std::string& name, tarnlook::FrameHeader& header) {
    const auto maker = makers.find(name);
    if (maker == makers.end()) return tarnlook::Filled{};
    return tarnlook::fillFromRunList(header, maker->second);
  };
  // The night's order, from the headers alone: the sheets are drawn while
  // the pixels stream past in it.
  std::vector<std::optional<double>> times;
  {
    tarnlook::FrameReader reader;
    for (const std::string& name : names) {
      auto header = reader.header(name);
      if (header) fill(name, *header);
      times.push_back(header ? tarnlook::exposureTime(*header) : std::nullopt);
    }
  }
  // The temporaries of killed runs beside the pictures go as they are
  // written again; this run's own go if a signal ends it.
  removeTemporariesOnSignals();
  tarnlook::setSepLimits();
  LeftoverTemporaries leftovers;
  SheetWriter sheets(leftovers);
  tarnlook::NightReport report;
  report.scales = scales;
  std::set<std::string> drawn;
  std::map<std::string, std::string> passedOver;  // file to reason
  std::vector<ConsoleLine> console;
  for (FrameQueue queue(names, tarnlook::nightOrder(times), fill); !queue.done();) {
    Read read = queue.take();
    if (const auto& passed = read.passed) {
      const std::string note = tarnlook::noteOf(*passed);
      console.push_back({note, std::nullopt});
      const std::string shown = tarnlook::hduName(passed->name, passed->extension);
      report.passedOver.push_back(tarnlook::visible(shown) + ": " + passed->reason);
      passedOver[passed->name] = passed->reason;
      continue;
    }
    tarnlook::Frame& frame = read.frame;
    console.push_back({tarnlook::consoleLine(tarnlook::hduName(frame.name, frame.extension),
                                             frame.header, frame.limits),
                       report.frames.size()});
    drawn.insert(frame.name);
    report.frames.push_back({frame.name, frame.extension, frame.header,
                             tarnlook::exposureTime(frame.header), frame.limits, frame.size,
                             tarnlook::thumbnailPng(frame), read.filled, frame.measurement, {}});
    if (!sheets.add(std::move(frame))) return sheetFailed(sheets, console, report);
  }
  judge(report);
  printConsole(console, report);
  // The account belongs to the folder's night: not to frames picked by name.
  if (given.empty()) report.account = tarnlook::readAccount(lines, drawn, passedOver);
  const bool account = report.account.has_value();
  // Without a frame, the page still tells the night's account: a run may
  // have stopped before its first output.
  const bool drewNothing = report.frames.empty();
  if (drewNothing && !account) {
    std::puts(given.empty() ? "No frame (*.fit) in this folder; nothing written."
                            : "No frame to draw; nothing written.");
    return 0;
  }
  if (!drewNothing && !sheets.finish()) return sheetFailed(sheets, {}, report);
  if (const auto failure = tarnlook::writeReport(std::move(report), leftovers)) {
    std::printf("Cannot write. (%s)\n", failure->file.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "tarnlook: %s\n", failure->reason.c_str());
    return kStatusWriteFailed;
  }
  if (drewNothing) {
    std::printf("No frame (*.fit) in this folder; %s\n", reportLine(account).c_str());
    return 0;
  }
  std::printf("%s; %s\n", sheets.pictures().c_str(), reportLine(account).c_str());
  // Only now, with this run's sheets in place, do the older ones go.
  const std::string failure = tarnlook::removeStaleSheets(sheets.count());
  return failure.empty() ? 0 : runFailed(failure);
}

}  // namespace

// "NAXIS1xNAXIS2=ARCSEC", both sizes and the scale positive.
std::optional<tarnlook::PixelScale> scaleFrom(const std::string& text) {
  tarnlook::PixelScale scale;
  int used = 0;
  if (std::sscanf(text.c_str(), "%lldx%lld=%lf%n", &scale.naxis1, &scale.naxis2,
                  &scale.arcsecPerPixel, &used) != 3 ||
      static_cast<std::size_t>(used) != text.size() || scale.naxis1 < 1 || scale.naxis2 < 1 ||
      !(scale.arcsecPerPixel > 0.0) || !std::isfinite(scale.arcsecPerPixel)) {
    return std::nullopt;
  }
  return scale;
}

int main(int argc, char** argv) {
  std::vector<std::string> args;
  std::vector<tarnlook::PixelScale> scales;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) != "--scale") {
      args.push_back(argv[i]);
      continue;
    }
    const auto scale = i + 1 < argc ? scaleFrom(argv[++i]) : std::nullopt;
    if (!scale) return usageError("--scale wants NAXIS1xNAXIS2=ARCSEC, as 2048x512=0.42");
    scales.push_back(*scale);
  }
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
  // A frame's pixels (megabytes) come straight from the system and go back
  // to it: else the allocator keeps them in each reading thread's heap, and
  // the memory grows with the threads the night has used.
  mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
  const int status = run(args, scales);
  const int console = finishStandardOutput();
  return status != 0 ? status : console;
}
