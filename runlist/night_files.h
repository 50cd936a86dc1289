// The shared files of a night folder, besides the error log (obslib.h):
// each looked for under this name, then in upper case.
#ifndef RUNLIST_NIGHT_FILES_H
#define RUNLIST_NIGHT_FILES_H

inline constexpr const char* kRunListName = "tarnlist.dat";
inline constexpr const char* kCatalogueName = "object.lst";

#endif  // RUNLIST_NIGHT_FILES_H
