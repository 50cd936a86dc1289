// What the index keeps open: the connection, the lock of the root and the
// frames table's columns; shared by store.cpp, store_night.cpp and find.cpp.
#ifndef TARNINDEX_STORE_IMPL_H
#define TARNINDEX_STORE_IMPL_H

#include <string>
#include <vector>

#include "index.h"
#include "sqlite.h"

namespace tarnindex {

class Index::Impl {
 public:
  ~Impl();
  std::string loadColumns();
  std::string removeRows(const std::string& path);
  std::string putSummary(const std::string& path, const NightContent* content, const std::string& state,
                         const std::string& reason, long long& id);
  std::string putFiles(long long id, const std::vector<FileStamp>& files);
  // The night's frames (adding the columns first met), run-list lines,
  // runs, flags and measures.
  std::string putContent(long long id, const std::string& path, const NightContent& content);
  // The frames table's column for each column of a tarnlook.csv header.
  std::vector<std::string> columnsFor(const std::vector<std::string>& header, std::string& error);

  Database db;
  int lockFd = -1;                   // flock held for the run; -1 when read only
  std::vector<std::string> columns;  // the frames table's, in order
};

}  // namespace tarnindex

#endif  // TARNINDEX_STORE_IMPL_H
