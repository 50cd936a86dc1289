// A fault seam over the programs' file calls, preloaded into a program under
// test (LD_PRELOAD) so that a test can make a chosen call on a temporary
// output fail, deterministically. FAULTFS in the environment chooses:
//   close-eio     every close of a temporary (of FAULTFS_FILE if set) reports EIO (the file is
//                 closed all the same), as a network file system may;
//   room-for-one  the first write to a temporary on a worker thread waits
//                 until a second temporary exists beside it, then fails with
//                 ENOSPC: the later entry's temporary took the room;
//   two-at-once   a write to a temporary on a worker thread waits until two
//                 are under way at once, and fails with EIO when that does
//                 not happen within ten seconds;
//   log-room      a write to the error log while a temporary exists beside
//                 it writes half its bytes, and the next write fails with
//                 ENOSPC: the temporaries took the room.
// Writes on the main thread, and every other file, are left alone.
#include <dirent.h>
#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

const char* mode() {
  const char* m = std::getenv("FAULTFS");
  return m ? m : "";
}

std::string pathOf(int fd) {
  char link[64];
  char target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

bool isTemporary(const std::string& path) { return path.find(".Partial-") != std::string::npos; }

bool onWorker() { return ::syscall(SYS_gettid) != ::getpid(); }

// Temporaries in the folder of `path`, `path` included.
int temporariesBeside(const std::string& path) {
  const std::string folder = path.substr(0, path.rfind('/') + 1);
  int count = 0;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* item = ::readdir(dir)) count += isTemporary(item->d_name) ? 1 : 0;
    ::closedir(dir);
  }
  return count;
}

template <typename Predicate>
bool waitFor(Predicate ready, std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  while (!ready()) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::atomic<bool> roomTaken{false};
std::atomic<int> writesUnderWay{0};

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t size) {
  using Write = ssize_t (*)(int, const void*, size_t);
  static const Write real = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
  const std::string how = mode();
  const std::string path = how.empty() ? std::string() : pathOf(fd);
  const std::string log = "/tarnfits.log";
  if (how == "log-room" && path.size() > log.size() &&
      path.compare(path.size() - log.size(), log.size(), log) == 0 && temporariesBeside(path) > 0) {
    if (!roomTaken.exchange(true)) return real(fd, data, size / 2);
    errno = ENOSPC;
    return -1;
  }
  if (how.empty() || !onWorker() || !isTemporary(path)) return real(fd, data, size);
  if (how == "room-for-one" && !roomTaken.exchange(true)) {
    waitFor([&path] { return temporariesBeside(path) >= 2; }, std::chrono::seconds(10));
    errno = ENOSPC;
    return -1;
  }
  if (how == "two-at-once") {
    ++writesUnderWay;
    const bool met = waitFor([] { return writesUnderWay.load() >= 2; }, std::chrono::seconds(10));
    const ssize_t written = met ? real(fd, data, size) : -1;
    if (!met) errno = EIO;
    return written;
  }
  return real(fd, data, size);
}

extern "C" int close(int fd) {
  using Close = int (*)(int);
  static const Close real = reinterpret_cast<Close>(::dlsym(RTLD_NEXT, "close"));
  const char* only = std::getenv("FAULTFS_FILE");
  const bool fails = std::strcmp(mode(), "close-eio") == 0 && isTemporary(pathOf(fd)) &&
                     (!only || pathOf(fd).find(std::string("/") + only + ".Partial-") != std::string::npos);
  const int closed = real(fd);
  if (!fails || closed != 0) return closed;
  errno = EIO;
  return -1;
}
