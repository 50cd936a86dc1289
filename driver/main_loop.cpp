// The main loop that all three programs share: one run-list line at a time.
// Every text a run shows comes from messages.h and reaches the console here,
// through the console owner (report.h).
#include "main_loop.h"

#include <optional>
#include <string>

#include "camera_header.h"
#include "catalogue.h"
#include "files.h"
#include "messages.h"
#include "mid_exposure.h"
#include "obslib.h"
#include "report.h"
#include "runlist.h"

namespace {

const char* const kRunListName = "tarnlist.dat";

bool endsWith(const std::string& text, const char* tail) {
  std::string t(tail);
  return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

// The first block of an open input, or what the file holds of it. The
// samples follow it.
std::string readFirstBlock(int input) {
  std::string block(kBlockLength, '\0');
  block.resize(readUpTo(input, reinterpret_cast<unsigned char*>(&block[0]), block.size()));
  return block;
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

// Handles one entry line into `report`; true when its output was written.
// The input is opened and its header read once; the output stage takes the
// samples from where the header ends.
bool handleEntry(const DriverProfile& profile, const std::string& line,
                 const RunSettings& settings, SampleBuffer& buffer, Report& report) {
  ListEntry entry;
  const int fields = parseEntryLine(line, entry);
  entry.fileName = chartolower(entry.fileName.c_str());
  const std::string& name = entry.fileName;

  UniqueFd input = openInputLowerOrUpper(name);
  if (!input) return report.take(msg::inputMissing(name), name);
  if (fields < 8 || name.size() < 3) return report.take(msg::entryLineInvalid(name), name);
  // The output takes the input's name with "fit" for its last three letters:
  // for a name that already ends so, it would be the input itself.
  if (endsWith(name, "fit")) return report.take(msg::outputWouldOverwriteInput(name), name);
  entry.outputName = outputNameFor(name);
  report.say(msg::entryHeading(name, entry.outputName));

  CatalogueEntry target;
  if (!report.take(lookUpObject(entry.objectName, target), name)) return false;
  if (!report.take(checkEntryCodes(entry), name)) return false;
  entry.filterName = filterNameFor(entry.filter);

  ObservationRecord rec;
  const std::string block = readFirstBlock(input.get());
  if (!report.take(readCameraHeader(block, profile.andorRule, rec), name)) return false;
  computeMidExposure(rec, target);
  report.say(msg::summaryLine(entry, target, rec));

  OutputPlan plan;
  if (!report.take(profile.composeOutput(entry, settings, target, rec, plan), name))
    return false;
  PendingOutput output;
  if (!report.take(createOutput(entry.outputName, output), name)) return false;
  const Transfer transfer = transferSamples(input.get(), plan, buffer, output);
  return report.take(commitOutput(output, transfer, name), name);
}

int endRun(const std::string& text, int status) {
  show(text);
  finishOutput();
  return status;
}

}  // namespace

int runDriver(const DriverProfile& profile, std::FILE* answers) {
  show(profile.bannerLine1);
  show(profile.bannerLine2);
  FilePtr list = openLowerOrUpper(kRunListName, "rt");
  if (!list) return endRun(msg::runListMissing(), 1);

  SampleBuffer buffer(largestImagePixels());
  RunSettings settings;
  std::string lastConverted, line;
  while (readListPiece(list.get(), line)) {
    switch (classifyLine(line, lastConverted)) {
      case LineKind::Ignored:
        break;
      case LineKind::Directive:
        show(applyDirective(line, settings));
        break;
      case LineKind::Entry: {
        if (!answerQuestions(settings, answers)) return endRun(msg::answersEnded(), 1);
        Report report;
        const bool converted = handleEntry(profile, line, settings, buffer, report);
        report.deliver();
        if (report.endsRun()) return endRun({}, 1);
        if (converted) lastConverted = line;
        break;
      }
    }
  }
  return endRun(msg::finished(), 0);
}
