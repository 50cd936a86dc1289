// Drawing the night's charts as SVG text.
#include "page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <vector>

#include "frames.h"

namespace tarnlook {

namespace {

// The drawing, in SVG units: one panel, its plot area inside margins.
constexpr double kWidth = 480.0, kHeight = 150.0;
constexpr double kLeft = 44.0, kRight = 10.0, kTop = 8.0, kBottom = 22.0;
constexpr double kPointRadius = 3.5;
constexpr double kInset = 0.03;
constexpr double kHourSeconds = 3600.0;
constexpr int kValueTicks = 4;

struct Point {
  std::size_t frame;  // index in the report
  double time;        // seconds of UT
  double value;
  bool square;        // SEEING, not a measurement
};

std::string num(double value, const char* format = "%.1f") {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A round step for about kValueTicks ticks over `span`.
double stepFor(double span) {
  const double raw = span / kValueTicks, power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double m : {1.0, 2.0, 5.0}) {
    if (raw <= m * power) return m * power;
  }
  return 10.0 * power;
}

class Panel {
 public:
  Panel(double t0, double t1, const std::vector<Point>& points) : t0_(t0), t1_(t1) {
    double lo = points.front().value, hi = lo;
    for (const Point& p : points) lo = std::min(lo, p.value), hi = std::max(hi, p.value);
    const double step = stepFor(std::max(hi - lo, 1e-3 * std::max(1.0, std::fabs(hi))));
    v0_ = std::floor(lo / step) * step;
    v1_ = std::max(v0_ + step, std::ceil(hi / step) * step);
    step_ = step;
  }

  // The first and last points stand kInset of the width inside the frame.
  double x(double t) const {
    const double fraction = t1_ > t0_ ? (t - t0_) / (t1_ - t0_) : 0.5;
    return kLeft + (kWidth - kLeft - kRight) * (kInset + (1.0 - 2.0 * kInset) * fraction);
  }
  double y(double v) const { return kTop + (kHeight - kTop - kBottom) * (v1_ - v) / (v1_ - v0_); }

  std::string axes(const std::string& unit) const {
    std::string s = "<rect x=\"" + num(kLeft) + "\" y=\"" + num(kTop) + "\" width=\"" +
                    num(kWidth - kLeft - kRight) + "\" height=\"" + num(kHeight - kTop - kBottom) +
                    "\" fill=\"#fafafa\" stroke=\"#999\"/>";
    for (double v = v0_; v <= v1_ + step_ / 2; v += step_) {
      s += "<text x=\"" + num(kLeft - 4) + "\" y=\"" + num(y(v) + 4) + "\" text-anchor=\"end\">" +
           num(v, step_ < 1 ? "%.2g" : "%.0f") + "</text>";
    }
    s += "<text x=\"" + num(kLeft + 4) + "\" y=\"" + num(kTop + 12) + "\">" + unit + "</text>";
    const double first = std::ceil(t0_ / kHourSeconds) * kHourSeconds;
    for (double t = first; t <= t1_; t += kHourSeconds) {
      s += "<text x=\"" + num(x(t)) + "\" y=\"" + num(kHeight - 6) + "\" text-anchor=\"middle\">" +
           utClock(t).substr(0, 5) + "</text>";
    }
    return s;
  }

