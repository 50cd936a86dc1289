// tarnlook: a contact sheet of the night's frames, one PNG picture, and the
// night's report beside it (a web page and a CSV table).
//
//   tarnlook              every *.fit of the current folder, in time order
//   tarnlook FILE...      the files given, in time order
//   -o DIR, --output DIR  the pictures, page and tables written into DIR
//   tarnlook -h | --help, tarnlook --version
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "look.h"

#ifndef TARNLOOK_VERSION
#define TARNLOOK_VERSION "unknown"
#endif

namespace {

constexpr int kStatusWriteFailed = 1;  // standard output failed (the night's own failures: look.h)
constexpr int kStatusUsage = 2;        // wrong command line

const char* const kUsage =
    "Usage: tarnlook [-o DIR] [--scale NAXIS1xNAXIS2=ARCSEC]... [FILE...]\n"
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
    "given). It writes in the current folder, or in DIR with -o\n"
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
    "frame as soon as it is measured (name, OBJECT, the two zscale limits),\n"
    "then the frames that the whole night flags, then the files written.\n"
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
    "sky, the target at the centre). Frames are judged against the night's\n"
    "best and median frames, the observer's SEEING and the site file's limits\n"
    "(site.conf in the folder, else ~/.config/tarnlook/site.conf, else\n"
    "/etc/tarnlook/site.conf): focus, trailing, sky, stars, transparency,\n"
    "gradient. Each flag has its reason, on the page (whose box names every\n"
    "frame flagged), in the table and after the frames' console lines, which\n"
    "also give the FWHM in px (and arcsec). The page draws FWHM, sky,\n"
    "transparency and airmass against UT.\n"
    "  -o DIR, --output DIR\n"
    "                   writes the pictures, page and tables into DIR (made\n"
    "                   when missing) and only reads the night's folder; the\n"
    "                   page's links reach the night's files from there\n"
    "  --scale NAXIS1xNAXIS2=ARCSEC, --scale=NAXIS1xNAXIS2=ARCSEC\n"
    "                   arcseconds per pixel of the frames of that image size\n"
    "                   (a detector at a binning): FWHM in arcseconds too,\n"
    "                   beside the observer's SEEING; may be given again; it\n"
    "                   wins over the site file; a size that no frame of the\n"
    "                   night has is a warning\n"
    "Bytes of names and header values outside printable ASCII are shown as \\xNN\n"
    "and a backslash as \\\\, on the console, the page and in the tables.\n"
    "\n"
    "Exit status:\n"
    "  0  the pictures, page and tables were written, or there was no frame\n"
    "  1  a picture, the page or a table could not be written, an older sheet\n"
    "     or account could not be removed, the current folder could not be\n"
    "     listed, the folder of -o could not be made, or standard output failed\n"
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

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  std::vector<tarnlook::PixelScale> scales;
  std::string output;
  const std::string joined = "--scale=";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-o" || arg == "--output") {
      if (i + 1 >= argc || argv[i + 1][0] == '\0') return usageError(arg + " wants a folder");
      output = argv[++i];
      continue;
    }
    const bool glued = arg.compare(0, joined.size(), joined) == 0;
    if (arg != "--scale" && !glued) {
      args.push_back(arg);
      continue;
    }
    const auto scale = glued ? tarnlook::scaleFrom(arg.substr(joined.size()))
                             : i + 1 < argc ? tarnlook::scaleFrom(argv[++i]) : std::nullopt;
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
  const int status = tarnlook::lookAtNight({args, scales, output});
  const int console = finishStandardOutput();
  return status != 0 ? status : console;
}
