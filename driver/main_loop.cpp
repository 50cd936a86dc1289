// The main loop that all three programs share: it reads the run list line
// by line, takes each entry through its checks and hands it to the pipeline
// (pipeline.h), which keeps some entries in flight and commits them in
// run-list order. Every text a run shows comes from messages.h and reaches
// the console through the console owner (report.h).
#include "main_loop.h"

#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>

#include "camera_header.h"
#include "catalogue.h"
#include "file_identity.h"
#include "files.h"
#include "messages.h"
#include "mid_exposure.h"
#include "night_files.h"
#include "obslib.h"
#include "pipeline.h"
#include "report.h"
#include "runlist.h"
#include "temporary_file.h"

#ifndef TARNFITS_VERSION
#define TARNFITS_VERSION "unknown"
#endif

namespace {

// The first block of an open input, or what the file holds of it. The
// samples follow it.
std::string readFirstBlock(int input) {
  std::string block(kBlockLength, '\0');
  block.resize(readUpTo(input, reinterpret_cast<unsigned char*>(&block[0]), block.size()));
  return block;
}

bool isFolder(const std::string& name) {
  struct stat st;
  return ::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether the input `name` (opened in lower case, else in upper case) is,
// or may become, a file that an entry in flight writes, or is the error
// log. A name that reaches no file may be one an entry in flight is about
// to make.
bool inputWaits(const std::string& name, const Pipeline& pipeline) {
  if (!pipeline.busy()) return false;
  const std::optional<FileKey> log = fileAppendedBy(kErrorLogName);
  for (const std::string& tried : {name, std::string(chartoupper(name.c_str()))}) {
    const std::optional<FileKey> file = fileReadBy(tried);
    if (!file || pipeline.writes(*file) || file == log) return true;
    if (!isFolder(tried)) return false;  // this is the name that opens
  }
  return false;
}

// Whether the output `file` is one that an entry in flight writes, or the
// error log, or cannot be told yet.
bool outputWaits(const std::optional<FileKey>& file, const Pipeline& pipeline) {
  return pipeline.busy() &&
         (!file || pipeline.writes(*file) || file == fileAppendedBy(kErrorLogName));
}

// Asks each question that is still open; false when the answers ended.
bool answerQuestions(RunSettings& settings, std::FILE* answers) {
  while (std::optional<msg::Question> question = nextQuestion(settings)) {
    std::optional<std::string> word = ask(msg::prompt(*question), answers);
    if (!word) return false;
    takeAnswer(*question, *word, settings);
  }
  return true;
}

// Takes one entry line through its checks. Returns the entry ready for its
// transfer, or its report alone (in job->report) when it was refused or
// ended the run: then job->input is closed. The input is opened and its
// header read once; the transfer takes the samples from where it ends.
// Whatever is, or may be, a file that an earlier entry in flight writes, or
// the error log, waits until every earlier entry is committed: files are
// told apart by what the names reach, not by how they are spelled.
std::unique_ptr<Job> prepareEntry(const DriverProfile& profile, const std::string& line,
                                  const RunSettings& settings, ObjectCatalogue& catalogue,
                                  Pipeline& pipeline) {
  auto job = std::make_unique<Job>();
  Report& report = job->report;
  ListEntry entry;
  const int fields = parseEntryLine(line, entry);
  entry.fileName = chartolower(entry.fileName.c_str());
  const std::string& name = entry.fileName;
  job->inputName = name;
  // Refused, or (with nothing to report) stopped because the run ended.
  auto refused = [&job](const Outcome& outcome) {
    job->report.take(outcome, job->inputName);
    job->input.reset();
    return std::move(job);
  };
  if (inputWaits(name, pipeline) && !pipeline.drain()) return refused({});
  job->input = openInputLowerOrUpper(name);
  if (!job->input)
    return refused(whyNotOpened(name) == EISDIR ? msg::inputIsFolder(name)
                                                : msg::inputMissing(name));
  if (fields < 8 || name.size() < 3) return refused(msg::entryLineInvalid(name));
  // The output takes the input's name with "fit" for its last three letters:
  // for a name that already ends so, it would be the input itself.
  if (!hasOwnOutput(name)) return refused(msg::outputWouldOverwriteInput(name));
  entry.outputName = outputNameFor(name);
  report.row.output = entry.outputName;
  report.say(msg::entryHeading(name, entry.outputName));

  CatalogueEntry target;
  Outcome outcome = catalogue.lookUp(entry.objectName, target);
  if (outcome.isAccepted()) outcome = checkEntryCodes(entry);
  if (!outcome.isAccepted()) return refused(outcome);
  entry.filterName = filterNameFor(entry.filter);

  ObservationRecord rec;
  outcome = readCameraHeader(readFirstBlock(job->input.get()), profile.andorRule, rec);
  if (!outcome.isAccepted()) return refused(outcome);
  report.take(outcome, name);  // the mode line
  computeMidExposure(rec, target);
  report.say(msg::summaryLine(entry, target, rec));

  outcome = profile.composeOutput(entry, settings, target, rec, job->plan);
  if (!outcome.isAccepted()) return refused(outcome);
  job->outputFile = fileReplacedBy(entry.outputName);
  if (outputWaits(job->outputFile, pipeline) && !pipeline.drain()) return refused({});
  outcome = pipeline.createOutput(entry.outputName, job->output);
  if (!outcome.isAccepted()) return refused(outcome);
  return job;
}

// The run list as the main loop reads it: its pieces, the physical line
// each starts on, and the last line converted.
struct ListReading {
  std::FILE* file;
  int nextLine = 1;
  std::string lastConverted;
  int lastConvertedAt = 0;
};

bool nextPiece(ListReading& list, std::string& piece, int& line) {
  bool lineEnded = false;
  line = list.nextLine;
  if (!readListPiece(list.file, piece, lineEnded)) return false;
  if (lineEnded) ++list.nextLine;
  return true;
}

// Whether a line that classifyLine ignores is an entry line equal to the
// last one converted (not a short or blank line).
bool repeatsLastConverted(const ListReading& list, const std::string& line) {
  return line.size() > 1 && line == list.lastConverted;
}

// The input an entry line names, as its row shows it.
std::string inputOf(const std::string& text) {
  ListEntry entry;
  parseEntryLine(text, entry);
  return chartolower(entry.fileName.c_str());
}

int addRowFor(RunRecord& record, int line, const std::string& text) {
  return record.addRow(line, inputOf(text));
}

// Before the run, when the run list is a plain file: its entry lines, the
// rows the record expects, so that the record of a run ended by a signal
// names every one. The list is then read again from its start.
void expectEntryLines(std::FILE* file, RunRecord& record) {
  struct stat st;
  if (::fstat(::fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return;
  ListReading list{file, 1, {}, 0};
  std::string piece;
  int line = 0;
  while (nextPiece(list, piece, line))
    if (classifyLine(piece, {}) == LineKind::Entry) record.expectRow(line, inputOf(piece));
  std::rewind(file);
}

// After a stop: the run list's remaining entry lines, not reached.
void addLinesNotReached(ListReading& list, RunRecord& record) {
  std::string piece;
  int line = 0;
  while (nextPiece(list, piece, line))
    if (classifyLine(piece, list.lastConverted) == LineKind::Entry ||
        repeatsLastConverted(list, piece))
      addRowFor(record, line, piece);
}

// Takes the run list's lines through the pipeline, each with its row of the
// record. True when the run finished; false when it stopped, with what the
// console still shows in `stopText`.
bool runList(const DriverProfile& profile, std::FILE* answers, int entriesInFlight,
             ListReading& list, RunRecord& record, std::string& stopText) {
  Pipeline pipeline(entriesInFlight, profile.inputSampleBytes, &record);
  ObjectCatalogue catalogue;
  RunSettings settings;
  std::string line;
  int at = 0;
  while (nextPiece(list, line, at)) {
    switch (classifyLine(line, list.lastConverted)) {
      case LineKind::Ignored: {
        if (!repeatsLastConverted(list, line)) break;
        Report report;
        report.row = {addRowFor(record, at, line), {}, "ignored",
                      "repeats line " + std::to_string(list.lastConvertedAt)};
        if (!pipeline.queue(std::move(report))) return false;
        break;
      }
      case LineKind::Directive: {
        Report report;
        report.say(applyDirective(line, settings));
        if (!pipeline.queue(std::move(report))) return false;
        break;
      }
      case LineKind::Entry: {
        const int row = addRowFor(record, at, line);
        // The questions come before any entry is in flight.
        if (nextQuestion(settings) && !pipeline.drain()) return false;
        if (!answerQuestions(settings, answers)) {
          record.stop(row, msg::answersEndedCause());
          stopText = msg::answersEnded();
          return false;
        }
        std::unique_ptr<Job> job = prepareEntry(profile, line, settings, catalogue, pipeline);
        job->report.row.index = row;
        bool going = true;
        if (job->input) {
          // From here the entry either converts or ends the run.
          list.lastConverted = line;
          list.lastConvertedAt = at;
          going = pipeline.queue(std::move(job));
        } else {
          going = pipeline.queue(std::move(job->report));
        }
        if (!going) return false;
        break;
      }
    }
  }
  Report closing;
  closing.say(msg::finished());
  return pipeline.queue(std::move(closing)) && pipeline.drain();
}

// The end of every run: the console's last text, the stop's cause on
// standard error, and the run record.
int endRun(const DriverProfile& profile, RunRecord& record, const std::string& text,
           int status) {
  show(text);
  finishOutput();
  if (status != 0 && !record.cause().empty())
    showError(msg::stopCause(profile.programName, record.cause()));
  if (!record.finish(status)) showError(msg::recordUnwritable(record.fileName(), errno));
  return status;
}

}  // namespace

int runDriver(const DriverProfile& profile, std::FILE* answers, int entriesInFlight,
              RunRecord& record) {
  show(profile.bannerLine1);
  show(profile.bannerLine2);
  FilePtr list = openLowerOrUpper(kRunListName, "rt");
  {
    // A signal from here on waits until the record knows every entry line.
    CleanupSignalsBlocked blocked;
    record.begin();
    if (list) expectEntryLines(list.get(), record);
  }
  if (!list) {
    record.stop(-1, msg::fileCause(kRunListName, whyNotOpened(kRunListName)));
    return endRun(profile, record, msg::runListMissing(), 1);
  }
  ListReading reading{list.get(), 1, {}, 0};
  std::string stopText;
  const bool finished = runList(profile, answers, entriesInFlight, reading, record, stopText);
  if (!finished) addLinesNotReached(reading, record);
  record.forgetRowsNotRead();  // the list was read to its end
  return endRun(profile, record, finished ? std::string() : stopText, finished ? 0 : 1);
}

int runDriver(const DriverProfile& profile, std::FILE* answers, int entriesInFlight) {
  RunRecord record(profile.programName, TARNFITS_VERSION);
  return runDriver(profile, answers, entriesInFlight, record);
}
