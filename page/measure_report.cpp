// The measurements and flags of a night's frames, as cells and fields.
#include "page.h"

#include <cstdio>

#include "frames.h"

namespace tarnlook {

namespace {

std::string number(double value, const char* format) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string optional(const std::optional<double>& value, const char* format) {
  return value ? number(*value, format) : "";
}

std::string flagsText(const FrameQuality& quality) {
  std::string text;
  for (const std::string& flag : quality.flags) text += (text.empty() ? "" : "; ") + flag;
  return text;
}

std::optional<double> arcsec(const ReportFrame& frame, const std::vector<PixelScale>& scales) {
  const auto scale = scaleOf(scales, frame.header);
  if (!scale || !frame.measurement.fwhmPixels) return std::nullopt;
  return *frame.measurement.fwhmPixels * *scale;
}

std::string td(const std::string& text, const char* cls = "n") {
  return "<td class=\"" + std::string(cls) + "\">" + text + "</td>";
}

}  // namespace

const char* const kMeasureStyle =
    ".flag{color:#a00000;font-weight:bold}td.flags{min-width:14em}"
    ".chart{max-width:100%;height:auto;display:block}.chart a:target circle{stroke:#d89a00}"
    ".plot{margin:1em 0}.plot p{margin:.2em 0;font-size:13px}";

std::optional<double> scaleOf(const std::vector<PixelScale>& scales, const FrameHeader& header) {
  for (const PixelScale& s : scales) {
    if (s.naxis1 == header.naxis1 && s.naxis2 == header.naxis2) return s.arcsecPerPixel;
  }
  return std::nullopt;
}

std::string measureCsvHeader() {
  return ",level,noise,maximum,saturated_pixels,binning,stars,fwhm_px,fwhm_arcsec,SEEING,"
         "elongation,sky,sky_per_s,saturated_stars,target_saturated,flags,not_measured";
}

std::string measureCsvFields(const ReportFrame& frame, const std::vector<PixelScale>& scales) {
  const Measurement& m = frame.measurement;
  const bool every = m.binning > 0;  // else not even a binned copy was read
  std::string text = "," + (every ? number(m.median, "%.1f") : "") + "," +
                     (every ? number(m.noise, "%.2f") : "") + "," +
                     (every ? number(m.maximum, "%.10g") : "") + "," +
                     (every ? std::to_string(m.saturatedPixels) : "") + "," +
                     std::to_string(m.binning) + ",";
  if (m.starsMeasured) {
    text += std::to_string(m.stars) + "," + optional(m.fwhmPixels, "%.2f") + "," +
            optional(arcsec(frame, scales), "%.2f") + "," + csvField(visible(frame.header.seeing)) +
            "," + optional(m.elongation, "%.2f") + "," + optional(m.skyLevel, "%.1f") + "," +
            optional(frame.quality.skyPerSecond, "%.3f") + "," + std::to_string(m.saturatedStars) +
            "," + (m.targetSaturated ? (*m.targetSaturated ? "yes" : "no") : "");
  } else {
    text += ",,,,,,,,";
  }
  return text + "," + csvField(visible(flagsText(frame.quality))) + "," +
         csvField(visible(m.notMeasured));
}

std::string measureHeadCells() {
  return "<th>Stars</th><th>FWHM px</th><th>FWHM&#8243; / SEEING</th><th>a/b</th>"
         "<th>Sky/s</th><th>Level</th><th>Noise</th><th>Max</th><th>Sat. px</th><th>Flags</th>";
}

std::string measureCells(const ReportFrame& frame, const std::vector<PixelScale>& scales) {
  const Measurement& m = frame.measurement;
  std::string text;
  if (m.starsMeasured) {
    const auto seconds = arcsec(frame, scales);
    text = td(std::to_string(m.stars)) + td(optional(m.fwhmPixels, "%.2f")) +
           td(seconds ? number(*seconds, "%.2f") + " / " + htmlText(visible(frame.header.seeing)) : "") +
           td(optional(m.elongation, "%.2f")) + td(optional(frame.quality.skyPerSecond, "%.2f"));
  } else {
    text = td("") + td("") + td("") + td("") + td("");
  }
  const bool every = m.binning > 0;  // else not even a binned copy was read
  text += td(every ? number(m.median, "%.1f") : "") + td(every ? number(m.noise, "%.2f") : "") +
          td(every ? number(m.maximum, "%.10g") : "") +
          td(every ? std::to_string(m.saturatedPixels) : "");
  std::string flags = htmlText(visible(flagsText(frame.quality)));
  if (!m.notMeasured.empty()) {
    flags = "not measured: " + htmlText(visible(m.notMeasured)) + (flags.empty() ? "" : "; " + flags);
  }
  return text + "<td class=\"flags\">" +
         (frame.quality.flags.empty() ? flags : "<span class=\"flag\">" + flags + "</span>") + "</td>";
}

std::string flagCaption(const ReportFrame& frame) {
  std::string text;
  for (const std::string& flag : frame.quality.flags) {
    text += "<br><span class=\"flag\">" + htmlText(visible(flag)) + "</span>";
  }
  return text;
}

}  // namespace tarnlook
