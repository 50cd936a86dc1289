// The shared files of a night folder, besides the error log (obslib.h):
// each looked for under this name, then in upper case.
#ifndef DRIVER_NIGHT_FILES_H
#define DRIVER_NIGHT_FILES_H

inline constexpr const char* kRunListName = "tarnlist.dat";
inline constexpr const char* kCatalogueName = "object.lst";

#endif  // DRIVER_NIGHT_FILES_H
