// tarnfits run end to end on generated camera files in fresh folders: the
// exact console output and error log, the 72-card header of each layout as
// it stands in the file, the samples and the zero fill byte for byte, and
// the entries the converter refuses or warns about.
//
// The night of the shared fixture is built so that its values can be worked
// out by hand. Its target HAND stands at 03:46:18.93, -24:00:00 in a
// catalogue whose equinox is the epoch of the noon exposures themselves
// (2000 + 0.5 / 365.25 = 2000.0013689253935, mid exposure 2000-01-01
// 12:00:00 UT), so that the apparent position is the catalogue position
// unchanged. At that instant the sidereal time at the site is 03:46:18.93:
// the hour angle is zero, the zenith distance is latitude 36 deg minus
// declination -24 deg = 60 deg, cos z = 0.5, and the airmass is
// 2 - 0.0018167 - 0.002875 - 0.0008083 = 1.9945. The expected texts of this
// file were computed from the published formulas on their own (MJD, sidereal
// time, precession, zenith distance, sexagesimal cuts), not from the program.
#include <time.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"
#include "nightgen.h"

namespace {

using nightgen::CameraSpec;
using nightgen::Kind;

constexpr long long kInputHeaderBytes = 2880;
constexpr long long kOutputHeaderBytes = 5760;
constexpr int kOutputCards = 72;

const char kBanner[] =
    "RUVUZOR FITS to ASTRONOMICAL FITS CONVERTER\n"
    "      for 1997 Jun. - Now\n";
const char kFinished[] = "---- FINISHED ----\n";
const char kDirectives[] = "# WEATHER CLEAR\n# SEEING 1.5\n# OBSERVER Yamada\n";

// HAND as above, after a target of another equinox.
const char kCatalogue[] =
    "CygX-1      1950.0 19 56 28.9 +35 03 55\n"
    "HAND        2000.0013689253935 03 46 18.93 -24 00 00\n";

// The summary line of a HAND entry with the given UT of mid exposure.
std::string handSummary(const std::string& utDateTime) {
  return "      HAND (RA=03:46:18 DEC=-24:00:00 2000.0)     OBJECT  " + utDateTime +
         "\n";
}

std::string padded(std::string text) {
  text.resize(80, ' ');
  return text;
}

// ---------------------------------------------------------------------------
// Camera files and nights

struct Camera {
  std::string name;
  CameraSpec setup;
  unsigned seed = 1;
  long long bytes = -1;  // whole file length; -1 for the full file
  // Header cards replaced before writing: {card number, text}.
  std::vector<std::pair<int, std::string>> cardTexts;
};

CameraSpec startingAt(Kind kind, int year, int month, int day, int hour,
                      int minute, int second, double exposureSeconds) {
  CameraSpec s = nightgen::cameraStartingAt(kind, year, month, day, hour, minute,
                                            second, exposureSeconds);
  if (nightgen::isAndor(kind)) s.ccdTemperature = -60.0;
  return s;
}

// Mid exposure 2000-01-01 12:00:00 UT with no exposure time: the T5 and S5
// cameras write JST, the Andor writes UT.
CameraSpec noonCamera(Kind kind) {
  return nightgen::isAndor(kind) ? startingAt(kind, 2000, 1, 1, 12, 0, 0, 0.0)
                                 : startingAt(kind, 2000, 1, 1, 21, 0, 0, 0.0);
}

std::string fileBytesOf(const Camera& c) {
  std::vector<std::string> cards = nightgen::headerCards(c.setup);
  for (const auto& [n, text] : c.cardTexts) {
    cards.at(static_cast<std::size_t>(n - 1)) = nightgen::card(text);
  }
  std::string bytes;
  for (const std::string& card : cards) bytes += card;
  const long long total = c.bytes < 0 ? nightgen::fullFileSize(c.setup) : c.bytes;
  if (total > kInputHeaderBytes) {
    bytes += nightgen::sampleData(c.setup, c.seed, 0, total - kInputHeaderBytes);
  }
  bytes.resize(static_cast<std::size_t>(total));
  return bytes;
}

void writeCamera(const std::string& dir, const Camera& c) {
  e2e::writeFile(dir + "/" + c.name, fileBytesOf(c));
}

std::string entryLine(const std::string& name, const std::string& object) {
  return name + " " + object + " 1 0.0 1 0.20 1 R\n";
}

e2e::RunResult runTarnfits(const std::string& dir, const std::string& answers = "") {
  return e2e::runProgram(TARNFITS_EXE, dir, answers, {}, 60);
}

std::string logOf(const std::string& dir) {
  const std::string path = dir + "/tarnfits.log";
  return e2e::fileExists(path) ? e2e::readFile(path) : std::string();
}

// ---------------------------------------------------------------------------
// Checks of one output file against its input

long long outputLengthOf(Kind kind) {
  switch (kind) {
    case Kind::S5: return 532800;
    case Kind::Andor16: return 2105280;
    default: return 2041920;
  }
}

// Samples after the output header: exactly the input's data bytes, and zero
// bytes up to the end of the file.
void expectDataCopied(const std::string& out, const std::string& in, Kind kind) {
  const std::size_t sampleBytes =
      static_cast<std::size_t>(2 * nightgen::pixelCountOf(kind));
  ASSERT_EQ(static_cast<long long>(out.size()), outputLengthOf(kind));
  ASSERT_GE(in.size(), kInputHeaderBytes + sampleBytes);
  EXPECT_TRUE(out.compare(kOutputHeaderBytes, sampleBytes, in, kInputHeaderBytes,
                          sampleBytes) == 0)
      << "the output data region differs from the input data region";
  // Unswapped: the first sample's two bytes stand at 5760 and 5761.
  EXPECT_EQ(out[5760], in[2880]);
  EXPECT_EQ(out[5761], in[2881]);
  const std::size_t fillStart = kOutputHeaderBytes + sampleBytes;
  const std::string fill = out.substr(fillStart);
  EXPECT_EQ(fill, std::string(fill.size(), '\0')) << "fill from byte " << fillStart;
}

// Output card -> input card, per layout.
const std::vector<std::pair<int, int>> kAndorCardMap = {
    {1, 1},   {2, 2},   {3, 3},   {4, 4},   {5, 5},   {7, 12},  {8, 11},
    {32, 7},  {33, 8},  {34, 9},  {35, 10}, {60, 14}, {61, 15}, {62, 16}};
const std::vector<std::pair<int, int>> kRuvuzorCardMap = {
    {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {7, 6}, {8, 7}};

void expectInputCardsPlaced(const std::string& out, const std::string& in,
                            bool andor) {
  for (const auto& [outCard, inCard] : andor ? kAndorCardMap : kRuvuzorCardMap) {
    EXPECT_EQ(e2e::cardAt(out, outCard), e2e::cardAt(in, inCard))
        << "output card " << outCard << " should be input card " << inCard;
  }
}

// Keywords (columns 1 to 8) of the 72 cards; "*" marks an input card,
// checked byte for byte elsewhere.
const char* const kAndorKeywords[kOutputCards] = {
    "*",        "*",        "*",        "*",        "*",        "BLOCKED",
    "*",        "*",        "BUNIT",    "BLANK",    "COMMENT",  "COMMENT",
    "COMMENT",  "DATA-TYP", "OBJECT",   "SOURCE",   "RA",       "DEC",
    "EQUINOX",  "RA2000",   "DEC2000",  "COMMENT",  "JD",       "DATE-OBS",
    "UT",       "JST",      "LST",      "ZD",       "AIRMASS",  "WEATHER",
    "SEEING",   "*",        "*",        "*",        "*",        "CTYPE1",
    "CRPIX1",   "CRVAL1",   "CDELT1",   "CROTA1",   "CTYPE2",   "CRPIX2",
    "CRVAL2",   "CDELT2",   "CROTA2",   "COMMENT",  "COMMENT",  "GAIN",
    "OBSERVER", "TELESCOP", "FOCPOS",   "TEL-POSE", "ORIGIN",   "DATE",
    "DETECTOR", "INSTRUME", "CCD-TEMP", "BIN-FCT1", "BIN-FCT2", "*",
    "*",        "*",        "ADCSPEED", "EXPTIME",  "POS-HWP",  "FILTER",
    "DISPAXIS", "SLIT-WID", "DIAPHRAG", "MEMO",     "WQRTITLE", "END"};
const char* const kRuvuzorKeywords[kOutputCards] = {
    "*",        "*",        "*",        "*",        "*",        "BLOCKED",
    "*",        "*",        "BUNIT",    "BLANK",    "COMMENT",  "COMMENT",
    "COMMENT",  "DATA-TYP", "OBJECT",   "SOURCE",   "RA",       "DEC",
    "EQUINOX",  "RA2000",   "DEC2000",  "COMMENT",  "JD",       "DATE-OBS",
    "UT",       "JST",      "LST",      "ZD",       "AIRMASS",  "WEATHER",
    "SEEING",   "COMMENT",  "COMMENT",  "COMMENT",  "COMMENT",  "CTYPE1",
    "CRPIX1",   "CRVAL1",   "CDELT1",   "CROTA1",   "CTYPE2",   "CRPIX2",
    "CRVAL2",   "CDELT2",   "CROTA2",   "COMMENT",  "COMMENT",  "COMMENT",
    "OBSERVER", "TELESCOP", "FOCPOS",   "TEL-POSE", "ORIGIN",   "DATE",
    "DETECTOR", "INSTRUME", "CCD-TEMP", "BIN-FCT1", "BIN-FCT2", "PREGAIN",
    "POSTGAIN", "OFFSET",   "ADCSPEED", "EXPTIME",  "POS-HWP",  "FILTER",
    "DISPAXIS", "SLIT-WID", "DIAPHRAG", "MEMO",     "WQRTITLE", "END"};

// The header: 72 cards of 80 printable characters; each card's keyword; the
// slash of every valued card in column 32 (33 for ORIGIN, whose quoted value
// takes 21 columns); the bare COMMENT cards blank after the keyword; END as
// card 72. An Andor entry without a gain has a COMMENT card 48.
void expectHeaderShape(const std::string& out, bool andor, bool gain) {
  ASSERT_GE(out.size(), static_cast<std::size_t>(kOutputHeaderBytes));
  for (std::size_t i = 0; i < static_cast<std::size_t>(kOutputHeaderBytes); ++i) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    ASSERT_TRUE(c >= 32 && c <= 126) << "byte " << i << " of the header is " << int(c);
  }
  const char* const* keywords = andor ? kAndorKeywords : kRuvuzorKeywords;
  for (int n = 1; n <= kOutputCards; ++n) {
    const std::string card = e2e::cardAt(out, n);
    const std::string keyword = n == 48 && !gain ? "COMMENT" : keywords[n - 1];
    if (keyword == "*") continue;
    SCOPED_TRACE("card " + std::to_string(n) + " " + keyword);
    EXPECT_EQ(e2e::columns(card, 1, 8), padded(keyword).substr(0, 8));
    if (keyword == "COMMENT" && n != 22) {
      EXPECT_EQ(card, padded("COMMENT"));
    } else if (keyword == "END") {
      EXPECT_EQ(card, padded("END"));
    } else if (keyword == "MEMO") {
      EXPECT_EQ(card, padded("MEMO    = '        '"));
    } else if (keyword != "COMMENT") {
      EXPECT_EQ(e2e::columns(card, 9, 10), "= ");
      const int slash = keyword == "ORIGIN" ? 33 : 32;
      EXPECT_EQ(e2e::columns(card, slash - 1, slash), " /");
    }
  }
}

// Columns 1 to 30 of a card: keyword, "= " and the 20-column value field.
void expectValue(const std::string& out, int n, const std::string& keywordAndField) {
  EXPECT_EQ(e2e::columns(e2e::cardAt(out, n), 1, 30), keywordAndField)
      << "card " << n;
}

// ---------------------------------------------------------------------------
// One night of every layout, converted once for the tests below.

struct NightFileSpec {
  Camera camera;
  const char* modeLine;
  const char* utOfMid;  // as the summary line shows it
  bool unknownReadout = false;
};

NightFileSpec nightFile(const std::string& name, const CameraSpec& setup, unsigned seed,
                        const char* modeLine, const char* utOfMid) {
  NightFileSpec f;
  f.camera.name = name;
  f.camera.setup = setup;
  f.camera.seed = seed;
  f.modeLine = modeLine;
  f.utOfMid = utOfMid;
  return f;
}

std::vector<NightFileSpec> nightFiles() {
  const char* t5 = "(T5 RUVUZOR mode)\n";
  const char* s5 = "(S5 RUVUZOR mode)\n";
  const char* andor = "(Andor CCD mode)\n";
  const char* noon = "2000-01-01 12:00:00";
  std::vector<NightFileSpec> files;

  // Camera cards that hold printf conversions reach the output unchanged.
  NightFileSpec f = nightFile("t5_a.fts", noonCamera(Kind::T5), 11, t5, noon);
  f.camera.cardTexts = {{6, nightgen::keyCard("BSCALE", "1.0",
                                               "REAL = TAPE*BSCALE + BZERO 100% %s%n")}};
  files.push_back(f);

  files.push_back(nightFile("t5_b.fts",
                            startingAt(Kind::T5Binned, 2000, 1, 2, 0, 0, 0, 0.0), 12,
                            t5, "2000-01-01 15:00:00"));

  CameraSpec shifted = startingAt(Kind::T5BinnedShifted, 2000, 1, 1, 21, 0, 0, 7200.0);
  shifted.binning1 = 2;
  shifted.binning2 = 4;
  // 7200 s x 5.787037e-6 d is 3599.99998 s: the cut shows 12:59:59.
  files.push_back(nightFile("t5_c.fts", shifted, 13, t5, "2000-01-01 12:59:59"));

  // The camera's further bytes (here 4000 more) never reach the output.
  f = nightFile("s5_a.fts", noonCamera(Kind::S5), 14, s5, noon);
  f.camera.bytes = nightgen::fullFileSize(f.camera.setup) + 4000;
  files.push_back(f);

  files.push_back(nightFile("s5_b.fts", startingAt(Kind::S5, 2000, 1, 2, 3, 0, 0, 0.0),
                            15, s5, "2000-01-01 18:00:00"));

  CameraSpec andorNoon = noonCamera(Kind::Andor16);
  andorNoon.readoutWord = "1.000000E-06";
  f = nightFile("an_a.fts", andorNoon, 16, andor, noon);
  f.camera.cardTexts = {
      {7, nightgen::stringCard("HEAD", "DV%s%n%d", "Head model 100% %s%n")},
      {14, nightgen::keyCard("PREAMPGN", "1.000000E+00", "Pre Amplifier Gain %n%%%d")}};
  files.push_back(f);

  files.push_back(nightFile("an_b.fts",
                            startingAt(Kind::Andor16, 2000, 1, 1, 15, 0, 0, 0.0), 17,
                            andor, "2000-01-01 15:00:00"));
  files.push_back(nightFile("an_c.fts",
                            startingAt(Kind::Andor16, 2000, 1, 1, 12, 0, 0, 7200.0), 18,
                            andor, "2000-01-01 12:59:59"));

  CameraSpec unknown = noonCamera(Kind::Andor16);
  unknown.readoutWord = "3.2E-05";
  f = nightFile("an_d.fts", unknown, 19, andor, noon);
  f.unknownReadout = true;
  files.push_back(f);
  return files;
}

// The night is written and converted once; the tests read the results.
class ConvertedNight : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new e2e::ScopedTempDir();
    files_ = nightFiles();
    std::string list = kDirectives;
    for (const NightFileSpec& f : files_) {
      writeCamera(dir_->path(), f.camera);
      list += entryLine(f.camera.name, "HAND");
    }
    e2e::writeFile(dir_->file("object.lst"), kCatalogue);
    e2e::writeFile(dir_->file("tarnlist.dat"), list);
    dayBefore_ = e2e::todayLocalDate();
    run_ = runTarnfits(dir_->path());
    dayAfter_ = e2e::todayLocalDate();
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static std::string output(const std::string& name) {
    return e2e::readFile(dir_->file(name.substr(0, name.size() - 3) + "fit"));
  }
  static std::string input(const std::string& name) {
    return e2e::readFile(dir_->file(name));
  }

