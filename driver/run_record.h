// The run record: every run leaves "<program>-run.csv" beside the error log,
// written as a temporary and renamed over the record of the program's
// previous run, whole or not at all. CSV with CRLF line ends, one header
// line
//   program,version,started_ut,ended_ut,exit_status,line,input,output,outcome,reason
// then one row per run-list entry line (and per repeated entry line) in
// run-list order, and last one row for the run itself. The entry lines of a
// run list that is a plain file are read when the run begins, so a record
// written at any moment names each of them. Every row repeats
// the run's facts in its first five columns.
//
// It is written at the end of the run, at a fatal stop, and by the clean-up
// of SIGINT, SIGTERM, SIGHUP and SIGPIPE: the temporary is made when the
// run begins, and what the handler writes is kept ready by the main thread.
#ifndef DRIVER_RUN_RECORD_H
#define DRIVER_RUN_RECORD_H

#include <ctime>
#include <string>
#include <vector>

#include "report.h"
#include "temporary_file.h"

class RunRecord {
 public:
  RunRecord(const std::string& programName, const std::string& version);
  ~RunRecord();
  RunRecord(const RunRecord&) = delete;
  RunRecord& operator=(const RunRecord&) = delete;

  const std::string& fileName() const { return fileName_; }
  // Makes the temporary and hands the record to the signal clean-up.
  // Main thread, once.
  void begin();
  // An entry line the run has yet to reach, in run-list order, before the
  // first addRow: its row stands `not reached` (in the record the signal
  // clean-up writes too) until addRow takes it. The caller blocks the
  // clean-up signals from begin() until every entry line is expected.
  void expectRow(int line, const std::string& input);
  // A run-list line that gets a row: `not reached` until settled. It takes
  // the expected row of that line; expected rows of earlier lines go (the
  // list changed since). Returns the row's index.
  int addRow(int line, const std::string& input);
  // The run list was read to its end: the expected rows not taken go.
  void forgetRowsNotRead();
  // What a delivered report says of its row (Report::row): converted, with
  // a warning, refused, ignored or stopped. A report that ends the run
  // stops it.
  void settle(const Report& report);
  // The run stopped at row `row` (-1: at no entry line) for `cause`.
  void stop(int row, const std::string& cause);
  // The cause of the stop; empty while the run goes on.
  const std::string& cause() const { return cause_; }
  // Writes the record of a run that ended with `exitStatus` and renames it
  // over fileName(). False, errno set, when it cannot be written.
  bool finish(int exitStatus);

 private:
  struct Row {
    int line = 0;
    std::string input, output;
    std::string outcome = "not reached";
    std::string reason;
  };
  template <typename Sink>
  void writeRows(Sink& sink, const char* ended, int exitStatus, const char* runReason) const;
  static void lastWord(int signal);

  std::string fileName_;
  std::string facts_;  // "program,version,started_ut,"
  std::vector<Row> rows_;  // the rows added, then the rows expected
  std::size_t added_ = 0;
  int stopRow_ = -1;
  std::string cause_;
  TemporaryFile file_;
  bool written_ = false;
};

// ISO 8601 in UT, "YYYY-MM-DDTHH:MM:SSZ", into `text` (21 bytes with the
// NUL). Async-signal-safe.
void formatUt(std::time_t when, char* text);

#endif  // DRIVER_RUN_RECORD_H
