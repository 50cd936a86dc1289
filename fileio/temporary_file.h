// A file written beside its name and renamed over it when complete, so that
// the name holds the older file or the whole new one, never a part. While it
// is written it is "<name>.Partial-<process id>-<n>", n counting the
// temporaries of the process from 1; a run that ends by SIGINT, SIGTERM,
// SIGHUP or SIGPIPE removes the temporaries it has not renamed yet before it
// dies of that signal.
//
// Threads: only the main thread creates, commits and discards temporaries;
// other threads may write to and close one it hands them.
#ifndef FILEIO_TEMPORARY_FILE_H
#define FILEIO_TEMPORARY_FILE_H

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <utility>

#include "unique_fd.h"

// The temporary name of the n-th temporary that process `pid` writes for
// `path`. The marker is in mixed case, so that no run-list entry (tried in
// lower and in upper case) can open it, and the name does not end in "fit"
// or "fts".
std::string temporaryNameFor(const std::string& path, pid_t pid, unsigned long n);

// The name of the file and the process id of a temporary's name (a folder
// entry), of this form or of the older "<name>.Partial-<pid>"; false when
// `name` is neither.
bool parseTemporaryName(const std::string& name, std::string& file, pid_t& owner);

// Installs the clean-up on SIGINT, SIGTERM, SIGHUP and SIGPIPE: the handler
// removes every temporary not yet renamed, restores the signal's default
// action and raises it again, so the process dies of that signal. A signal
// that was ignored when the program started stays ignored (nohup, a
// script's background run). Call once, from the main thread, at start-up.
void removeTemporariesOnSignals();

// A last word for those signals: called by the handler, with the signal,
// before the temporaries go (so it may still rename one of them). It must
// be async-signal-safe. Null: none. Set from the main thread.
void setLastWordOnSignals(void (*lastWord)(int signal));

// Blocks those signals on the calling thread for its scope. A thread
// started inside the scope inherits the mask, so the handler only ever runs
// on the main thread.
class CleanupSignalsBlocked {
 public:
  CleanupSignalsBlocked();
  ~CleanupSignalsBlocked();
  CleanupSignalsBlocked(const CleanupSignalsBlocked&) = delete;
  CleanupSignalsBlocked& operator=(const CleanupSignalsBlocked&) = delete;

 private:
  sigset_t previous_;
};

class TemporaryFile {
 public:
  TemporaryFile() = default;
  TemporaryFile(TemporaryFile&& other) noexcept { *this = std::move(other); }
  TemporaryFile& operator=(TemporaryFile&& other) noexcept;
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() { discard(); }

  // Creates a new temporary for `path` in its folder, write only, with the
  // mode of a plain create (0666 less the umask). Its name is recorded for
  // the signal handler before it is created. False, errno set, when it
  // cannot be created; then nothing is left.
  bool create(const std::string& path);
  int fd() const { return file_.get(); }
  // The name the file takes when committed.
  const std::string& path() const { return path_; }
  bool exists() const { return slot_ >= 0; }
  // The temporary's own name while it exists, else null. Async-signal-safe.
  const char* temporaryName() const;
  // Closes the file; false, errno set, when close reports an error.
  bool close() { return file_.reset(); }
  // Renames the closed file over path(). False, errno set, when the rename
  // fails: the temporary then stays until discard().
  bool commit();
  // Removes the temporary, if any.
  void discard();

 private:
  std::string path_;
  int slot_ = -1;  // its entry in the signal handler's table; -1: no file
  UniqueFd file_;
};

class LeftoverTemporaries;

// Writes `size` bytes into a temporary beside `path` and renames it over
// `path`, after removing the leftovers of killed runs for that name. Returns
// 0, or the errno of the step that failed (nothing is then left but the
// older `path`).
int replaceFileWith(const std::string& path, const void* bytes, std::size_t size,
                    LeftoverTemporaries& leftovers);

#endif  // FILEIO_TEMPORARY_FILE_H
