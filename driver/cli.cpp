// The command line: every program runs a night when started without
// arguments and only answers --help (-h) and --version otherwise. A wrong
// command line touches no file: the run list, the catalogue, the camera files
// and the error log are left alone.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "main_loop.h"
#include "messages.h"
#include "pipeline.h"
#include "process_setup.h"
#include "report.h"

#ifndef TARNFITS_VERSION
#define TARNFITS_VERSION "unknown"
#endif

namespace {

constexpr int kStatusUsage = 2;      // wrong command line
constexpr int kStatusNoOutput = 1;   // help or version text could not be written
constexpr int kStatusFatal = 1;      // the run stopped

bool isOption(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

bool isHelp(const char* arg) { return isOption(arg, "--help") || isOption(arg, "-h"); }

bool isKnown(const char* arg) { return isHelp(arg) || isOption(arg, "--version"); }

// Help and version go to standard output; a full disk or a closed pipe there
// must not pass for success.
int finishStandardOutput(const DriverProfile& profile) {
  if (!finishOutput()) {
    showError(msg::standardOutputUnwritable(profile.programName));
    return kStatusNoOutput;
  }
  return 0;
}

// The number of entries in flight that a -j value gives: 1 to 8, else 0.
int entriesInFlight(const char* text) {
  if (std::strlen(text) != 1 || text[0] < '1' || text[0] > '0' + kMostEntriesInFlight) return 0;
  return text[0] - '0';
}

// Runs the night. Whatever escapes it (memory that ran out where no check
// expected it) ends the run with a message and status 1, never by abort:
// unwinding closes the files and removes the temporaries. The run record
// then says so.
int runNight(const DriverProfile& profile, int entriesInFlight) {
  setUpProcess();
  RunRecord record(profile.programName, TARNFITS_VERSION);
  const char* why = "out of memory";
  try {
    return runDriver(profile, stdin, entriesInFlight, record);
  } catch (const std::bad_alloc&) {
  } catch (const std::exception& e) {
    why = e.what();
  }
  std::fflush(stdout);
  showError(msg::runStopped(profile.programName, why));
  record.stop(-1, std::string("stopped: ") + why);
  if (!record.finish(kStatusFatal)) showError(msg::recordUnwritable(record.fileName(), errno));
  return kStatusFatal;
}

}  // namespace

int runMain(int argc, char** argv, const DriverProfile& profile) {
  if (argc <= 1) return runNight(profile, defaultEntriesInFlight());
  const char* arg = argv[1];
  if (argc == 2 && isHelp(arg)) {
    show(msg::usage(profile.programName, profile.usageText));
    return finishStandardOutput(profile);
  }
  if (argc == 2 && isOption(arg, "--version")) {
    show(msg::version(profile.programName, TARNFITS_VERSION));
    return finishStandardOutput(profile);
  }
  // -j N, -jN, --jobs N, --jobs=N
  const char* number = nullptr;
  int used = 2;
  if (isOption(arg, "-j") || isOption(arg, "--jobs")) {
    number = argc > 2 ? argv[2] : "";
    used = 3;
  } else if (std::strncmp(arg, "-j", 2) == 0 && arg[1] == 'j' && arg[2] != '\0' && arg[2] != '-') {
    number = arg + 2;
  } else if (std::strncmp(arg, "--jobs=", 7) == 0) {
    number = arg + 7;
  }
  if (number) {
    const int entries = entriesInFlight(number);
    if (entries == 0) {
      showError(msg::jobsInvalid(profile.programName, number));
    } else if (argc > used) {
      showError(msg::unexpectedArgument(profile.programName, argv[used]));
    } else {
      return runNight(profile, entries);
    }
  } else if (isKnown(arg)) {
    // Name the first argument that is wrong: an unknown one, or the one
    // after a valid option (each option stands alone).
    showError(msg::unexpectedArgument(profile.programName, argv[2]));
  } else {
    showError(msg::unknownArgument(profile.programName, arg));
  }
  showError(msg::tryHelp(profile.programName));
  return kStatusUsage;
}
