#include "file_identity.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <memory>

namespace {

struct FreeDeleter {
  void operator()(char* text) const { std::free(text); }
};

}  // namespace

std::optional<FileKey> fileReplacedBy(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return std::nullopt;
  return FileKey{st.st_dev, st.st_ino,
                 slash == std::string::npos ? path : path.substr(slash + 1)};
}

std::optional<FileKey> fileReadBy(const std::string& path) {
  // A name in this folder that is no link reaches itself: the usual case,
  // told without walking the whole path.
  struct stat st;
  if (path.find('/') == std::string::npos) {
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    if (!S_ISLNK(st.st_mode)) return fileReplacedBy(path);
  }
  const std::unique_ptr<char, FreeDeleter> resolved(::realpath(path.c_str(), nullptr));
  if (!resolved) return std::nullopt;
  return fileReplacedBy(resolved.get());
}

std::optional<FileKey> fileAppendedBy(const std::string& path) {
  std::optional<FileKey> key = fileReadBy(path);
  return key ? key : fileReplacedBy(path);
}
