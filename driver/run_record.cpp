// The run record: rows kept by the main thread, written at the end of the
// run or by the signal clean-up. Every change to what the handler reads is
// made with the clean-up signals blocked, so the handler, which runs only on
// the main thread, always finds it whole; what it calls is async-signal-safe.
#include "run_record.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

#include "leftovers.h"
#include "unique_fd.h"

namespace {

// The record the signal clean-up writes, while a run has one.
std::atomic<RunRecord*> recordOfThisRun{nullptr};

// Appends to a string.
struct TextSink {
  std::string text;
  void put(const char* bytes, std::size_t size) { text.append(bytes, size); }
};

// Writes to a descriptor through a buffer of its own, allocating nothing.
class DescriptorSink {
 public:
  explicit DescriptorSink(int fd) : fd_(fd) {}
  void put(const char* bytes, std::size_t size) {
    while (size > 0) {
      if (used_ == sizeof buffer_) flush();
      const std::size_t n = size < sizeof buffer_ - used_ ? size : sizeof buffer_ - used_;
      std::memcpy(buffer_ + used_, bytes, n);
      used_ += n;
      bytes += n;
      size -= n;
    }
  }
  // False, errno set, when a write failed.
  bool flush() {
    if (ok_ && used_ > 0) ok_ = writeAll(fd_, buffer_, used_);
    used_ = 0;
    return ok_;
  }

 private:
  int fd_;
  char buffer_[4096];
  std::size_t used_ = 0;
  bool ok_ = true;
};

template <typename Sink>
void put(Sink& sink, const char* text) {
  sink.put(text, std::strlen(text));
}

// A CSV field: quoted, with "" for ", when it holds a comma, a quote, CR or LF.
template <typename Sink>
void putField(Sink& sink, const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) {
    sink.put(field.data(), field.size());
    return;
  }
  sink.put("\"", 1);
  for (char c : field) sink.put(c == '"' ? "\"\"" : &c, c == '"' ? 2 : 1);
  sink.put("\"", 1);
}

template <typename Sink>
void putNumber(Sink& sink, long value) {
  char digits[24];
  int at = sizeof digits;
  const bool negative = value < 0;
  unsigned long rest = negative ? 0ul - static_cast<unsigned long>(value)
                                : static_cast<unsigned long>(value);
  do {
    digits[--at] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest > 0);
  if (negative) digits[--at] = '-';
  sink.put(digits + at, sizeof digits - at);
}

const char* signalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "interrupted by SIGINT";
    case SIGTERM:
      return "interrupted by SIGTERM";
    case SIGHUP:
      return "interrupted by SIGHUP";
    case SIGPIPE:
      return "interrupted by SIGPIPE";
  }
  return "interrupted by a signal";
}

constexpr const char* kHeader =
    "program,version,started_ut,ended_ut,exit_status,line,input,output,outcome,reason\r\n";
constexpr int kSignalStatusBase = 128;

}  // namespace

void formatUt(std::time_t when, char* text) {
  // Days since 1970-01-01 to the proleptic Gregorian calendar, in eras of
  // 400 years (146097 days) that start on 1 March.
  long days = static_cast<long>(when / 86400);
  long seconds = static_cast<long>(when % 86400);
  if (seconds < 0) {
    seconds += 86400;
    --days;
  }
  days += 719468;
  const long era = (days >= 0 ? days : days - 146096) / 146097;
  const long dayOfEra = days - era * 146097;
  const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long monthFromMarch = (5 * dayOfYear + 2) / 153;
  const long day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
  const long month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
  const long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const long parts[6] = {year, month, day, seconds / 3600, seconds / 60 % 60, seconds % 60};
  const char after[6] = {'-', '-', 'T', ':', ':', 'Z'};
  int at = 0;
  for (int i = 0; i < 6; ++i) {
    const int width = i == 0 ? 4 : 2;
    for (int d = width - 1; d >= 0; --d) {
      long v = parts[i];
      for (int k = 0; k < d; ++k) v /= 10;
      text[at++] = static_cast<char>('0' + v % 10);
    }
    text[at++] = after[i];
  }
  text[at] = '\0';
}

RunRecord::RunRecord(const std::string& programName, const std::string& version)
    : fileName_(programName + "-run.csv") {
  char started[21];
  formatUt(std::time(nullptr), started);
  TextSink facts;
  putField(facts, programName);
  put(facts, ",");
  putField(facts, version);
  put(facts, ",");
  put(facts, started);
  put(facts, ",");
  facts_ = std::move(facts.text);
}

RunRecord::~RunRecord() {
  RunRecord* self = this;
  recordOfThisRun.compare_exchange_strong(self, nullptr);
}

