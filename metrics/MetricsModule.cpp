// The metrics module: prometheus-cpp, the Prometheus client Debian 12 packages
// (prometheus-cpp-dev). Its text serialiser gets the exposition format's escaping and number
// forms right, and its pull exposer brings an HTTP server (civetweb) whose threads, queue,
// request size and timeouts can all be bounded, which a hand-written listener would have to get
// right again.
#include <CivetServer.h>
#include <arpa/inet.h>
#include <civetweb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <prometheus/exposer.h>
#include <string>
#include <thread>
#include <vector>

#include "metrics/MetricFamilies.h"
#include "metrics/MetricsModule.h"
#include "metrics/MetricsServer.h"

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

// The server's own log lines would go to stderr; the bench output stays the program's.
int QuietLog(const mg_connection*, const char*) { return 1; }

struct Server {
  std::string host;
  uint16_t port = 0;
  std::shared_ptr<metrics::BenchCollectable> collectable;
  std::unique_ptr<prometheus::Exposer> exposer;

  // civetweb's stop waits until its accept loop notices, which polls in two-second steps; a
  // connection wakes it at once, so the end of a run is not held up by the endpoint.
  ~Server() {
    if (!exposer) return;
    std::atomic<bool> stopped{false};
    const std::string wake = host == "0.0.0.0" ? "127.0.0.1" : host;
    std::thread waker([&] {
      sockaddr_in sa{};
      sa.sin_family = AF_INET;
      sa.sin_port = htons(port);
      ::inet_pton(AF_INET, wake.c_str(), &sa.sin_addr);
      for (int i = 0; i < 200 && !stopped.load(); ++i) {  // 4 s at most, then civetweb's pace
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0) {
          ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
          ::close(fd);
        }
        ::poll(nullptr, 0, 20);
      }
    });
    exposer.reset();
    stopped = true;
    waker.join();
  }
};

void Say(char* error, std::size_t size, const std::string& text) {
  if (size == 0) return;
  const std::size_t n = std::min(size - 1, text.size());
  std::memcpy(error, text.data(), n);
  error[n] = '\0';
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void* korvo_metrics_serve(
    const metrics::BenchMetrics* bench, const metrics::InstrumentMetrics* instruments,
    const char* host, uint16_t port,
    const metrics::ServerLimits* limits, char* error, std::size_t errorSize,
    uint16_t* boundPort) {
  static const CivetCallbacks callbacks = [] {
    CivetCallbacks c;
    c.begin_request = &BeginRequest;
    c.log_message = &QuietLog;
    return c;
  }();
  const std::string address = std::string(host) + ":" + std::to_string(port);
  // No document root: nothing on disk is reachable. No keep-alive: a client holds a worker for
  // one request at most.
  std::vector<std::string> options = {
      "listening_ports", address,
      "num_threads", std::to_string(limits->threads),
      "request_timeout_ms", std::to_string(limits->requestTimeoutMs),
      "max_request_size", std::to_string(limits->maxRequestBytes),
      "connection_queue", std::to_string(limits->connectionQueue),
      "listen_backlog", std::to_string(limits->listenBacklog),
      "enable_keep_alive", "no",
  };
  try {
    auto s = std::make_unique<Server>();
    s->host = host;
    s->collectable = std::make_shared<metrics::BenchCollectable>(*bench, instruments);
    // The server's threads leave Ctrl-C, SIGTERM and SIGHUP to the program's own thread, whose
    // wait they end.
    sigset_t stops, old;
    sigemptyset(&stops);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, sig);
    pthread_sigmask(SIG_BLOCK, &stops, &old);
    try {
      s->exposer = std::make_unique<prometheus::Exposer>(std::move(options), &callbacks);
    } catch (...) {
      pthread_sigmask(SIG_SETMASK, &old, nullptr);
      throw;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    const std::vector<int> ports = s->exposer->GetListeningPorts();
    s->port = ports.empty() ? port : static_cast<uint16_t>(ports.front());
    s->exposer->RegisterCollectable(s->collectable, kPath);
    *boundPort = s->port;
    return s.release();
  } catch (const std::exception&) {
    Say(error, errorSize, address + ": cannot listen there");
    return nullptr;
  }
}

extern "C" __attribute__((visibility("default"))) void korvo_metrics_stop(void* server) {
  delete static_cast<Server*>(server);
}
