#include "mid_exposure.h"

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
