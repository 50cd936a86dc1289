// Error log: one line per failed entry, appended to "tarnfits.log" in the
// current folder by all three programs.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "obslib.h"
#include "unique_fd.h"

namespace {

constexpr const char* kErrorLogMode = "at";  // append, text; created if missing
constexpr const char* kErrorLineFormat = "cannot open '%s'  (%s)\n";
// The same line's pieces, for reading it back.
constexpr const char* kErrorLineHead = "cannot open '";
constexpr const char* kErrorLineMiddle = "'  (";
constexpr const char* kErrorLineTail = ")";
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
// file system before the caller goes on. A line that fails part way is cut
// off again, so the log holds whole lines only.
bool errlistquiet(const char* fileName, const char* reason) {
  FileHandle log(std::fopen(kErrorLogName, kErrorLogMode));
  if (!log) return false;
  const int fd = fileno(log.get());
  struct stat before;
  const bool sized = ::fstat(fd, &before) == 0;
  const int length = std::snprintf(nullptr, 0, kErrorLineFormat, fileName, reason);
  std::string line(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  std::snprintf(&line[0], line.size() + 1, kErrorLineFormat, fileName, reason);
  // Straight to the descriptor: nothing of a failed line stays in a stream
  // buffer to be written later.
  const bool written = length >= 0 && writeAll(fd, line.data(), line.size());
  // Nothing more can be done when the cut fails too.
  if (!written && sized && ::ftruncate(fd, before.st_size) != 0) std::clearerr(log.get());
  const bool closed = std::fclose(log.release()) == 0;
  return written && closed;
}

// errlist: as errlistquiet; when the log cannot be opened, written or closed
// (a directory of that name, a full disk), a warning goes to standard error
// and the call returns; callers take no result either way.
void errlist(const char* fileName, const char* reason) {
  if (!errlistquiet(fileName, reason)) std::fputs(kLogWarning, stderr);
}

bool errlistline(const std::string& line, std::string& fileName, std::string& reason) {
  const std::string head = kErrorLineHead, middle = kErrorLineMiddle, tail = kErrorLineTail;
  if (line.compare(0, head.size(), head) != 0 || line.size() < head.size() + tail.size() ||
      line.compare(line.size() - tail.size(), tail.size(), tail) != 0) {
    return false;
  }
  const std::size_t end = line.find(middle, head.size());
  if (end == std::string::npos || end + middle.size() > line.size() - tail.size()) return false;
  fileName = line.substr(head.size(), end - head.size());
  reason = line.substr(end + middle.size(), line.size() - tail.size() - end - middle.size());
  return true;
}
