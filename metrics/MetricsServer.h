// The /metrics endpoint: prometheus-cpp's exposer (civetweb inside, in the metrics module) with
// limits a bench PC can live with. It serves only GET /metrics, from its own threads, and nothing it serves can
// change the chip, the settings or a recording.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace metrics {

class BenchMetrics;
class InstrumentMetrics;

struct ListenAddress {
  std::string host = "127.0.0.1";  // dotted IPv4
  uint16_t port = 0;               // 0: any free port (tests)
  std::string Text() const { return host + ":" + std::to_string(port); }
};

// "[ADDRESS:]PORT": PORT 1 to 65535, ADDRESS a dotted IPv4 address (default 127.0.0.1).
// Empty on a malformed text, with the reason in error.
std::optional<ListenAddress> ParseListenAddress(std::string_view text, std::string& error);

struct ServerLimits {
  int threads = 2;                 // workers: a scrape, and one slow client beside it
  int requestTimeoutMs = 5000;     // whole request, headers included (Prometheus' default
                                   // scrape timeout is 10 s; a scrape needs milliseconds)
  int maxRequestBytes = 8192;      // request line and headers
  int connectionQueue = 16;        // accepted connections waiting for a worker
  int listenBacklog = 64;          // connections the kernel holds before accepting
};

class MetricsServer {
 public:
  // Listens on address and serves bench, and the instruments when given, at /metrics (through
  // the metrics module, loaded on first use). Null when the address is in use or not allowed here, with the reason in error
  // ("127.0.0.1:80: Permission denied").
  static std::unique_ptr<MetricsServer> Start(const ListenAddress& address,
                                              std::shared_ptr<const BenchMetrics> bench,
                                              std::string& error, ServerLimits limits = {},
                                              std::shared_ptr<const InstrumentMetrics> instruments = nullptr);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  uint16_t Port() const { return port_; }
  std::string Url() const;

 private:
  MetricsServer() = default;
  std::string host_;
  uint16_t port_ = 0;
  std::shared_ptr<const BenchMetrics> bench_;  // outlives the server that reads it
  std::shared_ptr<const InstrumentMetrics> instruments_;  // likewise
  void* handle_ = nullptr;
  void (*stop_)(void*) = nullptr;
};

}  // namespace metrics
