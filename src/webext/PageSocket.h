#pragma once
// The page side's end of the bridge socket: blocking writes (the web process may wait; the UI
// process never does) and a frame reader usable both blocking (inside a call) and non-blocking
// (from the idle watch), sharing one buffer so no frame is lost between the two.
#include <functional>
#include <string>

#include "webext/PageBridge.h"

namespace wd::webext {

class PageSocket : public PageTransport {
 public:
  explicit PageSocket(int fd);  // takes ownership
  ~PageSocket() override;
  PageSocket(const PageSocket&) = delete;
  PageSocket& operator=(const PageSocket&) = delete;

  // Connects to a Unix socket path; -1 on failure.
  static int connectTo(const std::string& path);

  int fd() const { return fd_; }
  bool send(const std::string& frame) override;
  bool receive(std::string& payload) override;
  // A complete buffered frame without blocking, reading what the socket has. Sets `lost` when
  // the connection ended.
  bool poll(std::string& payload, bool& lost);
  bool hasBufferedFrame() const;

  void waitEnded() override {
    if (onWaitEnded) onWaitEnded();
  }
  void releasesPending() override {
    if (onReleasesPending) onReleasesPending();
  }
  std::function<void()> onWaitEnded;
  std::function<void()> onReleasesPending;

 private:
  bool takeFrame(std::string& payload, bool& bad);
  int fd_;
  std::string buffer_;
  std::size_t offset_ = 0;
};

}  // namespace wd::webext
