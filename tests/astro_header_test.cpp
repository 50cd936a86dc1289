// The 72-card astronomical header of tarnfits, composed from hand-built
// records. Every expected text here is written out as the header must show
// it; the library is used only to set up an apparent position.
#include "astro_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "obslib.h"

namespace {

std::string padded(std::string text) {
  text.resize(kCardLength, ' ');
  return text;
}

// "<keyword>= <value right-justified in 20 columns>"
std::string intCard(const char* keyword, int value) {
  char text[48];
  std::snprintf(text, sizeof text, "%-8s= %20d", keyword, value);
  return padded(text);
}

// A recognisable input card for position n (not one of the size cards).
std::string inputCard(int n) {
  char text[48];
  std::snprintf(text, sizeof text, "CARD%02d  = 'input card %02d'", n, n);
  return padded(text);
}

double radiansFromHours(double hours) {
  return hours * 15.0 / kDegreesPerRadian;
}
double radiansFromDegrees(double degrees) {
  return degrees / kDegreesPerRadian;
}

std::tm dayOfWriting(int tmYear, int tmMon, int tmMday) {
  std::tm t{};
  t.tm_year = tmYear;
  t.tm_mon = tmMon;
  t.tm_mday = tmMday;
  t.tm_hour = 10;
  return t;
}

// An entry as the driver hands it over, with the values of the golden
// tables below.
struct Inputs {
  ObservationRecord rec;
  ListEntry entry;
  CatalogueEntry cat;
  RunSettings settings;
  std::tm now = dayOfWriting(126, 0, 5);

