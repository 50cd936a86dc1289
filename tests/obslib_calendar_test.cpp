// Calendar and MJD conversions of obslib. Day numbers are checked against
// ERFA's Gregorian calendar routines (eraCal2jd, eraJd2cal), which share no
// code or formula with the library.
#include <erfa.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "obslib.h"

namespace {

constexpr double kMjdZeroJd = 2400000.5;
constexpr int kSecondsPerDay = 86400;

// MJD of 0 h of a Gregorian date, from ERFA; -1 when ERFA rejects the date.
double erfaMjd(int year, int month, int day) {
  double jd0 = 0.0;
  double mjd = 0.0;
  if (eraCal2jd(year, month, day, &jd0, &mjd) != 0) return -1.0;
  return mjd;
}

struct Fields {
  int year, month, day, hour, minute, second;
};

std::string show(const Fields& f) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.year,
                f.month, f.day, f.hour, f.minute, f.second);
  return text;
}

Fields toFields(double mjd) {
  Fields f{};
  mjdtotime(mjd, &f.year, &f.month, &f.day, &f.hour, &f.minute, &f.second);
  return f;
}

}  // namespace

TEST(ObslibCalendar, TimeToMjdOfKnownInstants) {
  struct Case {
    Fields in;
    double mjd;
  };
  const Case cases[] = {
      {{1858, 11, 17, 0, 0, 0}, 0.0},       // the MJD origin
      {{2000, 1, 1, 12, 0, 0}, 51544.5},    // J2000.0
      {{2000, 1, 0, 0, 0, 0}, 51543.0},     // day 0: 31 December 1999
      {{1999, 12, 31, 0, 0, 0}, 51543.0},
      {{2000, 0, 1, 0, 0, 0}, 51513.0},     // month 0: December 1999
      {{2024, 3, 0, 0, 0, 0}, 60369.0},     // day 0 of March: 29 February
      {{2000, 1, 1, 36, 0, 0}, 51545.5},    // oversized hour adds its share
      {{2000, 1, 1, 0, 0, 86400}, 51545.0},  // oversized second likewise
      {{2000, 1, 1, 6, 30, 0}, 51544.0 + 6.5 / 24.0},
  };
  for (const Case& c : cases) {
    const Fields& f = c.in;
    // Double sums of a few exact-ish fractions at 5e4 days: 1e-9 day is
    // 86 us, far above rounding and far below one second.
    EXPECT_NEAR(timetomjd(f.year, f.month, f.day, f.hour, f.minute, f.second),
                c.mjd, 1e-9)
        << show(f);
  }
}

TEST(ObslibCalendar, FebruaryLengthFollowsGregorianLeapRule) {
  struct Case {
    int year;
    double days;  // 1 March minus 28 February
  };
  const Case cases[] = {{2000, 2.0}, {1900, 1.0}, {2100, 1.0},
                        {2024, 2.0}, {2023, 1.0}, {1600, 2.0}};
  for (const Case& c : cases) {
    EXPECT_EQ(timetomjd(c.year, 3, 1, 0, 0, 0) -
                  timetomjd(c.year, 2, 28, 0, 0, 0),
              c.days)
        << "year " << c.year;
  }
}

