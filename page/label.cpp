// Label lines and console lines.
#include "page.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "frames.h"

namespace tarnlook {

namespace {

std::string fitted(const std::string& text, std::size_t maxChars) {
  std::string line;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    line.push_back(u >= 0x20 && u < 0x7F ? c : '?');
  }
  if (line.size() > maxChars) {
    line.resize(maxChars);
    if (maxChars > 0) line.back() = '~';
  }
  return line;
}

void append(std::string& line, const std::string& piece) {
  if (piece.empty()) return;
  if (!line.empty()) line += "  ";
  line += piece;
}

// Six significant digits, independent of any locale: the program never
// sets one, so printf works in the C locale.
std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

}  // namespace

std::vector<std::string> labelLines(const std::string& name, const FrameHeader& header,
                                    std::size_t maxChars) {
  std::vector<std::string> lines{fitted(name, maxChars)};
  std::string what;
  append(what, header.object);
  append(what, header.dataType);
  append(what, header.filter);
  if (what.empty()) {
    what = std::to_string(header.naxis1) + " x " + std::to_string(header.naxis2);
  }
  lines.push_back(fitted(what, maxChars));
  std::string when;
  if (!header.ut.empty()) append(when, "UT " + header.ut);
  const std::string airmass = shownAirmass(header);
  if (!airmass.empty()) {
    append(when, "airmass " + airmass + (impossibleAirmass(header) ? " impossible" : ""));
  }
  if (!when.empty()) lines.push_back(fitted(when, maxChars));
  return lines;
}

std::string shownAirmass(const FrameHeader& header) {
  if (header.dataType != "OBJECT") return "";
  char* end = nullptr;
  const double value = std::strtod(header.airmass.c_str(), &end);
  const bool zero = !header.airmass.empty() && *end == '\0' && value == 0.0;
  return zero ? "" : header.airmass;
}

bool impossibleAirmass(const FrameHeader& header) {
  const std::string airmass = shownAirmass(header);
  char* end = nullptr;
  const double value = std::strtod(airmass.c_str(), &end);
  return !airmass.empty() && *end == '\0' && std::isfinite(value) && value < 1.0;
}

std::string consoleLine(const std::string& name, const FrameHeader& header,
                        const DisplayLimits& limits) {
  return visible(name) + "  " + (header.object.empty() ? "-" : visible(header.object)) + "  " +
         number(limits.low) + ".." + number(limits.high);
}

std::string limitText(double value) { return number(value); }

}  // namespace tarnlook
