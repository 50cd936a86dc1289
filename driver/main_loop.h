// The main loop that all three programs share, and the command line. The
// programs differ only in their DriverProfile, which each defines beside its
// writer.
#ifndef DRIVER_MAIN_LOOP_H
#define DRIVER_MAIN_LOOP_H

#include <cstdio>

#include "outcome.h"
#include "output_stage.h"
#include "records.h"
#include "run_record.h"

// What a program makes of one accepted entry, before any file is created:
// the plan of its output (header bytes, sample rule, number of samples), or
// a refusal. It may use obslib; it prints nothing.
using ComposeOutput = Outcome (*)(const ListEntry&, const RunSettings&, const CatalogueEntry&,
                                  const ObservationRecord&, OutputPlan&);

struct DriverProfile {
  const char* programName;
  const char* usageText;  // what the program does, for --help
  const char* bannerLine1;
  const char* bannerLine2;
  AndorRule andorRule;
  ComposeOutput composeOutput;
  // The bytes of an input sample in every plan composeOutput makes (its
  // rule's inputBytes): the sample buffers are sized for it.
  int inputSampleBytes;
};

// Runs a whole night in the current folder: banner, run list, entries,
// "---- FINISHED ----". Prompts read from `answers`. Up to `entriesInFlight`
// entries move their samples at once; everything shows as if one did.
// Returns the exit status. Leaves the run record (run_record.h) at every
// end; a fatal stop adds its cause on standard error.
int runDriver(const DriverProfile& profile, std::FILE* answers, int entriesInFlight,
              RunRecord& record);
// The same with a record of its own.
int runDriver(const DriverProfile& profile, std::FILE* answers, int entriesInFlight = 1);

// The programs' main: without arguments, or with "-j N" / "--jobs N" alone
// (N entries in flight, 1 to 8), runs the night (runDriver on standard
// input); "--help"/"-h" and "--version" print and give 0 (1 when standard
// output cannot be written); anything else names the wrong argument, prints
// "Try '<program> --help'." on standard error and gives 2 without touching a file.
int runMain(int argc, char** argv, const DriverProfile& profile);

#endif  // DRIVER_MAIN_LOOP_H
