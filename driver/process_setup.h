// What a night's run sets for the whole process, once, at start-up.
#ifndef DRIVER_PROCESS_SETUP_H
#define DRIVER_PROCESS_SETUP_H

#include <cstddef>

// The stack of every thread started after setUpProcess(): a worker only
// moves samples, so a small stack is plenty (the default is 8 MiB).
constexpr std::size_t kWorkerStackBytes = 1024 * 1024;

// Sets, for the whole process:
// - one malloc arena: the workers allocate nothing, and arenas of their
//   own would only reserve address space (a night runs under ulimit -v);
// - kWorkerStackBytes as the stack of new threads, for the same reason;
// - standard output written line by line, whatever it is connected to, so
//   that the lines of entries already done reach a log file or a pipe
//   before a signal ends the run;
// - the removal of the run's temporaries on SIGINT, SIGTERM, SIGHUP and
//   SIGPIPE (temporary_file.h).
void setUpProcess();

#endif  // DRIVER_PROCESS_SETUP_H