  static e2e::ScopedTempDir* dir_;
  static std::vector<NightFileSpec> files_;
  static e2e::RunResult run_;
  static std::string dayBefore_;  // local dates around the run
  static std::string dayAfter_;
};

e2e::ScopedTempDir* ConvertedNight::dir_ = nullptr;
std::vector<NightFileSpec> ConvertedNight::files_;
e2e::RunResult ConvertedNight::run_;
std::string ConvertedNight::dayBefore_;
std::string ConvertedNight::dayAfter_;

TEST_F(ConvertedNight, ConsoleOutputAndExitStatus) {
  std::string expected = kBanner;
  for (const NightFileSpec& f : files_) {
    const std::string out = f.camera.name.substr(0, f.camera.name.size() - 3) + "fit";
    expected += f.camera.name + " --> " + out + "  " + f.modeLine;
    if (f.unknownReadout) expected += "# Warning! Cannot read READTIME\n";
    expected += handSummary(f.utOfMid);
  }
  expected += kFinished;
  EXPECT_EQ(run_.out, expected);
  EXPECT_EQ(run_.err, "");
  EXPECT_EQ(run_.exitStatus, 0);
  EXPECT_FALSE(run_.timedOut);
  EXPECT_EQ(logOf(dir_->path()), "");
}

