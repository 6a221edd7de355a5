// A listener on 127.0.0.1 for the beacon's tests: it keeps the head of every
// request it receives (the request line and the header lines, as sent) and
// answers each with the status given, so that WinINet caches nothing; a 302
// sends the client back to the same address. Or, once it has the head, it
// closes without answering, or answers with a body that never ends.
#pragma once

#include <winsock2.h>

#include <stdint.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tmtest {

enum class Answering {
  kStatus,            // the status, at once
  kCloseWithoutAnswer,
  kEndlessBody,       // the status and headers at once, then a body as fast as it goes, never ending
  kCacheable,         // the status with a small body that may be kept for an hour
  kSilent,            // nothing at all, the connection kept open
};

class LoopbackListener {
 public:
  // Port 0 takes a free port.
  LoopbackListener(uint16_t port, int status, Answering answering = Answering::kStatus);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  bool listening() const { return socket_ != INVALID_SOCKET; }
  uint16_t port() const { return port_; }
  // The heads received so far, each without its closing blank line.
  std::vector<std::string> Requests();

 private:
  void Serve();
  void Answer(SOCKET connection);

  int status_;
  Answering answering_;
  SOCKET socket_ = INVALID_SOCKET;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 that nothing listens on: a connection is refused.
uint16_t ClosedPort();

}  // namespace tmtest
