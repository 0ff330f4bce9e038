// prometheus-cpp is the Prometheus client Debian 12 packages (prometheus-cpp-dev): its text
// serialiser gets the exposition format's escaping and number forms right, and its pull
// exposer brings an HTTP server (civetweb) whose threads, queue, request size and timeouts
// can all be bounded, which a hand-written listener would have to get right again.
#include "metrics/MetricsServer.h"

#include <arpa/inet.h>
#include <CivetServer.h>
#include <civetweb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <prometheus/exposer.h>
#include <thread>
#include <vector>

#include "foundation/Utils.h"

namespace metrics {

namespace {

constexpr const char* kPath = "/metrics";
constexpr int kMaxHeaders = 32;

// Before any handler: only GET /metrics goes on; everything else is answered here.
int BeginRequest(mg_connection* conn) {
  const mg_request_info* ri = mg_get_request_info(conn);
  if (ri == nullptr || ri->local_uri == nullptr || std::strcmp(ri->local_uri, kPath) != 0) {
    mg_send_http_error(conn, 404, "%s", "Not Found");
    return 404;
  }
  // civetweb keeps the first 64 headers and drops the rest; a scraper sends a handful.
  if (ri->num_headers > kMaxHeaders) {
    mg_send_http_error(conn, 431, "%s", "Too many header fields");
    return 431;
  }
  if (ri->request_method == nullptr || std::strcmp(ri->request_method, "GET") != 0) {
    mg_send_http_error(conn, 405, "%s", "Only GET");
    return 405;
  }
  return 0;
}

// The server's own log lines would go to stderr; the bench output stays the watch's.
int QuietLog(const mg_connection*, const char*) { return 1; }

// Binds address the way civetweb will, to tell why it cannot (in use, not ours, privileged).
std::string BindProblem(const ListenAddress& address) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::strerror(errno);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(address.port);
  ::inet_pton(AF_INET, address.host.c_str(), &sa.sin_addr);
  std::string problem;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 1) != 0)
    problem = std::strerror(errno);
  ::close(fd);
  return problem;
}

}  // namespace

std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string& error) {
  ListenAddress a;
  std::string_view port = text;
  if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
    a.host = std::string(text.substr(0, colon));
    port = text.substr(colon + 1);
    in_addr probe{};
    if (::inet_pton(AF_INET, a.host.c_str(), &probe) != 1) {
      error = "invalid metrics address '" + a.host + "': expected a dotted IPv4 address";
      return std::nullopt;
    }
  }
  const auto p = Utils::ParseInteger(std::string(port), 1, 65535);
  if (!p || port.empty() || port.find_first_not_of("0123456789") != std::string_view::npos) {
    error = "invalid metrics port '" + std::string(port) + "': expected 1 to 65535";
    return std::nullopt;
  }
  a.port = static_cast<uint16_t>(*p);
  return a;
}

std::unique_ptr<MetricsServer> MetricsServer::Start(
    const ListenAddress& address, std::shared_ptr<prometheus::Collectable> collectable,
    std::string& error, ServerLimits limits) {
  if (address.port != 0) {
    if (std::string problem = BindProblem(address); !problem.empty()) {
      error = address.Text() + ": " + problem;
      return nullptr;
    }
  }
  std::unique_ptr<MetricsServer> s(new MetricsServer);
  s->host_ = address.host;
  s->collectable_ = std::move(collectable);
  static const CivetCallbacks callbacks = [] {
    CivetCallbacks c;
    c.begin_request = &BeginRequest;
    c.log_message = &QuietLog;
    return c;
  }();
  // No document root: nothing on disk is reachable. No keep-alive: a client holds a worker for
  // one request at most.
  std::vector<std::string> options = {
      "listening_ports", address.Text(),
      "num_threads", std::to_string(limits.threads),
      "request_timeout_ms", std::to_string(limits.requestTimeoutMs),
      "max_request_size", std::to_string(limits.maxRequestBytes),
      "connection_queue", std::to_string(limits.connectionQueue),
      "listen_backlog", std::to_string(limits.listenBacklog),
      "enable_keep_alive", "no",
  };
  try {
    s->exposer_ = std::make_unique<prometheus::Exposer>(std::move(options), &callbacks);
  } catch (const std::exception&) {
    error = address.Text() + ": cannot listen there";
    return nullptr;
  }
  const std::vector<int> ports = s->exposer_->GetListeningPorts();
  s->port_ = ports.empty() ? address.port : static_cast<uint16_t>(ports.front());
  s->exposer_->RegisterCollectable(s->collectable_, kPath);
  return s;
}

// civetweb's stop waits until its accept loop notices, which polls in two-second steps; a
// connection wakes it at once. So the end of a run is not held up by the endpoint.
MetricsServer::~MetricsServer() {
  if (!exposer_) return;
  std::atomic<bool> stopped{false};
  const std::string host = host_ == "0.0.0.0" ? "127.0.0.1" : host_;
  std::thread waker([&] {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port_);
    ::inet_pton(AF_INET, host.c_str(), &sa.sin_addr);
    for (int i = 0; i < 200 && !stopped.load(); ++i) {  // 4 s at most, then civetweb's own pace
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (fd >= 0) {
        ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
        ::close(fd);
      }
      ::poll(nullptr, 0, 20);
    }
  });
  exposer_.reset();
  stopped = true;
  waker.join();
}

std::string MetricsServer::Url() const {
  return "http://" + host_ + ":" + std::to_string(port_) + kPath;
}

}  // namespace metrics
