// The time of an exposure from the header's cards, and the night's order.
#include "frames.h"

#include <cctype>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>

#include "obslib.h"

namespace tarnlook {

namespace {

constexpr long long kSecondsPerDay = 86400;
constexpr long long kSecondsPerHour = 3600;
constexpr long long kSecondsPerMinute = 60;
constexpr long long kMjdOf1970 = 40587;  // MJD of 1970-01-01
constexpr double kMostDays = 1e7;        // days from MJD 0, either way, at most
// A time a hair below a whole second, as a JD of a whole second gives it,
// is shown as that second.
constexpr double kSecondFuzz = 1e-4;

// `count` decimal digits of `text` from `at`; -1 when they are not that.
long long digits(const std::string& text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return -1;
  long long value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = 10 * value + (text[i] - '0');
  }
  return value;
}

bool isLeapYear(long long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days of a date of the Gregorian calendar since 1970-01-01 (H. Hinnant's
// days_from_civil), and back.
long long daysFromCivil(long long y, long long m, long long d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yearOfEra = y - era * 400;
  const long long dayOfYear = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  return era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 719468;
}

void civilFromDays(long long z, long long& y, long long& m, long long& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long dayOfEra = z - era * 146097;
  const long long yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long mp = (5 * dayOfYear + 2) / 153;
  d = dayOfYear - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = yearOfEra + era * 400 + (m <= 2);
}

// The MJD of a date "YYYY-MM-DD" or "DD/MM/YY" at the start of `text`;
// `rest` is what follows it.
std::optional<long long> dateMjd(const std::string& text, std::string& rest) {
  long long y = -1, m = -1, d = -1;
  if (text.size() >= 10 && text[4] == '-' && text[7] == '-') {
    y = digits(text, 0, 4), m = digits(text, 5, 2), d = digits(text, 8, 2);
    rest = text.substr(10);
  } else if (text.size() == 8 && text[2] == '/' && text[5] == '/') {
    d = digits(text, 0, 2), m = digits(text, 3, 2), y = digits(text, 6, 2);
    if (y >= 0) y += 1900;
    rest.clear();
  }
  static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 0 || m < 1 || m > 12 || d < 1 ||
      d > kMonthDays[m - 1] + (m == 2 && isLeapYear(y) ? 1 : 0)) {
    return std::nullopt;
  }
  return daysFromCivil(y, m, d) + kMjdOf1970;
}

// Seconds since midnight of "hh:mm:ss" or "hh:mm:ss.s...".
std::optional<double> timeOfDay(const std::string& text) {
  const long long h = digits(text, 0, 2), m = digits(text, 3, 2), s = digits(text, 6, 2);
  if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 60 || text[2] != ':' || text[5] != ':') {
    return std::nullopt;
  }
  double fraction = 0.0;
  if (text.size() > 8) {
    if (text[8] != '.' || text.size() == 9 || digits(text, 9, 1) < 0) return std::nullopt;
    char* end = nullptr;
    fraction = std::strtod(text.c_str() + 8, &end);
    if (*end != '\0') return std::nullopt;
  }
  return static_cast<double>(kSecondsPerHour * h + kSecondsPerMinute * m + s) + fraction;
}

// A number of days written in a card, as an MJD (the card's zero lies
// `offset` days before MJD 0): nothing when the text is no number or lies
// 10 million days (27 000 years) or more from MJD 0, so that its seconds
// hold in a long long many times over.
std::optional<double> mjdOf(const std::string& text, double offset) {
  char* end = nullptr;
  const double mjd = std::strtod(text.c_str(), &end) - offset;
  if (text.empty() || *end != '\0' || !(std::fabs(mjd) < kMostDays)) return std::nullopt;
  return mjd;
}

// Whole seconds since MJD 0, cut.
long long wholeSeconds(double seconds) {
  return static_cast<long long>(std::floor(seconds + kSecondFuzz));
}

long long floorDiv(long long a, long long b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

}  // namespace

std::optional<double> exposureTime(const FrameHeader& header) {
  std::string rest;
  if (const auto day = dateMjd(header.dateObs, rest)) {
    const double midnight = static_cast<double>(*day * kSecondsPerDay);
    if (!rest.empty()) {
      if (rest[0] == 'T') {
        if (const auto time = timeOfDay(rest.substr(1))) return midnight + *time;
      }
    } else {
      for (const std::string* card : {&header.ut, &header.timeObs}) {
        if (const auto time = timeOfDay(*card)) return midnight + *time;
      }
    }
  }
  const double day = static_cast<double>(kSecondsPerDay);
  if (const auto mjd = mjdOf(header.mjdObs, 0.0)) return *mjd * day;
  if (const auto mjd = mjdOf(header.jd, kMjdToJd)) return *mjd * day;
  return std::nullopt;
}

std::string utDate(double seconds) {
  long long y = 0, m = 0, d = 0;
  civilFromDays(floorDiv(wholeSeconds(seconds), kSecondsPerDay) - kMjdOf1970, y, m, d);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", y, m, d);
  return text;
}

std::string utClock(double seconds) {
  const long long whole = wholeSeconds(seconds);
  const long long ofDay = whole - kSecondsPerDay * floorDiv(whole, kSecondsPerDay);
  char text[64];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", ofDay / kSecondsPerHour,
                ofDay / kSecondsPerMinute % 60, ofDay % kSecondsPerMinute);
  return text;
}

std::vector<std::size_t> nightOrder(const std::vector<std::optional<double>>& times) {
  std::vector<std::size_t> order(times.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&times](std::size_t a, std::size_t b) {
    if (!times[a] || !times[b]) return times[a].has_value() && !times[b].has_value();
    return *times[a] < *times[b];
  });
  return order;
}

std::string hduName(const std::string& name, int extension) {
  return extension == 0 ? name : name + "[" + std::to_string(extension) + "]";
}

std::string noteOf(const PassedOver& file) {
  return file.reason + " (" + visible(hduName(file.name, file.extension)) + ")  Skipped";
}

std::string frameType(const FrameHeader& header) {
  const std::string& card = header.dataType.empty() ? header.otherType : header.dataType;
  std::string value;
  for (char c : card) value += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto first = value.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  value = value.substr(first, value.find_last_not_of(' ') - first + 1);
  static const std::pair<const char*, const char*> kinds[] = {
      {"LIGHT", "OBJECT"}, {"SCIENCE", "OBJECT"}, {"LIGHT FRAME", "OBJECT"}, {"SKY", "OBJECT"},
      {"ZERO", "BIAS"},    {"BIAS FRAME", "BIAS"}, {"DARK FRAME", "DARK"}};
  for (const auto& [written, kind] : kinds) {
    if (value == written) return kind;
  }
  if (value.compare(0, 4, "FLAT") == 0) return "FLAT";
  return value;
}

}  // namespace tarnlook
