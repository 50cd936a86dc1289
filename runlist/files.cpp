#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "obslib.h"

FilePtr openFile(const std::string& name, const char* mode) {
  FilePtr f(std::fopen(name.c_str(), mode));
  if (!f) return f;
  struct stat st;
  if (fstat(fileno(f.get()), &st) == 0 && S_ISDIR(st.st_mode)) {
    f.reset();
    errno = EISDIR;
  }
  return f;
}

FilePtr openLowerOrUpper(const std::string& name, const char* mode) {
  FilePtr f = openFile(name, mode);
  if (!f) f = openFile(chartoupper(name.c_str()), mode);
  return f;
}

namespace {

UniqueFd openForReading(const std::string& name, struct stat& st) {
  UniqueFd fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd && ::fstat(fd.get(), &st) != 0) st = {};
  if (fd && S_ISDIR(st.st_mode)) fd.reset();
  return fd;
}

}  // namespace

UniqueFd openInputLowerOrUpper(const std::string& name, struct stat* status) {
  struct stat st {};
  UniqueFd fd = openForReading(name, st);
  if (!fd) fd = openForReading(chartoupper(name.c_str()), st);
  if (status) *status = st;
  return fd;
}

int whyNotOpened(const std::string& name) {
  for (const std::string& tried : {name, std::string(chartoupper(name.c_str()))}) {
    struct stat st;
    if (::stat(tried.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    UniqueFd fd(::open(tried.c_str(), O_RDONLY | O_CLOEXEC));
    return fd ? EIO : errno;
  }
  return ENOENT;
}

std::size_t readUpTo(int fd, unsigned char* data, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, data + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

bool readWholeLine(std::FILE* f, std::string& line) {
  line.clear();
  int c = std::getc(f);
  if (c == EOF) return false;
  bool cut = false;
  for (; c != EOF && c != '\n'; c = std::getc(f)) {
    if (c == '\0') cut = true;
    if (!cut) line.push_back(static_cast<char>(c));
  }
  return true;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}

void FieldScanner::skipSpace() {
  while (pos_ < text_.size() && isBlank(text_[pos_])) ++pos_;
}

bool FieldScanner::word(std::string& out, std::size_t width) {
  skipSpace();
  std::size_t end = pos_;
  while (end < text_.size() && !isBlank(text_[end]) && end - pos_ < width) ++end;
  if (end == pos_) return false;
  out = text_.substr(pos_, end - pos_);
  pos_ = end;
  return true;
}

bool FieldScanner::integer(int& out, std::size_t width) {
  skipSpace();
  std::size_t p = pos_;
  std::size_t limit = width == std::string::npos ? text_.size()
                                                  : std::min(text_.size(), pos_ + width);
  bool negative = false;
  if (p < limit && (text_[p] == '+' || text_[p] == '-')) {
    negative = text_[p] == '-';
    ++p;
  }
  std::size_t digitsStart = p;
  long long value = 0;
  while (p < limit && text_[p] >= '0' && text_[p] <= '9') {
    if (value <= INT_MAX) value = value * 10 + (text_[p] - '0');
    ++p;
  }
  if (p == digitsStart) {
    pos_ = p;
    return false;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  out = static_cast<int>(value);
  pos_ = p;
  return true;
}

bool FieldScanner::real(double& out) {
  skipSpace();
  const char* start = text_.c_str() + pos_;
  char* end = nullptr;
  double value = std::strtod(start, &end);
  if (end == start) return false;
  out = value;
  pos_ += static_cast<std::size_t>(end - start);
  return true;
}
