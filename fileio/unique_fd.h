// An owned file descriptor, and whole writes to one.
#ifndef FILEIO_UNIQUE_FD_H
#define FILEIO_UNIQUE_FD_H

#include <cstddef>

// A file descriptor, closed when it goes out of scope.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release();
  // Closes the descriptor now; false (errno set) when close reported an
  // error, which for a file just written means its data may be lost.
  bool reset();

 private:
  int fd_ = -1;
};

// Writes all `size` bytes, going on after a short write or an interrupted
// one. False, with errno set, when a write fails (a full disk: ENOSPC).
bool writeAll(int fd, const void* data, std::size_t size);

#endif  // FILEIO_UNIQUE_FD_H
