#include "writer.h"

#include <cstdio>
#include <ctime>

#include "astro_header.h"
#include "obslib.h"
#include "output_stage.h"

const DriverProfile kTarnfitsProfile = {
    "tarnfits",
    "Converts the night's T5, S5 and Andor DV440 camera files into astronomical\n"
    "FITS files: a new 72-card header (target position, mid-exposure UT, JD,\n"
    "sidereal time, zenith distance, airmass, observing conditions) followed\n"
    "by the camera's samples.\n",
    "RUVUZOR FITS to ASTRONOMICAL FITS CONVERTER\n",
    "      for 1997 Jun. - Now\n",
    AndorRule::Full,
    writeTarnfitsOutput,
};

bool writeTarnfitsOutput(const ListEntry& entry, const RunSettings& settings,
                         const CatalogueEntry& cat, const ObservationRecord& rec) {
  // DATE is the local date at the moment the header is made.
  std::time_t clock = std::time(nullptr);
  std::tm now{};
  localtime_r(&clock, &now);
  std::vector<std::string> cards =
      composeAstronomicalHeader(rec, entry, cat, settings, now);
  // A longer card would shift every later byte of the file: refuse the entry
  // before anything is created.
  for (const std::string& card : cards) {
    if (card.size() > kCardLength) {
      std::printf("Header card too long. (%s)  Skipped\n", entry.fileName.c_str());
      errlist(entry.fileName.c_str(), "header card too long");
      return false;
    }
  }
  runOutputStage(entry, rec.pixelCount, cards, kCopySampleRule);
  return true;
}
