// Composing the page and the table of a night.
#include "night_report.h"

#include <algorithm>

#include "escape.h"

namespace tarnlook {

namespace {

// The sheets are shown at their own size, scrolling sideways on a narrow
// screen, because the areas of an image map do not scale with the image;
// on paper they shrink to the page width.
const char* const kStyle =
    "body{font:15px/1.4 sans-serif;margin:1em;color:#111}"
    "h1{font-size:1.5em;margin:0}h2{font-size:1.15em}"
    ".sheet{overflow-x:auto;margin:1em 0}.sheet img{display:block}"
    "table{border-collapse:collapse;font-size:14px}"
    "th,td{border:1px solid #bbb;padding:2px 6px;text-align:left;vertical-align:top;"
    "overflow-wrap:anywhere}"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}"
    "tr:target{background:#ffe9a8}"
    "@media print{.sheet{overflow:visible}.sheet img{max-width:100%;height:auto}"
    "tr{break-inside:avoid}}";

// A text from a file as HTML text or attribute value.
std::string html(const std::string& bytes) { return htmlText(visible(bytes)); }

std::string cell(const std::string& text, bool number = false) {
  return std::string(number ? "<td class=\"n\">" : "<td>") + text + "</td>";
}

std::string rowId(std::size_t index) { return "f" + std::to_string(index + 1); }

std::string heading(const NightReport& report) {
  const auto ut = [](const std::string& value) { return value.empty() ? "-" : html(value); };
  const std::size_t n = report.frames.size();
  return "<h1>" + html(report.folder) + "</h1>\n<p>UT " + ut(report.frames.front().header.ut) +
         " to " + ut(report.frames.back().header.ut) + ", " + std::to_string(n) +
         (n == 1 ? " frame" : " frames") + "</p>\n";
}

std::string area(const Box& box, const std::string& name, std::size_t index) {
  return "<area shape=\"rect\" coords=\"" + std::to_string(box.x) + "," + std::to_string(box.y) +
         "," + std::to_string(box.x + box.width) + "," + std::to_string(box.y + box.height) +
         "\" href=\"#" + rowId(index) + "\" alt=\"" + html(name) + "\" title=\"" + html(name) +
         "\">\n";
}

// A sheet and its map; `first` is the index of its first frame.
std::string sheetFigure(const ReportSheet& sheet, const NightReport& report, std::size_t first) {
  const std::string map = "sheet-" + std::to_string(first / kFramesPerSheet + 1);
  std::string text = "<div class=\"sheet\"><img src=\"" + htmlText(sheet.name) + "\" width=\"" +
                     std::to_string(sheet.layout.width) + "\" height=\"" +
                     std::to_string(sheet.layout.height) + "\" usemap=\"#" + map + "\" alt=\"" +
                     htmlText(sheet.name) + "\"></div>\n<map name=\"" + map + "\">\n";
  for (std::size_t i = 0; i < sheet.layout.thumbnails.size(); ++i) {
    text += area(sheet.layout.thumbnails[i], report.frames[first + i].name, first + i);
  }
  return text + "</map>\n";
}

std::string frameRow(const ReportFrame& frame, std::size_t index) {
  const FrameHeader& h = frame.header;
  return "<tr id=\"" + rowId(index) + "\">" + cell(html(frame.name)) + cell(html(h.object)) +
         cell(html(h.dataType)) + cell(html(h.filter)) + cell(html(h.exptime), true) +
         cell(html(h.ut)) + cell(html(h.airmass), true) + cell(limitText(frame.limits.low), true) +
         cell(limitText(frame.limits.high), true) + "</tr>\n";
}

std::string frameTable(const NightReport& report) {
  std::string text =
      "<table>\n<thead><tr><th>File</th><th>OBJECT</th><th>DATA-TYP</th><th>FILTER</th>"
      "<th>EXPTIME</th><th>UT</th><th>AIRMASS</th><th>zscale low</th><th>zscale high</th>"
      "</tr></thead>\n<tbody>\n";
  for (std::size_t i = 0; i < report.frames.size(); ++i) text += frameRow(report.frames[i], i);
  return text + "</tbody>\n</table>\n";
}

std::string passedOverList(const NightReport& report) {
  if (report.passedOver.empty()) return "";
  std::string text = "<h2>Passed over</h2>\n<ul>\n";
  // A note shows the name in its visible() form already.
  for (const std::string& note : report.passedOver) text += "<li>" + htmlText(note) + "</li>\n";
  return text + "</ul>\n";
}

}  // namespace

std::vector<ReportSheet> reportSheets(const std::vector<ReportFrame>& frames, int lineHeight) {
  std::vector<ReportSheet> sheets;
  const std::size_t perSheet = static_cast<std::size_t>(kFramesPerSheet);
  for (std::size_t first = 0; first < frames.size(); first += perSheet) {
    std::vector<ThumbnailSize> sizes;
    for (std::size_t i = first; i < std::min(frames.size(), first + perSheet); ++i) {
      sizes.push_back(frames[i].size);
    }
    sheets.push_back({sheetName(static_cast<int>(sheets.size()) + 1, frames.size() > perSheet),
                      layOutSheet(sizes, lineHeight)});
  }
  return sheets;
}

std::string reportPage(const NightReport& report, int lineHeight) {
  if (report.frames.empty()) return "";
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'; "
      "object-src 'none'; base-uri 'none'; form-action 'none'\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>" + html(report.folder) + ": tarnlook</title>\n<style>" + kStyle +
      "</style>\n</head>\n<body>\n" + heading(report);
  std::size_t first = 0;
  for (const ReportSheet& sheet : reportSheets(report.frames, lineHeight)) {
    page += sheetFigure(sheet, report, first);
    first += sheet.layout.thumbnails.size();
  }
  return page + frameTable(report) + passedOverList(report) + "</body>\n</html>\n";
}

std::string reportTable(const NightReport& report) {
  std::string table = "file,OBJECT,DATA-TYP,FILTER,EXPTIME,UT,AIRMASS,zscale_low,zscale_high\r\n";
  for (const ReportFrame& frame : report.frames) {
    const FrameHeader& h = frame.header;
    for (const std::string* text : {&frame.name, &h.object, &h.dataType, &h.filter, &h.exptime,
                                    &h.ut, &h.airmass}) {
      table += csvField(visible(*text)) + ",";
    }
    table += limitText(frame.limits.low) + "," + limitText(frame.limits.high) + "\r\n";
  }
  return table;
}

}  // namespace tarnlook
