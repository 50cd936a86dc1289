#include "sqlite.h"

#include "index.h"

namespace tarnindex {

Statement::Statement(sqlite3* db, const std::string& sql) : db_(db) {
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK) error_ = sqlite3_errmsg(db);
}

void Statement::bind(int i, const std::string& text) {
  sqlite3_bind_text(statement_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Statement::bind(int i, std::optional<double> number) {
  if (number) sqlite3_bind_double(statement_, i, *number);
  else sqlite3_bind_null(statement_, i);
}

void Statement::bind(int i, long long number) { sqlite3_bind_int64(statement_, i, number); }

void Statement::bindField(int i, const std::string& text) {
  if (text.empty()) sqlite3_bind_null(statement_, i);
  else if (const auto number = numberOf(text)) sqlite3_bind_double(statement_, i, *number);
  else bind(i, text);
}

bool Statement::row() {
  if (!statement_) return false;
  const int status = sqlite3_step(statement_);
  if (status == SQLITE_ROW) return true;
  if (status != SQLITE_DONE && error_.empty()) error_ = sqlite3_errmsg(db_);
  return false;
}

bool Statement::run() {
  while (row()) {
  }
  if (statement_) sqlite3_reset(statement_);
  return error_.empty();
}

std::string Statement::text(int column) const {
  switch (sqlite3_column_type(statement_, column)) {
    case SQLITE_NULL: return "";
    case SQLITE_FLOAT: return numberText(sqlite3_column_double(statement_, column));
    default: {
      const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
      return std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
    }
  }
}

std::optional<double> Statement::number(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_double(statement_, column);
}

std::string execute(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return "";
  std::string error = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  return error;
}

}  // namespace tarnindex
