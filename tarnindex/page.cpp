// The archive's pages, one a year, and its table of nights.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

#include "index.h"

namespace tarnindex {

namespace {

const char* const kStyle =
    "body{font:15px/1.4 sans-serif;margin:1em;color:#111;overflow-wrap:anywhere}"
    "h1{font-size:1.5em;margin:0}h2{font-size:1.15em}"
    ".years a,.years strong{margin-right:.6em}"
    ".charts{display:grid;grid-template-columns:repeat(auto-fill,minmax(min(100%,460px),1fr));gap:12px}"
    "figure{margin:0}figcaption{font-weight:bold;font-size:13px}"
    "svg{display:block;width:100%;height:auto;font-size:13px}.legend{font-size:12px}"
    ".strip svg{height:28px}"
    ".rows{overflow-x:auto}"
    "table{border-collapse:collapse;font-size:14px;overflow-wrap:normal}"
    "th,td{border:1px solid #bbb;padding:2px 6px;text-align:left;vertical-align:top}"
    "th,.n{white-space:nowrap}td.n{text-align:right;font-variant-numeric:tabular-nums}"
    ".well{background:#effbef}.flags{background:#fff6d8}.problems{background:#fbe0e0}"
    ".passed{border:3px solid #c00;background:#fff4f4;padding:0 1em}";

const char* const kHead =
    "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'; "
    "object-src 'none'; base-uri 'none'; form-action 'none'\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";

const std::map<std::string, std::string> kVerdictColours = {
    {"well", "#2a2"}, {"flags", "#e0a000"}, {"problems", "#c00"}};

using Measures = std::vector<std::pair<long long, Measure>>;

// Days from the first of January of the date's year to the date.
int dayOfYear(const std::string& date) {
  static const int starts[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const int year = std::stoi(date.substr(0, 4)), month = std::stoi(date.substr(5, 2));
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return starts[month - 1] + (leap && month > 2) + std::stoi(date.substr(8, 2)) - 1;
}

int daysIn(const std::string& year) {
  const int y = std::stoi(year);
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0 ? 366 : 365;
}

// A night folder's page, as a link from the root: each byte outside the
// unreserved ones and '/' as %XX.
std::string pageLink(const std::string& path) {
  std::string link;
  for (const unsigned char c : (path == "." ? std::string() : path + "/") + "tarnlook.html") {
    if (std::isalnum(c) || std::string("-._~/").find(static_cast<char>(c)) != std::string::npos) {
      link += static_cast<char>(c);
    } else {
      const char* hex = "0123456789ABCDEF";
      link += std::string("%") + hex[c >> 4] + hex[c & 15];
    }
  }
  return link;
}

std::string cell(const std::optional<double>& value, int decimals) {
  if (!value) return "";
  const double scale = std::pow(10.0, decimals);
  return numberText(std::round(*value * scale) / scale);
}

std::string fwhmCell(const NightRow& n) {
  if (n.fwhmArcsec) return cell(n.fwhmArcsec, 2) + "&#8243;";
  return n.fwhmPx ? cell(n.fwhmPx, 2) + " px" : "";
}

std::string row(const NightRow& n) {
  const std::string ut = n.utFirst.empty() ? "" : n.utFirst + (n.utLast != n.utFirst ? " to " + n.utLast : "");
  return "<tr class=\"" + html(n.verdict) + "\"><td class=\"n\"><a href=\"" + html(pageLink(n.path)) + "\">" +
         html(n.date) + "</a></td><td>" + html(n.path) + "</td><td class=\"n\">" + html(ut) + "</td><td>" +
         html(n.framesByType) + "</td><td class=\"n\">" + cell(n.objectExposure, 1) + "</td><td class=\"n\">" +
         fwhmCell(n) + "</td><td>" + html(n.seeing) + "</td><td>" + html(n.skyPerFilter) +
         "</td><td class=\"n\">" + std::to_string(n.flagged) + "</td><td class=\"n\">" +
         std::to_string(n.runListProblems) + "</td><td>" + html(n.verdict) + "</td></tr>\n";
}

std::string nightTable(const std::vector<const NightRow*>& nights) {
  std::string table =
      "<h2>Nights</h2>\n<div class=\"rows\"><table>\n<tr><th>Date</th><th>Folder</th><th>UT</th><th>Frames</th>"
      "<th>OBJECT exposure (s)</th><th>Median FWHM</th><th>SEEING</th><th>Sky (counts/s) per filter</th>"
      "<th>Flagged frames</th><th>Run-list problems</th><th>Verdict</th></tr>\n";
  for (const NightRow* n : nights) table += row(*n);
  return table + "</table></div>\n";
}

std::string verdictStrip(const std::vector<const NightRow*>& nights, int days) {
  std::string strip = "<h2>Verdicts</h2>\n<div class=\"strip\"><svg viewBox=\"0 0 " + std::to_string(days) +
                      " 10\" preserveAspectRatio=\"none\" role=\"img\" aria-label=\"the nights' verdicts\">"
                      "<rect width=\"" + std::to_string(days) + "\" height=\"10\" fill=\"#eee\"/>";
  for (const NightRow* n : nights) {
    const auto colour = kVerdictColours.find(n->verdict);
    strip += "<rect x=\"" + std::to_string(dayOfYear(n->date)) + "\" width=\"1\" height=\"10\" fill=\"" +
             (colour == kVerdictColours.end() ? "#888" : colour->second) + "\"><title>" + html(n->date) + ": " +
             html(n->verdict) + "</title></rect>";
  }
  strip += "</svg><div class=\"legend\">";
  for (const auto& [verdict, colour] : kVerdictColours) {
    strip += "<span style=\"color:" + colour + "\">&#9632;</span> " + verdict + " ";
  }
  return strip + "</div></div>\n";
}

// The year's charts, each from one quantity of the measures.
std::string charts(const std::vector<const NightRow*>& nights, const Measures& measures, int days) {
  std::map<long long, int> dayOf;
  for (const NightRow* n : nights) dayOf[n->id] = dayOfYear(n->date);
  const auto chart = [&](const std::string& title, std::vector<std::pair<std::string, std::string>> quantities) {
    std::vector<Series> series;
    for (const auto& [quantity, name] : quantities) {
      std::map<std::string, Series> bySeries;
      for (const auto& [id, m] : measures) {
        const auto day = dayOf.find(id);
        if (day == dayOf.end() || m.quantity != quantity) continue;
        Series& s = bySeries[m.series];
        s.name = name.empty() ? m.series : name;
        s.points.emplace_back(day->second, m.value);
      }
      for (auto& [key, s] : bySeries) series.push_back(std::move(s));
    }
    return yearChart(title, series, days);
  };
  return "<h2>Across the nights</h2>\n<div class=\"charts\">\n" +
         chart("Seeing (arcsec): median FWHM of the OBJECT frames, and the observer's SEEING",
               {{"fwhm_arcsec", "median FWHM"}, {"seeing", "SEEING"}}) +
         chart("Median FWHM of the OBJECT frames (pixels)", {{"fwhm_px", "FWHM"}}) +
         chart("Sky rate of the OBJECT frames per filter (counts/s)", {{"sky_per_s", ""}}) +
         chart("Bias level per camera (ADU)", {{"bias_level", ""}}) +
         chart("Read noise per camera (ADU, the bias frames' noise)", {{"read_noise", ""}}) +
         chart("Flat level per filter (ADU)", {{"flat_level", ""}}) + "</div>\n";
}

std::string yearLinks(const std::set<std::string, std::greater<>>& years, const std::string& shown) {
  std::string links = "<p class=\"years\">";
  for (const std::string& year : years) {
    links += year == shown ? "<strong>" + year + "</strong>"
                           : "<a href=\"tarnindex-" + year + ".html\">" + year + "</a>";
  }
  return links + "</p>\n";
}

std::string notIndexed(const std::vector<NightRow>& nights) {
  std::string waiting, passed;
  for (const NightRow& n : nights) {
    if (n.state == "not looked at") waiting += "<li>" + html(n.path) + ": " + kNotLookedAt + "</li>\n";
    if (n.state == "passed over") passed += "<li>" + html(n.path) + ": " + html(n.reason) + "</li>\n";
  }
  return (waiting.empty() ? "" : "<h2>Not looked at yet</h2>\n<ul>\n" + waiting + "</ul>\n") +
         (passed.empty() ? "" : "<div class=\"passed\"><h2>Passed over</h2>\n<ul>\n" + passed + "</ul></div>\n");
}

}  // namespace

std::vector<std::pair<std::string, std::string>> archivePages(const std::vector<NightRow>& nights,
                                                              const Measures& measures) {
  std::set<std::string, std::greater<>> years;
  for (const NightRow& n : nights) {
    if (n.state == "indexed") years.insert(n.date.substr(0, 4));
  }
  std::vector<std::pair<std::string, std::string>> pages;
  if (years.empty()) years.insert("");
  for (const std::string& year : years) {
    std::vector<const NightRow*> shown;
    long long frames = 0;
    for (const NightRow& n : nights) {
      if (n.state == "indexed" && n.date.compare(0, 4, year) == 0) shown.push_back(&n), frames += n.frames.value_or(0);
    }
    const bool newest = year == *years.begin();
    const std::string title = year.empty() ? "The archive" : "The archive, " + year;
    std::string page = kHead + ("<title>" + title + ": tarnindex</title>\n<style>") + kStyle +
                       "</style>\n</head>\n<body>\n<h1>" + title + "</h1>\n" + yearLinks(years, year) + "<p>" +
                       std::to_string(shown.size()) + (shown.size() == 1 ? " night, " : " nights, ") +
                       std::to_string(frames) + (frames == 1 ? " frame" : " frames") + "</p>\n" +
                       (newest ? notIndexed(nights) : "");
    if (!shown.empty()) {
      const int days = daysIn(year);
      page += verdictStrip(shown, days) + charts(shown, measures, days) + nightTable(shown);
    }
    page += "</body>\n</html>\n";
    if (newest) pages.emplace_back(kPageName, page);
    if (!year.empty()) pages.emplace_back("tarnindex-" + year + ".html", std::move(page));
  }
  return pages;
}

std::string nightsTable(const std::vector<NightRow>& nights) {
  std::string table = csvLine({"night", "date", "ut_first", "ut_last", "frames", "frames_by_type",
                               "object_exposure_s", "median_fwhm_px", "median_fwhm_arcsec", "seeing",
                               "sky_per_s_by_filter", "flagged_frames", "runlist_problems", "verdict", "page"});
  for (auto n = nights.rbegin(); n != nights.rend(); ++n) {  // oldest first, to append to
    if (n->state != "indexed") continue;
    const auto number = [](const std::optional<double>& v) { return v ? numberText(*v) : std::string(); };
    table += csvLine({n->path, n->date, n->utFirst, n->utLast, number(n->frames), n->framesByType,
                      number(n->objectExposure), number(n->fwhmPx), number(n->fwhmArcsec), n->seeing,
                      n->skyPerFilter, std::to_string(n->flagged), std::to_string(n->runListProblems), n->verdict,
                      pageLink(n->path)});
  }
  return table;
}

}  // namespace tarnindex
