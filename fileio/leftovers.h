// The temporaries that runs which no longer exist (killed while they wrote)
// left beside their files.
#ifndef FILEIO_LEFTOVERS_H
#define FILEIO_LEFTOVERS_H

#include <map>
#include <set>
#include <string>
#include <vector>

class LeftoverTemporaries {
 public:
  // Removes the leftovers for the file `path`. Each folder is read once, at
  // its first file: a temporary counts as a leftover only when no process
  // of its id exists (kill(pid, 0) gives ESRCH); one of a live process,
  // whoever owns it, stays.
  void removeFor(const std::string& path);

 private:
  std::set<std::string> scannedFolders_;
  std::map<std::string, std::vector<std::string>> leftovers_;  // by file path
};

#endif  // FILEIO_LEFTOVERS_H