  std::vector<std::string> compose() const {
    return composeAstronomicalHeader(rec, entry, cat, settings, now);
  }
};

Inputs commonInputs(int axis1, int axis2) {
  Inputs in;
  ObservationRecord& rec = in.rec;
  rec.savedCards[1] = padded("SIMPLE  =                    T");
  rec.savedCards[2] = intCard("BITPIX", 16);
  rec.savedCards[3] = intCard("NAXIS", 2);
  rec.savedCards[4] = intCard("NAXIS1", axis1);
  rec.savedCards[5] = intCard("NAXIS2", axis2);
  rec.binning1 = 2;
  rec.binning2 = 4;
  rec.exposureSeconds = 120.0;
  rec.ccdTemperature = -60.5f;
  rec.midMjd = 51544.5;  // 2000-01-01 12:00:00 UT
  rec.raApparent = radiansFromHours(6.0);
  rec.decApparent = radiansFromDegrees(30.0);

  in.entry.objectName = "M42";
  in.entry.dataTypeName = "OBJECT";
  in.entry.clumpName = "EAST";
  in.entry.diaphragmName = "1HOLE";
  in.entry.filterName = "V";
  in.entry.hwpAngle = 22.5f;
  in.entry.slitWidth = 0.25f;
  in.entry.outputName = "m42_001.fit";

  in.cat.name = "M42";
  in.cat.equinox = 2000.0;
  in.cat.raRadians = radiansFromHours(6.0);
  in.cat.decRadians = radiansFromDegrees(30.0);

  in.settings.weather = "FAIR";
  in.settings.seeing = 1.5f;
  in.settings.observer = "TANAKA";
  return in;
}

// tarnfits keeps input cards 1 to 16 of an Andor header.
Inputs andorInputs() {
  Inputs in = commonInputs(2048, 512);
  for (int n = 6; n <= 16; ++n) in.rec.savedCards[n] = inputCard(n);
  in.rec.cameraMode = CameraMode::Andor;
  in.rec.detectorName = "Andor DV440";
  in.rec.adcSpeed = "1.000000E-06";
  in.rec.gain = 0.361f;
  return in;
}

// T5 and S5 headers keep input cards 1 to 7.
Inputs t5Inputs() {
  Inputs in = commonInputs(1000, 1018);
  for (int n = 6; n <= 7; ++n) in.rec.savedCards[n] = inputCard(n);
  in.rec.cameraMode = CameraMode::T5;
  in.rec.detectorName = "T5 RUVUZOR (TC215)";
  in.rec.adcSpeed = "FAST";
  in.rec.preGain = 7;
  in.rec.postGain = 8;
  in.rec.offsetSetting = 9;
  return in;
}

struct ExpectedCard {
  int card;  // 1 to 72
  const char* text;
};

void expectCards(const std::vector<std::string>& cards,
                 const std::vector<ExpectedCard>& table) {
  ASSERT_EQ(cards.size(), 72u);
  for (const ExpectedCard& row : table) {
    SCOPED_TRACE("card " + std::to_string(row.card));
    EXPECT_EQ(cards[row.card - 1], row.text);
  }
}

// The value field, columns 11 to 30, of a card whose value fits in it.
std::string valueField(const std::string& card) { return card.substr(10, 20); }

// ---------------------------------------------------------------------------
// Fixed cards

const std::vector<ExpectedCard> kFixedCardsOfBothLayouts = {
    {6, "BLOCKED =                    T / FILE IS MAYBE BLOCKED"},
    {9, "BUNIT   = 'counts'             / UNIT OF 'REAL'"},
    {10, "BLANK   =                 0.00 / VALUE FOR VALUE-UNDEFINED PIXEL"},
    {11, "COMMENT"},
    {12, "COMMENT"},
    {13, "COMMENT"},
    {22,
     "COMMENT  --- THE FOLLOWING DATE AND TIME IS THE CENTER OF OBSERVATION "
     "---"},
    {36, "CTYPE1  = 'ANGSTROM'           / TYPE OF PHYSICAL COORDINATION ON "
         "AXIS-1"},
    {37, "CRPIX1  =                 0.00 /"},
    {38, "CRVAL1  =                 0.00 /"},
    {39, "CDELT1  =                 1.00 / REAL = CRV + (PIXEL - CRP) * CDE"},
    {40, "CROTA1  =                 0.00 / CCW ROTATION"},
    {41, "CTYPE2  = 'DEC     '           / TYPE OF PHYSICAL COORDINATION ON "
         "AXIS-2"},
    {42, "CRPIX2  =                 0.00 /"},
    {43, "CRVAL2  =                 0.00 /"},
    {44, "CDELT2  =                 1.00 / REAL = CRV + (PIXEL - CRP) * CDE"},
    {45, "CROTA2  =                 0.00 / CCW ROTATION"},
    {46, "COMMENT"},
    {47, "COMMENT"},
    {51, "FOCPOS  = 'CASEGRAIN'          / FOCUS POSITION"},
    {56, "INSTRUME= 'WQR-1   '           /"},
    {67, "DISPAXIS=                    1 / DIRECTION OF DISPERSION"},
    {70, "MEMO    = '        '                                                 "
         "           "},
    {72, "END"},
};

const std::vector<ExpectedCard> kFixedCardsOfT5Layout = {
    {32, "COMMENT"}, {33, "COMMENT"}, {34, "COMMENT"},
    {35, "COMMENT"}, {48, "COMMENT"},
};

TEST(AstronomicalHeaderFixedCards, AndorLayout) {
  expectCards(andorInputs().compose(), kFixedCardsOfBothLayouts);
}

TEST(AstronomicalHeaderFixedCards, T5Layout) {
  const std::vector<std::string> cards = t5Inputs().compose();
  expectCards(cards, kFixedCardsOfBothLayouts);
  expectCards(cards, kFixedCardsOfT5Layout);
}

TEST(AstronomicalHeaderFixedCards, MemoCardFillsExactlyEightyColumns) {
  const std::string memo = andorInputs().compose()[69];
  EXPECT_EQ(memo, "MEMO    = '        '" + std::string(60, ' '));
}

// ---------------------------------------------------------------------------
// Value cards of the shared fixture

const std::vector<ExpectedCard> kValueCardsOfBothLayouts = {
    {14, "DATA-TYP= 'OBJECT  '           / OBJECT, DARK, POLARIZER, ETC."},
    {15, "OBJECT  = 'M42     '           / OBJECT NAME"},
    {16, "SOURCE  = 'RUVUZOR SERVE'      / SOURCE NAME"},
    {17, "RA      = '06:00:00'           / RIGHT ASCENSION (HH:MM:SS)"},
    {18, "DEC     = '+30:00:00'          / DECLINATION    (+DD:MM:SS)"},
    {19, "EQUINOX =               2000.0 / EPOCH OF RA AND DEC"},
    {20, "RA2000  = '06:00:00'           / RA IN AD2000"},
    {21, "DEC2000 = '+30:00:00'          / DEC IN AD2000"},
    {23, "JD      =        2451545.00000 / JULIAN DAY IN UT"},
    {24, "DATE-OBS= '2000-01-01'         /  DD/MM/YY (or YYYY-MM-DD) in UT"},
    {25, "UT      = '12:00:00'           / UNIVERSAL TIME      (HH:MM:SS)"},
    {26, "JST     = '21:00:00'           / JAPANESE STANDARD TIME (HH:MM:SS)"},
    {30, "WEATHER = 'FAIR    '           / WEATHER (CLEAR, FAIR, HAZY, "
         "CLOUDY)"},
    {31, "SEEING  =                  1.5 / SEEING SIZE IN ARCSECOND"},
    {49, "OBSERVER= 'TANAKA  '           / OBSERVER'S NAME - IDENTIFICATION"},
    {50, "TELESCOP= '36INCH_REFLECTOR'   /"},
    {52, "TEL-POSE= 'EAST    '           / CLUMP (EAST, WEST)"},
    {53, "ORIGIN  = 'KESTREL_OBSERVATORY' / INSTITUTE WHERE THIS FILE IS "
         "MADE"},
    {54, "DATE    = '2026-01-05'         / DATE WHEN THIS FILE IS MADE (JST)"},
    {57, "CCD-TEMP=               -60.50 / CCD TEMPERATURE"},
    {58, "BIN-FCT1=                    2 / BINNING FACTOR ON AXIS-1"},
    {59, "BIN-FCT2=                    4 / BINNING FACTOR ON AXIS-2"},
    {65, "POS-HWP =                22.50 / POSITION ANGLE OF HALF-WAVE PLATE"},
    {66, "FILTER  = 'V       '           / ADOPTED FILTER"},
    {68, "SLIT-WID=                 0.25 / SLIT WIDTH (MM)"},
    {69, "DIAPHRAG= '1HOLE   '           / 1HOLE, 2HOLES"},
    {71, "WQRTITLE= 'M42     '           / = OBJECT NAME"},
};

const std::vector<ExpectedCard> kValueCardsOfAndorLayout = {
    {48, "GAIN    =                0.361 / GAIN SETTING [e-/ADU]"},
    {55, "DETECTOR= 'Andor DV440'        /"},
    {63, "ADCSPEED= '1.000000E-06'       / A/D CONVERSION SPEED"},
    {64, "EXPTIME =              120.000 / EXPOSURE TIME (SEC)"},
};

const std::vector<ExpectedCard> kValueCardsOfT5Layout = {
    {55, "DETECTOR= 'T5 RUVUZOR (TC215)' /"},
    {60, "PREGAIN =                    7 / PRE-AMPLIFIER GAIN SETTING"},
    {61, "POSTGAIN=                    8 / POST-AMPLIFIER GAIN SETTING"},
    {62, "OFFSET  =                    9 / OFFSET SETTING"},
    {63, "ADCSPEED= 'FAST    '           / A/D CONVERSION SPEED"},
    {64, "EXPTIME =               120.00 / EXPOSURE TIME (SEC)"},
};

TEST(AstronomicalHeaderValueCards, AndorLayout) {
  const std::vector<std::string> cards = andorInputs().compose();
  expectCards(cards, kValueCardsOfBothLayouts);
  expectCards(cards, kValueCardsOfAndorLayout);
}

TEST(AstronomicalHeaderValueCards, T5Layout) {
  const std::vector<std::string> cards = t5Inputs().compose();
  expectCards(cards, kValueCardsOfBothLayouts);
  expectCards(cards, kValueCardsOfT5Layout);
}

// Columns 31 to 33 of every card with a value: " / ", or for ORIGIN, whose
// quoted value takes 21 columns, the slash one column further right.
TEST(AstronomicalHeaderValueCards, SlashColumn) {
  const std::vector<int> andorCards = {14, 15, 16, 17, 18, 19, 20, 21, 23,
                                       24, 25, 26, 27, 28, 29, 30, 31, 48,
                                       49, 50, 52, 54, 55, 57, 58, 59, 63,
                                       64, 65, 66, 68, 69, 71};
  std::vector<int> t5Cards = andorCards;
  t5Cards.erase(std::find(t5Cards.begin(), t5Cards.end(), 48));
  t5Cards.insert(t5Cards.end(), {60, 61, 62});
  const struct {
    const char* layout;
    std::vector<std::string> cards;
    std::vector<int> valueCards;
  } layouts[] = {{"Andor", andorInputs().compose(), andorCards},
                 {"T5", t5Inputs().compose(), t5Cards}};
  for (const auto& layout : layouts) {
    SCOPED_TRACE(layout.layout);
    for (int n : layout.valueCards) {
      SCOPED_TRACE("card " + std::to_string(n));
      EXPECT_EQ(layout.cards[n - 1].substr(8, 2), "= ");
      EXPECT_EQ(layout.cards[n - 1].substr(30, 2), " /");
    }
    EXPECT_EQ(layout.cards[52].substr(30, 3), "' /");
  }
}

// ---------------------------------------------------------------------------
// Layout choice and the placement of input cards

// The header reader recognised the camera from columns 27 to 30 of cards 4
// and 5; the layout follows what it recorded, not the cards again.
TEST(AstronomicalHeaderLayout, ChosenByTheRecordedCameraSetup) {
  const struct {
    CameraMode mode;
    bool andor;
  } rows[] = {{CameraMode::Andor, true}, {CameraMode::T5, false}, {CameraMode::S5, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.andor ? "Andor" : "T5 or S5");
    Inputs in = andorInputs();
    in.rec.cameraMode = row.mode;
    const std::vector<std::string> cards = in.compose();
    ASSERT_EQ(cards.size(), 72u);
    EXPECT_EQ(cards[6], in.rec.savedCards[row.andor ? 12 : 6]);
    EXPECT_EQ(cards[47].substr(0, 4), row.andor ? "GAIN" : "COMM");
  }
}

TEST(AstronomicalHeaderLayout, InputCardsAndorLayout) {
  const Inputs in = andorInputs();
  const std::vector<std::string> cards = in.compose();
  const std::vector<std::pair<int, int>> placements = {
      {1, 1},   {2, 2},   {3, 3},   {4, 4},   {5, 5},   {7, 12},
      {8, 11},  {32, 7},  {33, 8},  {34, 9},  {35, 10}, {60, 14},
      {61, 15}, {62, 16}};
  ASSERT_EQ(cards.size(), 72u);
  for (const auto& [outputCard, inputCardNumber] : placements) {
    SCOPED_TRACE("card " + std::to_string(outputCard));
    EXPECT_EQ(cards[outputCard - 1], in.rec.savedCards[inputCardNumber]);
  }
  for (int unused : {6, 13}) {
    EXPECT_EQ(std::count(cards.begin(), cards.end(), inputCard(unused)), 0)
        << "input card " << unused;
  }
}

TEST(AstronomicalHeaderLayout, InputCardsT5Layout) {
  Inputs in = t5Inputs();
  // Cards the reader would not keep for a T5 header, should any be there.
  for (int n = 8; n <= 16; ++n) in.rec.savedCards[n] = inputCard(n);
  const std::vector<std::string> cards = in.compose();
  const std::vector<std::pair<int, int>> placements = {
      {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {7, 6}, {8, 7}};
  ASSERT_EQ(cards.size(), 72u);
  for (const auto& [outputCard, inputCardNumber] : placements) {
    SCOPED_TRACE("card " + std::to_string(outputCard));
    EXPECT_EQ(cards[outputCard - 1], in.rec.savedCards[inputCardNumber]);
  }
  for (int n = 8; n <= 16; ++n) {
    EXPECT_EQ(std::count(cards.begin(), cards.end(), inputCard(n)), 0)
        << "input card " << n;
  }
}

TEST(AstronomicalHeaderLayout, S5SizesGiveT5Layout) {
  Inputs in = t5Inputs();
  in.rec.savedCards[4] = intCard("NAXIS1", 512);
  in.rec.savedCards[5] = intCard("NAXIS2", 512);
  in.rec.cameraMode = CameraMode::S5;
  in.rec.detectorName = "S5 RUVUZOR (SITe)";
  const std::vector<std::string> cards = in.compose();
  expectCards(cards, kFixedCardsOfT5Layout);
  EXPECT_EQ(cards[59],
            "PREGAIN =                    7 / PRE-AMPLIFIER GAIN SETTING");
  EXPECT_EQ(cards[54], "DETECTOR= 'S5 RUVUZOR (SITe)'  /");
}

// Input cards go into the header as they are, whatever bytes they hold.
TEST(AstronomicalHeaderLayout, InputCardsCopiedByteForByte) {
  std::string odd = "HISTORY %s%n%d %% 100% done \t\x01\x7f\x80\xff";
  odd += '\0';
  odd += "after a NUL";
  odd = padded(odd);

  Inputs andor = andorInputs();
  andor.rec.savedCards[12] = odd;
  andor.rec.savedCards[14] = odd;
  const std::vector<std::string> andorCards = andor.compose();
  ASSERT_EQ(andorCards.size(), 72u);
  EXPECT_EQ(andorCards[6], odd);
  EXPECT_EQ(andorCards[59], odd);

  Inputs t5 = t5Inputs();
  t5.rec.savedCards[6] = odd;
  const std::vector<std::string> t5Cards = t5.compose();
  ASSERT_EQ(t5Cards.size(), 72u);
  EXPECT_EQ(t5Cards[6], odd);
}

// ---------------------------------------------------------------------------
// Camera values

TEST(AstronomicalHeaderCamera, GainOfEachReadoutTime) {
  const struct {
    std::optional<float> gain;
    const char* card;
  } rows[] = {
      {0.5f, "GAIN    =                0.500 / GAIN SETTING [e-/ADU]"},
      {1.005f, "GAIN    =                1.005 / GAIN SETTING [e-/ADU]"},
      {0.361f, "GAIN    =                0.361 / GAIN SETTING [e-/ADU]"},
      {0.356f, "GAIN    =                0.356 / GAIN SETTING [e-/ADU]"},
      {std::nullopt, "COMMENT"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.card);
    Inputs in = andorInputs();
    in.rec.gain = row.gain;
    EXPECT_EQ(in.compose()[47], row.card);
  }
}

TEST(AstronomicalHeaderCamera, ExposureDecimalsFollowLayout) {
  const struct {
    bool andor;
    double seconds;
    const char* field;
  } rows[] = {
      {true, 1.25, "               1.250"},
      {false, 1.25, "                1.25"},
      {true, 3600.0, "            3600.000"},
      {false, 3600.0, "             3600.00"},
      {true, 0.0, "               0.000"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.seconds));
    Inputs in = row.andor ? andorInputs() : t5Inputs();
    in.rec.exposureSeconds = row.seconds;
    EXPECT_EQ(valueField(in.compose()[63]), row.field);
  }
}

// ---------------------------------------------------------------------------
// Target position

TEST(AstronomicalHeaderPosition, CatalogueAndJ2000Positions) {
  const struct {
    double equinox;
    double raHours;
    double decDegrees;
    const char* ra;
    const char* dec;
    const char* equinoxField;
    const char* ra2000;
    const char* dec2000;
  } rows[] = {
      {2000.0, 6.0, 30.0, "'06:00:00'", "'+30:00:00'",
       "              2000.0", "'06:00:00'", "'+30:00:00'"},
      {2000.0, 13.5, -12.5, "'13:30:00'", "'-12:30:00'",
       "              2000.0", "'13:30:00'", "'-12:30:00'"},
      // Fifty years of precession at the origin.
      {1950.0, 0.0, 0.0, "'00:00:00'", "'+00:00:00'",
       "              1950.0", "'00:03:21'", "'+00:12:22'"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.ra2000);
    Inputs in = andorInputs();
    in.cat.equinox = row.equinox;
    in.cat.raRadians = radiansFromHours(row.raHours);
    in.cat.decRadians = radiansFromDegrees(row.decDegrees);
    const std::vector<std::string> cards = in.compose();
    ASSERT_EQ(cards.size(), 72u);
    EXPECT_EQ(valueField(cards[16]), padded(row.ra).substr(0, 20));
    EXPECT_EQ(valueField(cards[17]), padded(row.dec).substr(0, 20));
    EXPECT_EQ(valueField(cards[18]), row.equinoxField);
    EXPECT_EQ(valueField(cards[19]), padded(row.ra2000).substr(0, 20));
    EXPECT_EQ(valueField(cards[20]), padded(row.dec2000).substr(0, 20));
  }
}

// ---------------------------------------------------------------------------
// Time of mid exposure

TEST(AstronomicalHeaderTime, JulianDayAndCivilTimes) {
  const struct {
    double midMjd;
    const char* jd;
    const char* dateObs;
    const char* ut;
    const char* jst;
  } rows[] = {
      {51544.5, "       2451545.00000", "'2000-01-01'", "'12:00:00'",
       "'21:00:00'"},
      // From 15:00 UT on it is the next day in Japan: JST shows an earlier
      // time of day, DATE-OBS stays the UT date.
      {51544.625, "       2451545.12500", "'2000-01-01'", "'15:00:00'",
       "'00:00:00'"},
      {51544.65625, "       2451545.15625", "'2000-01-01'", "'15:45:00'",
       "'00:45:00'"},
      {51544.96875, "       2451545.46875", "'2000-01-01'", "'23:15:00'",
       "'08:15:00'"},
      {51544.0, "       2451544.50000", "'2000-01-01'", "'00:00:00'",
       "'09:00:00'"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.midMjd));
    Inputs in = andorInputs();
    in.rec.midMjd = row.midMjd;
    const std::vector<std::string> cards = in.compose();
    ASSERT_EQ(cards.size(), 72u);
    EXPECT_EQ(valueField(cards[22]), row.jd);
    EXPECT_EQ(valueField(cards[23]), padded(row.dateObs).substr(0, 20));
    EXPECT_EQ(valueField(cards[24]), padded(row.ut).substr(0, 20));
    EXPECT_EQ(valueField(cards[25]), padded(row.jst).substr(0, 20));
  }
}

