// The texts tarnindex reads: CSV as RFC 4180 has it, numbers, column
// names, a folder's date, and the night read from its tables.
#include <gtest/gtest.h>

#include "index.h"

namespace {

using tarnindex::Table;

TEST(TarnindexText, CsvTablesAndWhatIsWrongWithThem) {
  const struct {
    const char* text;
    const char* error;
    std::size_t rows;
  } cases[] = {
      {"a,b\r\n1,\"x,\"\"y\"\"\r\nz\"\r\n", "", 1},  // a quoted comma, quote and line end
      {"a,b\n1,2\n", "", 1},                          // LF alone
      {"a,b\r\n1,2", "cut: the last line has no line end", 0},
      {"a,b\r\n1,2,3\r\n", "line 2: 3 fields where the header has 2", 0},
      {"a,b\r\n1,\"2\r\n", "line 2: a quote is not closed", 0},
      {"a,b\r\n1,\"2\"x\r\n", "line 2: a quote is not followed by a comma or a line end", 0},
      {"a,b\r\n1,2\r3\n", "line 2: a CR without LF", 0},
      {"", "empty", 0},
  };
  for (const auto& c : cases) {
    Table table;
    EXPECT_EQ(tarnindex::parseCsv(c.text, table), c.error) << c.text;
    EXPECT_EQ(table.rows.size(), c.rows) << c.text;
  }
  Table table;
  tarnindex::parseCsv("a,b\r\n1,\"x,\"\"y\"\"\r\nz\"\r\n", table);
  EXPECT_EQ(table.rows[0][1], "x,\"y\"\r\nz");
  EXPECT_EQ(tarnindex::csvLine(table.rows[0]), "1,\"x,\"\"y\"\"\r\nz\"\r\n");
}

TEST(TarnindexText, NumbersNamesAndDates) {
  for (const auto& [text, number] : std::vector<std::pair<std::string, std::optional<double>>>{
           {"60.00", 60.0}, {"-1.5e3", -1500.0}, {"+.5", 0.5}, {"", std::nullopt}, {"yes", std::nullopt},
           {"0x10", std::nullopt}, {"nan", std::nullopt}, {"1e999", std::nullopt}, {"1e", std::nullopt},
           {"1 ", std::nullopt}}) {
    EXPECT_EQ(tarnindex::numberOf(text), number) << text;
  }
  for (const double v : {60.0, 1.25, 0.1, 1.0 / 3, 6.02214076e23, -2.5e-300}) {
    EXPECT_EQ(std::stod(tarnindex::numberText(v)), v) << tarnindex::numberText(v);
  }
  EXPECT_EQ(tarnindex::numberText(60.0), "60");
  for (const auto& [name, sql] : std::vector<std::pair<std::string, std::string>>{
           {"DATA-TYP", "data_typ"}, {"fwhm_arcsec", "fwhm_arcsec"}, {"2nd", "c_2nd"}, {"", "c_"}, {"a b\"", "a_b_"}}) {
    EXPECT_EQ(tarnindex::sqlName(name), sql) << name;
  }
  for (const auto& [path, date] : std::vector<std::pair<std::string, std::string>>{
           {"2024-01-31", "2024-01-31"}, {"2024/20240131", "2024-01-31"}, {"x/2024-13-01", ""},
           {"2024-01-31x", ""}, {"night", ""}, {"12024-01-31", ""}}) {
    EXPECT_EQ(tarnindex::dateOfFolder(path), date) << path;
  }
}

TEST(TarnindexNight, DateFromThePageElseTheFolderAndTheSummaryOfItsFrames) {
  tarnindex::NightTexts texts;
  texts.path = "2024/2024-02-02";
  texts.frames = "file,OBJECT,DATA-TYP,FILTER,EXPTIME,level_adu,noise_adu,fwhm_px,SEEING,sky_adu_per_s,flags\r\n"
                 "b1.fit,BIAS,BIAS,,0,600,4,,,,\r\nb2.fit,BIAS,BIAS,,0,602,5,,,,\r\n"
                 "t5_0001.fit,M42,OBJECT,R,60,900,9,3,1.5,5,\r\nt5_0002.fit,M42,OBJECT,R,30,900,9,5,1.5,7,trailed\r\n";
  texts.runList = "line,input,output,outcome,reason,log_reason\r\n1,a.fts,a.fit,converted,,\r\n2,b.fts,,refused,open,\r\n";
  texts.pageHead = "<h1>Night of 2024-01-31 to 2024-02-01, UT 20:00:00 to 01:00:00";
  tarnindex::NightContent night;
  ASSERT_EQ(tarnindex::readNight(texts, night), "");
  EXPECT_EQ(night.date + " " + night.utFirst + " " + night.utLast, "2024-01-31 20:00:00 01:00:00");
  EXPECT_EQ(night.framesByType, "BIAS 2, OBJECT 2");
  EXPECT_EQ(night.objectExposure, 90.0);
  EXPECT_EQ(night.skyPerFilter + "; " + night.seeing, "R 6; 1.5");
  EXPECT_EQ(night.flagged + night.runListProblems * 10, 11);
  EXPECT_EQ(night.verdict, "problems");
  std::string measures;
  for (const auto& m : night.measures) measures += m.quantity + ":" + m.series + "=" + tarnindex::numberText(m.value) + " ";
  EXPECT_EQ(measures, "fwhm_px:=4 seeing:=1.5 sky_per_s:R=6 bias_level:b=601 read_noise:b=4.5 ");
  texts.pageHead.clear();
  ASSERT_EQ(tarnindex::readNight(texts, night), "");
  EXPECT_EQ(night.date, "2024-02-02");
  texts.path = "night";
  EXPECT_EQ(tarnindex::readNight(texts, night),
            "no date: tarnlook.html has no night's date and the folder's name is not a date");
}

}  // namespace
