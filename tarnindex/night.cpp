// A night read from the texts of its tables: its date and UT span, its
// frames, run-list lines and runs, and what the archive's page shows of it.
#include <algorithm>
#include <cmath>
#include <regex>

#include "index.h"

namespace tarnindex {

namespace {

// The column of a table whose name, made SQL-safe, is `name`; -1 when none.
int columnOf(const Table& table, const std::string& name) {
  for (std::size_t i = 0; i < table.header.size(); ++i) {
    if (sqlName(table.header[i]) == name) return static_cast<int>(i);
  }
  return -1;
}

std::string field(const Table& table, const std::vector<std::string>& row, const std::string& name) {
  const int i = columnOf(table, name);
  return i < 0 ? std::string() : row[static_cast<std::size_t>(i)];
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The camera a frame came from, told by its file name without the number
// and extension the converters give it ("t5_0002.fit": "t5", "an9103.fit": "an").
std::string cameraOf(std::string name) {
  name = name.substr(0, name.find('['));
  name = name.substr(0, name.rfind('.'));
  while (!name.empty() && ((name.back() >= '0' && name.back() <= '9') || name.back() == '_' ||
                           name.back() == '-')) {
    name.pop_back();
  }
  return name.empty() ? "?" : name;
}

// Appends the medians of `column` over the frames of `type` (any when
// empty), one series per key of `seriesOf` (one series when null).
void addMedians(const Table& frames, const std::string& type, const std::string& column,
                const std::string& quantity, std::string (*seriesOf)(const Table&, const std::vector<std::string>&),
                std::vector<Measure>& measures) {
  std::map<std::string, std::vector<double>> values;
  for (const auto& row : frames.rows) {
    if (!type.empty() && field(frames, row, "data_typ") != type) continue;
    if (const auto value = numberOf(field(frames, row, column))) {
      values[seriesOf ? seriesOf(frames, row) : std::string()].push_back(*value);
    }
  }
  for (const auto& [series, list] : values) measures.push_back({quantity, series, median(list)});
}

std::string filterOf(const Table& frames, const std::vector<std::string>& row) {
  const std::string filter = field(frames, row, "filter");
  return filter.empty() ? "none" : filter;
}
std::string cameraOfRow(const Table& frames, const std::vector<std::string>& row) {
  return cameraOf(field(frames, row, "file"));
}

std::string countsByType(const Table& frames) {
  std::vector<std::pair<std::string, int>> counts;  // in the order first met
  for (const auto& row : frames.rows) {
    std::string type = field(frames, row, "data_typ");
    if (type.empty()) type = "without DATA-TYP";
    auto at = std::find_if(counts.begin(), counts.end(), [&](const auto& c) { return c.first == type; });
    if (at == counts.end()) counts.emplace_back(type, 1);
    else ++at->second;
  }
  std::stable_sort(counts.begin(), counts.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string text;
  for (const auto& [type, n] : counts) text += (text.empty() ? "" : ", ") + type + " " + std::to_string(n);
  return text;
}

// The date and UT span of tarnlook's page heading: "Night of 2024-01-31[ to
// 2024-02-01], UT 09:20:07[ to 20:17:29]".
void spanOfPage(const std::string& head, NightContent& content) {
  static const std::regex heading(
      "<h1>Night of (\\d{4}-\\d\\d-\\d\\d)(?: to \\d{4}-\\d\\d-\\d\\d)?, UT (\\d\\d:\\d\\d:\\d\\d)"
      "(?: to (\\d\\d:\\d\\d:\\d\\d))?");
  std::smatch m;
  if (!std::regex_search(head, m, heading)) return;
  content.date = m[1];
  content.utFirst = m[2];
  content.utLast = m[3].matched ? std::string(m[3]) : content.utFirst;
}

void summarize(NightContent& content) {
  const Table& frames = content.frames;
  content.framesByType = countsByType(frames);
  std::vector<std::string> seeing;
  double exposure = 0;
  bool exposed = false;
  for (const auto& row : frames.rows) {
    const std::string value = field(frames, row, "seeing");
    if (!value.empty() && std::find(seeing.begin(), seeing.end(), value) == seeing.end()) seeing.push_back(value);
    const auto time = numberOf(field(frames, row, "exptime"));
    if (time && field(frames, row, "data_typ") == "OBJECT") exposure += *time, exposed = true;
    if (!field(frames, row, "flags").empty()) ++content.flagged;
  }
  for (const std::string& value : seeing) content.seeing += (content.seeing.empty() ? "" : ", ") + value;
  if (exposed) content.objectExposure = exposure;
  for (const auto& row : content.runList.rows) content.runListProblems += field(content.runList, row, "outcome") != "converted";
  for (const RunEnd& run : content.runs) content.runListProblems += run.exitStatus != 0.0;
  auto& m = content.measures;
  addMedians(frames, "OBJECT", "fwhm_px", "fwhm_px", nullptr, m);
  addMedians(frames, "OBJECT", "fwhm_arcsec", "fwhm_arcsec", nullptr, m);
  addMedians(frames, "", "seeing", "seeing", nullptr, m);
  addMedians(frames, "OBJECT", "sky_adu_per_s", "sky_per_s", filterOf, m);
  addMedians(frames, "BIAS", "level_adu", "bias_level", cameraOfRow, m);
  addMedians(frames, "BIAS", "noise_adu", "read_noise", cameraOfRow, m);
  addMedians(frames, "FLAT", "level_adu", "flat_level", filterOf, m);
  for (const Measure& measure : m) {
    if (measure.quantity != "sky_per_s") continue;
    content.skyPerFilter += (content.skyPerFilter.empty() ? "" : ", ") + measure.series + " " + numberText(
        std::round(measure.value * 1000) / 1000);
  }
  content.verdict = content.runListProblems > 0 ? "problems" : content.flagged > 0 ? "flags" : "well";
}

// The last line of a run record: how the run ended.
RunEnd runEnd(const std::string& program, const Table& record) {
  RunEnd end;
  end.program = program;
  if (record.rows.empty()) return end;
  const auto& row = record.rows.back();
  end.version = field(record, row, "version");
  end.started = field(record, row, "started_ut");
  end.ended = field(record, row, "ended_ut");
  end.outcome = field(record, row, "outcome");
  end.reason = field(record, row, "reason");
  end.exitStatus = numberOf(field(record, row, "exit_status"));
  return end;
}

}  // namespace

std::string dateOfFolder(const std::string& path) {
  static const std::regex date("(?:^|/)(\\d{4})-?(\\d\\d)-?(\\d\\d)$");
  std::smatch m;
  if (!std::regex_search(path, m, date)) return "";
  const int month = std::stoi(m[2]), day = std::stoi(m[3]);
  if (month < 1 || month > 12 || day < 1 || day > 31) return "";
  return std::string(m[1]) + "-" + std::string(m[2]) + "-" + std::string(m[3]);
}

std::string readNight(const NightTexts& texts, NightContent& content) {
  content = NightContent{};
  std::string error = parseCsv(texts.frames, content.frames);
  if (error.empty() && columnOf(content.frames, "file") != 0) error = "the first column is not file";
  if (!error.empty()) return "tarnlook.csv: " + error;
  if (texts.runList) {
    error = parseCsv(*texts.runList, content.runList);
    if (error.empty() && columnOf(content.runList, "outcome") < 0) error = "no outcome column";
    if (!error.empty()) return "tarnlook-runlist.csv: " + error;
  }
  for (const auto& [program, text] : texts.runs) {
    Table record;
    error = parseCsv(text, record);
    if (!error.empty()) return program + "-run.csv: " + error;
    content.runs.push_back(runEnd(program, record));
  }
  spanOfPage(texts.pageHead, content);
  if (content.date.empty()) content.date = dateOfFolder(texts.path);
  if (content.date.empty()) return "no date: tarnlook.html has no night's date and the folder's name is not a date";
  summarize(content);
  return "";
}

}  // namespace tarnindex
