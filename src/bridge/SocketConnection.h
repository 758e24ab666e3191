#pragma once
// The UI process's end of one bridge socket on the main GLib loop: reads frames when the socket
// is readable and hands them to a HostEndpoint; writes without ever blocking (what the socket
// does not take now is queued and written when it becomes writable). A peer that stops reading
// cannot make the queue grow without bound: past kMaxQueued bytes the connection is dropped.
#include <functional>
#include <memory>
#include <string>

#include "bridge/HostEndpoint.h"
#include "bridge/wire/Wire.h"

namespace wd::bridge {

class SocketConnection : public std::enable_shared_from_this<SocketConnection> {
 public:
  // Most bytes queued for a peer that does not read.
  static constexpr std::size_t kMaxQueued = 2 * wire::kMaxFrame;
  // Most bytes read from the socket in one main-loop dispatch (the rest on the next one).
  static constexpr std::size_t kReadPerDispatch = 1u << 20;

  // Takes ownership of `fd` (made non-blocking). Call start() once the endpoint is set.
  explicit SocketConnection(int fd);
  ~SocketConnection();
  SocketConnection(const SocketConnection&) = delete;
  SocketConnection& operator=(const SocketConnection&) = delete;

  void setEndpoint(std::shared_ptr<HostEndpoint> endpoint) { endpoint_ = std::move(endpoint); }
  const std::shared_ptr<HostEndpoint>& endpoint() const { return endpoint_; }
  // Called once when the connection ends (peer gone, protocol fault).
  void setOnClosed(std::function<void()> onClosed) { onClosed_ = std::move(onClosed); }
  void start();
  // Queues a whole frame.
  void write(std::string frame);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  // Lowers (or raises) the queue bound of this connection (tests).
  void setMaxQueued(std::size_t bytes) { maxQueued_ = bytes; }
  // Bytes queued and not yet taken by the socket.
  std::size_t queuedBytes() const { return out_.size() - outOffset_; }

 private:
  static int onReadable(int fd, unsigned condition, void* self);
  static int onWritable(int fd, unsigned condition, void* self);
  void readAvailable();
  void flush();
  void overflow();

  int fd_;
  unsigned readSource_ = 0;
  unsigned writeSource_ = 0;
  std::string in_;
  std::string out_;
  std::size_t outOffset_ = 0;
  std::size_t maxQueued_ = kMaxQueued;
  bool dropping_ = false;  // overflowed: nothing more is sent, closed from the read source
  std::shared_ptr<HostEndpoint> endpoint_;
  std::function<void()> onClosed_;
};

}  // namespace wd::bridge
