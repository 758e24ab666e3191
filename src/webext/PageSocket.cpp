// The page side's socket transport (see PageSocket.h).
#include "webext/PageSocket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace wd::webext {

PageSocket::PageSocket(int fd) : fd_(fd) {}

PageSocket::~PageSocket() {
  if (fd_ >= 0) ::close(fd_);
}

int PageSocket::connectTo(const std::string& path) {
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof(addr.sun_path)) return -1;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool PageSocket::send(const std::string& frame) {
  std::size_t done = 0;
  while (done < frame.size()) {
    const ssize_t n = ::send(fd_, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool PageSocket::hasBufferedFrame() const {
  const std::size_t avail = buffer_.size() - offset_;
  return avail >= 4 && avail - 4 >= wire::frameLength(buffer_.data() + offset_);
}

bool PageSocket::takeFrame(std::string& payload, bool& bad) {
  const std::size_t avail = buffer_.size() - offset_;
  if (avail < 4) return false;
  const std::uint32_t len = wire::frameLength(buffer_.data() + offset_);
  if (len > wire::kMaxFrame) {
    bad = true;
    return false;
  }
  if (avail - 4 < len) return false;
  payload.assign(buffer_, offset_ + 4, len);
  offset_ += 4 + len;
  if (offset_ == buffer_.size()) {
    buffer_.clear();
    offset_ = 0;
  } else if (offset_ > (1u << 16) && offset_ * 2 > buffer_.size()) {
    buffer_.erase(0, offset_);
    offset_ = 0;
  }
  return true;
}

bool PageSocket::receive(std::string& payload) {
  for (;;) {
    bool bad = false;
    if (takeFrame(payload, bad)) return true;
    if (bad) return false;
    char chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

bool PageSocket::poll(std::string& payload, bool& lost) {
  lost = false;
  for (;;) {
    bool bad = false;
    if (takeFrame(payload, bad)) return true;
    if (bad) {
      lost = true;
      return false;
    }
    char chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
    if (n <= 0) {
      lost = true;
      return false;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

}  // namespace wd::webext
