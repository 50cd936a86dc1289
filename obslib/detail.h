// Private to obslib: what the calendar and the FITS texts share.
#ifndef OBSLIB_DETAIL_H
#define OBSLIB_DETAIL_H

#include <limits>

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

// Characters of one printed int, digits and sign: text buffers sized by it
// cannot overflow whatever int a field holds.
constexpr int kIntChars = std::numeric_limits<int>::digits10 + 2;

}  // namespace obslib_detail

#endif  // OBSLIB_DETAIL_H
