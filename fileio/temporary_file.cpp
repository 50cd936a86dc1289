#include "temporary_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "leftovers.h"

namespace {

const char* const kTemporaryMarker = ".Partial-";

// The signals after which a run removes its temporaries.
const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// The names of the temporaries that exist and are not yet renamed, for the
// signal handler: the run state that a signal may interrupt at any point.
// Only the main thread fills and empties an entry, and the handler runs only
// on the main thread; the name an entry points to is complete before it is
// stored and freed only after the entry is emptied. The converters keep at
// most the entries in flight, two ready ahead and one being prepared;
// tarnlook keeps one.
constexpr int kMostTemporaries = 64;
std::atomic<char*> temporaryNames[kMostTemporaries];

// The serial number n of the next temporary of this process.
unsigned long nextSerial = 1;

// What the handler does first (setLastWordOnSignals).
std::atomic<void (*)(int)> lastWord{nullptr};

static_assert(std::atomic<char*>::is_always_lock_free, "the handler reads the table lock-free");

extern "C" void removeTemporariesAndDie(int signal) {
  const int interrupted = errno;  // of the code the signal interrupted
  if (void (*word)(int) = lastWord.load()) word(signal);
  for (std::atomic<char*>& entry : temporaryNames) {
    const char* name = entry.load();
    if (name != nullptr) ::unlink(name);
  }
  // Dies of the same signal once the handler returns (the signal is blocked
  // until then), so that a parent sees how the run ended.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
  errno = interrupted;
}

// Records a name; the entry's index, or -1 (errno EMFILE) when the table
// is full.
int record(const std::string& name) {
  for (int i = 0; i < kMostTemporaries; ++i) {
    if (temporaryNames[i].load() != nullptr) continue;
    char* copy = new char[name.size() + 1];
    std::memcpy(copy, name.c_str(), name.size() + 1);
    temporaryNames[i].store(copy);
    return i;
  }
  errno = EMFILE;
  return -1;
}

void forget(int slot) { delete[] temporaryNames[slot].exchange(nullptr); }

void cleanupSignalSet(sigset_t& set) {
  sigemptyset(&set);
  for (int signal : kCleanupSignals) sigaddset(&set, signal);
}

}  // namespace

std::string temporaryNameFor(const std::string& path, pid_t pid, unsigned long n) {
  return path + kTemporaryMarker + std::to_string(pid) + "-" + std::to_string(n);
}

bool parseTemporaryName(const std::string& name, std::string& file, pid_t& owner) {
  const std::size_t marker = name.rfind(kTemporaryMarker);
  if (marker == std::string::npos || marker == 0) return false;
  std::string digits = name.substr(marker + std::strlen(kTemporaryMarker));
  const std::size_t dash = digits.find('-');
  if (dash != std::string::npos) {
    const std::string serial = digits.substr(dash + 1);
    if (serial.empty() || serial.find_first_not_of("0123456789") != std::string::npos)
      return false;
    digits.resize(dash);
  }
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  file = name.substr(0, marker);
  owner = static_cast<pid_t>(std::stol(digits));
  return owner > 0;
}

void removeTemporariesOnSignals() {
  struct sigaction action {};
  action.sa_handler = removeTemporariesAndDie;
  cleanupSignalSet(action.sa_mask);
  for (int signal : kCleanupSignals) {
    struct sigaction before {};
    if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

void setLastWordOnSignals(void (*word)(int signal)) { lastWord.store(word); }

CleanupSignalsBlocked::CleanupSignalsBlocked() {
  sigset_t set;
  cleanupSignalSet(set);
  pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

CleanupSignalsBlocked::~CleanupSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

TemporaryFile& TemporaryFile::operator=(TemporaryFile&& other) noexcept {
  if (this != &other) {
    discard();
    path_ = std::move(other.path_);
    slot_ = other.slot_;
    other.slot_ = -1;
    file_ = std::move(other.file_);
  }
  return *this;
}

bool TemporaryFile::create(const std::string& path) {
  discard();
  const std::string name = temporaryNameFor(path, ::getpid(), nextSerial++);
  slot_ = record(name);
  if (slot_ < 0) return false;
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  // The mode of a plain create: 0666 less the umask.
  file_ = UniqueFd(::open(name.c_str(), flags, 0666));
  // A name of an earlier process of the same id, killed while it wrote.
  if (!file_ && errno == EEXIST && ::unlink(name.c_str()) == 0)
    file_ = UniqueFd(::open(name.c_str(), flags, 0666));
  if (!file_) {
    const int error = errno;
    forget(slot_);
    slot_ = -1;
    errno = error;
    return false;
  }
  path_ = path;
  return true;
}

const char* TemporaryFile::temporaryName() const {
  return slot_ < 0 ? nullptr : temporaryNames[slot_].load();
}

bool TemporaryFile::commit() {
  if (slot_ < 0 || ::rename(temporaryNames[slot_].load(), path_.c_str()) != 0) return false;
  forget(slot_);
  slot_ = -1;
  return true;
}

void TemporaryFile::discard() {
  file_.reset();
  if (slot_ < 0) return;
  const int error = errno;
  ::unlink(temporaryNames[slot_].load());
  forget(slot_);
  slot_ = -1;
  errno = error;
}

int replaceFileWith(const std::string& path, const void* bytes, std::size_t size,
                    LeftoverTemporaries& leftovers) {
  leftovers.removeFor(path);
  TemporaryFile file;
  if (!file.create(path) || !writeAll(file.fd(), bytes, size) || !file.close() || !file.commit())
    return errno;
  return 0;
}
