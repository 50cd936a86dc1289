// The index as an SQLite database: its schema, a night put in or taken out
// in one transaction, and the nights and measures read back for the page.
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "index.h"
#include "sqlite.h"
#include "store_impl.h"

namespace tarnindex {

namespace {

constexpr int kBusyMilliseconds = 10000;  // another program inside a transaction: wait this long
constexpr auto kLockPoll = std::chrono::milliseconds(50);

// The schema (docs/tarnindex.md). frames starts with the index's own
// columns; each column of tarnlook.csv is added when first met.
const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS nights(night_id INTEGER PRIMARY KEY, path TEXT UNIQUE NOT NULL,"
    " state TEXT NOT NULL, reason TEXT, night_date TEXT, ut_first TEXT, ut_last TEXT, frames INTEGER,"
    " frames_by_type TEXT, object_exposure_s REAL, median_fwhm_px REAL, median_fwhm_arcsec REAL,"
    " seeing TEXT, sky_per_s_by_filter TEXT, flagged_frames INTEGER, runlist_problems INTEGER, verdict TEXT);"
    "CREATE TABLE IF NOT EXISTS files(night_id INTEGER NOT NULL, name TEXT NOT NULL, size INTEGER,"
    " mtime_ns INTEGER, PRIMARY KEY(night_id, name));"
    "CREATE TABLE IF NOT EXISTS frames(frame_id INTEGER PRIMARY KEY, night_id INTEGER NOT NULL,"
    " night_date TEXT, night_path TEXT);"
    "CREATE INDEX IF NOT EXISTS frames_by_night ON frames(night_id);"
    "CREATE TABLE IF NOT EXISTS runlist(night_id INTEGER NOT NULL, line INTEGER, input TEXT, output TEXT,"
    " outcome TEXT, reason TEXT, log_reason TEXT);"
    "CREATE INDEX IF NOT EXISTS runlist_by_night ON runlist(night_id);"
    "CREATE TABLE IF NOT EXISTS runs(night_id INTEGER NOT NULL, program TEXT, version TEXT,"
    " started_ut TEXT, ended_ut TEXT, exit_status INTEGER, outcome TEXT, reason TEXT);"
    "CREATE INDEX IF NOT EXISTS runs_by_night ON runs(night_id);"
    "CREATE TABLE IF NOT EXISTS flags(frame_id INTEGER NOT NULL, night_id INTEGER NOT NULL, flag TEXT);"
    "CREATE INDEX IF NOT EXISTS flags_by_night ON flags(night_id);"
    "CREATE TABLE IF NOT EXISTS measures(night_id INTEGER NOT NULL, quantity TEXT, series TEXT, value REAL);"
    "CREATE INDEX IF NOT EXISTS measures_by_night ON measures(night_id);";

const char* const kNightTables[] = {"files", "frames", "runlist", "runs", "flags", "measures"};

// Takes the root for this run: an exclusive flock on the database file,
// tried until `seconds` have passed. -1 and `error` set when it cannot.
int lockRoot(const std::string& path, double seconds, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return -1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
      error = errno == EWOULDBLOCK ? "another tarnindex is running on this folder (" + path +
                                         " is in use); try again when it has ended"
                                   : path + ": " + std::strerror(errno);
      ::close(fd);
      return -1;
    }
    std::this_thread::sleep_for(kLockPoll);
  }
  return fd;
}

Database connect(const std::string& path, int flags, std::string& error) {
  sqlite3* raw = nullptr;
  const int status = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Database db(raw);
  if (status != SQLITE_OK) {
    error = path + ": " + (raw ? sqlite3_errmsg(raw) : "cannot be opened");
    return nullptr;
  }
  sqlite3_busy_timeout(db.get(), kBusyMilliseconds);
  return db;
}

}  // namespace

