#include "leftovers.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "temporary_file.h"

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// The folder part of a path, with its slash ("./" for none), and the name.
void splitPath(const std::string& path, std::string& folder, std::string& name) {
  const std::size_t slash = path.rfind('/');
  folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool processIsGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

}  // namespace

void LeftoverTemporaries::removeFor(const std::string& path) {
  std::string folder, file;
  splitPath(path, folder, file);
  if (scannedFolders_.insert(folder).second) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    while (const dirent* item = dir ? ::readdir(dir.get()) : nullptr) {
      std::string of;
      pid_t owner = 0;
      if (parseTemporaryName(item->d_name, of, owner) && owner != ::getpid() &&
          processIsGone(owner))
        leftovers_[folder + of].push_back(folder + item->d_name);
    }
  }
  const auto found = leftovers_.find(folder + file);
  if (found == leftovers_.end()) return;
  for (const std::string& name : found->second) ::unlink(name.c_str());
  leftovers_.erase(found);
}