TEST_F(ConvertedNight, FileLengthsHeaderShapeAndData) {
  for (const NightFileSpec& f : files_) {
    SCOPED_TRACE(f.camera.name);
    const std::string out = output(f.camera.name);
    const std::string in = input(f.camera.name);
    const bool andor = nightgen::isAndor(f.camera.setup.kind);
    const Kind kind = andor ? Kind::Andor16
                            : (f.camera.setup.kind == Kind::S5 ? Kind::S5 : Kind::T5);
    EXPECT_EQ(static_cast<long long>(out.size()), outputLengthOf(kind));
    expectHeaderShape(out, andor, andor && !f.unknownReadout);
    expectInputCardsPlaced(out, in, andor);
    expectDataCopied(out, in, kind);
  }
}

TEST_F(ConvertedNight, CardsWithPercentSignsReachTheOutputByteForByte) {
  const std::string t5 = output("t5_a.fts");
  EXPECT_EQ(e2e::cardAt(t5, 7),
            padded("BSCALE  =                  1.0 / REAL = TAPE*BSCALE + BZERO "
                   "100% %s%n"));
  const std::string andor = output("an_a.fts");
  EXPECT_EQ(e2e::cardAt(andor, 32),
            padded("HEAD    = 'DV%s%n%d'           / Head model 100% %s%n"));
  EXPECT_EQ(e2e::cardAt(andor, 60),
            padded("PREAMPGN=         1.000000E+00 / Pre Amplifier Gain %n%%%d"));
}

