// The command line: every program runs a night when started without
// arguments and only answers --help (-h) and --version otherwise. A wrong
// command line touches no file: the run list, the catalogue, the camera files
// and the error log are left alone.
#include <cstdio>
#include <cstring>

#include "driver.h"

#ifndef TARNFITS_VERSION
#define TARNFITS_VERSION "unknown"
#endif

namespace {

constexpr int kStatusUsage = 2;      // wrong command line
constexpr int kStatusNoOutput = 1;   // help or version text could not be written

// What every program shares after its own paragraph: the files of the night
// folder, the questions and the exit statuses.
const char* const kCommonUsage =
    "Run it without arguments in the night's folder. There it reads\n"
    "  tarnlist.dat   the run list (or TARNLIST.DAT): \"# WEATHER\", \"# SEEING\"\n"
    "                 and \"# OBSERVER\" lines, then one line per camera file:\n"
    "                 FILE OBJECT TYPE HWP DIAPHRAGM SLIT CLUMP FILTER\n"
    "  object.lst     the object catalogue (or OBJECT.LST), one object a line:\n"
    "                 NAME EQUINOX HH MM SS.S +DD MM SS.S\n"
    "  the camera files named in the run list\n"
    "and writes there\n"
    "  *.fit          one output per converted file, named as the input with\n"
    "                 its last three characters replaced by \"fit\"; an existing\n"
    "                 output is overwritten\n"
    "  tarnfits.log   the error log: one line added for every file skipped or\n"
    "                 read short\n"
    "The weather, seeing and observer that the run list does not set are asked\n"
    "on the terminal (the answers may also come from standard input).\n"
    "\n"
    "Exit status:\n"
    "  0  the run ended with \"---- FINISHED ----\"\n"
    "  1  the run stopped: run list or catalogue unusable, an output that\n"
    "     cannot be written, end of input at a question\n"
    "  2  wrong command line; no file was read or written\n";

bool isOption(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

bool isHelp(const char* arg) { return isOption(arg, "--help") || isOption(arg, "-h"); }

bool isKnown(const char* arg) { return isHelp(arg) || isOption(arg, "--version"); }

void printUsage(const DriverProfile& profile, std::FILE* to) {
  const char* name = profile.programName;
  std::fprintf(to, "Usage: %s\n       %s -h | --help\n       %s --version\n\n", name,
               name, name);
  std::fputs(profile.usageText, to);
  std::fputs("\n", to);
  std::fputs(kCommonUsage, to);
  std::fprintf(to, "\nManual: man %s\n", name);
}

// Help and version go to standard output; a full disk or a closed pipe there
// must not pass for success.
int finishStandardOutput(const DriverProfile& profile) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "%s: cannot write to standard output\n", profile.programName);
    return kStatusNoOutput;
  }
  return 0;
}

}  // namespace

int runMain(int argc, char** argv, const DriverProfile& profile) {
  if (argc <= 1) return runDriver(profile, stdin);
  const char* arg = argv[1];
  if (argc == 2 && isHelp(arg)) {
    printUsage(profile, stdout);
    return finishStandardOutput(profile);
  }
  if (argc == 2 && isOption(arg, "--version")) {
    std::printf("%s %s\n", profile.programName, TARNFITS_VERSION);
    return finishStandardOutput(profile);
  }
  // Name the first argument that is wrong: an unknown one, or the one after a
  // valid option (each option stands alone).
  if (isKnown(arg)) {
    std::fprintf(stderr, "%s: unexpected argument '%s'\n\n", profile.programName, argv[2]);
  } else {
    std::fprintf(stderr, "%s: unknown argument '%s'\n\n", profile.programName, arg);
  }
  printUsage(profile, stderr);
  return kStatusUsage;
}
