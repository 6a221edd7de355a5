#include "beacon/loopback_listener.h"

#include <ws2tcpip.h>

namespace tmtest {

namespace {

bool StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

SOCKET BindLoopback(uint16_t port, uint16_t* bound) {
  if (!StartWinsock()) return INVALID_SOCKET;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  int length = sizeof(address);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  *bound = ntohs(address.sin_port);
  return s;
}

}  // namespace

LoopbackListener::LoopbackListener(uint16_t port, int status, Answering answering)
    : status_(status), answering_(answering) {
  socket_ = BindLoopback(port, &port_);
  if (socket_ == INVALID_SOCKET) return;
  if (listen(socket_, 8) != 0) {
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
    return;
  }
  thread_ = std::thread([this] { Serve(); });
}

LoopbackListener::~LoopbackListener() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
}

std::vector<std::string> LoopbackListener::Requests() {
  std::lock_guard<std::mutex> hold(lock_);
  return requests_;
}

void LoopbackListener::Serve() {
  while (!stop_) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket_, &ready);
    timeval wait = {0, 50000};
    if (select(0, &ready, nullptr, nullptr, &wait) <= 0) continue;
    SOCKET connection = accept(socket_, nullptr, nullptr);
    if (connection == INVALID_SOCKET) continue;
    Answer(connection);
    closesocket(connection);
  }
}

void LoopbackListener::Answer(SOCKET connection) {
  DWORD timeout = 30000;
  setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
  std::string data;
  size_t end;
  while ((end = data.find("\r\n\r\n")) == std::string::npos) {
    char chunk[4096];
    const int n = recv(connection, chunk, sizeof(chunk), 0);
    if (n <= 0) return;
    data.append(chunk, n);
  }
  {
    // Kept before the answer goes out: the sender has it once its call returns.
    std::lock_guard<std::mutex> hold(lock_);
    requests_.push_back(data.substr(0, end));
  }
  if (answering_ == Answering::kCloseWithoutAnswer) return;
  while (answering_ == Answering::kSilent && !stop_) Sleep(20);
  if (answering_ == Answering::kSilent) return;
  const char* reason = status_ == 200 ? " OK" : status_ == 302 ? " Found" : " Not Found";
  const std::string location = "Location: http://127.0.0.1:" + std::to_string(port_) + "/again\r\n";
  const std::string answer = "HTTP/1.1 " + std::to_string(status_) + reason + "\r\n" +
                             (status_ == 302 ? location : "") +
                             // An endless body that the connection would be kept for.
                             (answering_ == Answering::kEndlessBody
                                  ? "Content-Length: 2000000000\r\nConnection: keep-alive\r\n"
                                  : answering_ == Answering::kCacheable ? "Content-Length: 4\r\nConnection: close\r\n"
                                                                        : "Content-Length: 0\r\nConnection: close\r\n") +
                             (answering_ == Answering::kCacheable
                                  ? "Cache-Control: public, max-age=3600\r\n\r\nGIF8"
                                  : "Cache-Control: no-store\r\nExpires: 0\r\n\r\n");
  send(connection, answer.data(), static_cast<int>(answer.size()), 0);
  if (answering_ == Answering::kEndlessBody) {
    const std::string body(4096, 'b');
    while (!stop_ && send(connection, body.data(), static_cast<int>(body.size()), 0) > 0) {
    }
    return;
  }
  shutdown(connection, SD_SEND);
}

uint16_t ClosedPort() {
  uint16_t port = 0;
  SOCKET s = BindLoopback(0, &port);
  if (s != INVALID_SOCKET) closesocket(s);
  return port;
}

}  // namespace tmtest
