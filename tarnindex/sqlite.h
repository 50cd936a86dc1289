// Owning wrappers of SQLite's connection and statement, used by the index
// alone (not part of the library's interface).
#ifndef TARNINDEX_SQLITE_H
#define TARNINDEX_SQLITE_H

#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>

namespace tarnindex {

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

// A prepared statement; errors are kept in error() with SQLite's message.
class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql);
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void bind(int i, const std::string& text);
  void bind(int i, std::optional<double> number);  // NULL when none
  void bind(int i, long long number);
  // A CSV field: NULL when empty, REAL when it is a number, else TEXT.
  void bindField(int i, const std::string& text);
  // Steps once: true while it gives a row.
  bool row();
  // Runs it to its end, then resets it for new bindings; false on an error.
  bool run();
  std::string text(int column) const;     // a number in its shortest form; "" for NULL
  std::optional<double> number(int column) const;
  long long integer(int column) const { return sqlite3_column_int64(statement_, column); }
  const std::string& error() const { return error_; }

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
  std::string error_;
};

// Runs SQL without results; "" or SQLite's message.
std::string execute(sqlite3* db, const std::string& sql);

}  // namespace tarnindex

#endif  // TARNINDEX_SQLITE_H
