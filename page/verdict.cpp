// The night's verdict: the frames flagged, named with their reasons, and
// the one line that sums the night up.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "page.h"

namespace tarnlook {

namespace {

bool isSky(const ReportFrame& frame) { return isSkyFrame(frame.header, frame.measurement); }

// "an0002" for an0002.fit: the name the observer knows the frame by.
std::string shortName(const ReportFrame& frame) {
  std::string name = visible(hduName(frame.name, frame.extension));
  const std::string suffix = ".fit";
  if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
    name.erase(name.size() - suffix.size());
  return name;
}

// "an0002 trailed (a/b 2.3)", the reasons " and " between them.
std::string named(const ReportFrame& frame) {
  std::string text = shortName(frame);
  for (std::size_t k = 0; k < frame.quality.briefs.size(); ++k)
    text += (k == 0 ? " " : " and ") + frame.quality.briefs[k];
  return text;
}

// "N of M <what> frames flagged: ..." over the frames `pick` admits; empty when none is flagged.
template <typename Pick>
std::string flaggedOf(const NightReport& report, Pick pick, const std::string& what) {
  int count = 0, flagged = 0;
  std::string names;
  for (const ReportFrame& frame : report.frames) {
    if (!pick(frame)) continue;
    ++count;
    if (frame.quality.flags.empty()) continue;
    names += (flagged++ == 0 ? "" : ", ") + named(frame);
  }
  if (flagged == 0) return "";
  return std::to_string(flagged) + " of " + std::to_string(count) + " " + what +
         (count == 1 ? " frame" : " frames") + " flagged: " + names;
}

// "sky 12.3 ADU/s in R, 30.1 ADU/s in V": each filter's median, in the night's order.
std::string skyText(const NightReport& report) {
  std::vector<std::string> filters;
  for (const ReportFrame& frame : report.frames) {
    if (isSky(frame) && frame.quality.skyPerSecond &&
        std::find(filters.begin(), filters.end(), frame.header.filter) == filters.end())
      filters.push_back(frame.header.filter);
  }
  std::string text;
  for (const std::string& filter : filters) {
    std::vector<double> rates;
    for (const ReportFrame& frame : report.frames) {
      if (isSky(frame) && frame.quality.skyPerSecond && frame.header.filter == filter)
        rates.push_back(*frame.quality.skyPerSecond);
    }
    text += (text.empty() ? "sky " : ", ") + measureText(medianOf(rates), 1) + " ADU/s" +
            (filter.empty() ? "" : " in " + htmlText(visible(filter)));
  }
  return text;
}

}  // namespace

std::string flaggedFrames(const NightReport& report) {
  std::string text = flaggedOf(report, isSky, "OBJECT");
  const std::string others = flaggedOf(report, [](const ReportFrame& f) { return !isSky(f); }, "calibration");
  if (!others.empty()) text += (text.empty() ? "" : "; ") + others;
  return text;
}

std::string nightSummary(const NightReport& report) {
  int sky = 0, usable = 0;
  std::vector<double> pixels, arcsec, seeing, light;
  for (const ReportFrame& frame : report.frames) {
    if (!isSky(frame)) continue;
    ++sky;
    const FrameQuality& q = frame.quality;
    usable += q.flags.empty() && frame.measurement.notMeasured.empty() && frame.measurement.fwhmPixels;
    if (frame.measurement.fwhmPixels) pixels.push_back(*frame.measurement.fwhmPixels);
    if (q.fwhmArcsec) arcsec.push_back(*q.fwhmArcsec);
    if (q.transparency) light.push_back(*q.transparency);
    double value = 0.0;
    if (numberIn(frame.header.seeing, value)) seeing.push_back(value);
  }
  if (sky == 0) return "";
  std::string text = "Usable OBJECT frames: " + std::to_string(usable) + " of " + std::to_string(sky);
  if (!pixels.empty()) {
    text += "; median FWHM " + measureText(medianOf(pixels)) + " px";
    if (!arcsec.empty()) text += ", " + measureText(medianOf(arcsec)) + " arcsec";
    if (!seeing.empty()) text += " against SEEING " + measureText(medianOf(seeing), 1);
  }
  const std::string skies = skyText(report);
  if (!skies.empty()) text += "; " + skies;
  if (!light.empty()) {
    const auto least = *std::min_element(light.begin(), light.end());
    text += "; transparency at least " + measureText(100.0 * least, 0) + " % of the best";
  }
  return "<p class=\"summary\">" + text + "</p>\n";
}

}  // namespace tarnlook
