// The current folder as tarnlook sees it: its names, and the sheets of an
// earlier run that this run's sheets replace.
#ifndef TARNLOOK_FOLDER_H
#define TARNLOOK_FOLDER_H

#include <string>
#include <vector>

namespace tarnlook {

// Appends the names of the entries of the folder `path` (without "." and
// ".."), in the order the system lists them. Returns an empty text on
// success, else "cannot read the folder 'path': reason"; `names` then holds
// what was read before the failure.
std::string listFolder(const std::string& path, std::vector<std::string>& names);

// Unlinks from the current folder every sheet that a run which has just
// written `count` sheets did not write (staleSheets). A sheet that is gone
// already is no failure. Returns an empty text on success, else "cannot
// remove NAME: reason" for the first that stays (the others are still
// tried), or the listing's failure (then nothing is removed).
std::string removeStaleSheets(int count);

}  // namespace tarnlook

#endif  // TARNLOOK_FOLDER_H