// The instants of the night, in UT: noon gives JD 2451545.00000 and the
// meridian geometry of the file comment; at 15:00 UT and later JST has
// passed midnight while DATE-OBS keeps the UT date; an exposure of 7200 s
// with the noon start moves mid exposure by an hour (less 0.00002 s) and the
// sidereal time by 1 h 0 min 9.86 s, which the cut seconds show as 10 s.
TEST_F(ConvertedNight, TimeAndGeometryOfHandComputedInstants) {
  struct Row {
    const char* file;
    const char* jd;
    const char* dateObs;
    const char* ut;
    const char* jst;
    const char* lst;
    const char* zd;       // null where not asserted
    const char* airmass;
  };
  const Row rows[] = {
      {"t5_a.fts", "2451545.00000", "2000-01-01", "12:00:00", "21:00:00", "03:46:18",
       "+60:00:00", "1.9945"},
      {"s5_a.fts", "2451545.00000", "2000-01-01", "12:00:00", "21:00:00", "03:46:18",
       "+60:00:00", "1.9945"},
      {"an_a.fts", "2451545.00000", "2000-01-01", "12:00:00", "21:00:00", "03:46:18",
       "+60:00:00", "1.9945"},
      {"t5_b.fts", "2451545.12500", "2000-01-01", "15:00:00", "00:00:00", "06:46:48",
       "+73:35:46", "3.5046"},
      {"an_b.fts", "2451545.12500", "2000-01-01", "15:00:00", "00:00:00", "06:46:48",
       "+73:35:46", "3.5046"},
      {"s5_b.fts", "2451545.25000", "2000-01-01", "18:00:00", "03:00:00", "09:47:18",
       nullptr, nullptr},
      {"t5_c.fts", "2451545.04167", "2000-01-01", "12:59:59", "21:59:59", "04:46:28",
       nullptr, nullptr},
      {"an_c.fts", "2451545.04167", "2000-01-01", "12:59:59", "21:59:59", "04:46:28",
       nullptr, nullptr},
  };
  auto right = [](const std::string& v) { return std::string(20 - v.size(), ' ') + v; };
  auto quoted = [](const std::string& v) {
    std::string q = "'" + v + "'";
    return q + std::string(20 - q.size(), ' ');
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.file);
    const std::string out = output(r.file);
    expectValue(out, 17, "RA      = " + quoted("03:46:18"));
    expectValue(out, 18, "DEC     = " + quoted("-24:00:00"));
    expectValue(out, 19, "EQUINOX = " + right("2000.0"));
    expectValue(out, 20, "RA2000  = " + quoted("03:46:18"));
    expectValue(out, 21, "DEC2000 = " + quoted("-24:00:00"));
    expectValue(out, 23, "JD      = " + right(r.jd));
    expectValue(out, 24, "DATE-OBS= " + quoted(r.dateObs));
    expectValue(out, 25, "UT      = " + quoted(r.ut));
    expectValue(out, 26, "JST     = " + quoted(r.jst));
    expectValue(out, 27, "LST     = " + quoted(r.lst));
    if (r.zd != nullptr) {
      expectValue(out, 28, "ZD      = " + quoted(r.zd));
      expectValue(out, 29, "AIRMASS = " + right(r.airmass));
    }
  }
  // The JD value ends in column 30, right before " / ".
  EXPECT_EQ(e2e::cardAt(output("an_a.fts"), 23),
            padded("JD      =        2451545.00000 / JULIAN DAY IN UT"));
}