TEST(ObslibCalendar, MjdToTimeExamples) {
  struct Case {
    double mjd;
    Fields out;
  };
  const Case cases[] = {
      {0.0, {1858, 11, 17, 0, 0, 0}},
      {51544.0, {2000, 1, 1, 0, 0, 0}},     // month search runs past December
      {60675.5, {2024, 12, 31, 12, 0, 0}},  // estimate one year too late
      {51543.5, {1999, 12, 31, 12, 0, 0}},
      {60310.0, {2024, 1, 1, 0, 0, 0}},
      {51544.75, {2000, 1, 1, 18, 0, 0}},
      {60369.25, {2024, 2, 29, 6, 0, 0}},   // leap day
      {60370.0, {2024, 3, 1, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(show(toFields(c.mjd)), show(c.out)) << "MJD " << c.mjd;
  }
}

TEST(ObslibCalendar, MjdToTimeTruncatesTowardZero) {
  // 0.1 ms before 10:00:00 is still 09:59:59, never rounded up.
  const double justBefore = 51544.0 + 10.0 / 24.0 - 1e-4 / kSecondsPerDay;
  EXPECT_EQ(show(toFields(justBefore)), "2000-01-01 09:59:59");
  EXPECT_STREQ(fitstimemjd(justBefore), "09:59:59");
}

TEST(ObslibCalendar, FitsDateAndTimeOfMjd) {
  EXPECT_STREQ(fitsdatemjd(51544.0), "2000-01-01");
  EXPECT_STREQ(fitstimemjd(51544.75), "18:00:00");
  EXPECT_STREQ(fitsdatemjd(60675.5), "2024-12-31");
  EXPECT_STREQ(fitstimemjd(60675.5), "12:00:00");
  EXPECT_STREQ(fitsdatemjd(0.0), "1858-11-17");
  // The printers write their areas and return them.
  EXPECT_EQ(fitsdatemjd(51544.0), str2.c_str());
  EXPECT_EQ(fitstimemjd(51544.0), str3.c_str());
}

TEST(ObslibCalendar, GetMjdTmYearRule) {
  struct Case {
    int tmYear;
    int year;  // year the library must read
  };
  const Case cases[] = {{0, 2000}, {70, 2070}, {71, 1971}, {99, 1999},
                        {126, 2026}, {5, 2005}};
  for (const Case& c : cases) {
    std::tm t{};
    t.tm_year = c.tmYear;
    t.tm_mon = 6;  // July
    t.tm_mday = 14;
    t.tm_hour = 18;
    t.tm_min = 0;
    t.tm_sec = 0;
    t.tm_wday = 99;  // fields the library does not read
    t.tm_yday = -5;
    EXPECT_NEAR(getmjdtm(&t), erfaMjd(c.year, 7, 14) + 0.75, 1e-9)
        << "tm_year " << c.tmYear;
  }
}

// Every day from 1900-01-01 to 2100-12-31 at several times of day:
// timetomjd must agree with ERFA's day count, and mjdtotime must give back
// a valid date and either the same instant or one exactly one second
// earlier (its fields are cut, the fraction may land a hair below the
// second), never a later one.
TEST(ObslibCalendar, RoundTripEveryDay1900To2100) {
  const int timesOfDay[][3] = {{0, 0, 0},   {0, 0, 1},    {6, 30, 17},
                               {12, 0, 0},  {17, 45, 59}, {23, 59, 59},
                               {9, 59, 59}, {20, 13, 44}};
  const double first = erfaMjd(1900, 1, 1);
  const double last = erfaMjd(2100, 12, 31);
  ASSERT_GT(last, first);

  long exact = 0;
  long oneShort = 0;
  int failures = 0;
  for (double day = first; day <= last && failures < 20; day += 1.0) {
    int y = 0, m = 0, d = 0;
    double fd = 0.0;
    ASSERT_EQ(eraJd2cal(kMjdZeroJd, day, &y, &m, &d, &fd), 0);
    for (const auto& hms : timesOfDay) {
      const Fields in{y, m, d, hms[0], hms[1], hms[2]};
      const int inSeconds = hms[0] * 3600 + hms[1] * 60 + hms[2];
      const double mjd = timetomjd(y, m, d, hms[0], hms[1], hms[2]);
      // 1e-9 day: see TimeToMjdOfKnownInstants.
      if (std::fabs(mjd - (day + inSeconds / double(kSecondsPerDay))) > 1e-9) {
        ADD_FAILURE() << show(in) << " gave MJD " << mjd;
        ++failures;
        continue;
      }
      const Fields out = toFields(mjd);
      const double outDay = erfaMjd(out.year, out.month, out.day);
      const bool validTime = out.hour >= 0 && out.hour < 24 &&
                             out.minute >= 0 && out.minute < 60 &&
                             out.second >= 0 && out.second < 60;
      if (outDay < 0.0 || !validTime) {
        ADD_FAILURE() << show(in) << " came back as invalid " << show(out);
        ++failures;
        continue;
      }
      const std::int64_t back =
          (static_cast<std::int64_t>(day) -
           static_cast<std::int64_t>(outDay)) * kSecondsPerDay +
          inSeconds - (out.hour * 3600 + out.minute * 60 + out.second);
      if (back == 0) {
        ++exact;
      } else if (back == 1) {
        ++oneShort;
      } else {
        ADD_FAILURE() << show(in) << " came back as " << show(out);
        ++failures;
      }
    }
  }
  // Truncation, not rounding: both outcomes occur in bulk.
  EXPECT_GT(exact, 10000);
  EXPECT_GT(oneShort, 10000);
}
