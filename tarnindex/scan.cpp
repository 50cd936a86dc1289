// The night folders under a root, told apart by what they are (a folder's
// device and inode, links followed), and the texts of their tables.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

#include "index.h"
#include "night_files.h"

namespace tarnindex {

namespace {

constexpr std::size_t kPageHeadBytes = 1 << 16;  // tarnlook.html's heading comes before its thumbnails

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

bool endsWith(const std::string& name, const std::string& end) {
  return name.size() > end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
}

bool isTable(const std::string& name) {
  return name == "tarnlook.csv" || name == "tarnlook-runlist.csv" || name == "tarnlook.html" ||
         endsWith(name, "-run.csv");
}

bool isRunList(const std::string& name) {
  std::string upper = kRunListName;
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  return name == kRunListName || name == upper;
}

long long nanoseconds(const struct stat& s) {
  return static_cast<long long>(s.st_mtim.tv_sec) * 1000000000LL + s.st_mtim.tv_nsec;
}

class Walk {
 public:
  explicit Walk(std::string root) : root_(std::move(root)) {}

  void folder(const std::string& path, const struct stat& self) {
    const auto identity = std::make_pair(self.st_dev, self.st_ino);
    if (const auto seen = seen_.find(identity); seen != seen_.end()) {
      if (isNight(path)) nights_.push_back(passed(path, "the same night as " + seen->second));
      return;
    }
    seen_.emplace(identity, path);
    const std::string full = path == "." ? root_ : root_ + "/" + path;
    std::unique_ptr<DIR, DirCloser> dir(opendir(full.c_str()));
    if (!dir) {
      nights_.push_back(passed(path, std::string("the folder cannot be read: ") + std::strerror(errno)));
      return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir.get())) {
      if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    dir.reset();
    std::sort(names.begin(), names.end());
    entries(path, full, names);
  }

  std::vector<FoundNight> done() {
    std::sort(nights_.begin(), nights_.end(), [](const FoundNight& a, const FoundNight& b) { return a.path < b.path; });
    return std::move(nights_);
  }

 private:
  void entries(const std::string& path, const std::string& full, const std::vector<std::string>& names) {
    FoundNight night;
    night.path = path;
    bool runList = false;
    long long newestFrame = -1;
    std::vector<std::pair<std::string, struct stat>> folders;
    for (const std::string& name : names) {
      struct stat s {};
      if (stat((full + "/" + name).c_str(), &s) != 0) {
        if (errno != ENOENT) nights_.push_back(passed(child(path, name), std::string("the folder cannot be read: ") + std::strerror(errno)));
        continue;
      }
      if (S_ISDIR(s.st_mode)) folders.emplace_back(name, s);
      if (!S_ISREG(s.st_mode)) continue;
      if (isTable(name)) night.files.push_back({name, static_cast<long long>(s.st_size), nanoseconds(s)});
      if (isRunList(name)) runList = true, night.files.push_back({name, static_cast<long long>(s.st_size), nanoseconds(s)});
      if (endsWith(name, ".fit")) newestFrame = std::max(newestFrame, nanoseconds(s));
    }
    const auto table = std::find_if(night.files.begin(), night.files.end(),
                                    [](const FileStamp& f) { return f.name == "tarnlook.csv"; });
    night.looked = table != night.files.end();
    night.hasFrames = newestFrame >= 0;
    night.framesNewer = night.hasFrames && (!night.looked || newestFrame > table->mtimeNs);
    if (night.looked || runList || night.hasFrames) nights_.push_back(std::move(night));
    for (const auto& [name, s] : folders) folder(child(path, name), s);
  }

  bool isNight(const std::string& path) const {
    const std::string full = path == "." ? root_ : root_ + "/" + path;
    struct stat s {};
    return stat((full + "/tarnlook.csv").c_str(), &s) == 0 || stat((full + "/" + kRunListName).c_str(), &s) == 0;
  }

  static std::string child(const std::string& path, const std::string& name) {
    return path == "." ? name : path + "/" + name;
  }

  static FoundNight passed(const std::string& path, const std::string& reason) {
    FoundNight night;
    night.path = path;
    night.passedOver = reason;
    return night;
  }

  std::string root_;
  std::map<std::pair<dev_t, ino_t>, std::string> seen_;  // each folder's first path
  std::vector<FoundNight> nights_;
};

// The whole file, or its first `most` bytes; false when it cannot be read.
bool readFile(const std::string& path, std::string& bytes, std::size_t most = std::string::npos) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  if (most == std::string::npos) {
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } else {
    bytes.resize(most);
    in.read(&bytes[0], static_cast<std::streamsize>(most));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
  }
  return !in.bad();
}

}  // namespace

std::vector<FoundNight> findNights(const std::string& root) {
  Walk walk(root);
  struct stat s {};
  if (stat(root.c_str(), &s) != 0 || !S_ISDIR(s.st_mode)) return {};
  walk.folder(".", s);
  return walk.done();
}

std::string readTexts(const std::string& root, const FoundNight& night, NightTexts& texts) {
  texts = NightTexts{};
  texts.path = night.path;
  const std::string folder = night.path == "." ? root : root + "/" + night.path;
  for (const FileStamp& file : night.files) {
    const std::string path = folder + "/" + file.name;
    std::string bytes;
    const bool page = file.name == "tarnlook.html";
    if (isRunList(file.name)) continue;
    if (!readFile(path, bytes, page ? kPageHeadBytes : std::string::npos)) {
      return file.name + " cannot be read: " + std::strerror(errno);
    }
    if (page) texts.pageHead = bytes.substr(0, bytes.find("</h1>"));
    else if (file.name == "tarnlook.csv") texts.frames = std::move(bytes);
    else if (file.name == "tarnlook-runlist.csv") texts.runList = std::move(bytes);
    else texts.runs[file.name.substr(0, file.name.size() - 8)] = std::move(bytes);
  }
  return "";
}

}  // namespace tarnindex