TEST_F(ConvertedNight, SiderealTimeMovesOneHourAndTenSecondsWithTwoMoreHours) {
  auto seconds = [](const std::string& card) {
    const std::string hms = e2e::columns(card, 12, 19);  // inside the quotes
    return std::stoi(hms.substr(0, 2)) * 3600 + std::stoi(hms.substr(3, 2)) * 60 +
           std::stoi(hms.substr(6, 2));
  };
  const std::pair<const char*, const char*> longer[] = {{"t5_a.fts", "t5_c.fts"},
                                                        {"an_a.fts", "an_c.fts"}};
  for (const auto& [shortFile, longFile] : longer) {
    SCOPED_TRACE(std::string(shortFile) + " / " + longFile);
    const int step = seconds(e2e::cardAt(output(longFile), 27)) -
                     seconds(e2e::cardAt(output(shortFile), 27));
    // 3600 s of UT are 3609.86 s of sidereal time; the printed seconds are
    // cut, so the printed step is 3609 or 3610 s.
    EXPECT_GE(step, 3609);
    EXPECT_LE(step, 3610);
  }
}

TEST_F(ConvertedNight, ExposureAndCameraCardsOfEachLayout) {
  expectValue(output("t5_c.fts"), 64, "EXPTIME =              7200.00");
  expectValue(output("an_c.fts"), 64, "EXPTIME =             7200.000");
  expectValue(output("t5_c.fts"), 58, "BIN-FCT1=                    2");
  expectValue(output("t5_c.fts"), 59, "BIN-FCT2=                    4");
  expectValue(output("an_a.fts"), 48, "GAIN    =                0.361");
  expectValue(output("an_b.fts"), 48, "GAIN    =                1.005");
  expectValue(output("t5_a.fts"), 55, "DETECTOR= 'T5 RUVUZOR (TC215)'");
  expectValue(output("s5_a.fts"), 55, "DETECTOR= 'S5 RUVUZOR (SITe)' ");
  expectValue(output("an_a.fts"), 55, "DETECTOR= 'Andor DV440'       ");
}

