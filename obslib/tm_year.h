// Private to obslib: the year of a broken-down time, shared by getmjdtm and
// fitsdate.
#ifndef OBSLIB_TM_YEAR_H
#define OBSLIB_TM_YEAR_H

namespace obslib_detail {

// tm_year 0..70 are read as 2000..2070; larger values count from 1900 as the
// standard library fills them, so every year after 1970 comes out right.
constexpr int kTmYearPivot = 70;
constexpr int kTmYearBaseLow = 2000;
constexpr int kTmYearBaseHigh = 1900;

constexpr int tmFullYear(int tmYear) {
  return tmYear <= kTmYearPivot ? tmYear + kTmYearBaseLow
                                : tmYear + kTmYearBaseHigh;
}

}  // namespace obslib_detail

#endif  // OBSLIB_TM_YEAR_H