 private:
  double t0_, t1_, v0_ = 0.0, v1_ = 1.0, step_ = 1.0;
};

std::string pointsSvg(const NightReport& report, const Panel& panel, const std::vector<Point>& points,
                      const char* unit) {
  std::string s;
  for (const Point& p : points) {
    const ReportFrame& frame = report.frames[p.frame];
    const std::string title = htmlText(visible(hduName(frame.name, frame.extension))) +
                              (p.square ? ": SEEING " : ": ") + num(p.value, "%.2f") + " " + unit;
    const double cx = panel.x(p.time), cy = panel.y(p.value);
    s += "<a href=\"#f" + std::to_string(p.frame + 1) + "\"><title>" + title + "</title>";
    s += p.square ? "<rect x=\"" + num(cx - kPointRadius) + "\" y=\"" + num(cy - kPointRadius) +
                        "\" width=\"" + num(2 * kPointRadius) + "\" height=\"" +
                        num(2 * kPointRadius) + "\" fill=\"none\" stroke=\"#2a7\"/>"
                  : "<circle cx=\"" + num(cx) + "\" cy=\"" + num(cy) + "\" r=\"" +
                        num(kPointRadius) + "\" fill=\"" +
                        (frame.quality.flags.empty() ? "#246" : "#c00") + "\"/>";
    s += "</a>";
  }
  return s;
}

std::string panelSvg(const NightReport& report, double t0, double t1, const std::vector<Point>& points,
                     const std::string& name, const char* unit) {
  if (points.empty()) return "";
  const Panel panel(t0, t1, points);
  return "<svg class=\"chart\" viewBox=\"0 0 " + num(kWidth, "%.0f") + " " + num(kHeight, "%.0f") +
         "\" width=\"" + num(kWidth, "%.0f") + "\" height=\"" + num(kHeight, "%.0f") +
         "\" role=\"img\" aria-label=\"" + name + " against UT\" font-size=\"11\" "
         "font-family=\"sans-serif\">" + panel.axes(name) + pointsSvg(report, panel, points, unit) +
         "</svg>\n";
}

bool numberIn(const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(value);
}

// The points of the OBJECT frames with a time: pick gives the value, if any.
std::vector<Point> collect(const NightReport& report,
                           const std::function<std::optional<double>(const ReportFrame&)>& pick,
                           bool square = false) {
  std::vector<Point> points;
  for (std::size_t i = 0; i < report.frames.size(); ++i) {
    const ReportFrame& f = report.frames[i];
    if (!isSkyFrame(f.header, f.measurement) || !f.time) continue;
    if (const auto v = pick(f)) points.push_back({i, *f.time, *v, square});
  }
  return points;
}

}  // namespace

std::string nightChart(const NightReport& report) {
  const std::vector<Point> fwhm = collect(report, [](const ReportFrame& f) { return f.measurement.fwhmPixels; });
  if (fwhm.size() < 2) return "";
  const std::vector<Point> seeing = collect(report, [&](const ReportFrame& f) -> std::optional<double> {
    double arcsec = 0.0;
    const auto scale = scaleOf(report.scales, f.header);
    if (!scale || !numberIn(f.header.seeing, arcsec)) return std::nullopt;
    return arcsec / *scale;
  }, true);
  const bool perSecond = std::any_of(report.frames.begin(), report.frames.end(),
                                     [](const ReportFrame& f) { return f.quality.skyPerSecond.has_value(); });
  const std::vector<Point> sky = collect(report, [perSecond](const ReportFrame& f) {
    return perSecond ? f.quality.skyPerSecond : f.measurement.skyLevel;
  });
  const std::vector<Point> airmass = collect(report, [](const ReportFrame& f) -> std::optional<double> {
    double value = 0.0;
    return numberIn(f.header.airmass, value) ? std::optional<double>(value) : std::nullopt;
  });
  double t0 = fwhm.front().time, t1 = t0;
  for (const auto* set : {&fwhm, &sky, &airmass}) {
    for (const Point& p : *set) t0 = std::min(t0, p.time), t1 = std::max(t1, p.time);
  }
  std::vector<Point> both = fwhm;
  both.insert(both.end(), seeing.begin(), seeing.end());
  return "<h2 id=\"night\">The night</h2>\n<div class=\"plot\">\n<p>FWHM of the OBJECT frames, pixels" +
         std::string(seeing.empty() ? "" : " (squares: the observer's SEEING at the frame's scale)") +
         "; red: flagged. Each point links to its frame.</p>\n" +
         panelSvg(report, t0, t1, both, "FWHM px", "px") +
         panelSvg(report, t0, t1, sky, perSecond ? "sky ADU/s" : "sky ADU", perSecond ? "ADU/s" : "ADU") +
         panelSvg(report, t0, t1, airmass, "airmass", "") + "</div>\n";
}

}  // namespace tarnlook
