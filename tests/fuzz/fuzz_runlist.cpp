// Fuzz target: the run-list line handling. The input is a whole run list,
// bytes of any value: it is read piece by piece and each piece is
// classified, directives change the settings, entry lines are parsed into
// their eight fields, named and checked as the main loop does; then the
// prompts take their answers from the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "driver.h"
#include "fuzz_support.h"

namespace {

constexpr std::size_t kLongestPiece = 99;

void handleEntry(const std::string& piece, std::string& lastConverted) {
  ListEntry entry;
  const int fields = parseEntryLine(piece, entry);
  FUZZ_CHECK(fields >= 1 && fields <= 8);  // an entry has a first word
  if (entry.fileName.size() >= 3) {
    const std::string output = outputNameFor(entry.fileName);
    FUZZ_CHECK(output.size() == entry.fileName.size());
    FUZZ_CHECK(fuzz::endsWith(output, "fit"));
    FUZZ_CHECK(output.compare(0, output.size() - 3, entry.fileName, 0,
                              entry.fileName.size() - 3) == 0);
  }
  if (!checkEntryCodes(entry)) return;
  FUZZ_CHECK(!entry.dataTypeName.empty() && !entry.diaphragmName.empty() &&
             !entry.clumpName.empty());
  entry.filterName = filterNameFor(entry.filter);
  if (fields == 8) lastConverted = piece;  // as if its output were written
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silenceConsole();
  fuzz::enterScratchFolder("fuzz_runlist");
  fuzz::discardErrorLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  fuzz::MemoryFile list(bytes);
  RunSettings settings;
  std::string piece, lastConverted;
  while (readListPiece(list.get(), piece)) {
    FUZZ_CHECK(piece.size() <= kLongestPiece);
    FUZZ_CHECK(piece.find('\0') == std::string::npos);
    switch (classifyLine(piece, lastConverted)) {
      case LineKind::Ignored:
        break;
      case LineKind::Directive:
        applyDirective(piece, settings);
        FUZZ_CHECK(settings.observer.size() <= 28);
        break;
      case LineKind::Entry:
        handleEntry(piece, lastConverted);
        break;
    }
  }
  fuzz::MemoryFile answers(bytes);
  try {
    promptForSettings(settings, answers.get());
    FUZZ_CHECK(settings.weatherSet && settings.seeingSet && settings.observerSet);
  } catch (const FatalExit&) {
    // The answers ran out before every setting was given.
  }
  return 0;
}
