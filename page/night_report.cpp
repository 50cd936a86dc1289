// Composing the page and the tables of a night.
#include "page.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "frames.h"

namespace tarnlook {

namespace {

// The grid wraps to the window and the table scrolls in its own box, so the
// page never scrolls sideways; numbers and times never break. On paper
// nothing scrolls and no thumbnail or row is cut.
const char* const kStyle =
    "body{font:15px/1.4 sans-serif;margin:1em;color:#111;overflow-wrap:anywhere}"
    "h1{font-size:1.5em;margin:0}h2{font-size:1.15em}"
    ".facts{margin:.4em 0;padding-left:1.2em}"
    ".grid{display:grid;grid-template-columns:repeat(auto-fill,minmax(150px,1fr));gap:10px;"
    "align-items:start;margin:1em 0}"
    "@media (min-width:900px){.grid{grid-template-columns:repeat(auto-fill,minmax(220px,1fr))}}"
    "figure{margin:0;padding:4px;background:#eee;font-size:12px;line-height:1.3}"
    "figure img{display:block;max-width:100%;height:auto;margin:0 auto 3px}"
    "img.zoom{image-rendering:pixelated}figure:target{outline:3px solid #d89a00}"
    ".problems{border:3px solid #c00;background:#fff4f4;padding:0 1em;margin:.8em 0}"
    ".problems h2{color:#a00;margin:.4em 0}.problems ul{padding-left:1.2em}"
    ".ok{border-left:6px solid #2a2;background:#effbef;padding:.3em .6em}.runs,.info{color:#444}"
    "span.bad{color:#a00;font-weight:bold}"
    // A shadow at an edge where the table goes on: it scrolls that way.
    ".rows{overflow-x:auto;background:linear-gradient(to right,#fff 30%,#fff0) left/24px 100% "
    "no-repeat local,linear-gradient(to left,#fff 30%,#fff0) right/24px 100% no-repeat local,"
    "radial-gradient(farthest-side at 0 50%,#0004,#0000) left/12px 100% no-repeat scroll,"
    "radial-gradient(farthest-side at 100% 50%,#0004,#0000) right/12px 100% no-repeat scroll}"
    ".more{display:none;font-size:12px;color:#555;margin:.2em 0}"
    "@media (max-width:760px){.more{display:block}}"
    "table{border-collapse:collapse;font-size:14px;overflow-wrap:normal}"
    "th,td{border:1px solid #bbb;padding:2px 6px;text-align:left;vertical-align:top}"
    "th,.n,.t{white-space:nowrap}"
    "td.n{text-align:right;font-variant-numeric:tabular-nums}"
    "td.bad{background:#f6c4c4}tr:target{background:#ffe9a8}"
    "@media print{.rows{overflow:visible}figure,tr{break-inside:avoid}}";

const char* const kImpossibleAirmass =
    "AIRMASS below 1 is impossible: the target was below the horizon at mid-exposure. "
    "A catalogue or clock mistake; look at the frame before reduction.";

// A text from a file as HTML text or attribute value.
std::string html(const std::string& bytes) { return htmlText(visible(bytes)); }

std::string base64(const std::string& bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const auto byte = [&bytes](std::size_t at) {
      return at < bytes.size() ? static_cast<unsigned long>(static_cast<unsigned char>(bytes[at]))
                               : 0UL;
    };
    const unsigned long group = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    text.push_back(kDigits[(group >> 18) & 63]);
    text.push_back(kDigits[(group >> 12) & 63]);
    text.push_back(i + 1 < bytes.size() ? kDigits[(group >> 6) & 63] : '=');
    text.push_back(i + 2 < bytes.size() ? kDigits[group & 63] : '=');
  }
  return text;
}

std::string shownName(const ReportFrame& frame) { return hduName(frame.name, frame.extension); }

std::string cell(const std::string& text, const char* cls = nullptr) {
  return std::string(cls ? "<td class=\"" + std::string(cls) + "\">" : "<td>") + text + "</td>";
}

std::string id(char kind, std::size_t index) { return kind + std::to_string(index + 1); }

// The distinct values of a card, in the night's order, ", " between them.
std::string distinct(const std::vector<ReportFrame>& frames, std::string FrameHeader::*card) {
  std::vector<std::string> seen;
  std::string text;
  for (const ReportFrame& frame : frames) {
    const std::string& value = frame.header.*card;
    if (value.empty() || std::find(seen.begin(), seen.end(), value) != seen.end()) continue;
    seen.push_back(value);
    text += (text.empty() ? "" : ", ") + html(value);
  }
  return text;
}

std::string title(const NightReport& report) {
  std::vector<double> times;
  for (const ReportFrame& frame : report.frames) {
    if (frame.time) times.push_back(*frame.time);
  }
  if (times.empty()) return html(report.folder);
  // In the night's order, the timed frames come first and in time.
  const std::string first = utDate(times.front()), last = utDate(times.back());
  std::string text =
      "Night of " + first + (first == last ? "" : " to " + last) + ", UT " + utClock(times.front());
  if (times.size() > 1) text += " to " + utClock(times.back());
  return text;
}

std::string frameCounts(const NightReport& report) {
  std::vector<std::pair<std::string, int>> counts;  // in the night's order
  int untyped = 0;
  for (const ReportFrame& frame : report.frames) {
    const std::string& type = frame.header.dataType;
    if (type.empty()) {
      ++untyped;
      continue;
    }
    auto at =
        std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == type; });
    if (at == counts.end())
      counts.push_back({type, 1});
    else
      ++at->second;
  }
  std::stable_sort(counts.begin(), counts.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  const std::size_t n = report.frames.size();
  if (n == 0) return "No frame drawn";
  std::string text = std::to_string(n) + (n == 1 ? " frame" : " frames");
  std::string by;
  for (const auto& [type, count] : counts)
    by += (by.empty() ? "" : ", ") + std::to_string(count) + " " + html(type);
  if (untyped > 0) by += (by.empty() ? "" : ", ") + std::to_string(untyped) + " without DATA-TYP";
  return text + ": " + by;
}

