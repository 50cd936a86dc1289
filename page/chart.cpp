// Drawing the night's charts as SVG text.
#include "page.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
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
  bool edge = false;  // impossible: drawn at the axis's lower edge, not on the scale
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
    // The scale is the possible values' alone.
    double lo = 0.0, hi = 0.0;
    bool first = true;
    for (const Point& p : points) {
      if (p.edge) continue;
      lo = first ? p.value : std::min(lo, p.value), hi = first ? p.value : std::max(hi, p.value);
      first = false;
    }
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
  // Larger values higher up.
  double y(double v) const { return kTop + (kHeight - kTop - kBottom) * (v1_ - v) / (v1_ - v0_); }
  double bottom() const { return kHeight - kBottom; }

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
    return s + "<text x=\"" + num(kWidth - kRight) + "\" y=\"" + num(kHeight - 6) +
           "\" text-anchor=\"end\">UT</text>";
  }

 private:
  double t0_, t1_, v0_ = 0.0, v1_ = 1.0, step_ = 1.0;
};

// One panel: a quantity in one unit, and what its red marks mean.
struct Series {
  std::string name;  // "FWHM (px)": the quantity and its unit
  const char* unit;
  std::optional<Quantity> flag;  // the frames flagged for this are red; none: no frame is
  std::vector<Point> points;
};

std::string marker(const Point& p, const Panel& panel, bool red) {
  const double cx = panel.x(p.time), cy = p.edge ? panel.bottom() : panel.y(p.value);
  if (p.square)
    return "<rect x=\"" + num(cx - kPointRadius) + "\" y=\"" + num(cy - kPointRadius) + "\" width=\"" +
           num(2 * kPointRadius) + "\" height=\"" + num(2 * kPointRadius) + "\" fill=\"none\" stroke=\"#2a7\"/>";
  if (p.edge)  // a triangle standing on the axis, pointing below it
    return "<path class=\"edge\" d=\"M" + num(cx - 5) + " " + num(cy - 8) + "h10l-5 8z\" fill=\"#c00\"/>";
  return "<circle cx=\"" + num(cx) + "\" cy=\"" + num(cy) + "\" r=\"" + num(kPointRadius) + "\" fill=\"" +
         (red ? "#c00" : "#246") + "\"/>";
}

std::string pointsSvg(const NightReport& report, const Panel& panel, const Series& series) {
  std::string s;
  for (const Point& p : series.points) {
    const ReportFrame& frame = report.frames[p.frame];
    const std::string title = htmlText(visible(hduName(frame.name, frame.extension))) +
                              (p.square ? ": SEEING " : ": ") + measureText(p.value) +
                              (*series.unit ? " " : "") + series.unit + (p.edge ? " (impossible)" : "");
    s += "<a href=\"#f" + std::to_string(p.frame + 1) + "\"><title>" + title + "</title>" +
         marker(p, panel, series.flag && frame.quality.flagged(*series.flag)) + "</a>";
  }
  return s;
}

std::string panelSvg(const NightReport& report, double t0, double t1, const Series& series) {
  if (series.points.empty()) return "";
  const Panel panel(t0, t1, series.points);
  return "<svg class=\"chart\" viewBox=\"0 0 " + num(kWidth, "%.0f") + " " + num(kHeight, "%.0f") +
         "\" width=\"" + num(kWidth, "%.0f") + "\" height=\"" + num(kHeight, "%.0f") +
         "\" role=\"img\" aria-label=\"" + series.name + " against UT\" font-size=\"11\" "
         "font-family=\"sans-serif\">" + panel.axes(series.name) + pointsSvg(report, panel, series) + "</svg>\n";
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

// Why a sky frame has no value to draw, "" when it has one.
std::string whyNot(const ReportFrame& f, const char* card, bool has) {
  if (has) return "";
  if (!f.time) return "no time";
  if (!f.measurement.notMeasured.empty()) return "not measured: " + f.measurement.notMeasured;
  if (f.measurement.starsMeasured && f.measurement.stars == 0 && std::string(card) != "AIRMASS") return "no stars";
  return std::string("no ") + card;
}

// "Not drawn: an0003.fit (no stars), ...", the frames without a value; empty when none.
std::string missing(const NightReport& report, const char* card,
                    const std::function<bool(const ReportFrame&)>& has) {
  std::string text;
  for (const ReportFrame& f : report.frames) {
    if (!isSkyFrame(f.header, f.measurement)) continue;
    const std::string why = whyNot(f, card, f.time && has(f));
    if (!why.empty()) text += (text.empty() ? " Not drawn: " : ", ") + visible(hduName(f.name, f.extension)) + " (" + why + ")";
  }
  return htmlText(text);
}

std::string caption(const std::string& text) { return "<p>" + text + "</p>\n"; }

}  // namespace

