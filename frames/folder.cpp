// Listing a folder.
#include "frames.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

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

}  // namespace tarnlook
