// The night's account, composed.
#include "account.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tarnlook {

namespace {

constexpr const char* kRecordHeader =
    "program,version,started_ut,ended_ut,exit_status,line,input,output,outcome,reason";
constexpr const char* kShortInput = "input data is short";  // a warning, in the log

using Fields = std::vector<std::string>;

// The records of an RFC 4180 text; a line may end in CRLF or LF.
std::vector<Fields> csvRecords(const std::string& text) {
  std::vector<Fields> rows;
  Fields row(1);
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
      row.back() += c;
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == ',') {
      row.emplace_back();
    } else if (!quoted && (c == '\n' || text.compare(i, 2, "\r\n") == 0)) {
      i += c == '\r';
      rows.push_back(row);
      row.assign(1, "");
    } else {
      row.back() += c;
    }
  }
  if (row.size() > 1 || !row[0].empty()) rows.push_back(row);
  return rows;
}

int number(const std::string& text) { return std::atoi(text.c_str()); }

// "2024-02-01T08:12:40Z" as "2024-02-01 08:12".
std::string shownTime(const std::string& iso) {
  if (iso.size() < 16 || iso[10] != 'T') return iso;
  return iso.substr(0, 10) + " " + iso.substr(11, 5);
}

bool converted(const std::string& outcome) { return outcome == kConverted || outcome == kWarned; }

// A line that the converters converted but whose output tarnlook did not draw.
void checkDrawn(AccountLine& line, const std::set<std::string>& drawn,
                const std::map<std::string, std::string>& passedOver) {
  if (!converted(line.outcome) || drawn.count(line.output) != 0) return;
  const auto passed = passedOver.find(line.output);
  line.outcome = kNoOutput;
  line.plain = passed != passedOver.end() ? "output passed over: " + passed->second
                                          : "output not in the folder";
}

RunFacts runOf(const std::vector<RecordRow>& rows) {
  const RecordRow& last = rows.back();
  RunFacts run;
  run.program = last.program;
  run.startedUt = shownTime(last.startedUt);
  run.stopped = last.outcome == kStopped;
  run.line = number(last.line);
  run.input = last.input;
  run.cause = last.reason;
  for (const RecordRow& row : rows) run.notReached += row.outcome == kNotReached;
  return run;
}

}  // namespace

std::optional<std::vector<RecordRow>> parseRunRecord(const std::string& text) {
  std::vector<Fields> fields = csvRecords(text);
  if (fields.empty() || fields[0].size() != 10) return std::nullopt;
  std::string header;
  for (const std::string& name : fields[0]) header += (header.empty() ? "" : ",") + name;
  if (header != kRecordHeader) return std::nullopt;
  std::vector<RecordRow> rows;
  for (std::size_t i = 1; i < fields.size(); ++i) {
    Fields& f = fields[i];
    f.resize(10);
    rows.push_back({f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9]});
  }
  if (rows.empty()) return std::nullopt;
  return rows;
}

std::string plainReason(const std::string& logWords) {
  static const std::map<std::string, std::string> kPlain = {
      {"open", "file not found or not readable"},
      {"OBJECT not find", "object not in the catalogue"},
      {"DATA-TYPE is not valid", "data type code not valid"},
      {"Diaphragm type is not valid", "diaphragm code not valid"},
      {"CLUMP type is not valid", "clump code not valid"},
      {"entry line is not valid", "run-list line not readable"},
      {"output name equals input name", "the output would overwrite the input"},
      {"FITS NAXIS values are strange...", "image size matches no camera"},
      {"not an Andor file", "not an Andor file (T5 or S5 camera)"},
      {kShortInput, "camera file shorter than its image"},
      {"Cannot read READTIME", "unknown readout time: no GAIN card"},
  };
  const auto plain = kPlain.find(logWords);
  return plain != kPlain.end() ? plain->second : logWords;
}

NightAccount accountFromRecords(const std::vector<std::vector<RecordRow>>& records,
                                const std::set<std::string>& drawn,
                                const std::map<std::string, std::string>& passedOver) {
  NightAccount account;
  for (const auto& rows : records) {
    if (!rows.empty()) account.runs.push_back(runOf(rows));
  }
  std::stable_sort(account.runs.begin(), account.runs.end(),
                   [](const RunFacts& a, const RunFacts& b) { return a.startedUt > b.startedUt; });
  const std::vector<RecordRow>* newest = nullptr;
  for (const auto& rows : records) {
    if (!rows.empty() && rows.back().program == account.runs.front().program &&
        shownTime(rows.back().startedUt) == account.runs.front().startedUt)
      newest = &rows;
  }
  if (newest == nullptr) return account;
  for (std::size_t i = 0; i + 1 < newest->size(); ++i) {  // the last row is the run's
    const RecordRow& row = (*newest)[i];
    AccountLine line{number(row.line), row.input, row.output, row.outcome,
                     row.outcome == kIgnored ? row.reason : plainReason(row.reason), row.reason};
    checkDrawn(line, drawn, passedOver);
    account.lines.push_back(line);
  }
  return account;
}