Index::Index(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Index::~Index() = default;

Index::Impl::~Impl() {
  if (lockFd >= 0) ::close(lockFd);
}

std::unique_ptr<Index> Index::open(const std::string& root, double lockSeconds, std::string& error) {
  auto impl = std::make_unique<Impl>();
  const std::string path = root + "/" + kIndexName;
  impl->lockFd = lockRoot(path, lockSeconds, error);
  if (impl->lockFd < 0) return nullptr;
  impl->db = connect(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, error);
  if (!impl->db) return nullptr;
  // WAL: a killed run leaves the last committed night whole, and readers
  // go on reading while a night is written.
  std::string failure = execute(impl->db.get(), "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
  if (failure.empty()) failure = execute(impl->db.get(), kSchema);
  if (failure.empty()) failure = impl->loadColumns();
  if (!failure.empty()) {
    error = path + ": " + failure;
    return nullptr;
  }
  return std::unique_ptr<Index>(new Index(std::move(impl)));
}

std::unique_ptr<Index> Index::openToRead(const std::string& root, std::string& error) {
  auto impl = std::make_unique<Impl>();
  const std::string path = root + "/" + kIndexName;
  if (::access(path.c_str(), R_OK) != 0) {
    error = path + ": " + std::strerror(errno) + " (run tarnindex there first)";
    return nullptr;
  }
  impl->db = connect(path, SQLITE_OPEN_READONLY, error);
  if (!impl->db) return nullptr;
  if (const std::string failure = impl->loadColumns(); !failure.empty()) {
    error = path + ": " + failure;
    return nullptr;
  }
  return std::unique_ptr<Index>(new Index(std::move(impl)));
}

std::string Index::Impl::loadColumns() {
  columns.clear();
  Statement info(db.get(), "PRAGMA table_info(frames)");
  while (info.row()) columns.push_back(info.text(1));
  if (columns.empty() && info.error().empty()) return "no frames table: not an index of tarnindex";
  return info.error();
}

std::map<std::string, Index::Stored> Index::stored(std::string& error) {
  std::map<std::string, Stored> nights;
  Statement all(impl_->db.get(), "SELECT path, name, size, mtime_ns, state, reason FROM nights"
                                 " LEFT JOIN files USING(night_id) ORDER BY path, name");
  while (all.row()) {
    Stored& night = nights[all.text(0)];
    night.state = all.text(4), night.reason = all.text(5);
    if (!all.text(1).empty()) night.files.push_back({all.text(1), all.integer(2), all.integer(3)});
  }
  error = all.error();
  return nights;
}

std::string Index::removeNight(const std::string& path) {
  sqlite3* db = impl_->db.get();
  std::string error = execute(db, "BEGIN IMMEDIATE");
  if (!error.empty()) return error;
  error = impl_->removeRows(path);
  if (error.empty()) error = execute(db, "COMMIT");
  if (!error.empty()) execute(db, "ROLLBACK");
  return error;
}

std::string Index::Impl::removeRows(const std::string& path) {
  Statement find(db.get(), "SELECT night_id FROM nights WHERE path = ?");
  find.bind(1, path);
  if (!find.row()) return find.error();
  const std::string id = std::to_string(find.integer(0));
  for (const char* table : kNightTables) {
    if (auto error = execute(db.get(), std::string("DELETE FROM ") + table + " WHERE night_id = " + id); !error.empty()) {
      return error;
    }
  }
  return execute(db.get(), "DELETE FROM nights WHERE night_id = " + id);
}

std::string Index::putNight(const FoundNight& night, const NightContent* content, const std::string& state,
                            const std::string& reason, const std::function<void()>& beforeCommit) {
  sqlite3* db = impl_->db.get();
  std::string error = execute(db, "BEGIN IMMEDIATE");
  if (!error.empty()) return error;
  error = impl_->removeRows(night.path);
  long long id = 0;
  if (error.empty()) error = impl_->putSummary(night.path, content, state, reason, id);
  if (error.empty()) error = impl_->putFiles(id, night.files);
  if (error.empty() && content) error = impl_->putContent(id, night.path, *content);
  if (error.empty() && beforeCommit) beforeCommit();
  if (error.empty()) error = execute(db, "COMMIT");
  if (!error.empty()) execute(db, "ROLLBACK");
  return error;
}

std::string Index::Impl::putSummary(const std::string& path, const NightContent* c, const std::string& state,
                                    const std::string& reason, long long& id) {
  Statement put(db.get(),
                "INSERT INTO nights(path, state, reason, night_date, ut_first, ut_last, frames, frames_by_type,"
                " object_exposure_s, median_fwhm_px, median_fwhm_arcsec, seeing, sky_per_s_by_filter,"
                " flagged_frames, runlist_problems, verdict) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  put.bind(1, path);
  put.bind(2, state);
  put.bindField(3, reason);
  if (c) {
    put.bindField(4, c->date);
    put.bindField(5, c->utFirst);
    put.bindField(6, c->utLast);
    put.bind(7, static_cast<long long>(c->frames.rows.size()));
    put.bindField(8, c->framesByType);
    put.bind(9, c->objectExposure);
    const auto measure = [c](const char* quantity) -> std::optional<double> {
      for (const Measure& m : c->measures) if (m.quantity == quantity) return m.value;
      return std::nullopt;
    };
    put.bind(10, measure("fwhm_px"));
    put.bind(11, measure("fwhm_arcsec"));
    put.bindField(12, c->seeing);
    put.bindField(13, c->skyPerFilter);
    put.bind(14, static_cast<long long>(c->flagged));
    put.bind(15, static_cast<long long>(c->runListProblems));
    put.bind(16, c->verdict);
  }
  put.run();
  id = sqlite3_last_insert_rowid(db.get());
  return put.error();
}

std::string Index::Impl::putFiles(long long id, const std::vector<FileStamp>& files) {
  Statement put(db.get(), "INSERT INTO files(night_id, name, size, mtime_ns) VALUES(?,?,?,?)");
  for (const FileStamp& file : files) {
    put.bind(1, id);
    put.bind(2, file.name);
    put.bind(3, file.size);
    put.bind(4, file.mtimeNs);
    if (!put.run()) break;
  }
  return put.error();
}

}  // namespace tarnindex
