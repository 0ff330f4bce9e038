// A plain HTTP client on 127.0.0.1 for the endpoint's tests: raw bytes out, whatever the server
// says back. Every wait is bounded: a call that would block longer gives up and says so.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace loopback {

// A connected socket, or -1.
inline int Connect(uint16_t port, bool blocking = true) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
  if (fd < 0) return -1;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 &&
      (blocking || errno != EINPROGRESS)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Sends as much of data as the server takes; false once it stops taking (closed, reset).
inline bool Send(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, 10000) <= 0) return false;
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Everything until the server closes, or until timeout passes.
inline std::string ReadAll(int fd, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  std::string out;
  const auto end = std::chrono::steady_clock::now() + timeout;
  char buf[16384];
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (::poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) break;
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

// Whether the server has closed fd (end of stream or reset) within timeout.
inline bool Closed(int fd, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  char buf[4096];
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) < 0) return false;
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) return true;
    }
  }
  return false;
}

// A socket listening on a free loopback port, which is in use while it lives.
class Listener {
 public:
  Listener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(fd_, 1);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
  }
  ~Listener() { ::close(fd_); }
  uint16_t Port() const { return port_; }

 private:
  int fd_;
  uint16_t port_ = 0;
};

// A loopback port that was free a moment ago.
inline uint16_t FreePort() { return Listener().Port(); }

struct Response {
  int status = 0;  // 0: no answer
  std::string headers, body;
};

inline Response Parse(const std::string& raw) {
  Response r;
  const std::size_t sp = raw.find(' ');
  if (raw.rfind("HTTP/1.", 0) != 0 || sp == std::string::npos) return r;
  r.status = std::atoi(raw.c_str() + sp + 1);
  const std::size_t blank = raw.find("\r\n\r\n");
  r.headers = raw.substr(0, blank);
  if (blank != std::string::npos) r.body = raw.substr(blank + 4);
  return r;
}

// One request, sent whole; the answer.
inline Response Request(uint16_t port, const std::string& request) {
  const int fd = Connect(port);
  if (fd < 0) return {};
  Response r;
  if (Send(fd, request)) r = Parse(ReadAll(fd));
  ::close(fd);
  return r;
}

inline Response Get(uint16_t port, const std::string& path = "/metrics") {
  return Request(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

}  // namespace loopback