void RunRecord::begin() {
  LeftoverTemporaries leftovers;
  leftovers.removeFor(fileName_);
  CleanupSignalsBlocked blocked;
  file_.create(fileName_);
  recordOfThisRun.store(this);
  setLastWordOnSignals(&RunRecord::lastWord);
}

void RunRecord::expectRow(int line, const std::string& input) {
  Row row;
  row.line = line;
  row.input = input;
  CleanupSignalsBlocked blocked;
  rows_.push_back(std::move(row));
}

int RunRecord::addRow(int line, const std::string& input) {
  CleanupSignalsBlocked blocked;
  const auto firstExpected = rows_.begin() + static_cast<std::ptrdiff_t>(added_);
  rows_.erase(firstExpected, std::find_if(firstExpected, rows_.end(),
                                          [line](const Row& row) { return row.line >= line; }));
  if (added_ == rows_.size() || rows_[added_].line != line)
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(added_), Row{});
  rows_[added_].line = line;
  rows_[added_].input = input;
  return static_cast<int>(added_++);
}

void RunRecord::forgetRowsNotRead() {
  CleanupSignalsBlocked blocked;
  rows_.resize(added_);
}

void RunRecord::settle(const Report& report) {
  const int index = report.row.index;
  if (report.endsRun()) stop(index, report.cause());
  if (index < 0) return;
  Row row = rows_[index];
  row.output = report.row.output;
  if (!report.row.outcome.empty()) {
    row.outcome = report.row.outcome;
    row.reason = report.row.reason;
  } else if (report.endsRun()) {
    row.outcome = "stopped";
    row.reason = report.cause();
  } else if (!report.refusal().empty()) {
    row.outcome = "refused";
    row.reason = report.refusal();
  } else {
    row.reason = report.warnings();
    row.outcome = row.reason.empty() ? "converted" : "converted with a warning";
  }
  CleanupSignalsBlocked blocked;
  rows_[index] = std::move(row);
}

void RunRecord::stop(int row, const std::string& cause) {
  CleanupSignalsBlocked blocked;
  if (row >= 0) {
    rows_[row].outcome = "stopped";
    rows_[row].reason = cause;
  }
  stopRow_ = row;
  cause_ = cause.empty() ? std::string("stopped") : cause;
}

template <typename Sink>
void RunRecord::writeRows(Sink& sink, const char* ended, int exitStatus,
                          const char* runReason) const {
  put(sink, kHeader);
  auto facts = [&] {
    sink.put(facts_.data(), facts_.size());
    put(sink, ended);
    put(sink, ",");
    putNumber(sink, exitStatus);
    put(sink, ",");
  };
  for (const Row& row : rows_) {
    facts();
    putNumber(sink, row.line);
    for (const std::string* field : {&row.input, &row.output, &row.outcome, &row.reason}) {
      put(sink, ",");
      putField(sink, *field);
    }
    put(sink, "\r\n");
  }
  facts();
  const bool atRow = runReason == nullptr && stopRow_ >= 0;
  if (atRow) putNumber(sink, rows_[stopRow_].line);
  put(sink, ",");
  if (atRow) putField(sink, rows_[stopRow_].input);
  put(sink, ",");
  if (atRow) putField(sink, rows_[stopRow_].output);
  put(sink, exitStatus == 0 ? ",finished," : ",stopped,");
  if (runReason != nullptr) put(sink, runReason);
  if (runReason == nullptr && exitStatus != 0) putField(sink, cause_);
  put(sink, "\r\n");
}

bool RunRecord::finish(int exitStatus) {
  CleanupSignalsBlocked blocked;
  if (written_) return true;
  written_ = true;
  recordOfThisRun.store(nullptr);
  char ended[21];
  formatUt(std::time(nullptr), ended);
  if (!file_.exists() && !file_.create(fileName_)) return false;
  DescriptorSink sink(file_.fd());
  writeRows(sink, ended, exitStatus, nullptr);
  if (!sink.flush() || !file_.close() || !file_.commit()) {
    const int error = errno;
    file_.discard();
    errno = error;
    return false;
  }
  return true;
}

// The signal clean-up's last word: the rows so far, the entries not yet
// committed `not reached`, and the run stopped by the signal.
void RunRecord::lastWord(int signal) {
  RunRecord* record = recordOfThisRun.exchange(nullptr);
  if (record == nullptr || record->written_ || !record->file_.exists()) return;
  char ended[21];
  formatUt(::time(nullptr), ended);
  DescriptorSink sink(record->file_.fd());
  record->writeRows(sink, ended, kSignalStatusBase + signal, signalName(signal));
  if (sink.flush()) ::rename(record->file_.temporaryName(), record->fileName_.c_str());
}
