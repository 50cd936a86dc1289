// Frames found by what they show: the terms of `tarnindex find` as one
// SQL query over the frames table.
#include <algorithm>

#include "store_impl.h"

namespace tarnindex {

namespace {

struct Condition {
  std::string sql;
  std::vector<std::pair<std::string, bool>> values;  // bound in order; true: as a number
};

const char* const kOperators[] = {"<=", ">=", "!=", "=", "<", ">"};  // the longer first

// One term: NAME=V1,V2 (each value exact, or a pattern with * ? [...]),
// NAME!=V, or NAME<N, <=, >, >= (numbers only). Empty text, else what is wrong.
std::string condition(const std::string& term, const std::vector<std::string>& columns, Condition& c) {
  std::size_t at = std::string::npos;
  std::string op;
  for (const char* candidate : kOperators) {
    const std::size_t found = term.find(candidate);
    if (found != std::string::npos && found < at) at = found, op = candidate;
  }
  if (at == std::string::npos || at == 0) return "'" + term + "' is not NAME=VALUE or NAME<NUMBER";
  const std::string name = sqlName(term.substr(0, at)), value = term.substr(at + op.size());
  if (std::find(columns.begin(), columns.end(), name) == columns.end()) {
    return "'" + term + "': the index has no column " + name;
  }
  const std::string column = "\"" + name + "\"";
  if (op == "=" || op == "!=") {
    std::string any;
    for (std::size_t from = 0;;) {
      const std::size_t comma = std::min(value.find(',', from), value.size());
      const std::string one = value.substr(from, comma - from);
      const bool pattern = one.find_first_of("*?[") != std::string::npos;
      any += std::string(any.empty() ? "" : " OR ") + column + (pattern ? " GLOB ?" : " = ?");
      c.values.emplace_back(one, !pattern && numberOf(one).has_value());
      if (comma == value.size()) break;
      from = comma + 1;
    }
    c.sql = (op == "=" ? "(" : "NOT coalesce(") + any + (op == "=" ? ")" : ", 0)");
    return "";
  }
  if (!numberOf(value)) return "'" + term + "': " + op + " compares numbers, and '" + value + "' is not one";
  c.sql = "(typeof(" + column + ") IN ('real','integer') AND " + column + " " + op + " ?)";
  c.values.emplace_back(value, true);
  return "";
}

}  // namespace

std::string Index::find(const std::vector<std::string>& terms, const std::string& from, const std::string& to,
                        bool pathsOnly, Found& found) {
  std::vector<Condition> conditions;
  for (const std::string& term : terms) {
    Condition c;
    if (std::string error = condition(term, impl_->columns, c); !error.empty()) return error;
    conditions.push_back(std::move(c));
  }
  if (!from.empty()) conditions.push_back({"night_date >= ?", {{from, false}}});
  if (!to.empty()) conditions.push_back({"night_date <= ?", {{to, false}}});
  const auto& columns = impl_->columns;
  if (std::find(columns.begin(), columns.end(), "file") == columns.end()) return "";  // no night indexed yet
  if (pathsOnly) found.header = {"night_date", "night_path", "file"};
  else found.header.assign(impl_->columns.begin() + 2, impl_->columns.end());  // not frame_id, night_id
  std::string sql = "SELECT ";
  for (std::size_t i = 0; i < found.header.size(); ++i) sql += (i ? ",\"" : "\"") + found.header[i] + "\"";
  sql += " FROM frames";
  for (std::size_t i = 0; i < conditions.size(); ++i) sql += (i ? " AND " : " WHERE ") + conditions[i].sql;
  Statement query(impl_->db.get(), sql + " ORDER BY night_date, night_path, frame_id");
  int at = 1;
  for (const Condition& c : conditions) {
    for (const auto& [value, number] : c.values) {
      if (number) query.bind(at++, numberOf(value));
      else query.bind(at++, value);
    }
  }
  while (query.row()) {
    std::vector<std::string> row;
    for (std::size_t i = 0; i < found.header.size(); ++i) row.push_back(query.text(static_cast<int>(i)));
    found.rows.push_back(std::move(row));
  }
  return query.error();
}

}  // namespace tarnindex
