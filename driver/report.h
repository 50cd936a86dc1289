// The console owner: the one layer that writes to standard output and
// standard error, and that hands error-log lines to errlist. The main loop
// collects what a run-list line shows and logs in a Report and delivers it
// when the line's turn comes.
#ifndef DRIVER_REPORT_H
#define DRIVER_REPORT_H

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "outcome.h"

// What one run-list line shows and logs, in order.
class Report {
 public:
  // Console text with no log line.
  void say(const std::string& text);
  // An outcome of a check of the entry for `fileName`: its text and its log
  // line. Returns whether the entry goes on (the outcome is Accepted); a
  // fatal outcome marks the report as ending the run.
  bool take(const Outcome& outcome, const std::string& fileName);
  bool endsRun() const { return endsRun_; }

  // The run record's row of this line: its index (-1: none), the output
  // name derived for the entry, and an outcome known ahead (a repeated
  // line's) with its reason.
  struct RowNote {
    int index = -1;
    std::string output;
    std::string outcome;
    std::string reason;
  };
  RowNote row;
  // The run record's reason of a refusal (Outcome::recordReason, else its
  // error-log reason); empty when nothing refused the entry.
  const std::string& refusal() const { return refusal_; }
  // The cause of a fatal outcome (Outcome::cause).
  const std::string& cause() const { return cause_; }
  // The texts of the "# Warning! " lines shown, without that start,
  // separated by "; ".
  std::string warnings() const;

  // Prints the texts and appends the log lines, in the order they came. A
  // log line that cannot be appended is tried
  // again after makeRoom() (which may drop what later entries wrote
  // meanwhile); only when that fails too is the log's warning given.
  void deliver(const std::function<void()>& makeRoom = {}) const;

 private:
  struct Item {
    std::string text;
    std::string logName;  // with logReason: one error-log line
    std::string logReason;
  };
  std::vector<Item> items_;
  bool endsRun_ = false;
  std::string refusal_;
  std::string cause_;
};

// Prints a text on standard output at once.
void show(const std::string& text);
// Prints a text on standard error.
void showError(const std::string& text);
// Prints the prompt, flushes, and reads the next blank-separated word of the
// answers; nothing at their end.
std::optional<std::string> ask(const std::string& prompt, std::FILE* answers);
// Flushes standard output; false when it could not be written.
bool finishOutput();

#endif  // DRIVER_REPORT_H
