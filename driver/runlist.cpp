// The run list: pieces, directives, prompts and entry lines.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver.h"
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

// Reads the next blank-separated word of the answers; false at their end.
bool readAnswerWord(std::FILE* answers, std::string& word) {
  word.clear();
  int c = std::getc(answers);
  while (c != EOF && isBlank(static_cast<char>(c))) c = std::getc(answers);
  while (c != EOF && !isBlank(static_cast<char>(c))) {
    word.push_back(static_cast<char>(c));
    c = std::getc(answers);
  }
  return !word.empty();
}

// Prints a prompt and reads its answer; the end of the answers is fatal.
std::string ask(const char* prompt, std::FILE* answers) {
  std::fputs(prompt, stdout);
  std::fflush(stdout);
  std::string word;
  if (!readAnswerWord(answers, word)) {
    std::fputs("\nCANNOT READ ANSWER (end of input)\n", stdout);
    throw FatalExit{};
  }
  return word;
}

void skipEntry(const std::string& fileName, const char* message,
               const char* reason, long long code) {
  std::printf(message, code);
  errlist(fileName.c_str(), reason);
}

}  // namespace

bool readListPiece(std::FILE* list, std::string& piece) {
  piece.clear();
  bool cut = false;
  int c = 0;
  std::size_t length = 0;
  while (length < kListPieceLength && (c = std::getc(list)) != EOF) {
    ++length;
    if (c == '\0') cut = true;
    if (!cut) piece.push_back(static_cast<char>(c));
    if (c == '\n') break;
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

void applyDirective(const std::string& line, RunSettings& settings) {
  LineWords w = firstWords(line);
  const std::string& keyword = w.word[1];
  if (keyword != "SEEING" && keyword != "WEATHER" && keyword != "OBSERVER") return;
  if (w.count < 3) {
    std::fputs("# Warning! Directive without value ignored\n", stdout);
    return;
  }
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
}

void promptForSettings(RunSettings& settings, std::FILE* answers) {
  while (!settings.weatherSet) {
    std::string word = ask("WEATHER (1:CLEAR 2:FAIR 3:HAZY 4:CLOUDY) >> ", answers);
    char* end = nullptr;
    long choice = std::strtol(word.c_str(), &end, 10);
    if (end != word.c_str() && choice >= 1 && choice <= 4) {
      settings.weather = kWeatherWords[choice - 1];
      settings.weatherSet = true;
    }
  }
  while (!settings.seeingSet) {
    std::string word = ask("SEEING SIZE (arcsec) >> ", answers);
    char* end = nullptr;
    float seeing = std::strtof(word.c_str(), &end);
    if (end != word.c_str()) {
      settings.seeing = seeing;
      settings.seeingSet = true;
    }
  }
  if (!settings.observerSet) {
    settings.observer = ask("WHO ARE YOU? >> ", answers);
    settings.observerSet = true;
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

std::string outputNameFor(const std::string& fileName) {
  return fileName.substr(0, fileName.size() - 3) + "fit";
}

bool checkEntryCodes(ListEntry& entry) {
  static const char* const kDataTypes[] = {"OBJECT", "DARK",  "COMPARISON",
                                           "BIAS",   "FLAT",  "NEARBY_SKY"};
  static const char* const kDiaphragms[] = {
      "1HOLE",         "2HOLES_LOWER",  "2HOLES_UPPER",
      "2SLIT01_LOWER", "2SLIT01_UPPER", "2SLIT02_LOWER",
      "2SLIT02_UPPER", "1SLIT004",      "CALIBRAT01"};
  static const char* const kClumps[] = {"WEST", "EAST"};

  if (entry.dataType < 1 || entry.dataType > 6) {
    skipEntry(entry.fileName, "ERROR in DATA-TYPE. (%lld) Skipped\n",
              "DATA-TYPE is not valid", entry.dataType);
    return false;
  }
  if (entry.diaphragm < 1 || entry.diaphragm > 9) {
    skipEntry(entry.fileName, "ERROR in Diaphragm type. (%lld) Skipped\n",
              "Diaphragm type is not valid", entry.diaphragm);
    return false;
  }
  if (entry.clump < 1 || entry.clump > 2) {
    skipEntry(entry.fileName, "ERROR in CLUMP TYPE. (%lld) Skipped\n",
              "CLUMP type is not valid", entry.clump);
    return false;
  }
  entry.dataTypeName = kDataTypes[entry.dataType - 1];
  entry.diaphragmName = kDiaphragms[entry.diaphragm - 1];
  entry.clumpName = kClumps[entry.clump - 1];
  return true;
}

std::string filterNameFor(const std::string& filter) {
  if (filter == "0") return "NO_FILTER";
  if (filter == "1") return "GT";
  return filter;
}
