// Listing the current folder and removing the sheets of an earlier run.
#include "folder.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "layout.h"

namespace tarnlook {

std::string listFolder(const std::string& path, std::vector<std::string>& names) {
  std::error_code error;
  std::filesystem::directory_iterator entry(path, error);
  // The range-for form would throw on a failed step; increment reports it.
  for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    names.push_back(entry->path().filename().string());
  }
  if (error) return "cannot read the folder '" + path + "': " + error.message();
  return "";
}

std::string removeStaleSheets(int count) {
  std::vector<std::string> names;
  std::string failure = listFolder(".", names);
  if (!failure.empty()) return failure;
  for (const std::string& name : staleSheets(names, count)) {
    // unlink, not remove: an entry that is a folder is not taken away.
    if (::unlink(name.c_str()) != 0 && errno != ENOENT && failure.empty()) {
      failure = "cannot remove " + name + ": " + std::strerror(errno);
    }
  }
  return failure;
}

}  // namespace tarnlook
