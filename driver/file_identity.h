// Files told apart by what they are, not by how a run list spells them:
// "./x", "sub/../x", a link to x and a name under a link to x's folder all
// reach the same file.
#ifndef DRIVER_FILE_IDENTITY_H
#define DRIVER_FILE_IDENTITY_H

#include <sys/types.h>

#include <optional>
#include <string>

// A name in a folder, the folder known by its device and inode.
struct FileKey {
  dev_t folderDevice = 0;
  ino_t folderInode = 0;
  std::string name;
  bool operator==(const FileKey& other) const {
    return folderDevice == other.folderDevice && folderInode == other.folderInode &&
           name == other.name;
  }
};

// The file that reading `path` reaches, links followed to the end; empty
// when it reaches nothing (no such file, a link to a file not yet made).
std::optional<FileKey> fileReadBy(const std::string& path);

// The name that renaming a new file to `path` replaces: the name itself in
// its folder (a link there is replaced, not followed); empty when the
// folder cannot be reached.
std::optional<FileKey> fileReplacedBy(const std::string& path);

// The file that appending to `path` writes: the file it reaches, or the one
// it would create.
std::optional<FileKey> fileAppendedBy(const std::string& path);

#endif  // DRIVER_FILE_IDENTITY_H
