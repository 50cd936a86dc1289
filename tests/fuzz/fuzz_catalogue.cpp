// Fuzz target: the object catalogue. The first line of the input is the
// object name that an entry asks for (any bytes), the rest is the
// catalogue: each of its lines is scanned on its own, then the name is
// looked up over the whole catalogue as the driver does.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "catalogue.h"
#include "fuzz_support.h"

namespace {

void scanEveryLine(const std::string& catalogue) {
  std::size_t start = 0;
  while (start <= catalogue.size()) {
    std::size_t end = catalogue.find('\n', start);
    if (end == std::string::npos) end = catalogue.size();
    const CatalogueLine line = scanCatalogueLine(catalogue.substr(start, end - start));
    FUZZ_CHECK(line.fields >= 0 && line.fields <= 9);
    FUZZ_CHECK((line.fields == 0) == line.name.empty());
    if (line.fields == 9) {
      const CatalogueEntry entry = catalogueEntryFrom(line);
      FUZZ_CHECK(entry.name == line.name);
      FUZZ_CHECK(entry.equinox == line.equinox || std::isnan(line.equinox));
    }
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silenceConsole();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t lineEnd = bytes.find('\n');
  const std::string objectName = bytes.substr(0, lineEnd);
  const std::string catalogue =
      lineEnd == std::string::npos ? std::string() : bytes.substr(lineEnd + 1);

  scanEveryLine(catalogue);

  fuzz::MemoryFile file(catalogue);
  CatalogueEntry found;
  const LookupResult result = searchCatalogue(file.get(), objectName, found);
  if (result == LookupResult::Found) FUZZ_CHECK(found.name == objectName);
  return 0;
}
