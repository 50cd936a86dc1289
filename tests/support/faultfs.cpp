// A fault seam over the programs' file calls, preloaded into a program under
// test (LD_PRELOAD) so that a test can make a chosen call on a temporary
// output fail, or hold the program at a chosen moment, deterministically.
// FAULTFS in the environment chooses:
//   close-eio     every close of a temporary reports EIO (the file is
//                 closed all the same), as a network file system may
//                 (only that of the output FAULTFS_FILE, where set); a
//                 worker's writes to the temporary of FAULTFS_LATE (an
//                 output name) wait until such a close has happened;
//   room-for-one  the first write to a temporary on a worker thread waits
//                 until a second temporary exists beside it, then fails with
//                 ENOSPC: the later entry's temporary took the room;
//   room-twice    as room-for-one, and then the first temporary made while
//                 another exists beside it fails with ENOSPC: inodes gone;
//   open-room     the first temporary made while another exists beside it
//                 fails with ENOSPC;
//   two-at-once   a write to a temporary on a worker thread waits until two
//                 writes to temporaries have been under way at once;
//   log-room      a write to the error log while a temporary exists beside
//                 it writes half its bytes, and the next write fails with
//                 ENOSPC: the temporaries took the room;
//   hold          the first write of samples to a temporary (longer than any
//                 header) writes half its bytes and then holds the program
//                 inside that transfer, for the test to end it.
// Every fault that fires, and every wait that runs out, appends a line to
// the file named by FAULTFS_PROOF, so that a test can tell a seam that
// fired from one that was never reached. A write by a worker to a closed
// descriptor appends "stray write". Writes on the main thread, and every
// other file, are left alone, except by hold.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
// Generous for a busy machine; a wait that runs out is recorded, never
// passed over.
constexpr std::chrono::seconds kLongestWait{20};
// More than any header: a write this long carries samples.
constexpr size_t kHeaderBytes = 2 * 2880;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

const std::string& mode() {
  static const std::string m = env("FAULTFS");
  return m;
}

using Write = ssize_t (*)(int, const void*, size_t);
Write realWrite() {
  static const Write real = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
  return real;
}

void prove(const std::string& what) {
  const std::string path = env("FAULTFS_PROOF");
  if (path.empty()) return;
  const int fd = static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path.c_str(),
                                            O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (fd < 0) return;
  const std::string line = what + "\n";
  ssize_t ignored = realWrite()(fd, line.data(), line.size());
  (void)ignored;
  ::syscall(SYS_close, fd);
}

std::string pathOf(int fd) {
  char link[64];
  char target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// An output's temporary; not the run record's, which is there all the run.
bool isTemporary(const std::string& path) {
  return path.find(".Partial-") != std::string::npos && path.find("-run.csv.") == std::string::npos;
}

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

// Waits until `ready`; false, with a line of proof, when it never was.
template <typename Predicate>
bool waitFor(Predicate ready, const std::string& what) {
  const auto end = Clock::now() + kLongestWait;
  while (!ready()) {
    if (Clock::now() > end) {
      prove(what + " timed out");
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

std::atomic<bool> roomTaken{false};
std::atomic<bool> roomFailed{false};
std::atomic<bool> openFailed{false};
std::atomic<bool> closeFailed{false};
std::atomic<bool> held{false};
// While the hold lasts, a signal handler may write (the run record): its
// writes pass straight through, allocating nothing.
std::atomic<bool> holding{false};
std::atomic<int> writesUnderWay{0};
std::atomic<bool> twoMet{false};

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

ssize_t failWith(int error) {
  errno = error;
  return -1;
}

ssize_t workerWrite(int fd, const void* data, size_t size, const std::string& path) {
  const std::string& how = mode();
  if ((how == "room-for-one" || how == "room-twice") && !roomTaken.exchange(true)) {
    waitFor([&path] { return temporariesBeside(path) >= 2; }, "room-for-one");
    prove("room-for-one");
    roomFailed = true;
    return failWith(ENOSPC);
  }
  if (how == "close-eio" && !env("FAULTFS_LATE").empty() &&
      path.find("/" + env("FAULTFS_LATE") + ".Partial-") != std::string::npos &&
      waitFor([] { return closeFailed.load(); }, "close-eio late write")) {
    // The run that failed the close has time to end while this write waits.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  if (how != "two-at-once") return realWrite()(fd, data, size);
  ++writesUnderWay;
  if (writesUnderWay.load() >= 2 && !twoMet.exchange(true)) prove("two-at-once");
  const bool met = waitFor([] { return twoMet.load(); }, "two-at-once");
  const ssize_t written = met ? realWrite()(fd, data, size) : failWith(EIO);
  const int error = errno;
  --writesUnderWay;
  errno = error;
  return written;
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t size) {
  if (holding.load()) return realWrite()(fd, data, size);
  const std::string& how = mode();
  const std::string path = how.empty() ? std::string() : pathOf(fd);
  if (how == "log-room" && endsWith(path, "/tarnfits.log") && temporariesBeside(path) > 0) {
    if (!roomTaken.exchange(true)) {
      prove("log-room");
      return realWrite()(fd, data, size / 2);
    }
    return failWith(ENOSPC);
  }
  if (how == "hold" && isTemporary(path) && size > kHeaderBytes && !held.exchange(true)) {
    const ssize_t written = realWrite()(fd, data, size / 2);
    holding.store(true);
    prove("hold");
    const auto end = Clock::now() + 3 * kLongestWait;
    while (Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    holding.store(false);
    prove("hold timed out");
    return written;
  }
  if (how.empty() || !onWorker()) return realWrite()(fd, data, size);
  const ssize_t written =
      isTemporary(path) ? workerWrite(fd, data, size, path) : realWrite()(fd, data, size);
  if (written < 0 && errno == EBADF) {
    prove("stray write");
    errno = EBADF;
  }
  return written;
}

extern "C" int open(const char* name, int flags, ...) {
  using Open = int (*)(const char*, int, ...);
  static const Open real = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "open"));
  mode_t permissions = 0;
  if (flags & O_CREAT) {
    va_list args;
    va_start(args, flags);
    permissions = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  const std::string& how = mode();
  const bool armed = how == "open-room" || (how == "room-twice" && roomFailed.load());
  if (armed && (flags & O_CREAT) && isTemporary(name) && !openFailed.load()) {
    const std::string path = name;
    const std::string absolute = path.find('/') == std::string::npos ? "./" + path : path;
    if (temporariesBeside(absolute) > 0 && !openFailed.exchange(true)) {
      prove("open-room");
      return static_cast<int>(failWith(ENOSPC));
    }
  }
  return real(name, flags, permissions);
}

extern "C" int close(int fd) {
  using Close = int (*)(int);
  static const Close real = reinterpret_cast<Close>(::dlsym(RTLD_NEXT, "close"));
  const std::string only = env("FAULTFS_FILE");
  const std::string path = pathOf(fd);
  const bool fails = mode() == "close-eio" && isTemporary(path) &&
                     (only.empty() || path.find("/" + only + ".Partial-") != std::string::npos);
  const int closed = real(fd);
  if (!fails || closed != 0) return closed;
  prove("close-eio");
  closeFailed = true;
  errno = EIO;
  return -1;
}
