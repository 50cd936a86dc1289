// What the fuzz targets share: a silenced console, byte strings read as
// streams, a scratch folder for the whole process and a check that stops
// the run with a message when a property does not hold.
#ifndef TESTS_FUZZ_FUZZ_SUPPORT_H
#define TESTS_FUZZ_FUZZ_SUPPORT_H

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "files.h"

// Stops the fuzzer with the failed property: libFuzzer keeps the input as a
// crash artifact.
#define FUZZ_CHECK(condition)                                                 \
  do {                                                                        \
    if (!(condition)) {                                                       \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__,         \
                   __LINE__, #condition);                                     \
      std::abort();                                                           \
    }                                                                         \
  } while (false)

namespace fuzz {

// Standard output goes to /dev/null for the rest of the process: the
// programs print a line or more per entry; libFuzzer reports on standard
// error.
inline void silenceConsole() {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

// A read-only stream over a copy of `bytes`, NUL bytes included; an empty
// text reads as /dev/null (fmemopen takes no empty buffer).
class MemoryFile {
 public:
  explicit MemoryFile(std::string bytes) : bytes_(std::move(bytes)) {
    file_.reset(bytes_.empty() ? std::fopen("/dev/null", "r")
                               : fmemopen(&bytes_[0], bytes_.size(), "r"));
    if (!file_) std::abort();
  }
  std::FILE* get() const { return file_.get(); }

 private:
  std::string bytes_;  // declared first: outlives the stream that reads it
  FilePtr file_;
};

namespace detail {
inline std::string& scratchPath() {
  static std::string path;
  return path;
}
inline void removeScratch() {
  std::error_code ec;
  std::filesystem::remove_all(scratchPath(), ec);
}
}  // namespace detail

// Makes a fresh folder, enters it and removes it at the process's normal
// exit (a crash leaves it for a look). It is made in $FUZZ_SCRATCH when that
// is set (scripts/fuzz sets it and removes it at its end), else in /dev/shm
// when there is one, so that the outputs stay in memory, else in /tmp.
// Returns its path.
inline const std::string& enterScratchFolder(const char* prefix) {
  const char* scratch = std::getenv("FUZZ_SCRATCH");
  std::string base = scratch != nullptr && *scratch != '\0'           ? scratch
                     : std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                                 : "/tmp";
  std::string name = base + "/" + prefix + "_XXXXXX";
  if (mkdtemp(&name[0]) == nullptr || chdir(name.c_str()) != 0) std::abort();
  detail::scratchPath() = name;
  std::atexit(detail::removeScratch);
  return detail::scratchPath();
}

// Points the error log "tarnfits.log" of the current folder at /dev/null:
// the entries a fuzzer makes up are refused by the thousand.
inline void discardErrorLog() {
  std::remove("tarnfits.log");
  if (symlink("/dev/null", "tarnfits.log") != 0) std::abort();
}

// Whether `text` ends with `tail`.
inline bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace fuzz

#endif  // TESTS_FUZZ_FUZZ_SUPPORT_H