int secondsOfQuotedTime(const std::string& card) {
  int h = 0, m = 0, s = 0;
  EXPECT_EQ(std::sscanf(card.c_str() + 10, "'%d:%d:%d'", &h, &m, &s), 3)
      << card;
  return h * 3600 + m * 60 + s;
}

TEST(AstronomicalHeaderTime, SiderealTimeAtSiteLongitude) {
  const struct {
    double midMjd;
    const char* lst;
  } rows[] = {
      {40000.0, "'01:11:05'"},
      {51544.5, "'03:46:18'"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.lst);
    Inputs in = andorInputs();
    in.rec.midMjd = row.midMjd;
    EXPECT_EQ(valueField(in.compose()[26]), padded(row.lst).substr(0, 20));
  }
}

// One hour of UT is one hour and 9.86 seconds of sidereal time; the printed
// seconds are cut, so the step shows as 3609 or 3610 seconds.
TEST(AstronomicalHeaderTime, SiderealTimeFollowsMidExposure) {
  for (double midMjd : {51544.5, 55000.25, 60310.75}) {
    SCOPED_TRACE(std::to_string(midMjd));
    Inputs in = andorInputs();
    in.rec.midMjd = midMjd;
    const int before = secondsOfQuotedTime(in.compose()[26]);
    in.rec.midMjd = midMjd + 1.0 / 24.0;
    const int after = secondsOfQuotedTime(in.compose()[26]);
    const int step = (after - before + 86400) % 86400;
    EXPECT_GE(step, 3609);
    EXPECT_LE(step, 3610);
  }
}