std::string filledFacts(const NightReport& report);

std::string facts(const NightReport& report) {
  std::string text = "<ul class=\"facts\">\n<li>" + frameCounts(report) + "</li>\n";
  double exposure = 0.0, seconds = 0.0;
  int measured = 0, unmeasured = 0;  // OBJECT frames with and without an EXPTIME read
  for (const ReportFrame& frame : report.frames) {
    if (!isSkyFrame(frame.header, frame.measurement)) continue;
    const bool read = numberIn(frame.header.exptime, seconds);
    exposure += read ? seconds : 0.0;
    ++(read ? measured : unmeasured);
  }
  if (measured > 0) {
    char total[64];
    std::snprintf(total, sizeof total, "%.10g", exposure);
    text += "<li>OBJECT exposure: " + std::string(total) + " s in all" +
            (unmeasured > 0 ? " (" + std::to_string(unmeasured) + " without EXPTIME)" : "") +
            "</li>\n";
  }
  std::string conditions;
  for (const auto& [label, card] :
       {std::pair{"Observer", &FrameHeader::observer}, std::pair{"weather", &FrameHeader::weather},
        std::pair{"seeing", &FrameHeader::seeing}}) {
    const std::string values = distinct(report.frames, card);
    if (!values.empty())
      conditions += (conditions.empty() ? "" : "; ") + std::string(label) + ": " + values;
  }
  if (!conditions.empty()) {
    conditions[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(conditions[0])));
    text += "<li>" + conditions + "</li>\n";
  }
  std::size_t untimed = 0;
  for (const ReportFrame& frame : report.frames) untimed += frame.time ? 0 : 1;
  if (untimed > 0 && untimed < report.frames.size()) {
    text += "<li>" + std::to_string(untimed) + (untimed == 1 ? " frame" : " frames") +
            " without a time, shown last</li>\n";
  }
  if (!report.siteFile.empty()) text += "<li>Judged with the site file " + html(report.siteFile) + "</li>\n";
  return text + filledFacts(report) + "</ul>\n";
}

