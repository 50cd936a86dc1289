// Fuzz target: the run-list line handling. The input is a whole run list,
// bytes of any value: it is read piece by piece and each piece is
// classified, directives change the settings, entry lines are parsed into
// their eight fields, named and checked as the main loop does; then the
// questions take their answers from the same bytes.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "runlist.h"
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
  if (!checkEntryCodes(entry).isAccepted()) return;
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
  // The answers, word by word, until every setting is given or they run out.
  FieldScanner answers(bytes);
  std::string word;
  while (std::optional<msg::Question> question = nextQuestion(settings)) {
    if (!answers.word(word)) break;
    takeAnswer(*question, word, settings);
  }
  FUZZ_CHECK(!nextQuestion(settings) || !answers.word(word));
  return 0;
}
