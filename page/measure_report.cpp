// The measurements and flags of a night's frames, as cells and fields.
#include "page.h"

#include <cmath>
#include <cstdio>

#include "frames.h"

namespace tarnlook {

namespace {

// A number with its significant digits (measureText): 2.2e-19 is not 0.0.
std::string number(double value, int decimals) { return measureText(value, decimals); }

std::string optional(const std::optional<double>& value, int decimals) {
  return value ? measureText(value, decimals) : "";
}

// A value read from the file, all its digits ("%.10g": 65535, 4, 0.000125).
std::string exact(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

std::string count(long long value, bool known) { return known ? std::to_string(value) : ""; }

std::string flagsText(const FrameQuality& quality) {
  std::string text;
  for (const std::string& flag : quality.flags) text += (text.empty() ? "" : "; ") + flag;
  return text;
}

std::string td(const std::string& text, const char* cls = "n") {
  return "<td class=\"" + std::string(cls) + "\">" + text + "</td>";
}

}  // namespace

const char* const kMeasureStyle =
    ".flag{color:#a00000;font-weight:bold}td.flags{min-width:14em;max-width:24em;white-space:normal}"
    ".chart{max-width:100%;height:auto;display:block}.chart a:target circle{stroke:#d89a00}"
    ".plot{margin:1em 0}.plot p{margin:.2em 0;font-size:13px}";

std::optional<PixelScale> scaleFrom(const std::string& text) {
  PixelScale scale;
  int used = 0;
  if (std::sscanf(text.c_str(), "%lldx%lld=%lf%n", &scale.naxis1, &scale.naxis2,
                  &scale.arcsecPerPixel, &used) != 3 ||
      static_cast<std::size_t>(used) != text.size() || scale.naxis1 < 1 || scale.naxis2 < 1 ||
      !(scale.arcsecPerPixel > 0.0) || !std::isfinite(scale.arcsecPerPixel)) {
    return std::nullopt;
  }
  return scale;
}

std::optional<double> scaleOf(const std::vector<PixelScale>& scales, const FrameHeader& header) {
  for (const PixelScale& s : scales) {
    if (s.naxis1 == header.naxis1 && s.naxis2 == header.naxis2) return s.arcsecPerPixel;
  }
  return std::nullopt;
}

std::string measureCsvHeader() {
  return ",level_adu,noise_adu,maximum_adu,saturated_pixels,binning,stars,fwhm_px,fwhm_arcsec,SEEING,"
         "elongation,sky_adu,sky_adu_per_s,saturated_stars,target_saturated,beta,axis_ratio,"
         "stars_fitted,half_light_diameter_px,cosmic_rays,transparency,background_gradient,flags,"
         "not_measured";
}

std::string measureCsvFields(const ReportFrame& frame) {
  const Measurement& m = frame.measurement;
  const FrameQuality& q = frame.quality;
  const bool every = m.binning > 0;  // else not even a binned copy was read
  std::string text = "," + (every ? number(m.median, 1) : "") + "," + (every ? number(m.noise, 2) : "") +
                     "," + (every ? exact(m.maximum) : "") + "," + count(m.saturatedPixels, every) +
                     "," + std::to_string(m.binning) + ",";
  const bool stars = m.starsMeasured;
  if (stars) {
    text += std::to_string(m.stars) + "," + optional(m.fwhmPixels, 2) + "," + optional(q.fwhmArcsec, 2) + "," +
            csvField(visible(frame.header.seeing)) + "," + optional(m.elongation, 2) + "," +
            optional(m.skyLevel, 1) + "," + optional(q.skyPerSecond, 3) + "," + std::to_string(m.saturatedStars) +
            "," + (m.targetSaturated ? (*m.targetSaturated ? "yes" : "no") : "");
  } else {
    text += ",,,,,,,,";
  }
  text += "," + optional(m.beta, 2) + "," + optional(m.axisRatio, 2) + "," + count(m.starsFitted, stars) + "," +
          optional(m.halfLightDiameter, 2) + "," + count(m.cosmicRays, stars) + "," + optional(q.transparency, 2) +
          "," + optional(m.backgroundGradient, 3);
  return text + "," + csvField(visible(flagsText(q))) + "," + csvField(visible(m.notMeasured));
}

std::string measureHeadCells() {
  return "<th>Flags</th><th>Stars</th><th>FWHM (px)</th><th>FWHM (arcsec) / SEEING</th><th>beta</th>"
         "<th>a/b</th><th>Stars fitted</th><th>Half-light diameter (px)</th><th>Cosmic rays</th>"
         "<th>Sky (ADU/s)</th><th>Transparency</th><th>Gradient</th><th>Level (ADU)</th>"
         "<th>Noise (ADU)</th><th>Max (ADU)</th><th>Saturated pixels</th>";
}

std::string measureCells(const ReportFrame& frame) {
  const Measurement& m = frame.measurement;
  const FrameQuality& q = frame.quality;
  std::string flags = htmlText(visible(flagsText(q)));
  if (!m.notMeasured.empty()) {
    flags = "not measured: " + htmlText(visible(m.notMeasured)) + (flags.empty() ? "" : "; " + flags);
  } else if (m.starsMeasured && m.stars == 0 && isSkyFrame(frame.header, m)) {
    flags = "no stars" + (flags.empty() ? "" : "; " + flags);
  }
  std::string text = "<td class=\"flags\">" + (q.flags.empty() ? flags : "<span class=\"flag\">" + flags + "</span>") +
                     "</td>";
  const bool stars = m.starsMeasured;
  const std::string seeing = q.fwhmArcsec ? number(*q.fwhmArcsec, 2) + " / " + htmlText(visible(frame.header.seeing)) : "";
  text += td(stars ? std::to_string(m.stars) : "") + td(optional(m.fwhmPixels, 2)) + td(seeing) +
          td(optional(m.beta, 2)) + td(optional(m.elongation, 2)) + td(count(m.starsFitted, stars)) +
          td(optional(m.halfLightDiameter, 2)) + td(count(m.cosmicRays, stars)) + (q.skyPerSecond ? "<td class=\"n\" title=\"bias from " + q.biasFrom + "\">" + number(*q.skyPerSecond, 2) + "</td>" : td("")) +
          td(optional(q.transparency, 2)) + td(optional(m.backgroundGradient, 3));
  const bool every = m.binning > 0;  // else not even a binned copy was read
  return text + td(every ? number(m.median, 1) : "") + td(every ? number(m.noise, 2) : "") +
         td(every ? exact(m.maximum) : "") + td(count(m.saturatedPixels, every));
}

std::string flagCaption(const ReportFrame& frame) {
  std::string text;
  for (const std::string& flag : frame.quality.flags) {
    text += "<br><span class=\"flag\">" + htmlText(visible(flag)) + "</span>";
  }
  return text;
}

}  // namespace tarnlook