// What came from where, when not from the headers.
std::string filledFacts(const NightReport& report) {
  int listed = 0, camera = 0;
  for (const ReportFrame& frame : report.frames) {
    listed += frame.filled.fromList;
    camera += frame.filled.fromCamera;
  }
  std::string text;
  if (listed > 0)
    text += "<li>OBJECT, DATA-TYP and FILTER of " + std::to_string(listed) +
            (listed == 1 ? " frame from its run-list line" : " frames from their run-list lines") +
            "</li>\n";
  if (camera > 0)
    text += "<li>UT and EXPTIME of " + std::to_string(camera) +
            (camera == 1 ? " frame" : " frames") +
            " from the camera's DATE (start, UT) and EXPOSURE: UT at mid-exposure</li>\n";
  return text;
}

std::string lineItem(const AccountLine& line) {
  std::string text = "<li><strong>" + html(line.input) + "</strong>, line " +
                     std::to_string(line.line) +
                     (line.output.empty() ? "" : " &#8594; " + html(line.output)) + ": " +
                     html(line.outcome);
  return text + (line.plain.empty() ? "" : ", " + html(line.plain)) + "</li>\n";
}

// The stop, and the lines not reached: those the run record does not list
// come from tarnlist.dat.
std::string stopItem(const RunFacts& run) {
  const std::string fromList =
      run.notInRecord > 0 ? " (" + std::to_string(run.notInRecord) + " " + kNotInRecord + ")" : "";
  if (!run.stopped)
    return run.notInRecord > 0 ? "<li>" + std::to_string(run.notInRecord) +
                                     (run.notInRecord == 1 ? " line" : " lines") +
                                     " not reached by " + html(run.program) + fromList + "</li>\n"
                               : "";
  std::string text = "<li><strong>" + html(run.program) + " stopped</strong>" +
                     (run.line > 0 ? " at line " + std::to_string(run.line) : "") +
                     (run.input.empty() ? "" : " (" + html(run.input) + ")") + ": " +
                     html(run.cause);
  if (run.notReached > 0)
    text += "; " + std::to_string(run.notReached) +
            (run.notReached == 1 ? " line was" : " lines were") + " not reached" + fromList;
  return text + "</li>\n";
}

// The lines that are not the program's, for information: an editor's T5
// and S5 lines, which tarnfits converts.
std::string information(const NightReport& report) {
  std::string items;
  if (report.account) {
    for (const AccountLine& line : report.account->lines) {
      if (isInformation(line))
        items += "<li>" + html(line.input) + ", line " + std::to_string(line.line) + ": " +
                 html(line.plain) + "</li>\n";
    }
  }
  return items.empty() ? "" : "<ul class=\"info\">\n" + items + "</ul>\n";
}

// The problems of the night together, each name first: the frames
// flagged with their reasons, what of the run list did not convert or
// warned, a stop, the camera files the run list
// leaves out, the files tarnlook passed over. One line when all is well.
std::string problems(const NightReport& report) {
  std::string items;
  const NightAccount* account = report.account ? &*report.account : nullptr;
  if (account != nullptr) {
    for (const AccountLine& line : account->lines) {
      // The stop has an item of its own, and says how many were not reached.
      if (line.outcome != kConverted && line.outcome != kNotReached && line.outcome != kStopped &&
          !isInformation(line))
        items += lineItem(line);
    }
    if (!account->runs.empty()) items += stopItem(account->runs.front());
    const std::size_t n = account->unlisted.size();
    if (n > 0) {
      items += "<li>" + std::to_string(n) + (n == 1 ? " camera file is" : " camera files are") +
               " not in the run list:";
      for (std::size_t i = 0; i < n; ++i) items += (i ? ", " : " ") + html(account->unlisted[i]);
      items += "</li>\n";
    }
  }
  // A note shows the name in its visible() form already.
  for (const std::string& note : report.passedOver)
    items += "<li>" + htmlText(note) + " Passed over by tarnlook.</li>\n";
  const std::string flagged = flaggedFrames(report);
  if (!flagged.empty()) items = "<li>" + htmlText(flagged) + "</li>\n" + items;
  const std::string summary =
      account != nullptr ? "<p>" + accountSummary(*account) + "</p>\n" : std::string();
  if (items.empty()) {
    return "<p class=\"ok\">All well: " +
           (account != nullptr ? accountSummary(*account) + "; " : std::string()) + "every" +
           " frame drawn.</p>\n";
  }
  return "<div class=\"problems\">\n<h2>To look at</h2>\n" + summary + "<ul>\n" + items +
         "</ul>\n</div>\n";
}