std::string nightChart(const NightReport& report) {
  Series fwhm{"FWHM (px)", "px", Quantity::kFwhm,
                 collect(report, [](const ReportFrame& f) { return f.measurement.fwhmPixels; })};
  if (fwhm.points.size() < 2) return "";
  const std::vector<Point> seeing = collect(report, [&](const ReportFrame& f) -> std::optional<double> {
    double arcsec = 0.0;
    const auto scale = scaleOf(report.scales, f.header);
    if (!scale || !numberIn(f.header.seeing, arcsec)) return std::nullopt;
    return arcsec / *scale;
  }, true);
  fwhm.points.insert(fwhm.points.end(), seeing.begin(), seeing.end());
  const Series sky{"sky (ADU/s)", "ADU/s", Quantity::kSky,
                      collect(report, [](const ReportFrame& f) { return f.quality.skyPerSecond; })};
  const Series light{"transparency (fraction of the best)", "", Quantity::kTransparency,
                        collect(report, [](const ReportFrame& f) { return f.quality.transparency; })};
  Series airmass{"airmass", "", std::nullopt,
                    collect(report, [](const ReportFrame& f) -> std::optional<double> {
                      double value = 0.0;
                      return numberIn(f.header.airmass, value) ? std::optional<double>(value) : std::nullopt;
                    })};
  for (Point& p : airmass.points) p.edge = impossibleAirmass(report.frames[p.frame].header);
  double t0 = fwhm.points.front().time, t1 = t0;
  for (const Series* series : std::initializer_list<const Series*>{&fwhm, &sky, &light, &airmass}) {
    for (const Point& p : series->points) t0 = std::min(t0, p.time), t1 = std::max(t1, p.time);
  }
  const std::string fwhmCaption =
      "FWHM of the OBJECT frames, px" +
      std::string(seeing.empty() ? "" : " (squares: the observer's SEEING at the frame's scale)") +
      "; red: flagged for the FWHM or trailing. Each point links to its frame." +
      missing(report, "FWHM", [](const ReportFrame& f) { return f.measurement.fwhmPixels.has_value(); });
  const std::string skyCaption =
      "Sky above the bias per second of EXPTIME, ADU/s; red: flagged for the sky or its gradient." +
      missing(report, "EXPTIME or sky", [](const ReportFrame& f) { return f.quality.skyPerSecond.has_value(); });
  const std::string lightCaption =
      "Transparency: the stars' light against the best frame of the same target and filter; red: flagged "
      "for cloud." + missing(report, "stars matched", [](const ReportFrame& f) { return f.quality.transparency.has_value(); });
  const std::string airmassCaption =
      "AIRMASS of the header; an impossible one (below 1) is a red triangle at the lower edge." +
      missing(report, "AIRMASS", [](const ReportFrame& f) { double v = 0.0; return numberIn(f.header.airmass, v); });
  return "<h2 id=\"night\">The night</h2>\n<div class=\"plot\">\n" + caption(fwhmCaption) +
         panelSvg(report, t0, t1, fwhm) + caption(skyCaption) + panelSvg(report, t0, t1, sky) +
         (light.points.empty() ? "" : caption(lightCaption) + panelSvg(report, t0, t1, light)) +
         caption(airmassCaption) + panelSvg(report, t0, t1, airmass) + "</div>\n";
}

}  // namespace tarnlook