// The geometry uses the apparent position: hour angle = LST - apparent RA.
// On the meridian the zenith distance is the latitude minus the declination;
// at the latitude's declination it grows with the hour angle either way.
TEST(AstronomicalHeaderTime, ZenithDistanceAndAirmass) {
  const struct {
    double degreesSouthOfLatitude;
    double hourAngleHours;
    const char* zd;
    const char* airmass;
  } rows[] = {
      {60.0, 0.0, "'+60:00:00'", "              1.9945"},
      {30.0, 0.0, "'+30:00:00'", "              1.1543"},
      {0.0, 0.0, "'+00:00:00'", "              1.0000"},
      {0.0, 1.0, "'+12:07:23'", "              1.0228"},
      {0.0, -1.0, "'+12:07:23'", "              1.0228"},
      {0.0, 3.0, "'+36:04:11'", "              1.2366"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.zd);
    Inputs in = andorInputs();
    in.rec.midMjd = 51544.5;
    const double lst = getst(in.rec.midMjd, kSiteLongitudeRadians);
    in.rec.raApparent = lst - radiansFromHours(row.hourAngleHours);
    in.rec.decApparent =
        kSiteLatitudeRadians - radiansFromDegrees(row.degreesSouthOfLatitude);
    // A catalogue position far from the apparent one.
    in.cat.raRadians = in.rec.raApparent + 1.0;
    in.cat.decRadians = in.rec.decApparent + 0.5;
    const std::vector<std::string> cards = in.compose();
    ASSERT_EQ(cards.size(), 72u);
    EXPECT_EQ(valueField(cards[27]), padded(row.zd).substr(0, 20));
    EXPECT_EQ(valueField(cards[28]), row.airmass);
  }
}

