// The entry points of the metrics module (korvo-metrics.so), which holds the Prometheus client
// and its HTTP server. The programs load it only when asked to serve metrics: korvoctl links
// the C++ runtime statically so that a short run stays as cheap as an i2cget, and linking the
// client's shared libraries would load the shared runtime into every run.
#pragma once

#include <cstddef>
#include <cstdint>

namespace metrics {
class BenchMetrics;
class InstrumentMetrics;
struct ServerLimits;
}  // namespace metrics

extern "C" {
// Listens on host:port (port 0: any free one) and serves bench and instruments (may be null) at
// /metrics until stopped. Null
// when it cannot, with the reason in error (at most errorSize bytes, terminated). *boundPort
// receives the port listened on.
using KorvoMetricsServe = void* (*)(const metrics::BenchMetrics* bench,
                                    const metrics::InstrumentMetrics* instruments, const char* host,
                                    uint16_t port, const metrics::ServerLimits* limits,
                                    char* error, std::size_t errorSize, uint16_t* boundPort);
using KorvoMetricsStop = void (*)(void* server);
}

inline constexpr const char* kKorvoMetricsServeName = "korvo_metrics_serve";
inline constexpr const char* kKorvoMetricsStopName = "korvo_metrics_stop";
