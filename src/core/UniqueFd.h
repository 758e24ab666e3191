#pragma once
// Owns one POSIX file descriptor and closes it when dropped, so that no error path of the file
// readers and writers leaks one. close() reports the close result where it matters (a write
// whose data is only known to be safe once close succeeded).
#include <unistd.h>

#include <utility>

namespace wd {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

  // Closes now; the result of ::close (0, or -1 with errno set).
  int close() { return fd_ < 0 ? 0 : ::close(std::exchange(fd_, -1)); }
  void reset() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }

 private:
  int fd_ = -1;
};

}  // namespace wd