// "tarnfits ran 2024-02-01 08:12 UT", each program's run, the newest first.
std::string runs(const NightReport& report) {
  if (!report.account) return "";
  if (report.account->runs.empty())
    return "<p class=\"runs\">No run record here: this account comes from tarnlist.dat and "
           "tarnfits.log, which lack most warnings.</p>\n";
  std::string text;
  for (const RunFacts& run : report.account->runs)
    text += (text.empty() ? "" : "; ") + html(run.program) + " ran " + html(run.startedUt) + " UT";
  return "<p class=\"runs\">" + text + "</p>\n";
}

// The warning of the line that made the frame, in plain words; empty when
// none.
std::string warningOf(const NightReport& report, const ReportFrame& frame) {
  std::string warning;
  if (!report.account) return warning;
  for (const AccountLine& line : report.account->lines) {
    if (line.output == frame.name && line.outcome == kConverted) warning.clear();
    if (line.output == frame.name && line.outcome == kWarned) warning = line.plain;
  }
  return warning;
}

// A file of the night as a link's target from the page's folder: `night`
// (empty, or the night folder ending in '/') before a relative name, every
// byte but letters, digits and "-._~/" percent-encoded.
std::string href(const std::string& night, const std::string& name) {
  std::string text;
  for (const char c : name.empty() || name[0] == '/' ? name : night + name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || std::strchr("-._~/", c) != nullptr) {
      text += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
      text += escaped;
    }
  }
  return text;
}

std::string figure(const ReportFrame& frame, std::size_t index, const std::string& warning,
                   const std::string& night) {
  const FrameHeader& h = frame.header;
  const std::string name = html(shownName(frame));
  std::string what;
  for (const std::string* value : {&h.object, &h.dataType, &h.filter}) {
    if (!value->empty()) what += (what.empty() ? "" : ", ") + html(*value);
  }
  std::string marks;
  if (impossibleAirmass(h))
    marks += "<br><span class=\"bad\">airmass " + html(h.airmass) + " impossible</span>";
  if (!warning.empty()) marks += "<br><span class=\"bad\">warning: " + html(warning) + "</span>";
  return "<figure id=\"" + id('t', index) + "\"><a href=\"#" + id('f', index) +
         "\"><img src=\"data:image/png;base64," + base64(frame.png) + "\" width=\"" +
         std::to_string(frame.size.width * frame.size.zoom) + "\" height=\"" +
         std::to_string(frame.size.height * frame.size.zoom) + "\"" +
         (frame.size.zoom > 1 ? " class=\"zoom\"" : "") + " alt=\"" + name + "\" title=\"" + name +
         "\"></a><figcaption><a href=\"" + href(night, frame.name) + "\">" + name + "</a>" +
         (what.empty() ? "" : "<br>" + what) +
         (frame.time ? "<br>UT " + utClock(*frame.time) : "") + marks + flagCaption(frame) +
         "</figcaption></figure>\n";
}

// The row of a frame: the file, OBJECT, UT and AIRMASS first, so that a
// phone shows them without a swipe; the measurements last.
std::string frameRow(const ReportFrame& frame, std::size_t index, const std::string& warning) {
  const FrameHeader& h = frame.header;
  const std::string airmass =
      impossibleAirmass(h) ? "<td class=\"n bad\" title=\"" + std::string(kImpossibleAirmass) +
                                 "\">" + html(h.airmass) + "<a href=\"#impossible\">*</a></td>"
                           : cell(html(shownAirmass(h)), "n");
  const std::string mark =
      warning.empty() ? "" : " <span class=\"bad\" title=\"" + html(warning) + "\">warning</span>";
  return "<tr id=\"" + id('f', index) + "\">" +
         cell("<a href=\"#" + id('t', index) + "\">" + html(shownName(frame)) + "</a>" + mark) +
         cell(html(h.object)) + cell(html(h.ut), "t") + airmass + cell(html(h.dataType)) +
         cell(html(h.filter)) + cell(html(h.exptime), "n") +
         cell(limitText(frame.limits.low), "n") + cell(limitText(frame.limits.high), "n") +
         measureCells(frame) + "</tr>\n";
}

