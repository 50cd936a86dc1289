// The object catalogue: one target a line, name, equinox, RA and Dec.
#ifndef DRIVER_CATALOGUE_H
#define DRIVER_CATALOGUE_H

#include <cstdio>
#include <string>

#include "outcome.h"
#include "records.h"

// One catalogue line as "%s %lf %2d %2d %lf %1s%2d %2d %lf" reads it.
struct CatalogueLine {
  int fields = 0;  // how many were read, 0 to 9
  std::string name;
  double equinox = 0.0;
  int raHours = 0, raMinutes = 0;
  double raSeconds = 0.0;
  char sign = 0;
  int decDegrees = 0, decMinutes = 0;
  double decSeconds = 0.0;
};
CatalogueLine scanCatalogueLine(const std::string& line);

// Position of a complete catalogue line in radians.
CatalogueEntry catalogueEntryFrom(const CatalogueLine& line);

enum class LookupResult { Found, Missing, Broken };

// Searches an open catalogue from its current position for objectName: the
// first complete line of that name wins; lines with fewer than six fields are
// passed over; a line with a sign field that is not "+" or "-", or whose
// fields stop after the sign, makes the catalogue Broken.
LookupResult searchCatalogue(std::FILE* catalogue, const std::string& objectName,
                             CatalogueEntry& found);

// Opens "object.lst" (or "OBJECT.LST") and looks the object up into `found`.
// A missing object refuses the entry; a catalogue that cannot be opened or
// is broken is fatal.
Outcome lookUpObject(const std::string& objectName, CatalogueEntry& found);

#endif  // DRIVER_CATALOGUE_H