// A readout time missing from the gain table invents no gain.
TEST_F(ConvertedNight, UnknownAndorReadoutTimeGivesCommentCard48) {
  const std::string out = output("an_d.fts");
  EXPECT_EQ(e2e::cardAt(out, 48), padded("COMMENT"));
  expectValue(out, 63, "ADCSPEED= '3.2E-05 '          ");
}

TEST_F(ConvertedNight, DateCardIsTheLocalDateOfWriting) {
  for (const NightFileSpec& f : files_) {
    SCOPED_TRACE(f.camera.name);
    const std::string card = e2e::cardAt(output(f.camera.name), 54);
    // A run across local midnight may show either day.
    const std::string comment = "'         / DATE WHEN THIS FILE IS MADE (JST)";
    const std::string before = padded("DATE    = '" + dayBefore_ + comment);
    const std::string after = padded("DATE    = '" + dayAfter_ + comment);
    EXPECT_TRUE(card == before || card == after) << card;
  }
}

// ---------------------------------------------------------------------------
// Single entries in folders of their own

struct SmallNight {
  e2e::ScopedTempDir dir;
  explicit SmallNight(const std::string& list, const std::vector<Camera>& cameras) {
    for (const Camera& c : cameras) writeCamera(dir.path(), c);
    e2e::writeFile(dir.file("object.lst"), kCatalogue);
    e2e::writeFile(dir.file("tarnlist.dat"), list);
  }
};

Camera noonFile(const std::string& name, Kind kind, unsigned seed = 7) {
  Camera c;
  c.name = name;
  c.setup = noonCamera(kind);
  c.seed = seed;
  return c;
}

