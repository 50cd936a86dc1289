// Text side of obslib: the four result areas, FITS string values, dates,
// times and sexagesimal angles, substrings and ASCII case changes.
//
// Every function builds its text in a local string first and then assigns
// it to its area, so a text taken from the very area being written is read
// whole before it is replaced.
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "obslib.h"
#include "detail.h"

std::string str1;
std::string str2;
std::string str3;
std::string str4;

namespace {

// FITS string values: at least 8 characters between the quotes; an
// apostrophe inside the value is written twice.
constexpr std::size_t kMinFitsStringChars = 8;
constexpr char kQuote = '\'';

// Sexagesimal fields: a value within kFieldNudge below a whole unit counts
// as that unit. The nudge is added only to the value being cut.
constexpr double kFieldNudge = 1e-6;
constexpr double kDegreesPerHour = 15.0;
constexpr double kSubunitsPerUnit = 60.0;

// Room for three printed ints, a sign character, two separators and the
// terminator: no int field can overflow it.
constexpr int kFieldTextChars = 3 * obslib_detail::kIntChars + 1 + 2 + 1;

struct Sexagesimal {
  int whole;
  int minutes;
  int seconds;
};

// Cuts toward zero to an int. A value beyond the range of int (an angle
// computed from an absurd catalogue or camera value) is held at the nearest
// end of the range, and NaN gives 0, instead of an undefined conversion.
int cutToInt(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<int>::max()))
    return std::numeric_limits<int>::max();
  if (value <= static_cast<double>(std::numeric_limits<int>::min()))
    return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

// Cuts a value into whole units, sixtieths and 3600ths, each toward zero
// after adding kFieldNudge. A value a hair below a whole unit leaves a tiny
// negative remainder, which the nudge cuts to 0 in the next field.
Sexagesimal splitSexagesimal(double value) {
  Sexagesimal out{};
  out.whole = cutToInt(value + kFieldNudge);
  const double minutes = (value - out.whole) * kSubunitsPerUnit;
  out.minutes = cutToInt(minutes + kFieldNudge);
  const double seconds = (minutes - out.minutes) * kSubunitsPerUnit;
  out.seconds = cutToInt(seconds + kFieldNudge);
  return out;
}

const char* store(std::string& area, std::string text) {
  area = std::move(text);
  return area.c_str();
}

}  // namespace

// mid: length characters of text from position start (counted from 1), in
// str1. Reads no further than the text's terminator: a text shorter than
// start + length - 1 gives what it holds from start on, a start beyond its
// end gives an empty result. A length of 0 or less gives an empty result;
// a start below 1 is taken as 1.
const char* mid(const char* text, int start, int length) {
  std::string out;
  if (length > 0) {
    const std::size_t skip =
        start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
    const std::size_t want = static_cast<std::size_t>(length);
    std::size_t i = 0;
    while (i < skip && text[i] != '\0') {
      ++i;
    }
    if (i == skip) {
      const char* from = text + skip;
      std::size_t n = 0;
      while (n < want && from[n] != '\0') {
        ++n;
      }
      out.assign(from, n);
    }
  }
  return store(str1, std::move(out));
}

// convstr: text as a FITS string value, in str1. Each apostrophe is doubled;
// the doubled text is then padded with blanks to 8 characters when shorter
// and put in single quotes. Trailing blanks of the text stay.
const char* convstr(const char* text) {
  std::string value;
  for (const char* p = text; *p != '\0'; ++p) {
    value += *p;
    if (*p == kQuote) {
      value += kQuote;
    }
  }
  if (value.size() < kMinFitsStringChars) {
    value.append(kMinFitsStringChars - value.size(), ' ');
  }
  std::string out;
  out.reserve(value.size() + 2);
  out += kQuote;
  out += value;
  out += kQuote;
  return store(str1, std::move(out));
}

// fitsdate: "YYYY-MM-DD" of a broken-down time, in str2. tm_year 0..70 are
// read as 2000..2070.
const char* fitsdate(const std::tm* t) {
  char text[kFieldTextChars];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", obslib_detail::tmFullYear(t->tm_year),
                t->tm_mon + 1, t->tm_mday);
  return store(str2, text);
}

// fitstime: "hh:mm:ss" of a broken-down time, in str3.
const char* fitstime(const std::tm* t) {
  char text[kFieldTextChars];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t->tm_hour, t->tm_min,
                t->tm_sec);
  return store(str3, text);
}

// fitsra: right ascension as "hh:mm:ss" of time, in str2.
//
// Given: right ascension (rad).
// Returned: hours, minutes, seconds, each cut toward zero after adding 1e-6
//   (5.9999999 h prints 06:00:00, 5.99999 h prints 05:59:59).
// Notes:
//   Hours are not wrapped (an angle a hair below 2 pi prints 24:00:00, more
//   than 99 hours take more digits). A negative angle gives fields cut
//   toward zero with their own minus signs: -0.01 rad prints 00:-2:-17.
const char* fitsra(double raRadians) {
  const double hours = raRadians * kDegreesPerRadian / kDegreesPerHour;
  const Sexagesimal f = splitSexagesimal(hours);
  char text[kFieldTextChars];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", f.whole, f.minutes,
                f.seconds);
  return store(str2, text);
}

// fitsdec: signed angle as "+dd:mm:ss" of arc, in str3.
//
// Given: declination or any other angle (rad).
// Returned: sign ('-' only below zero, so -0.0 prints '+'), degrees, minutes
//   and seconds of the absolute value, each cut toward zero after adding
//   1e-6 (89.99999999 deg prints +90:00:00).
// Notes: degrees take two digits, three from 100 on.
const char* fitsdec(double angleRadians) {
  char sign = '+';
  if (angleRadians < 0.0) {
    sign = '-';
    angleRadians = -angleRadians;
  }
  const Sexagesimal f = splitSexagesimal(angleRadians * kDegreesPerRadian);
  char text[kFieldTextChars];
  std::snprintf(text, sizeof text, "%c%02d:%02d:%02d", sign, f.whole,
                f.minutes, f.seconds);
  return store(str3, text);
}

namespace {

// Passes each byte through a <cctype> case function as an unsigned char
// value. No locale is ever set, so only ASCII letters change and bytes above
// 127 come back as they were.
template <typename CaseFunction>
const char* changeCase(const char* text, CaseFunction change) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    out += static_cast<char>(change(static_cast<unsigned char>(*p)));
  }
  return store(str4, std::move(out));
}

}  // namespace

// chartolower: text with ASCII letters in lower case, in str4.
const char* chartolower(const char* text) {
  return changeCase(text, [](unsigned char c) { return std::tolower(c); });
}

// chartoupper: text with ASCII letters in upper case, in str4.
const char* chartoupper(const char* text) {
  return changeCase(text, [](unsigned char c) { return std::toupper(c); });
}
