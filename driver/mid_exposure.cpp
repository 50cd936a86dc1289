// Mid-exposure time in UT, the observation's epoch, the apparent position and
// the summary line of an entry.
#include <cstdio>

#include "driver.h"
#include "obslib.h"

void computeMidExposure(ObservationRecord& rec, const CatalogueEntry& cat) {
  // The start is JST; a day past the end of its month counts on linearly.
  double start = timetomjd(rec.startYear, rec.startMonth, rec.startDay,
                           rec.startHour, rec.startMinute, rec.startSecond);
  rec.midMjd = start + rec.exposureSeconds * kHalfSecondDays - kJstOffsetDays;
  mjdtotime(rec.midMjd, &rec.midYear, &rec.midMonth, &rec.midDay, &rec.midHour,
            &rec.midMinute, &rec.midSecond);
  rec.epochYear = rec.midYear + (rec.midMjd - timetomjd(rec.midYear, 1, 1, 0, 0, 0)) /
                                    kDaysPerYear;
  rec.raApparent = corrra(cat.raRadians, cat.decRadians, cat.equinox, rec.epochYear);
  rec.decApparent = corrdec(cat.raRadians, cat.decRadians, cat.equinox, rec.epochYear);
}

void printSummaryLine(const ListEntry& entry, const CatalogueEntry& cat,
                      const ObservationRecord& rec) {
  // fitsra and fitsdec write different result areas: both texts stay valid.
  const char* ra = fitsra(cat.raRadians);
  const char* dec = fitsdec(cat.decRadians);
  std::printf("%10s (RA=%s DEC=%s %6.1f) %10s  %04d-%02d-%02d %02d:%02d:%02d\n",
              entry.objectName.c_str(), ra, dec, cat.equinox,
              entry.dataTypeName.c_str(), rec.midYear, rec.midMonth, rec.midDay,
              rec.midHour, rec.midMinute, rec.midSecond);
}
