#include "astro_header.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "obslib.h"

namespace {

constexpr const char* kSourceText = "RUVUZOR SERVE";
constexpr const char* kTelescopeName = "36INCH_REFLECTOR";
constexpr const char* kOriginText = "KESTREL_OBSERVATORY";
constexpr const char* kMemoText = "";

constexpr std::size_t kValueFieldWidth = 20;
constexpr std::size_t kMemoFieldWidth = 70;

constexpr const char* kCommentCard = "COMMENT";

using Cards = std::vector<std::string>;

// Everything a header is composed from.
struct HeaderSources {
  const ObservationRecord& rec;
  const ListEntry& entry;
  const CatalogueEntry& cat;
  const RunSettings& settings;
  const std::tm& now;
  bool andor;
};

// ---------------------------------------------------------------------------
// Value fields and cards. Fields are blank-filled to their width but never
// cut; a longer value pushes the rest of its card to the right.

std::string leftField(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

// "%-20s" of the text as a quoted string value.
std::string quotedField(const char* text) {
  return leftField(convstr(text), kValueFieldWidth);
}

std::string quotedField(const std::string& text) {
  return quotedField(text.c_str());
}

// "%20.<decimals>f"
std::string realField(double value, int decimals) {
  const int length = std::snprintf(nullptr, 0, "%20.*f", decimals, value);
  std::string field(static_cast<std::size_t>(length), '\0');
  std::snprintf(field.data(), field.size() + 1, "%20.*f", decimals, value);
  return field;
}

// "%20d"
std::string integerField(int value) {
  char field[32];
  std::snprintf(field, sizeof field, "%20d", value);
  return field;
}

// "<keyword>= <field> / <comment>", or "<keyword>= <field> /" without a
// comment. The keyword comes blank-filled to eight columns, so the value
// field starts in column 11 and a 20-column field puts the slash in
// column 32.
std::string valueCard(const char* keyword, const std::string& field,
                      const char* comment) {
  std::string card = keyword;
  card += "= ";
  card += field;
  card += " /";
  if (*comment != '\0') {
    card += ' ';
    card += comment;
  }
  return card;
}

// ---------------------------------------------------------------------------
// Card groups, in header order.

// Cards 1 to 13.
void appendStructureCards(Cards& cards, const HeaderSources& in) {
  for (int n = 1; n <= 5; ++n) cards.push_back(in.rec.savedCards[n]);
  cards.push_back("BLOCKED =                    T / FILE IS MAYBE BLOCKED");
  // Cards 7 and 8: input cards 12 and 11 of an Andor header, 6 and 7 of the
  // others.
  cards.push_back(in.rec.savedCards[in.andor ? 12 : 6]);
  cards.push_back(in.rec.savedCards[in.andor ? 11 : 7]);
  cards.push_back("BUNIT   = 'counts'             / UNIT OF 'REAL'");
  cards.push_back(
      "BLANK   =                 0.00 / VALUE FOR VALUE-UNDEFINED PIXEL");
  cards.insert(cards.end(), 3, std::string(kCommentCard));
}

// Cards 14 to 21: what was observed, at the catalogue equinox and at J2000.
void appendTargetCards(Cards& cards, const HeaderSources& in) {
  const CatalogueEntry& cat = in.cat;
  cards.push_back(valueCard("DATA-TYP", quotedField(in.entry.dataTypeName),
                            "OBJECT, DARK, POLARIZER, ETC."));
  cards.push_back(
      valueCard("OBJECT  ", quotedField(in.entry.objectName), "OBJECT NAME"));
  cards.push_back(
      valueCard("SOURCE  ", quotedField(kSourceText), "SOURCE NAME"));
  cards.push_back(valueCard("RA      ", quotedField(fitsra(cat.raRadians)),
                            "RIGHT ASCENSION (HH:MM:SS)"));
  cards.push_back(valueCard("DEC     ", quotedField(fitsdec(cat.decRadians)),
                            "DECLINATION    (+DD:MM:SS)"));
  cards.push_back(
      valueCard("EQUINOX ", realField(cat.equinox, 1), "EPOCH OF RA AND DEC"));
  const double ra2000 =
      corrra(cat.raRadians, cat.decRadians, cat.equinox, kJ2000Epoch);
  const double dec2000 =
      corrdec(cat.raRadians, cat.decRadians, cat.equinox, kJ2000Epoch);
  cards.push_back(
      valueCard("RA2000  ", quotedField(fitsra(ra2000)), "RA IN AD2000"));
  cards.push_back(
      valueCard("DEC2000 ", quotedField(fitsdec(dec2000)), "DEC IN AD2000"));
}

// Cards 22 to 29: the instant of mid exposure and the geometry at it.
void appendTimeCards(Cards& cards, const HeaderSources& in) {
  const ObservationRecord& rec = in.rec;
  cards.push_back(
      "COMMENT  --- THE FOLLOWING DATE AND TIME IS THE CENTER OF "
      "OBSERVATION ---");
  cards.push_back(valueCard("JD      ", realField(rec.midMjd + kMjdToJd, 5),
                            "JULIAN DAY IN UT"));
  // This comment begins with a blank of its own.
  cards.push_back(valueCard("DATE-OBS", quotedField(fitsdatemjd(rec.midMjd)),
                            " DD/MM/YY (or YYYY-MM-DD) in UT"));
  cards.push_back(valueCard("UT      ", quotedField(fitstimemjd(rec.midMjd)),
                            "UNIVERSAL TIME      (HH:MM:SS)"));
  cards.push_back(
      valueCard("JST     ",
                quotedField(fitstimemjd(rec.midMjd + kJstOffsetDays)),
                "JAPANESE STANDARD TIME (HH:MM:SS)"));

  const double lst = getst(rec.midMjd, kSiteLongitudeRadians);
  const double hourAngle = getha(lst, rec.raApparent);
  const double zd = getzd(rec.decApparent, kSiteLatitudeRadians, hourAngle);
  cards.push_back(valueCard("LST     ", quotedField(fitsra(lst)),
                            "SIDEREAL TIME       (HH:MM:SS)"));
  cards.push_back(valueCard("ZD      ", quotedField(fitsdec(zd)),
                            "ZENITH DISTANCE (DD:MM:SS)"));
  cards.push_back(
      valueCard("AIRMASS ", realField(getfz(zd), 4), "AIRMASS F(Z)"));
}

// Cards 30 to 35.
void appendConditionCards(Cards& cards, const HeaderSources& in) {
  cards.push_back(valueCard("WEATHER ", quotedField(in.settings.weather),
                            "WEATHER (CLEAR, FAIR, HAZY, CLOUDY)"));
  cards.push_back(valueCard(
      "SEEING  ", realField(static_cast<double>(in.settings.seeing), 1),
      "SEEING SIZE IN ARCSECOND"));
  for (int n = 7; n <= 10; ++n) {
    cards.push_back(in.andor ? in.rec.savedCards[n] : kCommentCard);
  }
}

// Cards 36 to 45: a linear frame on both axes.
void appendAxisCards(Cards& cards) {
  cards.push_back(
      "CTYPE1  = 'ANGSTROM'           / TYPE OF PHYSICAL COORDINATION ON "
      "AXIS-1");
  cards.push_back("CRPIX1  =                 0.00 /");
  cards.push_back("CRVAL1  =                 0.00 /");
  cards.push_back(
      "CDELT1  =                 1.00 / REAL = CRV + (PIXEL - CRP) * CDE");
  cards.push_back("CROTA1  =                 0.00 / CCW ROTATION");
  cards.push_back(
      "CTYPE2  = 'DEC     '           / TYPE OF PHYSICAL COORDINATION ON "
      "AXIS-2");
  cards.push_back("CRPIX2  =                 0.00 /");
  cards.push_back("CRVAL2  =                 0.00 /");
  cards.push_back(
      "CDELT2  =                 1.00 / REAL = CRV + (PIXEL - CRP) * CDE");
  cards.push_back("CROTA2  =                 0.00 / CCW ROTATION");
}

// Cards 46 to 56: who, where, when the file was made, and with what.
void appendSiteCards(Cards& cards, const HeaderSources& in) {
  cards.insert(cards.end(), 2, std::string(kCommentCard));
  // Only an Andor readout time found in the gain table gives a GAIN card.
  if (in.andor && in.rec.gain) {
    cards.push_back(valueCard("GAIN    ",
                              realField(static_cast<double>(*in.rec.gain), 3),
                              "GAIN SETTING [e-/ADU]"));
  } else {
    cards.push_back(kCommentCard);
  }
  cards.push_back(valueCard("OBSERVER", quotedField(in.settings.observer),
                            "OBSERVER'S NAME - IDENTIFICATION"));
  cards.push_back(valueCard("TELESCOP", quotedField(kTelescopeName), ""));
  cards.push_back("FOCPOS  = 'CASEGRAIN'          / FOCUS POSITION");
  cards.push_back(valueCard("TEL-POSE", quotedField(in.entry.clumpName),
                            "CLUMP (EAST, WEST)"));
  cards.push_back(valueCard("ORIGIN  ", quotedField(kOriginText),
                            "INSTITUTE WHERE THIS FILE IS MADE"));
  cards.push_back(valueCard("DATE    ", quotedField(fitsdate(&in.now)),
                            "DATE WHEN THIS FILE IS MADE (JST)"));
  cards.push_back(
      valueCard("DETECTOR", quotedField(in.rec.detectorName), ""));
  cards.push_back("INSTRUME= 'WQR-1   '           /");
}

// Cards 57 to 64: the camera's settings for this exposure.
void appendCameraCards(Cards& cards, const HeaderSources& in) {
  const ObservationRecord& rec = in.rec;
  const double temperature = static_cast<double>(rec.ccdTemperature);
  cards.push_back(
      valueCard("CCD-TEMP", realField(temperature, 2), "CCD TEMPERATURE"));
  cards.push_back(valueCard("BIN-FCT1", integerField(rec.binning1),
                            "BINNING FACTOR ON AXIS-1"));
  cards.push_back(valueCard("BIN-FCT2", integerField(rec.binning2),
                            "BINNING FACTOR ON AXIS-2"));
  if (in.andor) {
    for (int n = 14; n <= 16; ++n) cards.push_back(rec.savedCards[n]);
  } else {
    cards.push_back(valueCard("PREGAIN ", integerField(rec.preGain),
                              "PRE-AMPLIFIER GAIN SETTING"));
    cards.push_back(valueCard("POSTGAIN", integerField(rec.postGain),
                              "POST-AMPLIFIER GAIN SETTING"));
    cards.push_back(valueCard("OFFSET  ", integerField(rec.offsetSetting),
                              "OFFSET SETTING"));
  }
  cards.push_back(valueCard("ADCSPEED", quotedField(rec.adcSpeed),
                            "A/D CONVERSION SPEED"));
  cards.push_back(valueCard("EXPTIME ",
                            realField(rec.exposureSeconds, in.andor ? 3 : 2),
                            "EXPOSURE TIME (SEC)"));
}

// Cards 65 to 72: the polarimeter and spectrograph set-up, the memo, END.
void appendInstrumentCards(Cards& cards, const HeaderSources& in) {
  const ListEntry& entry = in.entry;
  cards.push_back(valueCard("POS-HWP ",
                            realField(static_cast<double>(entry.hwpAngle), 2),
                            "POSITION ANGLE OF HALF-WAVE PLATE"));
  cards.push_back(valueCard("FILTER  ", quotedField(entry.filterName),
                            "ADOPTED FILTER"));
  cards.push_back("DISPAXIS=                    1 / DIRECTION OF DISPERSION");
  cards.push_back(valueCard("SLIT-WID",
                            realField(static_cast<double>(entry.slitWidth), 2),
                            "SLIT WIDTH (MM)"));
  cards.push_back(valueCard("DIAPHRAG", quotedField(entry.diaphragmName),
                            "1HOLE, 2HOLES"));
  cards.push_back("MEMO    = " +
                  leftField(convstr(kMemoText), kMemoFieldWidth));
  cards.push_back(valueCard("WQRTITLE", quotedField(entry.objectName),
                            "= OBJECT NAME"));
  cards.push_back("END");
}

}  // namespace

std::vector<std::string> composeAstronomicalHeader(
    const ObservationRecord& rec, const ListEntry& entry,
    const CatalogueEntry& cat, const RunSettings& settings,
    const std::tm& now) {
  const HeaderSources in{rec, entry, cat, settings, now, rec.cameraMode == CameraMode::Andor};
  Cards cards;
  cards.reserve(kAstronomicalHeaderCards);
  appendStructureCards(cards, in);
  appendTargetCards(cards, in);
  appendTimeCards(cards, in);
  appendConditionCards(cards, in);
  appendAxisCards(cards);
  appendSiteCards(cards, in);
  appendCameraCards(cards, in);
  appendInstrumentCards(cards, in);
  return cards;
}
