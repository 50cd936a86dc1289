// Object catalogue lines and the lookup over a catalogue.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "catalogue.h"
#include "e2e.h"
#include "obslib.h"

// While set, fstat gives these modification and change times: time stamps that stand still.
static std::optional<std::pair<timespec, timespec>> frozenTimes;

extern "C" int fstat(int fd, struct stat* st) noexcept {
  static const auto real = reinterpret_cast<int (*)(int, struct stat*)>(dlsym(RTLD_NEXT, "fstat"));
  const int result = real(fd, st);
  if (result == 0 && frozenTimes) st->st_mtim = frozenTimes->first, st->st_ctim = frozenTimes->second;
  return result;
}

namespace {

LookupResult search(const std::string& text, const std::string& name,
                    CatalogueEntry& found, int* unreadableLine = nullptr) {
  std::FILE* f = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  LookupResult r = searchCatalogue(f, name, found, unreadableLine);
  std::fclose(f);
  return r;
}

TEST(CatalogueLine, FieldsMayRunTogether) {
  const char* forms[] = {
      "M42 2000.0 05 35 17.3 -05 23 28.0",
      "M42 2000.0 053517.3 -052328.0",
      "M42 2000.0 5 35 17.3 - 5 23 28",
  };
  for (const char* form : forms) {
    CatalogueLine c = scanCatalogueLine(form);
    ASSERT_EQ(c.fields, 9) << form;
    EXPECT_EQ(c.name, "M42");
    EXPECT_EQ(c.raHours, 5);
    EXPECT_EQ(c.raMinutes, 35);
    EXPECT_NEAR(c.raSeconds, 17.3, 1e-12);
    EXPECT_EQ(c.sign, '-');
    EXPECT_EQ(c.decDegrees, 5);
    EXPECT_EQ(c.decMinutes, 23);
    EXPECT_NEAR(c.decSeconds, 28.0, 1e-12) << form;
  }
}

TEST(CatalogueLine, PositionUsesTheStoredFactorsAndTheSignOfTheWholeAngle) {
  CatalogueEntry e = catalogueEntryFrom(scanCatalogueLine("X 1950.0 12 00 00 -00 30 00"));
  EXPECT_DOUBLE_EQ(e.raRadians, 12 * 0.261799387);  // a hair below pi
  EXPECT_LT(e.raRadians, M_PI);
  EXPECT_DOUBLE_EQ(e.decRadians, -0.5 * 0.017453292);
  EXPECT_DOUBLE_EQ(e.equinox, 1950.0);
  e = catalogueEntryFrom(scanCatalogueLine("X 2000 0 0 0 +00 30 00"));
  EXPECT_DOUBLE_EQ(e.decRadians, 0.5 * 0.017453292);
}

TEST(CatalogueSearch, FirstMatchWinsAndCaseMatters) {
  std::string cat =
      "M42 2000.0 05 35 17.3 -05 23 28\n"
      "M42 1950.0 05 32 49.0 -05 25 00\n"
      "m42 2000.0 01 00 00.0 +01 00 00\n";
  CatalogueEntry e;
  ASSERT_EQ(search(cat, "M42", e), LookupResult::Found);
  EXPECT_DOUBLE_EQ(e.equinox, 2000.0);
  ASSERT_EQ(search(cat, "m42", e), LookupResult::Found);
  EXPECT_NEAR(e.raRadians, 0.261799387, 1e-15);
  EXPECT_EQ(search(cat, "M4", e), LookupResult::Missing);
}

TEST(CatalogueSearch, RemarksAreSkippedBrokenLinesAreFatal) {
  const std::string good = "M42 2000.0 05 35 17.3 -05 23 28\n";
  CatalogueEntry e;
  const struct {
    const char* before;
    LookupResult expected;
  } cases[] = {
      {"\n", LookupResult::Found},
      {"# catalogue of the winter run\n", LookupResult::Found},
      {"NGC1976\n", LookupResult::Found},
      {"M1 2000.0 05 34 31.9\n", LookupResult::Found},           // five fields
      {"M1 2000.0 05 34 31.9 22 00 52\n", LookupResult::Broken},  // no sign
      {"M1 2000.0 05 34 31.9 +\n", LookupResult::Broken},         // sign alone
      {"M1 2000.0 05 34 31.9 +22 00\n", LookupResult::Broken},    // eight fields
  };
  for (const auto& c : cases)
    EXPECT_EQ(search(std::string(c.before) + good, "M42", e), c.expected) << c.before;
  // Lines after the match are never read.
  EXPECT_EQ(search(good + "BAD 2000 1 2 3 * 1 2 3\n", "M42", e), LookupResult::Found);
  // A broken line of the wanted name is never taken as its position.
  EXPECT_EQ(search("M42 2000.0 05 35 17.3 -05\n" + good, "M42", e), LookupResult::Broken);
}

// The object's own line decides even without a whole position; a name alone,
// other objects' lines and words after the seconds change nothing.
TEST(CatalogueSearch, TheObjectsOwnLineWithoutAWholePositionIsUnreadable) {
  const struct { const char* line; LookupResult expected; } cases[] = {
      {"M1 2000.0 05 3x 31.9 +22 00 52", LookupResult::Unreadable}, {"M1 2000.0 05 34 31.9", LookupResult::Unreadable},
      {"M1 2OOO.0 05 34 31.9 +22 00 52", LookupResult::Unreadable}, {"M1 2000.0 05 34 31.9 +22 00 5x", LookupResult::Unreadable},
      {"M1", LookupResult::Found}, {"M2 2000.0 05 3x 31.9 +22 00 5x", LookupResult::Found},
      {"M1 2000.0 05 34 31.9 +22 00 52\tCrab", LookupResult::Found}};
  for (const auto& c : cases) {
    CatalogueEntry e;
    int line = 0;
    EXPECT_EQ(search(std::string("#\n") + c.line + "\nM1 2000 1 2 3 +4 5 6\n", "M1", e, &line),
              c.expected) << c.line;
    EXPECT_EQ(line, c.expected == LookupResult::Unreadable ? 2 : 0) << c.line;
  }
}

TEST(CatalogueSearch, LongNamesAreComparedWhole) {
  std::string longName(150, 'N');
  std::string cat = longName + " 2000 1 0 0 +1 0 0\n";
  CatalogueEntry e;
  EXPECT_EQ(search(cat, longName, e), LookupResult::Found);
  EXPECT_EQ(search(cat, longName.substr(0, 99), e), LookupResult::Missing);
}

// The lines read before answer only for the same file (size, times...) whose times were 2 s old.
TEST(ObjectCatalogue, ReadAgainUnlessTheSameSettledFile) {
  e2e::ScopedTempDir dir;
  const std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const time_t now = std::time(nullptr);  // the times below are from now; the equinox written, read
  const struct { time_t modified, changed; const char* equinox; double read; } steps[] = {
      {-61, -61, "1950.0", 1950}, {-61, -61, "2000.0", 1950}, {-61, -61, "2000.00", 2000},  // kept; size
      {-61, -60, "1990.00", 1990}, {9, 9, "1980.00", 1980}, {9, 9, "1970.00", 1970}};  // ctime; times not 2 s old
  ObjectCatalogue catalogue;
  for (const auto& s : steps) {
    e2e::writeFile("object.lst", "M42 " + std::string(s.equinox) + " 5 35 17 -5 23 28\n");
    frozenTimes = {{now + s.modified, 0}, {now + s.changed, 0}};
    CatalogueEntry found;
    EXPECT_EQ(catalogue.lookUp("M42", found).isAccepted() ? found.equinox : 0.0, s.read) << s.equinox;
  }
  frozenTimes.reset();
  std::filesystem::current_path(home);
}

}  // namespace
