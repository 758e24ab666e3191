#pragma once
// The UI process's end of one bridge socket on the main GLib loop: reads frames when the socket
// is readable and hands them to a HostEndpoint; writes without ever blocking (what the socket
// does not take now is queued and written when it becomes writable).
#include <functional>
#include <memory>
#include <string>

#include "bridge/HostEndpoint.h"

namespace wd::bridge {

class SocketConnection : public std::enable_shared_from_this<SocketConnection> {
 public:
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

 private:
  static int onReadable(int fd, unsigned condition, void* self);
  static int onWritable(int fd, unsigned condition, void* self);
  void readAvailable();
  void flush();

  int fd_;
  unsigned readSource_ = 0;
  unsigned writeSource_ = 0;
  std::string in_;
  std::string out_;
  std::size_t outOffset_ = 0;
  std::shared_ptr<HostEndpoint> endpoint_;
  std::function<void()> onClosed_;
};

}  // namespace wd::bridge
