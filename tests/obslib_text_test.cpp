// FITS value texts, string helpers, result areas and the error log of
// obslib.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <limits>
#include <string>
#include <system_error>

#include "obslib.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

double hoursToRadians(double hours) { return hours * kPi / 12.0; }
double degreesToRadians(double degrees) { return degrees * kPi / 180.0; }

}  // namespace

TEST(ObslibText, FitsRaFields) {
  struct Case {
    double ra;
    const char* text;
    const char* what;
  };
  const Case cases[] = {
      {0.0, "00:00:00", "zero"},
      {kPi, "12:00:00", "pi"},
      {hoursToRadians(24.0 - 5e-7), "24:00:00", "within 1e-6 h below 2 pi"},
      {kFullTurnRadians, "24:00:00", "stored full turn, 7e-10 h short"},
      {-0.01, "00:-2:-17", "negative: fields cut toward zero"},
      {hoursToRadians(5.9999999), "06:00:00", "5.9999999 h"},
      {hoursToRadians(5.99999), "05:59:59", "5.99999 h"},
      {hoursToRadians(1.0 + 2.0 / 60 + 3.0 / 3600), "01:02:03", "1h2m3s"},
      {hoursToRadians(1.5 - 1e-9), "01:30:00", "minutes a hair below 30"},
      {hoursToRadians(1.0 + 2.0 / 60 + (3.0 - 1e-7) / 3600), "01:02:03",
       "seconds a hair below 3"},
      {hoursToRadians(23.0 + 59.0 / 60 + 59.5 / 3600), "23:59:59",
       "half second cut"},
      {hoursToRadians(100.0), "100:00:00", "hours past 99"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(fitsra(c.ra), c.text) << c.what;
  }
}

TEST(ObslibText, FitsDecFields) {
  struct Case {
    double angle;
    const char* text;
    const char* what;
  };
  const Case cases[] = {
      {degreesToRadians(-12.5), "-12:30:00", "-12.5 deg"},
      {-0.0, "+00:00:00", "negative zero"},
      {-1e-9, "-00:00:00", "-1e-9 rad"},
      {degreesToRadians(89.99999999), "+90:00:00", "89.99999999 deg"},
      {degreesToRadians(1.0 + 2.0 / 60 + 3.0 / 3600), "+01:02:03", "1d2m3s"},
      {degreesToRadians(-(10.75 - 1e-9)), "-10:45:00", "minutes a hair below 45"},
      {degreesToRadians(-(45.0 + 59.0 / 60 + 59.9 / 3600)), "-45:59:59",
       "seconds cut, not rounded"},
      {degreesToRadians(123.5), "+123:30:00", "three-digit degrees"},
      {kRightAngleRadians, "+90:00:00", "stored right angle"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(fitsdec(c.angle), c.text) << c.what;
  }
}

// An absurd value from a catalogue or camera header (1e999 seconds of RA, an
// exposure of nan) must give a defined text, not an undefined conversion.
TEST(ObslibText, AnglesBeyondIntRangeAreHeldAtItsEnds) {
  const std::string big = std::to_string(std::numeric_limits<int>::max());
  EXPECT_EQ(std::string(fitsra(1e300)), big + ":" + big + ":" + big);
  EXPECT_EQ(std::string(fitsdec(std::numeric_limits<double>::infinity())),
            "+" + big + ":" + big + ":" + big);
  EXPECT_STREQ(fitsra(std::nan("")), "00:00:00");
  EXPECT_STREQ(fitsdec(std::nan("")), "+00:00:00");
}

TEST(ObslibText, FitsDateAndTimeOfBrokenDownTime) {
  struct Case {
    int tmYear, tmMon, tmMday;
    const char* text;
  };
  const Case cases[] = {{126, 0, 5, "2026-01-05"}, {5, 0, 5, "2005-01-05"},
                        {70, 11, 31, "2070-12-31"}, {71, 5, 1, "1971-06-01"},
                        {99, 1, 28, "1999-02-28"}};
  for (const Case& c : cases) {
    std::tm t{};
    t.tm_year = c.tmYear;
    t.tm_mon = c.tmMon;
    t.tm_mday = c.tmMday;
    EXPECT_STREQ(fitsdate(&t), c.text) << "tm_year " << c.tmYear;
  }
  std::tm t{};
  t.tm_hour = 7;
  t.tm_min = 5;
  t.tm_sec = 9;
  EXPECT_STREQ(fitstime(&t), "07:05:09");
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_sec = 60;  // leap second passes through
  EXPECT_STREQ(fitstime(&t), "23:59:60");
}

TEST(ObslibText, MidSubstrings) {
  // An 80-column card with 512 right-justified in columns 11 to 30.
  char card[81];
  std::snprintf(card, sizeof card, "%-8s= %20s / %-47s", "NAXIS1", "512",
                "length of data axis 1");
  ASSERT_EQ(std::string(card).size(), 80u);

  struct Case {
    const char* text;
    int start, length;
    const char* result;
    const char* what;
  };
  const Case cases[] = {
      {card, 27, 4, " 512", "columns 27-30 of a card"},
      {card, 1, 8, "NAXIS1  ", "keyword"},
      {"ABCDEF", 3, 0, "", "length 0"},
      {"ABCDEF", 3, -4, "", "negative length"},
      {"ABCDEF", 1, 6, "ABCDEF", "whole text"},
      {"ABCDEF", 4, 10, "DEF", "runs past the end"},
      {"ABCDEF", 7, 2, "", "starts at the terminator"},
      {"ABCDEF", 12, 2, "", "starts beyond the end"},
      {"ABCDEF", 0, 3, "ABC", "start 0 taken as 1"},
      {"ABCDEF", -5, 2, "AB", "negative start taken as 1"},
      {"", 1, 5, "", "empty text"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(mid(c.text, c.start, c.length), c.result) << c.what;
  }
}

// With exactly four bytes allocated, a read past the terminator is a heap
// overflow that the address sanitizer reports.
TEST(ObslibText, MidStopsAtTerminator) {
  std::unique_ptr<char[]> text(new char[4]{'a', 'b', 'c', '\0'});
  EXPECT_STREQ(mid(text.get(), 2, 100), "bc");
  EXPECT_STREQ(mid(text.get(), 50, 100), "");
}

TEST(ObslibText, ConvstrQuotesAndPads) {
  struct Case {
    const char* text;
    const char* value;
  };
  const Case cases[] = {
      {"", "'        '"},
      {"ABCDEFG", "'ABCDEFG '"},
      {"ABCDEFGH", "'ABCDEFGH'"},
      {"ABCDEFGHI", "'ABCDEFGHI'"},
      {"AB  ", "'AB      '"},           // trailing blanks stay
      {"O'B", "'O''B    '"},           // apostrophe doubled
      {"'''", "'''''''  '"},           // six apostrophes, two blanks
      {"ABCDEF'", "'ABCDEF'''"},       // doubling makes 8: no padding
      {"IT'S A STAR", "'IT''S A STAR'"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(convstr(c.text), c.value) << "[" << c.text << "]";
  }
  EXPECT_EQ(std::string(convstr("")).size(), 10u);
  EXPECT_EQ(std::string(convstr("ABCDEFG")).size(), 10u);
  EXPECT_EQ(std::string(convstr("ABCDEFGH")).size(), 10u);
  EXPECT_EQ(std::string(convstr("ABCDEFGHI")).size(), 11u);
}

TEST(ObslibText, LongTextsComeBackWhole) {
  std::string longText;
  for (int i = 0; i < 200; ++i) {
    longText += static_cast<char>('A' + i % 26);
  }
  std::string lower = longText;
  for (char& c : lower) c = static_cast<char>(c - 'A' + 'a');

  EXPECT_EQ(mid(longText.c_str(), 3, 150), longText.substr(2, 150));
  EXPECT_EQ(mid(longText.c_str(), 1, 28), longText.substr(0, 28));
  EXPECT_EQ(convstr(longText.c_str()), "'" + longText + "'");
  EXPECT_EQ(chartolower(longText.c_str()), lower);
  EXPECT_EQ(chartoupper(lower.c_str()), longText);
}

TEST(ObslibText, CaseChangeOnlyAsciiLetters) {
  EXPECT_STREQ(chartolower("M31_B.FIT"), "m31_b.fit");
  EXPECT_STREQ(chartoupper("m31_b.fit"), "M31_B.FIT");
  EXPECT_STREQ(chartolower(""), "");
  EXPECT_STREQ(chartoupper(""), "");

  // Every byte on its own: letters change, everything else, bytes above 127
  // included, is copied unchanged.
  for (int b = 1; b < 256; ++b) {
    const char text[2] = {static_cast<char>(b), '\0'};
    const bool upper = b >= 'A' && b <= 'Z';
    const bool lower = b >= 'a' && b <= 'z';
    const char down = static_cast<char>(upper ? b + ('a' - 'A') : b);
    const char up = static_cast<char>(lower ? b - ('a' - 'A') : b);
    const std::string gotDown = chartolower(text);
    ASSERT_EQ(gotDown.size(), 1u) << "byte " << b;
    EXPECT_EQ(gotDown[0], down) << "byte " << b;
    const std::string gotUp = chartoupper(text);
    ASSERT_EQ(gotUp.size(), 1u) << "byte " << b;
    EXPECT_EQ(gotUp[0], up) << "byte " << b;
  }
}

TEST(ObslibText, ResultAreasAreSharedAsDocumented) {
  // fitsra (str2) and fitsdec (str3) results can be held together.
  const char* ra = fitsra(kPi);
  const char* dec = fitsdec(degreesToRadians(-12.5));
  EXPECT_STREQ(ra, "12:00:00");
  EXPECT_STREQ(dec, "-12:30:00");
  EXPECT_EQ(ra, str2.c_str());
  EXPECT_EQ(dec, str3.c_str());

  // A second writer of str2 replaces the first result.
  fitsra(0.0);
  EXPECT_EQ(str2, "00:00:00");
  fitsdatemjd(51544.0);
  EXPECT_EQ(str2, "2000-01-01");
  EXPECT_EQ(str3, "-12:30:00");  // untouched

  // A formatter's result goes straight into convstr (str1).
  EXPECT_STREQ(convstr(fitsra(kPi)), "'12:00:00'");
  EXPECT_EQ(str2, "12:00:00");
  EXPECT_EQ(mid("ABCDEF", 2, 2), str1.c_str());
  EXPECT_EQ(chartolower("X"), str4.c_str());

  // Reading the area being written still sees the whole old text.
  convstr("AB");
  EXPECT_STREQ(convstr(str1.c_str()), "'''AB      '''");
  mid("ABCDEFGH", 1, 8);
  EXPECT_STREQ(mid(str1.c_str(), 3, 4), "CDEF");
}

namespace {

// Runs a test inside a fresh temporary folder and returns to the previous
// working folder, removing the temporary one, however the test ends.
class ScratchFolder {
 public:
  ScratchFolder() {
    previous_ = std::filesystem::current_path();
    std::string pattern =
        (std::filesystem::temp_directory_path() / "obslib_errlog_XXXXXX")
            .string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    folder_ = pattern;
    std::filesystem::current_path(folder_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(folder_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

 private:
  std::filesystem::path previous_;
  std::filesystem::path folder_;
};

std::string readFile(const char* name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

TEST(ObslibErrlog, AppendsLinesAfterExistingContent) {
  ScratchFolder scratch;
  {
    std::ofstream existing("tarnfits.log", std::ios::binary);
    existing << "earlier line\n";
  }
  testing::internal::CaptureStderr();
  errlist("m31.fit", "open");
  errlist("ngc%s%n.fit", "OBJECT not find");  // no format interpretation
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(readFile("tarnfits.log"),
            "earlier line\n"
            "cannot open 'm31.fit'  (open)\n"
            "cannot open 'ngc%s%n.fit'  (OBJECT not find)\n");
}

TEST(ObslibErrlog, CreatesMissingLog) {
  ScratchFolder scratch;
  errlist("a.fit", "FITS NAXIS values are strange...");
  EXPECT_EQ(readFile("tarnfits.log"),
            "cannot open 'a.fit'  (FITS NAXIS values are strange...)\n");
}

TEST(ObslibErrlog, WarnsWhenLogCannotBeOpened) {
  ScratchFolder scratch;
  ASSERT_TRUE(std::filesystem::create_directory("tarnfits.log"));
  testing::internal::CaptureStderr();
  errlist("m31.fit", "open");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "# Warning! Cannot write the error log (tarnfits.log)\n");
  EXPECT_TRUE(std::filesystem::is_directory("tarnfits.log"));
}
