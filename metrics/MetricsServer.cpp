#include "metrics/MetricsServer.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/Paths.h"
#include "foundation/Utils.h"
#include "metrics/MetricsModule.h"

namespace metrics {

namespace {

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

struct Module {
  KorvoMetricsServe serve = nullptr;
  KorvoMetricsStop stop = nullptr;
  std::string error;
};

// Loaded once and kept: beside the program (the build tree), one folder up (the test and
// benchmark programs there), or where the package installs it.
const Module& LoadModule() {
  static const Module module = [] {
    Module m;
    const std::string dir = Paths::ProgramDir();
    const char* candidates[] = {"korvo-metrics.so", "../korvo-metrics.so",
                                KORVO_METRICS_MODULE_FROM_BINDIR};
    std::string firstError;
    for (const char* c : candidates) {
      void* h = ::dlopen(Paths::Join(dir, c).c_str(), RTLD_NOW | RTLD_LOCAL);
      if (h == nullptr) {
        if (firstError.empty()) firstError = ::dlerror();
        continue;
      }
      m.serve = reinterpret_cast<KorvoMetricsServe>(::dlsym(h, kKorvoMetricsServeName));
      m.stop = reinterpret_cast<KorvoMetricsStop>(::dlsym(h, kKorvoMetricsStopName));
      if (m.serve && m.stop) return m;
    }
    m.serve = nullptr;
    m.error = "cannot load the metrics module (" + firstError + ")";
    return m;
  }();
  return module;
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
  const auto p = Utils::ParseInteger(port, 1, 65535);
  if (!p || port.empty() || port.find_first_not_of("0123456789") != std::string_view::npos) {
    error = "invalid metrics port '" + std::string(port) + "': expected 1 to 65535";
    return std::nullopt;
  }
  a.port = static_cast<uint16_t>(*p);
  return a;
}

std::unique_ptr<MetricsServer> MetricsServer::Start(const ListenAddress& address,
                                                    std::shared_ptr<const BenchMetrics> bench,
                                                    std::string& error, ServerLimits limits,
                                                    std::shared_ptr<const InstrumentMetrics> instruments) {
  if (address.port != 0) {
    if (std::string problem = BindProblem(address); !problem.empty()) {
      error = address.Text() + ": " + problem;
      return nullptr;
    }
  }
  const Module& module = LoadModule();
  if (module.serve == nullptr) {
    error = address.Text() + ": " + module.error;
    return nullptr;
  }
  char text[256] = "";
  uint16_t port = 0;
  void* handle = module.serve(bench.get(), instruments.get(), address.host.c_str(), address.port, &limits, text,
                              sizeof text, &port);
  if (handle == nullptr) {
    error = text;
    return nullptr;
  }
  std::unique_ptr<MetricsServer> s(new MetricsServer);
  s->host_ = address.host;
  s->port_ = port;
  s->bench_ = std::move(bench);
  s->instruments_ = std::move(instruments);
  s->handle_ = handle;
  s->stop_ = module.stop;
  return s;
}

MetricsServer::~MetricsServer() {
  if (handle_ != nullptr) stop_(handle_);
}

std::string MetricsServer::Url() const {
  return "http://" + host_ + ":" + std::to_string(port_) + "/metrics";
}

}  // namespace metrics