// ---------------------------------------------------------------------------
// Texts from the run list, the terminal and the clock

TEST(AstronomicalHeaderTexts, QuotedValues) {
  const struct {
    const char* object;
    const char* field;
  } rows[] = {
      {"", "'        '          "},
      {"ABCDEFG", "'ABCDEFG '          "},
      {"ABCDEFGH", "'ABCDEFGH'          "},
      {"O'NEIL", "'O''NEIL '          "},
      {"ABC'DEFG", "'ABC''DEFG'         "},
      {"M 31 ", "'M 31    '          "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.object);
    Inputs in = andorInputs();
    in.entry.objectName = row.object;
    const std::vector<std::string> cards = in.compose();
    ASSERT_EQ(cards.size(), 72u);
    EXPECT_EQ(valueField(cards[14]), row.field);
    EXPECT_EQ(valueField(cards[70]), row.field);
  }
}

TEST(AstronomicalHeaderTexts, EachTextReachesItsOwnCard) {
  Inputs in = andorInputs();
  in.entry.dataTypeName = "DARK";
  in.entry.clumpName = "WEST";
  in.entry.diaphragmName = "2HOLES";
  in.entry.filterName = "B";
  in.settings.weather = "CLOUDY";
  in.settings.observer = "SUZUKI";
  in.rec.adcSpeed = "2.000000E-06";
  in.rec.detectorName = "T5 RUVUZOR (TC215)";
  const std::vector<ExpectedCard> table = {
      {14, "DATA-TYP= 'DARK    '           / OBJECT, DARK, POLARIZER, ETC."},
      {30, "WEATHER = 'CLOUDY  '           / WEATHER (CLEAR, FAIR, HAZY, "
           "CLOUDY)"},
      {49, "OBSERVER= 'SUZUKI  '           / OBSERVER'S NAME - "
           "IDENTIFICATION"},
      {52, "TEL-POSE= 'WEST    '           / CLUMP (EAST, WEST)"},
      {55, "DETECTOR= 'T5 RUVUZOR (TC215)' /"},
      {63, "ADCSPEED= '2.000000E-06'       / A/D CONVERSION SPEED"},
      {66, "FILTER  = 'B       '           / ADOPTED FILTER"},
      {69, "DIAPHRAG= '2HOLES  '           / 1HOLE, 2HOLES"},
  };
  expectCards(in.compose(), table);
}

