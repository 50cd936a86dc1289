// The run list: pieces, directives, answers and entry lines.
#include "runlist.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "files.h"
#include "obslib.h"

namespace {

constexpr std::size_t kListPieceLength = 99;  // longest piece of a line
constexpr int kObserverDirectiveLength = 28;  // a directive's observer is cut

const char* const kWeatherWords[] = {"CLEAR", "FAIR", "HAZY", "CLOUDY"};

// The first three blank-separated words of a line (fewer when it has fewer).
struct LineWords {
  int count = 0;
  std::string word[3];
};

LineWords firstWords(const std::string& line) {
  LineWords w;
  FieldScanner scan(line);
  while (w.count < 3 && scan.word(w.word[w.count])) ++w.count;
  return w;
}

}  // namespace

bool readListPiece(std::FILE* list, std::string& piece) {
  bool lineEnded = false;
  return readListPiece(list, piece, lineEnded);
}

bool readListPiece(std::FILE* list, std::string& piece, bool& lineEnded) {
  piece.clear();
  lineEnded = false;
  bool cut = false;
  int c = 0;
  std::size_t length = 0;
  while (length < kListPieceLength && (c = std::getc(list)) != EOF) {
    ++length;
    if (c == '\0') cut = true;
    if (!cut) piece.push_back(static_cast<char>(c));
    if (c == '\n') {
      lineEnded = true;
      break;
    }
  }
  return length > 0;
}

LineKind classifyLine(const std::string& line, const std::string& lastConverted) {
  if (line == lastConverted) return LineKind::Ignored;
  if (line.size() <= 1) return LineKind::Ignored;
  LineWords w = firstWords(line);
  if (w.count == 0) return LineKind::Ignored;
  return w.word[0] == "#" ? LineKind::Directive : LineKind::Entry;
}

std::string applyDirective(const std::string& line, RunSettings& settings) {
  LineWords w = firstWords(line);
  const std::string& keyword = w.word[1];
  if (keyword != "SEEING" && keyword != "WEATHER" && keyword != "OBSERVER") return {};
  if (w.count < 3) return msg::directiveWithoutValue();
  const std::string& value = w.word[2];
  if (keyword == "SEEING") {
    settings.seeing = static_cast<float>(std::atof(value.c_str()));
    settings.seeingSet = true;
  } else if (keyword == "WEATHER") {
    settings.weather = value;
    settings.weatherSet = true;
  } else {
    settings.observer = mid(value.c_str(), 1, kObserverDirectiveLength);
    settings.observerSet = true;
  }
  return {};
}

std::optional<msg::Question> nextQuestion(const RunSettings& settings) {
  if (!settings.weatherSet) return msg::Question::Weather;
  if (!settings.seeingSet) return msg::Question::Seeing;
  if (!settings.observerSet) return msg::Question::Observer;
  return std::nullopt;
}

void takeAnswer(msg::Question question, const std::string& word, RunSettings& settings) {
  char* end = nullptr;
  switch (question) {
    case msg::Question::Weather: {
      long choice = std::strtol(word.c_str(), &end, 10);
      if (end != word.c_str() && choice >= 1 && choice <= 4) {
        settings.weather = kWeatherWords[choice - 1];
        settings.weatherSet = true;
      }
      break;
    }
    case msg::Question::Seeing: {
      float seeing = std::strtof(word.c_str(), &end);
      if (end != word.c_str()) {
        settings.seeing = seeing;
        settings.seeingSet = true;
      }
      break;
    }
    case msg::Question::Observer:
      settings.observer = word;
      settings.observerSet = true;
      break;
  }
}

int parseEntryLine(const std::string& line, ListEntry& entry) {
  FieldScanner scan(line);
  double hwp = 0.0, slit = 0.0;
  int fields = 0;
  if (!scan.word(entry.fileName)) return fields;
  ++fields;
  if (!scan.word(entry.objectName)) return fields;
  ++fields;
  if (!scan.integer(entry.dataType)) return fields;
  ++fields;
  if (!scan.real(hwp)) return fields;
  entry.hwpAngle = static_cast<float>(hwp);
  ++fields;
  if (!scan.integer(entry.diaphragm)) return fields;
  ++fields;
  if (!scan.real(slit)) return fields;
  entry.slitWidth = static_cast<float>(slit);
  ++fields;
  if (!scan.integer(entry.clump)) return fields;
  ++fields;
  if (!scan.word(entry.filter)) return fields;
  return ++fields;
}

bool hasOwnOutput(const std::string& fileName) {
  return fileName.size() >= 3 && fileName.compare(fileName.size() - 3, 3, "fit") != 0;
}

std::string outputNameFor(const std::string& fileName) {
  return fileName.substr(0, fileName.size() - 3) + "fit";
}

Outcome checkEntryCodes(ListEntry& entry) {
  static const char* const kDataTypes[] = {"OBJECT", "DARK",  "COMPARISON",
                                           "BIAS",   "FLAT",  "NEARBY_SKY"};
  static const char* const kDiaphragms[] = {
      "1HOLE",         "2HOLES_LOWER",  "2HOLES_UPPER",
      "2SLIT01_LOWER", "2SLIT01_UPPER", "2SLIT02_LOWER",
      "2SLIT02_UPPER", "1SLIT004",      "CALIBRAT01"};
  static const char* const kClumps[] = {"WEST", "EAST"};

  if (entry.dataType < 1 || entry.dataType > 6) return msg::dataTypeInvalid(entry.dataType);
  if (entry.diaphragm < 1 || entry.diaphragm > 9) return msg::diaphragmInvalid(entry.diaphragm);
  if (entry.clump < 1 || entry.clump > 2) return msg::clumpInvalid(entry.clump);
  entry.dataTypeName = kDataTypes[entry.dataType - 1];
  entry.diaphragmName = kDiaphragms[entry.diaphragm - 1];
  entry.clumpName = kClumps[entry.clump - 1];
  return Outcome::accepted();
}

std::string filterNameFor(const std::string& filter) {
  if (filter == "0") return "NO_FILTER";
  if (filter == "1") return "GT";
  return filter;
}
