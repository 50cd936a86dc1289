// CSV, numbers, names and HTML: the texts the index reads and writes.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "frames.h"
#include "index.h"

namespace tarnindex {

namespace {

// Appends the field that starts at text[i] to `fields`; returns the index
// of the byte after it (a comma, a line end or the end), or npos with
// `error` set when a quote is not closed or not followed by one of those.
std::size_t readField(const std::string& text, std::size_t i, std::vector<std::string>& fields, std::string& error) {
  std::string field;
  if (i < text.size() && text[i] == '"') {
    for (++i;; ++i) {
      if (i >= text.size()) return error = "a quote is not closed", std::string::npos;
      if (text[i] != '"') {
        field += text[i];
      } else if (i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else {
        ++i;
        break;
      }
    }
    if (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
      return error = "a quote is not followed by a comma or a line end", std::string::npos;
    }
  }
  while (i < text.size() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') field += text[i++];
  fields.push_back(std::move(field));
  return i;
}

}  // namespace

std::string parseCsv(const std::string& text, Table& table) {
  table = Table{};
  if (text.empty()) return "empty";
  if (text.back() != '\n') return "cut: the last line has no line end";
  std::size_t i = 0;
  for (int line = 1; i < text.size(); ++line) {
    std::vector<std::string> fields;
    for (;;) {
      std::string error;
      i = readField(text, i, fields, error);
      if (i == std::string::npos) return "line " + std::to_string(line) + ": " + error;
      if (text[i] != ',') break;
      ++i;
    }
    if (text.compare(i, 2, "\r\n") == 0) i += 2;
    else if (text[i] == '\n') i += 1;
    else return "line " + std::to_string(line) + ": a CR without LF";
    if (line == 1) {
      table.header = std::move(fields);
    } else if (fields.size() != table.header.size()) {
      return "line " + std::to_string(line) + ": " + std::to_string(fields.size()) +
             " fields where the header has " + std::to_string(table.header.size());
    } else {
      table.rows.push_back(std::move(fields));
    }
  }
  return "";
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string csvLine(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) line += (i ? "," : "") + csvField(fields[i]);
  return line + "\r\n";
}

std::optional<double> numberOf(const std::string& text) {
  if (text.empty() || text.find_first_not_of("0123456789+-.eE") != std::string::npos) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::string sqlName(const std::string& name) {
  std::string sql;
  for (const char c : name) {
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    sql += (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9') ? lower : '_';
  }
  if (sql.empty() || (sql[0] >= '0' && sql[0] <= '9')) sql = "c_" + sql;
  return sql;
}

std::string numberText(double value) {
  char text[64];
  for (const int digits : {6, 15, 17}) {  // the shortest of these that reads back the same
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  return text;
}

std::string html(const std::string& text) { return tarnlook::htmlText(text); }

}  // namespace tarnindex