NightAccount accountFromLog(const std::vector<ListLine>& lines,
                            const std::vector<std::pair<std::string, std::string>>& log,
                            const std::set<std::string>& drawn,
                            const std::map<std::string, std::string>& passedOver) {
  // The lines of each input; a repeat among them takes no reason (below).
  std::map<std::string, std::vector<std::size_t>> linesOf;
  for (std::size_t i = 0; i < lines.size(); ++i) linesOf[lines[i].input].push_back(i);
  std::map<std::string, std::vector<std::string>> reasonsOf;
  for (const auto& [input, reason] : log) reasonsOf[input].push_back(reason);
  std::map<std::size_t, std::string> reasonAt;  // line index to the log's reason
  for (const auto& [input, at] : linesOf) {
    const std::vector<std::string>& reasons = reasonsOf[input];
    const std::size_t n = std::min(reasons.size(), at.size());
    for (std::size_t k = 0; k < n; ++k)
      reasonAt[at[at.size() - n + k]] = reasons[reasons.size() - n + k];
  }
  NightAccount account;
  const ListLine* lastConverted = nullptr;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const ListLine& l = lines[i];
    AccountLine line{l.line, l.input, l.output, kConverted, "", ""};
    const auto reason = reasonAt.find(i);
    if (lastConverted != nullptr && l.text == lastConverted->text) {
      line.outcome = kIgnored;
      line.plain = line.logWords = "repeats line " + std::to_string(lastConverted->line);
    } else if (reason != reasonAt.end()) {
      line.logWords = reason->second;
      line.plain = plainReason(reason->second);
      line.outcome = reason->second == kShortInput ? kWarned : kRefused;
    }
    if (line.outcome != kIgnored && line.outcome != kRefused) lastConverted = &l;
    checkDrawn(line, drawn, passedOver);
    account.lines.push_back(line);
  }
  return account;
}

std::vector<std::string> unlistedCameraFiles(const std::vector<std::string>& folder,
                                             const std::vector<ListLine>& lines) {
  std::set<std::string> named;
  for (const ListLine& line : lines) named.insert(line.input);
  std::vector<std::string> unlisted;
  for (const std::string& name : folder) {
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.size() > 4 && lower[0] != '.' && lower.compare(lower.size() - 4, 4, ".fts") == 0 &&
        named.count(lower) == 0)
      unlisted.push_back(name);
  }
  return unlisted;
}

std::string accountSummary(const NightAccount& account) {
  int count[7] = {};
  const char* const order[7] = {kConverted, kWarned, kRefused, kNoOutput, kIgnored, kStopped,
                                kNotReached};
  const AccountLine* repeat = nullptr;
  for (const AccountLine& line : account.lines) {
    for (int k = 0; k < 7; ++k) count[k] += line.outcome == order[k];
    if (line.outcome == kIgnored) repeat = &line;
  }
  const std::size_t n = account.lines.size();
  std::string text = std::to_string(n) + (n == 1 ? " run-list line: " : " run-list lines: ") +
                     std::to_string(count[0] + count[1]) + " converted";
  if (count[1] > 0) text += " (" + std::to_string(count[1]) + " with a warning)";
  if (count[2] > 0) text += ", " + std::to_string(count[2]) + " refused";
  if (count[3] > 0) text += ", " + std::to_string(count[3]) + " without an output drawn";
  if (count[4] == 1) text += ", 1 " + repeat->plain;
  if (count[4] > 1) text += ", " + std::to_string(count[4]) + " repeat the line before";
  if (count[5] > 0) text += ", 1 stopped the run";
  if (count[6] > 0) text += ", " + std::to_string(count[6]) + " not reached";
  return text;
}

std::map<std::string, ListLine> makersOf(const NightAccount& account,
                                         const std::vector<ListLine>& lines) {
  std::map<int, const ListLine*> byNumber;
  for (const ListLine& line : lines) byNumber[line.line] = &line;
  std::map<std::string, ListLine> makers;
  for (const AccountLine& line : account.lines) {
    const auto at = byNumber.find(line.line);
    if (converted(line.outcome) && at != byNumber.end()) makers[line.output] = *at->second;
  }
  return makers;
}

Filled fillFromRunList(FrameHeader& header, const ListLine& maker) {
  Filled filled;
  for (const auto& [card, value] : {std::pair{&header.object, &maker.object},
                                    std::pair{&header.dataType, &maker.dataType},
                                    std::pair{&header.filter, &maker.filter}}) {
    if (!card->empty() || value->empty()) continue;
    *card = *value;
    filled.fromList = true;
  }
  char* end = nullptr;
  const double exposure = std::strtod(header.cameraExposure.c_str(), &end);
  const bool exposed = !header.cameraExposure.empty() && *end == '\0' && std::isfinite(exposure);
  if (header.exptime.empty() && exposed) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", exposure);
    header.exptime = text;
    filled.fromCamera = true;
  }
  FrameHeader start;
  start.dateObs = header.cameraDate;
  const auto begun = header.cameraDate.size() >= 19 ? exposureTime(start) : std::nullopt;
  if (!exposureTime(header) && begun) {
    const double mid = *begun + (exposed ? std::floor(exposure / 2) : 0.0);
    header.dateObs = utDate(mid) + "T" + utClock(mid);
    header.ut = utClock(mid);
    filled.fromCamera = true;
  }
  return filled;
}

bool accountHasProblems(const NightAccount& account) {
  for (const AccountLine& line : account.lines) {
    if (line.outcome != kConverted) return true;
  }
  for (const RunFacts& run : account.runs) {
    if (run.stopped) return true;
  }
  return !account.unlisted.empty();
}

}  // namespace tarnlook