// DATE is the local date: two zones 24 hours apart, both changing date at
// 12:00 UTC, give dates one day apart (a card written in UTC would not).
TEST(TarnfitsE2e, DateCardFollowsTheLocalTimeZone) {
  const std::string list = std::string(kDirectives) + entryLine("t5_0001.fts", "HAND");
  const char* const zones[] = {"<-12>+12", "<+12>-12"};  // UTC-12, UTC+12
  const char* const saved = std::getenv("TZ");
  std::string dates[2];
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::time_t before = std::time(nullptr);
    for (int z = 0; z < 2; ++z) {
      SmallNight night(list, {noonFile("t5_0001.fts", Kind::T5)});
      ::setenv("TZ", zones[z], 1);
      const e2e::RunResult r = runTarnfits(night.dir.path());
      ASSERT_EQ(r.exitStatus, 0) << r.out;
      dates[z] = e2e::columns(e2e::cardAt(e2e::readFile(night.dir.file("t5_0001.fit")), 54), 12, 21);
    }
    saved ? ::setenv("TZ", saved, 1) : ::unsetenv("TZ");
    // Both zones change date at 12:00 UTC: between the runs, run them again.
    if ((before + 12 * 3600) / 86400 == (std::time(nullptr) + 12 * 3600) / 86400) break;
  }
  std::tm day{};
  ASSERT_NE(strptime(dates[0].c_str(), "%Y-%m-%d", &day), nullptr) << dates[0];
  day.tm_mday += 1;
  day.tm_isdst = 0;
  const std::time_t next = timegm(&day);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", gmtime_r(&next, &day));
  EXPECT_EQ(dates[1], text) << "UTC-12 wrote " << dates[0];
}

// An existing output, longer than the new one, is cut and written anew: the
// result equals the output of a folder that had none.
TEST(TarnfitsE2e, ExistingOutputIsTruncatedAndRewritten) {
  const std::string list = std::string(kDirectives) + entryLine("t5_0001.fts", "HAND");
  const Camera camera = noonFile("t5_0001.fts", Kind::T5);
  SmallNight fresh(list, {camera});
  SmallNight stale(list, {camera});
  e2e::writeFile(stale.dir.file("t5_0001.fit"), std::string(3000000, '\xAB'));

  const e2e::RunResult freshRun = runTarnfits(fresh.dir.path());
  const e2e::RunResult staleRun = runTarnfits(stale.dir.path());
  ASSERT_EQ(freshRun.exitStatus, 0) << freshRun.out;
  ASSERT_EQ(staleRun.exitStatus, 0) << staleRun.out;
  EXPECT_EQ(staleRun.out, freshRun.out);

  std::string expected = e2e::readFile(fresh.dir.file("t5_0001.fit"));
  std::string rewritten = e2e::readFile(stale.dir.file("t5_0001.fit"));
  ASSERT_EQ(rewritten.size(), 2041920u);
  // Card 54 (DATE) may differ when the runs straddle midnight.
  const std::size_t dateCard = 53 * 80;
  expected.replace(dateCard, 80, 80, ' ');
  rewritten.replace(dateCard, 80, 80, ' ');
  EXPECT_TRUE(rewritten == expected) << "the rewritten output differs";
}

