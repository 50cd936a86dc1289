// The command line: every program runs a night when started without
// arguments and only answers --help and --version otherwise.
#include <cstdio>
#include <cstring>

#include "driver.h"

#ifndef TARNFITS_VERSION
#define TARNFITS_VERSION "unknown"
#endif

namespace {

void printUsage(const DriverProfile& profile, std::FILE* to) {
  std::fprintf(to, "Usage: %s\n       %s --help | --version\n\n", profile.programName,
               profile.programName);
  std::fprintf(to, "%s", profile.usageText);
  std::fputs(
      "\nRun it without arguments in the night's folder. It reads the run list\n"
      "tarnlist.dat (or TARNLIST.DAT) and the object catalogue object.lst (or\n"
      "OBJECT.LST), asks for the weather, seeing and observer unless the run\n"
      "list sets them with \"# WEATHER\", \"# SEEING\" and \"# OBSERVER\" lines,\n"
      "and writes each output beside its camera file, named as the input with\n"
      "its last three characters replaced by \"fit\". Entries it cannot convert\n"
      "are reported and listed in the error log tarnfits.log.\n"
      "\nExit status: 0 after a complete run (\"---- FINISHED ----\"), 1 when the\n"
      "run stopped (run list, catalogue or output unusable, disk full, end of\n"
      "input at a question), 2 for a wrong command line.\n",
      to);
}

}  // namespace

int runMain(int argc, char** argv, const DriverProfile& profile) {
  if (argc <= 1) return runDriver(profile, stdin);
  const char* arg = argv[1];
  if (argc == 2 && (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0)) {
    printUsage(profile, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(arg, "--version") == 0) {
    std::printf("%s %s\n", profile.programName, TARNFITS_VERSION);
    return 0;
  }
  printUsage(profile, stderr);
  return 2;
}
