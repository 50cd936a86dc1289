// Error log: one line per failed entry, appended to "tarnfits.log" in the
// current folder by all three programs.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "obslib.h"

namespace {

constexpr const char* kErrorLogMode = "at";  // append, text; created if missing
constexpr const char* kErrorLineFormat = "cannot open '%s'  (%s)\n";
constexpr const char* kLogWarning =
    "# Warning! Cannot write the error log (tarnfits.log)\n";

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

// errlistquiet: appends "cannot open '<fileName>'  (<reason>)\n" to the
// error log and says whether the line was written; warns no one.
//
// The log is opened and closed within the call, so each line has reached the
// file system before the caller goes on.
bool errlistquiet(const char* fileName, const char* reason) {
  FileHandle log(std::fopen(kErrorLogName, kErrorLogMode));
  if (!log) return false;
  struct stat before;
  const bool sized = ::fstat(fileno(log.get()), &before) == 0;
  const bool written = std::fprintf(log.get(), kErrorLineFormat, fileName, reason) >= 0 &&
                       std::fflush(log.get()) == 0;
  if (!written && sized) {
    std::clearerr(log.get());
    (void)::ftruncate(fileno(log.get()), before.st_size);
  }
  const bool closed = std::fclose(log.release()) == 0;
  return written && closed;
}

// errlist: as errlistquiet; when the log cannot be opened, written or closed
// (a directory of that name, a full disk), a warning goes to standard error
// and the call returns; callers take no result either way.
void errlist(const char* fileName, const char* reason) {
  if (!errlistquiet(fileName, reason)) std::fputs(kLogWarning, stderr);
}
