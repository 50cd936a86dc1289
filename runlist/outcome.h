// What a check decided about a run-list entry. Checks print nothing: they
// return their decision with its exact console text, and the main loop hands
// it to the console owner (report.h), which prints, logs and ends the run.
#ifndef RUNLIST_OUTCOME_H
#define RUNLIST_OUTCOME_H

#include <string>
#include <utility>

enum class Verdict {
  Accepted,  // go on with the entry
  Refused,   // the entry is skipped; the run goes on with the next line
  Fatal,     // the run ends with exit status 1
};

struct Outcome {
  Verdict verdict = Verdict::Accepted;
  std::string text;       // console text, exact; may be empty when accepted
  std::string logReason;  // error-log reason for the entry's file; empty: no line
  // Fatal: why, for standard error and the run record ("<file>: <the OS's
  // reason>"); may be empty.
  std::string cause;
  // Refused: the run record's reason in plain words, where the error log's
  // reason does not say it; empty: the log's reason.
  std::string recordReason;

  bool isAccepted() const { return verdict == Verdict::Accepted; }

  // Accepted, with a note to show (a mode line, a warning) and its log line.
  static Outcome accepted(std::string text = {}, std::string logReason = {}) {
    return {Verdict::Accepted, std::move(text), std::move(logReason), {}, {}};
  }
  static Outcome refused(std::string text, std::string logReason,
                         std::string recordReason = {}) {
    return {Verdict::Refused, std::move(text), std::move(logReason), {}, std::move(recordReason)};
  }
  static Outcome fatal(std::string text, std::string cause = {}) {
    return {Verdict::Fatal, std::move(text), {}, std::move(cause), {}};
  }
};

#endif  // RUNLIST_OUTCOME_H
