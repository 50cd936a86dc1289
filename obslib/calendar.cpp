// Calendar and Modified Julian Date: civil fields <-> MJD, and the date and
// time of day of an MJD as FITS texts.
#include <array>
#include <cstddef>
#include <cstdio>
#include <limits>

#include "obslib.h"
#include "detail.h"

namespace {

// Day count of timetomjd. The year and month terms are cut toward zero after
// being formed in floating point; 30.59 days per month counted from March
// reproduces the month lengths March to February of the year after.
constexpr int kMonthsPerYear = 12;
// The Gregorian leap-year rule, used by the day count and the month lengths:
// a century year is a common year unless a 400-year cycle starts with it.
constexpr int kCenturyYears = 100;
constexpr int kGregorianCycleYears = 400;
constexpr int kLastWinterMonth = 2;   // January and February count as 13, 14
constexpr int kMonthTermOrigin = 2;   // the month term is zero at February
constexpr double kMonthTermDays = 30.59;
constexpr int kMjdDayOffset = 678912;  // makes 1858-11-17 day 0

constexpr double kHoursPerDay = 24.0;
constexpr double kMinutesPerDay = 1440.0;
constexpr double kSecondsPerDay = 86400.0;

// Year estimate of mjdtotime: years per day, and the year at MJD 0. It may
// come out one year off either way near a new year; the month search
// corrects that.
constexpr double kYearsPerDayEstimate = 0.0027379093;
constexpr double kYearAtMjdZeroEstimate = 1858.877;

// Farthest MJD from 0 (days, about 2.7 million years) that mjdtotime takes
// as it is: every int it forms stays within range (the largest, the day
// count of the year in timetomjd, about 1e9). A camera header can give any
// exposure, so an MJD of 1e300 or NaN does reach it.
constexpr double kMjdLimitDays = 1e9;

// Month lengths indexed by month number; index 0 is never read. mjdtotime
// works on a copy, so the leap-year February never outlives one call.
constexpr int kJanuary = 1;
constexpr int kFebruary = 2;
constexpr int kDecember = 12;
constexpr std::size_t kMonthSlots = kDecember + 1;
constexpr std::array<int, kMonthSlots> kMonthLengths = {
    0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr int kLeapFebruaryDays = 29;
constexpr int kCommonFebruaryDays = 28;
constexpr int kLeapCycleYears = 4;
constexpr int kDecemberDays = 31;
constexpr double kFirstDay = 1.0;  // dayPart of 1 January 0 h

// Room for three printed ints, two separators and the terminator.
constexpr int kThreeFieldChars = 3 * obslib_detail::kIntChars + 2 + 1;

}  // namespace

// timetomjd: civil fields to Modified Julian Date.
//
// Given: year (all digits), month, day, hour, minute, second; the time scale
//   is whatever the fields are in, the MJD carries it unchanged.
// Returned: MJD (days); 1858-11-17 0 h is 0.0.
// Notes:
//   Months 1 and 2 count as 13 and 14 of the year before. Each term of the
//   day count is cut toward zero to an int, which equals rounding down only
//   for years from 1 on: earlier years give wrong counts. No range test:
//   day 0 is the last day of the month before, month 0 is December of the
//   year before, and oversized hours, minutes and seconds add their share.
double timetomjd(int year, int month, int day, int hour, int minute,
                 int second) {
  if (month <= kLastWinterMonth) {
    year -= 1;
    month += kMonthsPerYear;
  }
  const int yearDays = static_cast<int>(year * kDaysPerYear);
  const int cycleLeaps = static_cast<int>(year / static_cast<double>(kGregorianCycleYears));
  const int centuries = static_cast<int>(year / static_cast<double>(kCenturyYears));
  const int monthDays =
      static_cast<int>((month - kMonthTermOrigin) * kMonthTermDays);
  const int dayNumber =
      yearDays + cycleLeaps - centuries + monthDays + day - kMjdDayOffset;
  const double fraction =
      hour / kHoursPerDay + minute / kMinutesPerDay + second / kSecondsPerDay;
  return fraction + dayNumber;
}

// getmjdtm: MJD of a broken-down time.
//
// Given: t, of which tm_year, tm_mon, tm_mday, tm_hour, tm_min and tm_sec
//   are read. tm_year 0..70 stand for 2000..2070, 71 on for 1971 on.
// Returned: MJD (days), in the time scale of t.
double getmjdtm(const std::tm* t) {
  return timetomjd(obslib_detail::tmFullYear(t->tm_year), t->tm_mon + 1, t->tm_mday,
                   t->tm_hour, t->tm_min, t->tm_sec);
}

// mjdtotime: Modified Julian Date to civil fields.
//
// Given: mjd (days).
// Returned: year, month (1..12), day (1..31), hour, minute, second.
// Notes:
//   The year is first estimated linearly, then the whole days since
//   31 December of the year before pick the month; an estimate one year
//   off is moved to the right year at the end. Every field is cut toward
//   zero, never rounded, so an MJD built from whole seconds may come back
//   one second short (the fraction lands a hair below the second). Right
//   for MJDs from 0001-01-01 to 9999-12-31. An MJD beyond 1e9 days either
//   way is taken as that bound and NaN as the lower one: the fields are
//   then meaningless but defined.
void mjdtotime(double mjd, int* year, int* month, int* day, int* hour,
               int* minute, int* second) {
  std::array<int, kMonthSlots> length = kMonthLengths;

  if (!(mjd >= -kMjdLimitDays)) mjd = -kMjdLimitDays;  // NaN too
  if (mjd > kMjdLimitDays) mjd = kMjdLimitDays;

  int y = static_cast<int>(kYearsPerDayEstimate * mjd +
                           kYearAtMjdZeroEstimate);
  const double start = timetomjd(y, kJanuary, 0, 0, 0, 0);
  const double rem = mjd - start;

  if (y % kLeapCycleYears == 0) {
    length[kFebruary] = kLeapFebruaryDays;
    if (y % kCenturyYears == 0 && y % kGregorianCycleYears != 0) {
      length[kFebruary] = kCommonFebruaryDays;
    }
  }

  const int wholeDays = static_cast<int>(rem);
  int total = 0;
  int m = kJanuary;
  while (m <= kMonthsPerYear && wholeDays - total - length[m] > 0) {
    total += length[m];
    ++m;
  }
  double dayPart = rem - total;

  if (m == kMonthsPerYear + 1) {  // past 31 December of the estimate
    ++y;
    m = kJanuary;
  }
  if (dayPart < kFirstDay) {  // before 1 January of the estimate
    --y;
    m = kDecember;
    dayPart += kDecemberDays;
  }

  const int d = static_cast<int>(dayPart);
  double f = (dayPart - d) * kHoursPerDay;
  const int h = static_cast<int>(f);
  f = (f - h) * kMinutesPerHour;
  const int mi = static_cast<int>(f);
  f = (f - mi) * kSecondsPerMinute;
  const int s = static_cast<int>(f);

  *year = y;
  *month = m;
  *day = d;
  *hour = h;
  *minute = mi;
  *second = s;
}

// fitsdatemjd: "YYYY-MM-DD" of an MJD (fields cut as by mjdtotime), in str2.
const char* fitsdatemjd(double mjd) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  mjdtotime(mjd, &year, &month, &day, &hour, &minute, &second);
  char text[kThreeFieldChars];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  str2 = text;
  return str2.c_str();
}

// fitstimemjd: "hh:mm:ss" of the time of day of an MJD, in str3. A time a
// hair below a whole second shows the second before.
const char* fitstimemjd(double mjd) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  mjdtotime(mjd, &year, &month, &day, &hour, &minute, &second);
  char text[kThreeFieldChars];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", hour, minute, second);
  str3 = text;
  return str3.c_str();
}
