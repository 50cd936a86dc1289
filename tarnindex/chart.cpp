// A year of nights as an inline SVG chart: each series a colour, each
// night a dot, the months along the bottom.
#include <algorithm>
#include <cmath>

#include "index.h"

namespace tarnindex {

namespace {

constexpr double kWidth = 720, kHeight = 200;               // the viewBox, in its own units
constexpr double kLeft = 56, kRight = 8, kTop = 10, kBottom = 24;  // the margins around the plot
constexpr const char* kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#8c564b",
                                    "#e377c2", "#17becf"};
constexpr const char* kMonths = "JFMAMJJASOND";
constexpr int kMonthStarts[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

std::string at(double value) { return numberText(std::round(value * 10) / 10); }

std::string colourOf(std::size_t series) { return kColours[series % (sizeof kColours / sizeof *kColours)]; }

}  // namespace

std::string yearChart(const std::string& title, const std::vector<Series>& series, int daysInYear) {
  double low = INFINITY, high = -INFINITY;
  for (const Series& s : series) {
    for (const auto& point : s.points) low = std::min(low, point.second), high = std::max(high, point.second);
  }
  if (!(low <= high)) return "";
  if (high - low < 1e-9) low -= 1, high += 1;
  const double plotWidth = kWidth - kLeft - kRight, plotHeight = kHeight - kTop - kBottom;
  const auto x = [&](double day) { return kLeft + plotWidth * day / daysInYear; };
  const auto y = [&](double v) { return kTop + plotHeight * (high - v) / (high - low); };
  std::string svg = "<figure class=\"chart\"><figcaption>" + html(title) + "</figcaption>\n"
                    "<svg viewBox=\"0 0 " + at(kWidth) + " " + at(kHeight) + "\" role=\"img\" aria-label=\"" +
                    html(title) + "\">\n<path d=\"M" + at(kLeft) + " " + at(kTop) + "V" + at(kTop + plotHeight) +
                    "H" + at(kWidth - kRight) + "\" stroke=\"#888\" fill=\"none\"/>\n";
  for (const double v : {low, high}) {
    svg += "<text x=\"" + at(kLeft - 4) + "\" y=\"" + at(y(v) + 4) + "\" text-anchor=\"end\">" +
           numberText(std::round(v * 1000) / 1000) + "</text>\n";
  }
  for (int m = 0; m < 12; ++m) {
    svg += "<text x=\"" + at(x(kMonthStarts[m] + 15)) + "\" y=\"" + at(kHeight - 6) + "\" text-anchor=\"middle\">" +
           std::string(1, kMonths[m]) + "</text>\n";
  }
  std::string legend;
  for (std::size_t i = 0; i < series.size(); ++i) {
    svg += "<path stroke=\"" + colourOf(i) + "\" stroke-width=\"5\" stroke-linecap=\"round\" d=\"";
    for (const auto& [day, value] : series[i].points) svg += "M" + at(x(day)) + " " + at(y(value)) + "h0";
    svg += "\"/>\n";
    legend += "<span style=\"color:" + colourOf(i) + "\">&#9679;</span> " + html(series[i].name) + " ";
  }
  return svg + "</svg>\n<div class=\"legend\">" + legend + "</div></figure>\n";
}

}  // namespace tarnindex
