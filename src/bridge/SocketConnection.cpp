#include "bridge/SocketConnection.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "bridge/wire/Wire.h"
#include "core/Log.h"

namespace wd::bridge {

SocketConnection::SocketConnection(int fd) : fd_(fd) {
  const int flags = ::fcntl(fd_, F_GETFL);
  ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
}

SocketConnection::~SocketConnection() {
  onClosed_ = nullptr;
  close();
}

void SocketConnection::start() {
  if (fd_ < 0 || readSource_) return;
  readSource_ =
      g_unix_fd_add(fd_, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                    reinterpret_cast<GUnixFDSourceFunc>(&SocketConnection::onReadable), this);
}

void SocketConnection::close() {
  if (fd_ < 0) return;
  if (readSource_) g_source_remove(readSource_);
  if (writeSource_) g_source_remove(writeSource_);
  readSource_ = writeSource_ = 0;
  ::close(fd_);
  fd_ = -1;
  out_.clear();
  outOffset_ = 0;
  auto keep = weak_from_this().lock();  // null while being destroyed
  if (endpoint_) endpoint_->close();
  if (onClosed_) {
    auto cb = std::move(onClosed_);
    onClosed_ = nullptr;
    cb();
  }
}

int SocketConnection::onReadable(int, unsigned, void* self) {
  auto* conn = static_cast<SocketConnection*>(self);
  auto keep = conn->shared_from_this();
  conn->readAvailable();
  if (conn->fd_ < 0) return G_SOURCE_REMOVE;
  return G_SOURCE_CONTINUE;
}

void SocketConnection::readAvailable() {
  char chunk[65536];
  std::size_t read = 0;
  for (;;) {
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      readSource_ = 0;  // removed by returning G_SOURCE_REMOVE
      close();
      return;
    }
    in_.append(chunk, static_cast<std::size_t>(n));
    read += static_cast<std::size_t>(n);
    // A peer that writes without pause must not keep the main loop here: the source fires again.
    if (static_cast<std::size_t>(n) < sizeof chunk || read >= kReadPerDispatch) break;
  }
  std::size_t offset = 0;
  while (fd_ >= 0 && in_.size() - offset >= 4) {
    const std::uint32_t len = wire::frameLength(in_.data() + offset);
    if (len > wire::kMaxFrame) {
      readSource_ = 0;
      close();
      return;
    }
    if (in_.size() - offset - 4 < len) break;
    std::string_view payload(in_.data() + offset + 4, len);
    offset += 4 + len;
    if (endpoint_ && !dropping_) {
      std::string copy(payload);  // the endpoint may append to in_ through re-entrancy
      endpoint_->receive(copy);
    }
  }
  if (fd_ >= 0)
    in_.erase(0, offset);
  else
    readSource_ = 0;
}

void SocketConnection::write(std::string frame) {
  if (fd_ < 0 || dropping_) return;
  if (queuedBytes() + frame.size() > maxQueued_) {
    overflow();
    return;
  }
  if (out_.empty()) {
    out_ = std::move(frame);
    outOffset_ = 0;
  } else {
    if (outOffset_ > out_.size() / 2) {  // drop what the socket already took
      out_.erase(0, outOffset_);
      outOffset_ = 0;
    }
    out_.append(frame);
  }
  flush();
}

void SocketConnection::flush() {
  while (fd_ >= 0 && outOffset_ < out_.size()) {
    const ssize_t n = ::send(fd_, out_.data() + outOffset_, out_.size() - outOffset_,
                             MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!writeSource_)
        writeSource_ =
            g_unix_fd_add(fd_, G_IO_OUT,
                          reinterpret_cast<GUnixFDSourceFunc>(&SocketConnection::onWritable), this);
      return;
    }
    if (n <= 0) {
      close();
      return;
    }
    outOffset_ += static_cast<std::size_t>(n);
  }
  out_.clear();
  outOffset_ = 0;
}

void SocketConnection::overflow() {
  // Closing here would drop the endpoint's objects in the middle of whatever native code is
  // sending. Instead the socket is shut down: the peer sees the end of the connection at once,
  // and the read source (which wakes up on the shutdown) closes this side from the main loop.
  WD_LOG_INFO("bridge peer does not read ({} bytes queued); dropping the connection",
              queuedBytes());
  dropping_ = true;
  out_.clear();
  outOffset_ = 0;
  if (writeSource_) g_source_remove(writeSource_);
  writeSource_ = 0;
  ::shutdown(fd_, SHUT_RDWR);
}

int SocketConnection::onWritable(int, unsigned, void* self) {
  auto* conn = static_cast<SocketConnection*>(self);
  auto keep = conn->shared_from_this();
  conn->writeSource_ = 0;
  conn->flush();
  return G_SOURCE_REMOVE;
}

}  // namespace wd::bridge
