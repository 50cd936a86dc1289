// A night's rows in the index, and the nights and measures read back.
#include <algorithm>

#include "store_impl.h"

namespace tarnindex {

namespace {

const char* const kOwnColumns[] = {"frame_id", "night_id", "night_date", "night_path"};

std::string quoted(const std::string& name) { return "\"" + name + "\""; }

// The flags of a frame's flags field: "; " between them.
std::vector<std::string> flagsOf(const std::string& text) {
  std::vector<std::string> flags;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find("; ", at), text.size());
    if (end > at) flags.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return flags;
}

}  // namespace

std::vector<std::string> Index::Impl::columnsFor(const std::vector<std::string>& header, std::string& error) {
  std::vector<std::string> names;
  for (const std::string& title : header) {
    std::string name = sqlName(title);
    if (std::find(std::begin(kOwnColumns), std::end(kOwnColumns), name) != std::end(kOwnColumns)) name += "_csv";
    const std::string base = name;
    for (int n = 2; std::find(names.begin(), names.end(), name) != names.end(); ++n) name = base + "_" + std::to_string(n);
    names.push_back(name);
    if (std::find(columns.begin(), columns.end(), name) != columns.end()) continue;
    error = execute(db.get(), "ALTER TABLE frames ADD COLUMN " + quoted(name));
    if (!error.empty()) return {};
    columns.push_back(name);
  }
  return names;
}

std::string Index::Impl::putContent(long long id, const std::string& path, const NightContent& content) {
  std::string error;
  const std::vector<std::string> names = columnsFor(content.frames.header, error);
  if (!error.empty()) return error;
  std::string sql = "INSERT INTO frames(night_id, night_date, night_path", values = "?,?,?";
  for (const std::string& name : names) sql += "," + quoted(name), values += ",?";
  Statement frame(db.get(), sql + ") VALUES(" + values + ")");
  Statement flag(db.get(), "INSERT INTO flags(frame_id, night_id, flag) VALUES(?,?,?)");
  const auto flagsAt = std::find(names.begin(), names.end(), "flags") - names.begin();
  for (const auto& row : content.frames.rows) {
    frame.bind(1, id);
    frame.bind(2, content.date);
    frame.bind(3, path);
    for (std::size_t i = 0; i < row.size(); ++i) frame.bindField(static_cast<int>(i) + 4, row[i]);
    if (!frame.run()) return frame.error();
    const long long frameId = sqlite3_last_insert_rowid(db.get());
    if (flagsAt >= static_cast<long>(row.size())) continue;
    for (const std::string& text : flagsOf(row[static_cast<std::size_t>(flagsAt)])) {
      flag.bind(1, frameId);
      flag.bind(2, id);
      flag.bind(3, text);
      if (!flag.run()) return flag.error();
    }
  }
  const Table& list = content.runList;
  Statement line(db.get(), "INSERT INTO runlist(night_id, line, input, output, outcome, reason, log_reason)"
                           " VALUES(?,?,?,?,?,?,?)");
  for (const auto& row : list.rows) {
    line.bind(1, id);
    int at = 2;
    for (const char* name : {"line", "input", "output", "outcome", "reason", "log_reason"}) {
      const auto column = std::find_if(list.header.begin(), list.header.end(),
                                       [name](const std::string& h) { return sqlName(h) == name; });
      line.bindField(at++, column == list.header.end() ? "" : row[static_cast<std::size_t>(column - list.header.begin())]);
    }
    if (!line.run()) return line.error();
  }
  Statement run(db.get(), "INSERT INTO runs(night_id, program, version, started_ut, ended_ut, exit_status,"
                          " outcome, reason) VALUES(?,?,?,?,?,?,?,?)");
  for (const RunEnd& end : content.runs) {
    run.bind(1, id);
    run.bind(2, end.program);
    run.bindField(3, end.version);
    run.bindField(4, end.started);
    run.bindField(5, end.ended);
    run.bind(6, end.exitStatus);
    run.bindField(7, end.outcome);
    run.bindField(8, end.reason);
    if (!run.run()) return run.error();
  }
  Statement measure(db.get(), "INSERT INTO measures(night_id, quantity, series, value) VALUES(?,?,?,?)");
  for (const Measure& m : content.measures) {
    measure.bind(1, id);
    measure.bind(2, m.quantity);
    measure.bind(3, m.series);
    measure.bind(4, std::optional<double>(m.value));
    if (!measure.run()) return measure.error();
  }
  return "";
}

std::vector<NightRow> Index::nights(std::string& error) {
  std::vector<NightRow> nights;
  Statement all(impl_->db.get(),
                "SELECT night_id, path, state, reason, night_date, ut_first, ut_last, frames, frames_by_type,"
                " object_exposure_s, median_fwhm_px, median_fwhm_arcsec, seeing, sky_per_s_by_filter,"
                " flagged_frames, runlist_problems, verdict FROM nights"
                " ORDER BY night_date IS NULL, night_date DESC, path");
  while (all.row()) {
    NightRow n;
    n.id = all.integer(0);
    n.path = all.text(1), n.state = all.text(2), n.reason = all.text(3), n.date = all.text(4);
    n.utFirst = all.text(5), n.utLast = all.text(6), n.frames = all.number(7), n.framesByType = all.text(8);
    n.objectExposure = all.number(9), n.fwhmPx = all.number(10), n.fwhmArcsec = all.number(11);
    n.seeing = all.text(12), n.skyPerFilter = all.text(13), n.flagged = all.integer(14);
    n.runListProblems = all.integer(15), n.verdict = all.text(16);
    nights.push_back(std::move(n));
  }
  error = all.error();
  return nights;
}

std::vector<std::pair<long long, Measure>> Index::measures(std::string& error) {
  std::vector<std::pair<long long, Measure>> measures;
  Statement all(impl_->db.get(), "SELECT night_id, quantity, series, value FROM measures");
  while (all.row()) measures.push_back({all.integer(0), Measure{all.text(1), all.text(2), *all.number(3)}});
  error = all.error();
  return measures;
}

}  // namespace tarnindex
