// The main loop that all three programs share: one run-list line at a time.
#include <cstdio>
#include <string>

#include "driver.h"
#include "files.h"
#include "obslib.h"

namespace {

const char* const kRunListName = "tarnlist.dat";

void refuseEntry(const std::string& fileName, const char* message, const char* reason) {
  std::printf(message, fileName.c_str());
  errlist(fileName.c_str(), reason);
}

bool endsWith(const std::string& text, const char* tail) {
  std::string t(tail);
  return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

// Handles one entry line; true when its output was written.
bool handleEntry(const DriverProfile& profile, const std::string& line,
                 const RunSettings& settings) {
  ListEntry entry;
  int fields = parseEntryLine(line, entry);
  entry.fileName = chartolower(entry.fileName.c_str());

  FilePtr input = openLowerOrUpper(entry.fileName, "rt", &entry.openedName);
  if (!input) {
    refuseEntry(entry.fileName, "Cannot open. (%s)  Skipped\n", "open");
    return false;
  }
  if (fields < 8 || entry.fileName.size() < 3) {
    refuseEntry(entry.fileName, "ERROR in entry line. (%s)  Skipped\n",
                "entry line is not valid");
    return false;
  }
  // The output takes the input's name with "fit" for its last three letters:
  // for a name that already ends so, it would be the input itself.
  if (endsWith(entry.fileName, "fit")) {
    refuseEntry(entry.fileName, "Output would overwrite the input. (%s)  Skipped\n",
                "output name equals input name");
    return false;
  }
  entry.outputName = outputNameFor(entry.fileName);
  std::printf("%s --> %s  ", entry.fileName.c_str(), entry.outputName.c_str());

  std::optional<CatalogueEntry> target = lookUpObject(entry.objectName, entry.fileName);
  if (!target) return false;
  if (!checkEntryCodes(entry)) return false;
  entry.filterName = filterNameFor(entry.filter);

  ObservationRecord rec;
  bool read = readCameraHeader(input.get(), profile.andorRule, entry.fileName, rec);
  input.reset();
  if (!read) return false;

  computeMidExposure(rec, *target);
  printSummaryLine(entry, *target, rec);
  return profile.writer(entry, settings, *target, rec);
}

}  // namespace

int runDriver(const DriverProfile& profile, std::FILE* answers) {
  try {
    std::fputs(profile.bannerLine1, stdout);
    std::fputs(profile.bannerLine2, stdout);
    FilePtr list = openLowerOrUpper(kRunListName, "rt");
    if (!list) {
      std::printf("CANNOT OPEN LIST-FILE (%s)\n", kRunListName);
      std::fflush(stdout);
      return 1;
    }
    RunSettings settings;
    std::string lastConverted, line;
    while (readListPiece(list.get(), line)) {
      switch (classifyLine(line, lastConverted)) {
        case LineKind::Ignored:
          break;
        case LineKind::Directive:
          applyDirective(line, settings);
          break;
        case LineKind::Entry:
          promptForSettings(settings, answers);
          if (handleEntry(profile, line, settings)) lastConverted = line;
          break;
      }
    }
    list.reset();
    std::fputs("---- FINISHED ----\n", stdout);
    std::fflush(stdout);
    return 0;
  } catch (const FatalExit& fatal) {
    std::fflush(stdout);
    return fatal.status;
  }
}