// Composition never cuts: the caller refuses cards longer than 80.
TEST(AstronomicalHeaderTexts, LongTextsAreKeptWhole) {
  Inputs in = andorInputs();
  const std::string weather(40, 'W');
  const std::string object(60, 'X');
  in.settings.weather = weather;
  in.entry.objectName = object;
  const std::vector<std::string> cards = in.compose();
  ASSERT_EQ(cards.size(), 72u);
  EXPECT_EQ(cards[29], "WEATHER = '" + weather +
                           "' / WEATHER (CLEAR, FAIR, HAZY, CLOUDY)");
  EXPECT_EQ(cards[29].size(), 90u);
  EXPECT_EQ(cards[14], "OBJECT  = '" + object + "' / OBJECT NAME");
  EXPECT_EQ(cards[70], "WQRTITLE= '" + object + "' / = OBJECT NAME");
  EXPECT_GT(cards[70].size(), 80u);
}

TEST(AstronomicalHeaderTexts, DateOfWriting) {
  const struct {
    std::tm now;
    const char* field;
  } rows[] = {
      {dayOfWriting(126, 0, 5), "'2026-01-05'        "},
      {dayOfWriting(99, 11, 31), "'1999-12-31'        "},
      {dayOfWriting(5, 6, 1), "'2005-07-01'        "},
  };
  const std::vector<std::string> reference = andorInputs().compose();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.field);
    Inputs in = andorInputs();
    in.now = row.now;
    const std::vector<std::string> cards = in.compose();
    ASSERT_EQ(cards.size(), 72u);
    EXPECT_EQ(valueField(cards[53]), row.field);
    for (int n = 0; n < 72; ++n) {
      if (n == 53) continue;
      EXPECT_EQ(cards[n], reference[n]) << "card " << n + 1;
    }
  }
}

TEST(AstronomicalHeaderTexts, SingleFloatsWidenedForPrinting) {
  const struct {
    float value;
    const char* seeing;
    const char* temperature;
    const char* hwp;
  } rows[] = {
      {2.4375f, "                 2.4", "                2.44",
       "                2.44"},
      {-0.0625f, "                -0.1", "               -0.06",
       "               -0.06"},
      {67.5f, "                67.5", "               67.50",
       "               67.50"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.seeing);
    Inputs in = t5Inputs();
    in.settings.seeing = row.value;
    in.rec.ccdTemperature = row.value;
    in.entry.hwpAngle = row.value;
    in.entry.slitWidth = row.value;
    const std::vector<std::string> cards = in.compose();
    ASSERT_EQ(cards.size(), 72u);
    EXPECT_EQ(valueField(cards[30]), row.seeing);
    EXPECT_EQ(valueField(cards[56]), row.temperature);
    EXPECT_EQ(valueField(cards[64]), row.hwp);
    EXPECT_EQ(valueField(cards[67]), row.hwp);
  }
}

}  // namespace
