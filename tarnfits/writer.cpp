#include "writer.h"

#include <ctime>

#include "astro_header.h"
#include "messages.h"

const DriverProfile kTarnfitsProfile = {
    "tarnfits",
    "Converts the night's T5, S5 and Andor DV440 camera files into astronomical\n"
    "FITS files: a new 72-card header (target position, mid-exposure UT, JD,\n"
    "sidereal time, zenith distance, airmass, observing conditions) followed\n"
    "by the camera's samples.\n",
    "RUVUZOR FITS to ASTRONOMICAL FITS CONVERTER\n",
    "      for 1997 Jun. - Now\n",
    AndorRule::Full,
    composeTarnfitsOutput,
    2,
};

Outcome composeTarnfitsOutput(const ListEntry& entry, const RunSettings& settings,
                              const CatalogueEntry& cat, const ObservationRecord& rec,
                              OutputPlan& plan) {
  // DATE is the local date at the moment the header is made.
  std::time_t clock = std::time(nullptr);
  std::tm now{};
  localtime_r(&clock, &now);
  if (!assembleHeader(composeAstronomicalHeader(rec, entry, cat, settings, now), plan.header))
    return msg::headerCardTooLong(entry.fileName);
  plan.rule = &kCopySampleRule;
  plan.pixelCount = rec.pixelCount;
  return Outcome::accepted();
}
