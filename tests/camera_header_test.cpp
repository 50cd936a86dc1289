// The camera header reader over one 2880-byte block, and the mid-exposure
// arithmetic. Headers come from the camera-file generator; cards whose
// columns matter are written here by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "camera_header.h"
#include "messages.h"
#include "mid_exposure.h"
#include "nightgen.h"
#include "obslib.h"

namespace {

using nightgen::CameraSpec;
using nightgen::Kind;

std::vector<std::string> cardsOf(const CameraSpec& setup) {
  return nightgen::headerCards(setup);
}

std::string joined(const std::vector<std::string>& cards) {
  std::string block;
  for (const std::string& c : cards) block += c;
  return block;
}

// Replaces card n (from 1) of a header.
std::string withCard(const CameraSpec& setup, int n, const std::string& card) {
  std::vector<std::string> cards = cardsOf(setup);
  cards[static_cast<std::size_t>(n - 1)] = card;
  return joined(cards);
}

CameraSpec setup(Kind kind) {
  CameraSpec s;
  s.kind = kind;
  return s;
}

struct Parsed {
  HeaderParse result;
  ObservationRecord rec;
};

Parsed parse(const std::string& block, AndorRule rule = AndorRule::Full) {
  Parsed p;
  p.result = parseCameraHeader(block, rule, p.rec);
  return p;
}

// An 80-column card of '9's carrying the given texts at their first columns:
// a piece read one column off, or wider or narrower than its columns, takes
// in a 9 or loses a digit and reads another number.
std::string poisonedCard(const std::vector<std::pair<int, std::string>>& pieces) {
  std::string card(nightgen::kCard, '9');
  for (const auto& piece : pieces)
    card.replace(static_cast<std::size_t>(piece.first - 1), piece.second.size(),
                 piece.second);
  return card;
}

struct Start {
  int year, month, day, hour, minute, second;
};

Start startOf(const ObservationRecord& rec) {
  return {rec.startYear, rec.startMonth, rec.startDay,
          rec.startHour, rec.startMinute, rec.startSecond};
}

void expectStart(const ObservationRecord& rec, const Start& want, const char* what) {
  Start got = startOf(rec);
  EXPECT_EQ(got.year, want.year) << what;
  EXPECT_EQ(got.month, want.month) << what;
  EXPECT_EQ(got.day, want.day) << what;
  EXPECT_EQ(got.hour, want.hour) << what;
  EXPECT_EQ(got.minute, want.minute) << what;
  EXPECT_EQ(got.second, want.second) << what;
}

// ---------------------------------------------------------------------------
// Mode test

TEST(CameraMode, SizesFromColumns27To30OfCards4And5) {
  const struct {
    const char* what;
    std::string card4, card5;
    bool recognised;
    CameraMode mode;
  } cases[] = {
      {"T5", nightgen::keyCard("NAXIS1", "1000"), nightgen::keyCard("NAXIS2", "1018"),
       true, CameraMode::T5},
      {"S5", nightgen::keyCard("NAXIS1", "512"), nightgen::keyCard("NAXIS2", "512"),
       true, CameraMode::S5},
      {"Andor", nightgen::keyCard("NAXIS1", "2048"), nightgen::keyCard("NAXIS2", "512"),
       true, CameraMode::Andor},
      {"swapped T5 axes", nightgen::keyCard("NAXIS1", "1018"),
       nightgen::keyCard("NAXIS2", "1000"), false, CameraMode::T5},
      {"swapped Andor axes", nightgen::keyCard("NAXIS1", "512"),
       nightgen::keyCard("NAXIS2", "2048"), false, CameraMode::T5},
      {"five digits ending in 1000", nightgen::keyCard("NAXIS1", "11000"),
       nightgen::keyCard("NAXIS2", "1018"), true, CameraMode::T5},
      // Only columns 27 to 30 count, whatever stands before them.
      {"text before column 27", nightgen::card("XXXXXXXXXXXXXXXXXXXXXXXXXX1000"),
       nightgen::card("YYYYYYYYYYYYYYYYYYYYYYYYYY1018"), true, CameraMode::T5},
      // Values ending in column 29: columns 27 to 30 hold "000 " and "018 ".
      {"value one column left", nightgen::card("NAXIS1  =" + std::string(16, ' ') + "1000"),
       nightgen::card("NAXIS2  =" + std::string(16, ' ') + "1018"), false, CameraMode::T5},
      {"empty size cards", nightgen::card(""), nightgen::card(""), false,
       CameraMode::T5},
  };
  for (const auto& c : cases) {
    // The S5 cards behind the size cards: every mode can read them.
    std::vector<std::string> cards = cardsOf(setup(Kind::S5));
    cards[3] = c.card4;
    cards[4] = c.card5;
    Parsed p = parse(joined(cards));
    EXPECT_EQ(p.result.recognised, c.recognised) << c.what;
    if (c.recognised && p.result.recognised) {
      EXPECT_EQ(p.rec.cameraMode, c.mode) << c.what;
    }
  }
}

TEST(CameraMode, DetectorNameAndPixelCount) {
  const struct {
    Kind kind;
    CameraMode mode;
    const char* detector;
    int pixels;
  } cases[] = {
      {Kind::T5, CameraMode::T5, "T5 RUVUZOR (TC215)", 1018000},
      {Kind::T5Binned, CameraMode::T5, "T5 RUVUZOR (TC215)", 1018000},
      {Kind::S5, CameraMode::S5, "S5 RUVUZOR (SITe)", 262144},
      {Kind::Andor16, CameraMode::Andor, "Andor DV440", 1048576},
      {Kind::Andor32, CameraMode::Andor, "Andor DV440", 1048576},
  };
  for (const auto& c : cases) {
    Parsed p = parse(nightgen::headerBlock(setup(c.kind)));
    ASSERT_TRUE(p.result.recognised) << nightgen::kindName(c.kind);
    EXPECT_EQ(p.rec.cameraMode, c.mode) << nightgen::kindName(c.kind);
    EXPECT_EQ(p.rec.detectorName, c.detector) << nightgen::kindName(c.kind);
    EXPECT_EQ(p.rec.pixelCount, c.pixels) << nightgen::kindName(c.kind);
  }
}

// ---------------------------------------------------------------------------
// Kept cards

TEST(SavedCards, KeptRangeByModeAndProgram) {
  const struct {
    Kind kind;
    AndorRule rule;
    int lastKept;
  } cases[] = {
      {Kind::T5, AndorRule::Full, 7},          {Kind::T5, AndorRule::KeepTo36, 7},
      {Kind::T5Binned, AndorRule::KeepTo30, 7}, {Kind::S5, AndorRule::Full, 7},
      {Kind::S5, AndorRule::KeepTo36, 7},      {Kind::Andor16, AndorRule::Full, 16},
      {Kind::Andor32, AndorRule::KeepTo36, 36}, {Kind::Andor16Raw, AndorRule::KeepTo30, 30},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> cards = cardsOf(setup(c.kind));
    Parsed p = parse(joined(cards), c.rule);
    ASSERT_TRUE(p.result.recognised);
    for (int n = 1; n <= 36; ++n) {
      const std::string& kept = p.rec.savedCards[static_cast<std::size_t>(n)];
      if (n <= c.lastKept)
        EXPECT_EQ(kept, cards[static_cast<std::size_t>(n - 1)])
            << nightgen::kindName(c.kind) << " card " << n;
      else
        EXPECT_TRUE(kept.empty()) << nightgen::kindName(c.kind) << " card " << n;
    }
  }
}

TEST(SavedCards, EveryKeptCardIsTheEightyBytesAsRead) {
  // A NUL, a per cent sign and bytes above 127 stay where they are.
  std::string odd = nightgen::card("HEAD    = '100% DV440'");
  odd[40] = '\0';
  odd[50] = '\xE9';
  odd[79] = '\x7F';
  std::string block = withCard(setup(Kind::Andor16), 7, odd);
  for (AndorRule rule : {AndorRule::Full, AndorRule::KeepTo36, AndorRule::KeepTo30}) {
    Parsed p = parse(block, rule);
    EXPECT_EQ(p.rec.savedCards[7], odd);
    for (int n = 1; n <= 16; ++n)
      EXPECT_EQ(p.rec.savedCards[static_cast<std::size_t>(n)].size(), 80u) << "card " << n;
  }
}

// ---------------------------------------------------------------------------
// T5 and S5 values

TEST(RuvuzorValues, WordPositionsOfEachLayout) {
  for (Kind kind : {Kind::T5, Kind::T5Binned, Kind::T5BinnedShifted, Kind::S5}) {
    CameraSpec s = setup(kind);
    s.exposureSeconds = 61.25;
    s.binning1 = 2;
    s.binning2 = 3;
    s.preGain = 4;
    s.postGain = 5;
    s.offset = 117;
    s.adcSpeed = "FAST";
    s.ccdTemperature = -95.5;
    const char* name = nightgen::kindName(kind);
    Parsed p = parse(nightgen::headerBlock(s));
    ASSERT_TRUE(p.result.recognised) << name;
    EXPECT_EQ(p.rec.binning1, kind == Kind::T5 ? 1 : 2) << name;
    EXPECT_EQ(p.rec.binning2, kind == Kind::T5 ? 1 : 3) << name;
    EXPECT_DOUBLE_EQ(p.rec.exposureSeconds, 61.25) << name;
    EXPECT_EQ(p.rec.preGain, 4) << name;
    EXPECT_EQ(p.rec.postGain, 5) << name;
    EXPECT_EQ(p.rec.offsetSetting, 117) << name;
    EXPECT_EQ(p.rec.adcSpeed, "FAST") << name;
    EXPECT_EQ(p.rec.ccdTemperature, -95.5f) << name;
    EXPECT_FALSE(p.rec.gain.has_value()) << name;
    EXPECT_FALSE(p.result.readTimeUnknown) << name;
  }
}

TEST(RuvuzorValues, BinningCardsAreRecognisedByColumns1To8OfCard8) {
  // The binned T5 header, with card 8 changed so that it no longer begins
  // with "BIN-FCT1": the reader then takes card 8 as the exposure card.
  CameraSpec s = setup(Kind::T5Binned);
  s.binning1 = 2;
  s.binning2 = 2;
  const struct {
    const char* card8;
    bool binned;
  } cases[] = {
      {"BIN-FCT1 =                    2 / BINNING FACTOR AXIS 1", true},
      {"BIN-FCT1=                     2 / no blank before the equals sign", true},
      {" BIN-FCT1 =                   2 / one column right", false},
      {"BIN-FCT2 =                    2 / BINNING FACTOR AXIS 2", false},
      {"bin-fct1 =                    2 / lower case", false},
  };
  for (const auto& c : cases) {
    Parsed p = parse(withCard(s, 8, nightgen::card(c.card8)));
    ASSERT_TRUE(p.result.recognised) << c.card8;
    if (c.binned) {
      EXPECT_EQ(p.rec.binning2, 2) << c.card8;  // from card 9
      EXPECT_EQ(p.rec.startDay, s.day) << c.card8;
    } else {
      // Word 3 of card 8 is the exposure; the date comes from card 9 by the
      // columns of layout A, which on a binning card are no date at all.
      EXPECT_EQ(p.rec.binning1, 1) << c.card8;
      EXPECT_EQ(p.rec.binning2, 1) << c.card8;
    }
  }
  // Word 3 of "BIN-FCT1=  2 / ..." is the slash: binning from atoi("/") is 0.
  Parsed p = parse(withCard(s, 8, nightgen::card(cases[1].card8)));
  EXPECT_EQ(p.rec.binning1, 0);
}

TEST(RuvuzorValues, BinningWordOnCard12MovesTheSettingsBlockDown) {
  CameraSpec s = setup(Kind::T5BinnedShifted);
  s.preGain = 7;
  s.postGain = 6;
  s.offset = 250;
  s.adcSpeed = "MEDIUM";
  s.ccdTemperature = -88.5;
  const std::vector<std::string> shifted = cardsOf(s);
  ASSERT_EQ(shifted[11].substr(0, 25), "COMMENT  ON-CHIP BINNING ");
  const struct {
    const char* what;
    std::string card12;
    bool moved;
  } cases[] = {
      {"word 3 BINNING", shifted[11], true},
      {"word 3 binning", nightgen::card("COMMENT  ON-CHIP binning 1 x 1"), false},
      {"word 2 BINNING", nightgen::card("COMMENT  BINNING ON-CHIP 1 x 1"), false},
      {"word 3 BINNINGS", nightgen::card("COMMENT  ON-CHIP BINNINGS 1 x 1"), false},
  };
  for (const auto& c : cases) {
    std::vector<std::string> cards = shifted;
    cards[11] = c.card12;
    Parsed p = parse(joined(cards));
    ASSERT_TRUE(p.result.recognised) << c.what;
    if (c.moved) {
      EXPECT_EQ(p.rec.preGain, 7) << c.what;
      EXPECT_EQ(p.rec.postGain, 6) << c.what;
      EXPECT_EQ(p.rec.offsetSetting, 250) << c.what;
      EXPECT_EQ(p.rec.adcSpeed, "MEDIUM") << c.what;
      EXPECT_EQ(p.rec.ccdTemperature, -88.5f) << c.what;
    } else {
      // Block from card 12: card 13 "BINNING AREA : FULL CHIP" has no word
      // 7, word 6 of card 14 (pre-amp gain) is ":", word 6 of card 16
      // (offset level) is "250", card 17 (integration mode) has no word 7.
      EXPECT_EQ(p.rec.preGain, 0) << c.what;
      EXPECT_EQ(p.rec.postGain, 0) << c.what;
      EXPECT_EQ(p.rec.offsetSetting, 0) << c.what;
      EXPECT_EQ(p.rec.adcSpeed, "250") << c.what;
      EXPECT_EQ(p.rec.ccdTemperature, 0.0f) << c.what;
    }
  }
}

TEST(RuvuzorValues, StartColumnsOfLayoutsAAndB) {
  // Layout A on card 9 of a T5 header without binning cards; layout B on
  // card 11 of the binned T5 and the S5 headers. The three-column hour
  // "100" reads 100 only from its own three columns.
  const std::string cardA = poisonedCard({{14, "14"}, {16, "/"}, {17, "03"}, {19, "/"},
                                          {20, "2024"}, {24, "100"}, {27, ":"},
                                          {28, "05"}, {30, ":"}, {31, "08"}, {33, "'"}});
  const std::string cardB = poisonedCard({{13, "14"}, {15, "/"}, {16, "03"}, {18, "/"},
                                          {19, "2024"}, {23, "100"}, {26, ":"},
                                          {27, "05"}, {29, ":"}, {30, "08"}, {32, "'"}});
  const Start want = {2024, 3, 14, 100, 5, 8};
  expectStart(parse(withCard(setup(Kind::T5), 9, cardA)).rec, want, "layout A");
  expectStart(parse(withCard(setup(Kind::T5Binned), 11, cardB)).rec, want, "layout B, T5");
  expectStart(parse(withCard(setup(Kind::S5), 11, cardB)).rec, want, "layout B, S5");

  // The camera's own cards: blanks before the day and the hour.
  CameraSpec s = setup(Kind::T5);
  s.year = 1999;
  s.month = 12;
  s.day = 31;
  s.hour = 23;
  s.minute = 59;
  s.second = 58;
  for (Kind kind : {Kind::T5, Kind::T5Binned, Kind::T5BinnedShifted, Kind::S5}) {
    s.kind = kind;
    // T5 and S5 cameras write JST: nothing is shifted.
    expectStart(parse(nightgen::headerBlock(s)).rec, {1999, 12, 31, 23, 59, 58},
                nightgen::kindName(kind));
  }
  // A signed or blank piece: the sign is read, no digit gives 0.
  std::string signedCard = cardA;
  signedCard.replace(27, 2, "-5");  // minute
  signedCard.replace(30, 2, "  ");  // second
  Parsed p = parse(withCard(setup(Kind::T5), 9, signedCard));
  EXPECT_EQ(p.rec.startMinute, -5);
  EXPECT_EQ(p.rec.startSecond, 0);
}

// ---------------------------------------------------------------------------
// Andor values

TEST(AndorValues, FullReadingOfTheConverter) {
  CameraSpec s = setup(Kind::Andor16);
  s.binning1 = 2;
  s.binning2 = 4;
  s.exposureSeconds = 120.5;
  s.ccdTemperature = -60.25;
  s.readoutWord = "1.000000E-06";
  Parsed p = parse(nightgen::headerBlock(s));
  ASSERT_TRUE(p.result.recognised);
  EXPECT_EQ(p.rec.binning1, 2);
  EXPECT_EQ(p.rec.binning2, 4);
  EXPECT_DOUBLE_EQ(p.rec.exposureSeconds, 120.5);
  EXPECT_EQ(p.rec.ccdTemperature, -60.25f);
  EXPECT_EQ(p.rec.adcSpeed, "1.000000E-06");
  // T5/S5 values stay unread.
  EXPECT_EQ(p.rec.preGain, 0);
  EXPECT_EQ(p.rec.postGain, 0);
  EXPECT_EQ(p.rec.offsetSetting, 0);
}

TEST(AndorValues, GainOfEachReadoutTime) {
  const struct {
    const char* word;
    bool known;
    float gain;
  } cases[] = {
      {"1.600000E-05", true, 0.5f},  {"3.200000E-05", true, 1.005f},
      {"1.000000E-06", true, 0.361f}, {"2.000000E-06", true, 0.356f},
      {"3.2E-05", false, 0.0f},      {"1.600000e-05", false, 0.0f},
      {"1.6000000E-05", false, 0.0f}, {"'1.600000E-05'", false, 0.0f},
  };
  for (const auto& c : cases) {
    CameraSpec s = setup(Kind::Andor16);
    s.readoutWord = c.word;
    Parsed p = parse(nightgen::headerBlock(s));
    ASSERT_TRUE(p.result.recognised) << c.word;
    EXPECT_EQ(p.rec.adcSpeed, c.word);
    EXPECT_EQ(p.result.readTimeUnknown, !c.known) << c.word;
    ASSERT_EQ(p.rec.gain.has_value(), c.known) << c.word;
    // Single-precision values of the decimals: compared exactly.
    if (c.known) {
      EXPECT_EQ(*p.rec.gain, c.gain) << c.word;
    }
  }
}

TEST(AndorValues, StartColumnsOfLayoutC) {
  // YYYY-MM-DDThh:mm:ss with its opening quote in column 11.
  const std::string card = poisonedCard({{11, "'"}, {12, "2023"}, {16, "-"}, {17, "11"},
                                         {19, "-"}, {20, "14"}, {22, "T"}, {23, "08"},
                                         {25, ":"}, {26, "07"}, {28, ":"}, {29, "06"},
                                         {31, "'"}});
  Parsed p = parse(withCard(setup(Kind::Andor16), 29, card));
  expectStart(p.rec, {2023, 11, 14, 17, 7, 6}, "layout C");
}

TEST(AndorValues, UtBecomesJstByTheDayOnly) {
  const struct {
    Start ut;
    Start jst;
  } cases[] = {
      {{2024, 3, 14, 20, 15, 0}, {2024, 3, 15, 5, 15, 0}},
      {{2024, 3, 14, 8, 59, 59}, {2024, 3, 14, 17, 59, 59}},
      {{2024, 3, 14, 14, 59, 59}, {2024, 3, 14, 23, 59, 59}},
      {{2024, 3, 14, 15, 0, 0}, {2024, 3, 15, 0, 0, 0}},
      {{2024, 3, 14, 0, 0, 0}, {2024, 3, 14, 9, 0, 0}},
      // Month and year stay: the 31st becomes the 32nd.
      {{2024, 1, 31, 20, 15, 0}, {2024, 1, 32, 5, 15, 0}},
      {{2023, 12, 31, 23, 59, 59}, {2023, 12, 32, 8, 59, 59}},
      {{2024, 2, 29, 16, 0, 0}, {2024, 2, 30, 1, 0, 0}},
  };
  for (const auto& c : cases) {
    CameraSpec s = setup(Kind::Andor16);
    s.year = c.ut.year;
    s.month = c.ut.month;
    s.day = c.ut.day;
    s.hour = c.ut.hour;
    s.minute = c.ut.minute;
    s.second = c.ut.second;
    const std::string block = nightgen::headerBlock(s);
    char what[64];
    std::snprintf(what, sizeof what, "%04d-%02d-%02d %02d:%02d:%02d UT", c.ut.year,
                  c.ut.month, c.ut.day, c.ut.hour, c.ut.minute, c.ut.second);
    for (AndorRule rule : {AndorRule::Full, AndorRule::KeepTo36, AndorRule::KeepTo30})
      expectStart(parse(block, rule).rec, c.jst, what);
  }
}

TEST(AndorValues, EditorsReadOnlyExposureAndStart) {
  CameraSpec s = setup(Kind::Andor32);
  s.binning1 = 2;
  s.binning2 = 2;
  s.exposureSeconds = 300.0;
  s.ccdTemperature = -70.0;
  s.readoutWord = "3.2E-05";  // unknown, and no warning for the editors
  s.year = 2024;
  s.month = 5;
  s.day = 6;
  s.hour = 12;
  s.minute = 34;
  s.second = 56;
  for (AndorRule rule : {AndorRule::KeepTo36, AndorRule::KeepTo30}) {
    s.kind = rule == AndorRule::KeepTo36 ? Kind::Andor32 : Kind::Andor16Raw;
    Parsed p = parse(nightgen::headerBlock(s), rule);
    ASSERT_TRUE(p.result.recognised);
    EXPECT_EQ(p.rec.cameraMode, CameraMode::Andor);
    EXPECT_FALSE(p.result.readTimeUnknown);
    EXPECT_FALSE(p.rec.gain.has_value());
    EXPECT_EQ(p.rec.binning1, 1);
    EXPECT_EQ(p.rec.binning2, 1);
    EXPECT_EQ(p.rec.ccdTemperature, 0.0f);
    EXPECT_EQ(p.rec.adcSpeed, "");
    // For the summary line: word 2 of card 25 and layout C of card 29.
    EXPECT_DOUBLE_EQ(p.rec.exposureSeconds, 300.0);
    expectStart(p.rec, {2024, 5, 6, 21, 34, 56}, "editor start");
  }
  // Exposure is word 2 of card 25, whatever its keyword.
  std::string block = withCard(setup(Kind::Andor16Raw), 25,
                               nightgen::card("ANYTHING 42.5 / not EXPOSURE"));
  EXPECT_DOUBLE_EQ(parse(block, AndorRule::KeepTo30).rec.exposureSeconds, 42.5);
  EXPECT_DOUBLE_EQ(parse(block, AndorRule::Full).rec.exposureSeconds, 42.5);
}

// ---------------------------------------------------------------------------
// Mid-exposure arithmetic

ObservationRecord startingAt(const Start& jst, double exposureSeconds) {
  ObservationRecord rec;
  rec.startYear = jst.year;
  rec.startMonth = jst.month;
  rec.startDay = jst.day;
  rec.startHour = jst.hour;
  rec.startMinute = jst.minute;
  rec.startSecond = jst.second;
  rec.exposureSeconds = exposureSeconds;
  return rec;
}

CatalogueEntry position(double equinox) {
  CatalogueEntry cat;
  cat.equinox = equinox;
  cat.raRadians = 1.2;
  cat.decRadians = -0.3;
  return cat;
}

TEST(MidExposure, UtDateAndTimeOfKnownStarts) {
  const struct {
    const char* what;
    Start jst;
    double exposure;
    Start ut;
  } cases[] = {
      // Half of 61 s is 30.5 s: the half second is cut away.
      {"61 s from 21:00 JST", {2024, 3, 14, 21, 0, 0}, 61.0, {2024, 3, 14, 12, 0, 30}},
      {"short from 05:00 JST", {2024, 3, 15, 5, 0, 0}, 0.001, {2024, 3, 14, 20, 0, 0}},
      {"1 January 05:00 JST", {2024, 1, 1, 5, 0, 0}, 1.0, {2023, 12, 31, 20, 0, 0}},
      {"day 32 of January", {2024, 1, 32, 5, 15, 0}, 11.0, {2024, 1, 31, 20, 15, 5}},
      {"day 30 of February", {2024, 2, 30, 1, 0, 0}, 1.0, {2024, 2, 29, 16, 0, 0}},
      // Half of 7201 s from 23:00 JST is 00:00:00.5 JST of the next day.
      {"two hours across midnight", {2024, 2, 29, 23, 0, 0}, 7201.0,
       {2024, 2, 29, 15, 0, 0}},
      {"09:00 JST is 0 h UT", {2000, 1, 1, 9, 0, 0}, 0.0, {2000, 1, 1, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    ObservationRecord rec = startingAt(c.jst, c.exposure);
    computeMidExposure(rec, position(2000.0));
    EXPECT_EQ(rec.midYear, c.ut.year) << c.what;
    EXPECT_EQ(rec.midMonth, c.ut.month) << c.what;
    EXPECT_EQ(rec.midDay, c.ut.day) << c.what;
    EXPECT_EQ(rec.midHour, c.ut.hour) << c.what;
    EXPECT_EQ(rec.midMinute, c.ut.minute) << c.what;
    EXPECT_EQ(rec.midSecond, c.ut.second) << c.what;
  }
}

TEST(MidExposure, MjdIsStartPlusHalfTheExposureLessNineHours) {
  // 2000-01-01 12:00 UT is MJD 51544.5. Half a second is stored as
  // 5.787037e-6 day, 3.7e-14 day short of 1/172800: far below 1e-9 day.
  ObservationRecord rec = startingAt({2000, 1, 1, 21, 0, 0}, 61.0);
  computeMidExposure(rec, position(2000.0));
  EXPECT_NEAR(rec.midMjd, 51544.5 + 30.5 / 86400.0, 1e-9);
  rec = startingAt({2000, 1, 1, 21, 0, 0}, 0.0);
  computeMidExposure(rec, position(2000.0));
  EXPECT_EQ(rec.midMjd, 51544.5);  // 0.375 day is exact in binary
}

TEST(MidExposure, EpochYearCountsFromFirstOfJanuaryOfTheMidYear) {
  ObservationRecord rec = startingAt({2024, 1, 1, 9, 0, 0}, 0.0);
  computeMidExposure(rec, position(2000.0));
  EXPECT_EQ(rec.epochYear, 2024.0);

  // 2 July of a common year is 182 days after 1 January.
  rec = startingAt({2023, 7, 2, 9, 0, 0}, 0.0);
  computeMidExposure(rec, position(2000.0));
  EXPECT_NEAR(rec.epochYear, 2023.0 + 182.0 / 365.25, 1e-12);

  // In a leap year the same date is a day later in the year.
  rec = startingAt({2024, 7, 2, 9, 0, 0}, 0.0);
  computeMidExposure(rec, position(2000.0));
  EXPECT_NEAR(rec.epochYear, 2024.0 + 183.0 / 365.25, 1e-12);

  // 05:00 JST on 1 January is 20:00 UT on 31 December of the year before.
  rec = startingAt({2024, 1, 1, 5, 0, 0}, 0.0);
  computeMidExposure(rec, position(2000.0));
  EXPECT_NEAR(rec.epochYear, 2023.0 + (364.0 + 20.0 / 24.0) / 365.25, 1e-12);
}

TEST(MidExposure, ApparentPositionAtTheEpochOfObservation) {
  // An equinox equal to the epoch leaves the position unchanged.
  ObservationRecord rec = startingAt({2024, 1, 1, 9, 0, 0}, 0.0);
  computeMidExposure(rec, position(2024.0));
  EXPECT_NEAR(rec.raApparent, 1.2, 1e-15);
  EXPECT_NEAR(rec.decApparent, -0.3, 1e-15);

  // From the equinox 2000.0 to the epoch 2024.0, both from the catalogue
  // values: over an interval of t = 24 years the system's annual rates are
  // m = 0.000223426676 + 1.354812e-06 t + 5.82e-10 t^2 and
  // n = 9.718987143e-05 - 4.136915e-07 t - 1.794e-09 t^2 (rad a year).
  computeMidExposure(rec, position(2000.0));
  const double m = 0.000223426676 + 1.354812e-06 * 24 + 5.82e-10 * 576;
  const double n = 9.718987143e-05 - 4.136915e-07 * 24 - 1.794e-09 * 576;
  EXPECT_NEAR(rec.raApparent, 1.2 + 24 * (m + n * std::sin(1.2) * std::tan(-0.3)), 1e-13);
  EXPECT_NEAR(rec.decApparent, -0.3 + 24 * n * std::cos(1.2), 1e-13);
}

TEST(SummaryLine, FormatAndCataloguePosition) {
  ListEntry entry;
  entry.objectName = "M42";
  entry.dataTypeName = "OBJECT";
  CatalogueEntry cat;
  cat.equinox = 1950.0;
  cat.raRadians = 12 * kRadiansPerHourOfRa;  // 12:00:00 less 4e-8 h
  cat.decRadians = -(0.5 + 30.5 / 3600.0) * kRadiansPerDegree;
  ObservationRecord rec = startingAt({2024, 3, 14, 21, 0, 0}, 61.0);
  computeMidExposure(rec, cat);
  ASSERT_NE(rec.raApparent, cat.raRadians);

  std::string lines = msg::summaryLine(entry, cat, rec);
  entry.objectName = "NGC1976_ORION";  // longer than 10: printed whole
  entry.dataTypeName = "NEARBY_SKY";
  lines += msg::summaryLine(entry, cat, rec);
  EXPECT_EQ(lines,
            "       M42 (RA=12:00:00 DEC=-00:30:30 1950.0)     OBJECT  2024-03-14 12:00:30\n"
            "NGC1976_ORION (RA=12:00:00 DEC=-00:30:30 1950.0) NEARBY_SKY  2024-03-14 12:00:30\n");
}

}  // namespace