// A text that does not fit its card refuses the entry before any file is
// made; the entry was not converted, so the same line is tried again, and
// the entries after it are converted.
TEST(TarnfitsE2e, HeaderCardTooLongSkipsTheEntry) {
  struct Case {
    const char* what;
    std::string settingsBefore;  // directives ahead of the long entry
    std::string answers;         // typed at the prompts
    std::string longLine;        // the refused entry line
    std::string settingsAfter;   // directives that make the last entry fit
    std::string prompts;         // console text of the prompts
  };
  const std::string weather40(40, 'W');
  const std::string filter60(60, 'F');
  const std::string observer40(40, 'O');
  const Case cases[] = {
      {"weather of 40 characters",
       "# WEATHER " + weather40 + "\n# SEEING 1.5\n# OBSERVER Yamada\n", "",
       entryLine("long.fts", "HAND"), "# WEATHER FAIR\n", ""},
      {"filter of 60 characters", kDirectives, "",
       "long.fts HAND 1 0.0 1 0.20 1 " + filter60 + "\n", "", ""},
      {"observer of 40 characters typed at the prompt",
       "# WEATHER CLEAR\n# SEEING 1.5\n", observer40 + "\n",
       entryLine("long.fts", "HAND"), "# OBSERVER Yamada\n", "WHO ARE YOU? >> "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string list = c.settingsBefore + c.longLine + c.longLine +
                             c.settingsAfter + entryLine("last.fts", "HAND");
    SmallNight night(list, {noonFile("long.fts", Kind::S5, 3),
                            noonFile("last.fts", Kind::S5, 4)});
    const e2e::RunResult run = runTarnfits(night.dir.path(), c.answers);

    const std::string summary = handSummary("2000-01-01 12:00:00");
    const std::string refused = "long.fts --> long.fit  (S5 RUVUZOR mode)\n" + summary +
                                "Header card too long. (long.fts)  Skipped\n";
    EXPECT_EQ(run.out, kBanner + c.prompts + refused + refused +
                           "last.fts --> last.fit  (S5 RUVUZOR mode)\n" + summary +
                           kFinished);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(logOf(night.dir.path()),
              "cannot open 'long.fts'  (header card too long)\n"
              "cannot open 'long.fts'  (header card too long)\n");
    EXPECT_FALSE(e2e::fileExists(night.dir.file("long.fit")));
    EXPECT_EQ(e2e::fileSize(night.dir.file("last.fit")), 532800);
  }
}

// An input that ends inside its samples: each missing byte is written as
// 255, the zero fill follows, the console and the log say so, and the entry
// counts as converted (the identical line right after it is ignored).
TEST(TarnfitsE2e, ShortInputIsPaddedWith255AndReported) {
  struct Case {
    Kind kind;
    long long dataBytes;  // sample bytes the input keeps
  };
  const Case cases[] = {
      {Kind::S5, 0},           {Kind::S5, 1},
      {Kind::S5, 1001},        {Kind::S5, 2 * 262144 - 1},
      {Kind::Andor16, 123457}, {Kind::T5, 2 * 1018000 - 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(nightgen::kindName(c.kind)) + " keeping " +
                 std::to_string(c.dataBytes) + " data bytes");
    Camera camera = noonFile("cut.fts", c.kind, 5);
    camera.bytes = kInputHeaderBytes + c.dataBytes;
    const std::string line = entryLine("cut.fts", "HAND");
    SmallNight night(std::string(kDirectives) + line + line, {camera});
    const e2e::RunResult run = runTarnfits(night.dir.path());

    const bool andor = nightgen::isAndor(c.kind);
    const std::string mode = andor ? "(Andor CCD mode)\n"
                                   : (c.kind == Kind::S5 ? "(S5 RUVUZOR mode)\n"
                                                         : "(T5 RUVUZOR mode)\n");
    EXPECT_EQ(run.out, kBanner + ("cut.fts --> cut.fit  " + mode) +
                           handSummary("2000-01-01 12:00:00") +
                           "# Warning! Input data is short (cut.fts)\n" + kFinished);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(logOf(night.dir.path()), "cannot open 'cut.fts'  (input data is short)\n");

    const std::string in = e2e::readFile(night.dir.file("cut.fts"));
    const std::string out = e2e::readFile(night.dir.file("cut.fit"));
    const Kind layoutKind = andor ? Kind::Andor16 : c.kind;
    ASSERT_EQ(static_cast<long long>(out.size()), outputLengthOf(layoutKind));
    expectInputCardsPlaced(out, in, andor);
    const std::size_t kept = static_cast<std::size_t>(c.dataBytes);
    const std::size_t sampleBytes =
        static_cast<std::size_t>(2 * nightgen::pixelCountOf(c.kind));
    EXPECT_TRUE(out.compare(kOutputHeaderBytes, kept, in, kInputHeaderBytes, kept) == 0)
        << "the bytes the input holds are copied";
    EXPECT_EQ(out.substr(kOutputHeaderBytes + kept, sampleBytes - kept),
              std::string(sampleBytes - kept, '\xFF'))
        << "each missing byte is 255";
    const std::string fill = out.substr(kOutputHeaderBytes + sampleBytes);
    EXPECT_EQ(fill, std::string(fill.size(), '\0')) << "zero fill";
  }
}

// A complete input gives no warning even when its length is exactly the
// header and the samples (the boundary of the short-input test).
TEST(TarnfitsE2e, ExactLengthInputIsNotShort) {
  const std::string line = entryLine("s5_0001.fts", "HAND");
  SmallNight night(std::string(kDirectives) + line, {noonFile("s5_0001.fts", Kind::S5)});
  const e2e::RunResult run = runTarnfits(night.dir.path());
  EXPECT_EQ(run.out, std::string(kBanner) +
                         "s5_0001.fts --> s5_0001.fit  (S5 RUVUZOR mode)\n" +
                         handSummary("2000-01-01 12:00:00") + kFinished);
  EXPECT_EQ(logOf(night.dir.path()), "");
}

}  // namespace