std::string frameTable(const NightReport& report) {
  std::string text =
      "<div class=\"rows\"><table>\n<thead><tr><th>File</th><th>OBJECT</th><th>UT</th>"
      "<th>AIRMASS</th><th>DATA-TYP</th><th>FILTER</th><th>EXPTIME (s)</th><th class=\"t\">zscale "
      "low (ADU)</th><th class=\"t\">zscale high (ADU)</th>" + measureHeadCells() + "</tr></thead>\n<tbody>\n";
  bool impossible = false;
  for (std::size_t i = 0; i < report.frames.size(); ++i) {
    text += frameRow(report.frames[i], i, warningOf(report, report.frames[i]));
    impossible = impossible || impossibleAirmass(report.frames[i].header);
  }
  text += "</tbody>\n</table></div>\n<p class=\"more\">The table scrolls sideways: EXPTIME, "
          "the zscale limits and the measurements are to the right.</p>\n";
  if (impossible) text += "<p id=\"impossible\">* " + std::string(kImpossibleAirmass) + "</p>\n";
  return text;
}

std::string csvLine(const std::vector<const std::string*>& texts) {
  std::string line;
  for (const std::string* text : texts)
    line += (line.empty() ? "" : ",") + csvField(visible(*text));
  return line;
}

}  // namespace

std::string reportPage(const NightReport& report) {
  if (report.frames.empty() && !report.account) return "";
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'; "
      "object-src 'none'; base-uri 'none'; form-action 'none'\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>" +
      title(report) + ": tarnlook</title>\n<style>" + kStyle + kMeasureStyle +
      "</style>\n</head>\n<body>\n<h1>" + title(report) + "</h1>\n" + problems(report) +
      information(report) + nightSummary(report) + runs(report) + facts(report) +
      "<div class=\"grid\">\n";
  // The thumbnails make most of the page: a third more than their bytes.
  std::size_t size = page.size();
  for (const ReportFrame& frame : report.frames) size += frame.png.size() / 3 * 4 + 1024;
  page.reserve(size);
  for (std::size_t i = 0; i < report.frames.size(); ++i)
    page += figure(report.frames[i], i, warningOf(report, report.frames[i]), report.nightFolder);
  page += "</div>\n" + nightChart(report) + (report.frames.empty() ? "" : frameTable(report)) +
          "<p class=\"folder\">Folder <a href=\"" +
          (report.nightFolder.empty() ? "." : href("", report.nightFolder)) + "\">" +
          html(report.folder) + "</a></p>\n</body>\n</html>\n";
  return page;
}

std::string reportTable(const NightReport& report) {
  std::string table =
      "file,OBJECT,DATA-TYP,FILTER,EXPTIME,UT,AIRMASS,zscale_low,zscale_high" + measureCsvHeader() + "\r\n";
  for (const ReportFrame& frame : report.frames) {
    const FrameHeader& h = frame.header;
    const std::string name = shownName(frame);
    table += csvLine({&name, &h.object, &h.dataType, &h.filter, &h.exptime, &h.ut, &h.airmass}) +
             "," + limitText(frame.limits.low) + "," + limitText(frame.limits.high) +
             measureCsvFields(frame) + "\r\n";
  }
  return table;
}

std::string accountTable(const NightAccount& account) {
  std::string table = "line,input,output,outcome,reason,log_reason\r\n";
  for (const AccountLine& line : account.lines) {
    const std::string number = std::to_string(line.line);
    table += csvLine({&number, &line.input, &line.output, &line.outcome, &line.plain,
                      &line.logWords}) + "\r\n";
  }
  return table;
}

}  // namespace tarnlook
