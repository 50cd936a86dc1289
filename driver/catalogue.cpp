// The object catalogue: one target a line, name, equinox, RA and Dec.
#include "catalogue.h"

#include <cstdio>
#include <string>

#include "files.h"
#include "messages.h"
#include "night_files.h"
#include "obslib.h"

namespace {
constexpr int kFieldsUpToSign = 6;  // name, equinox, h, m, s, sign
constexpr int kAllFields = 9;
}  // namespace

CatalogueLine scanCatalogueLine(const std::string& line) {
  CatalogueLine c;
  FieldScanner scan(line);
  std::string sign;
  if (!scan.word(c.name)) return c;
  c.fields = 1;
  if (!scan.real(c.equinox)) return c;
  c.fields = 2;
  if (!scan.integer(c.raHours, 2)) return c;
  c.fields = 3;
  if (!scan.integer(c.raMinutes, 2)) return c;
  c.fields = 4;
  if (!scan.real(c.raSeconds)) return c;
  c.fields = 5;
  if (!scan.word(sign, 1)) return c;
  c.sign = sign[0];
  c.fields = 6;
  if (!scan.integer(c.decDegrees, 2)) return c;
  c.fields = 7;
  if (!scan.integer(c.decMinutes, 2)) return c;
  c.fields = 8;
  if (!scan.real(c.decSeconds)) return c;
  c.fields = 9;
  return c;
}

CatalogueEntry catalogueEntryFrom(const CatalogueLine& line) {
  CatalogueEntry e;
  e.name = line.name;
  e.equinox = line.equinox;
  double hours = line.raHours + line.raMinutes / kMinutesPerHour + line.raSeconds / kSecondsPerHour;
  e.raRadians = hours * kRadiansPerHourOfRa;
  double degrees =
      line.decDegrees + line.decMinutes / kMinutesPerHour + line.decSeconds / kSecondsPerHour;
  e.decRadians = degrees * kRadiansPerDegree;
  if (line.sign == '-') e.decRadians = -e.decRadians;
  return e;
}

LookupResult searchCatalogue(std::FILE* catalogue, const std::string& objectName,
                             CatalogueEntry& found) {
  std::string text;
  while (readWholeLine(catalogue, text)) {
    CatalogueLine line = scanCatalogueLine(text);
    if (line.fields < kFieldsUpToSign) continue;  // blank line or remark
    if ((line.sign != '+' && line.sign != '-') || line.fields < kAllFields)
      return LookupResult::Broken;
    if (line.name == objectName) {
      found = catalogueEntryFrom(line);
      return LookupResult::Found;
    }
  }
  return LookupResult::Missing;
}

Outcome lookUpObject(const std::string& objectName, CatalogueEntry& found) {
  FilePtr catalogue = openLowerOrUpper(kCatalogueName, "rt");
  if (!catalogue) return msg::catalogueMissing();
  switch (searchCatalogue(catalogue.get(), objectName, found)) {
    case LookupResult::Found:
      return Outcome::accepted();
    case LookupResult::Broken:
      return msg::catalogueBroken();
    case LookupResult::Missing:
      break;
  }
  return msg::objectMissing(objectName);
}
