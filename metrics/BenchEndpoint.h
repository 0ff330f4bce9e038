// A bench's metrics and their endpoint in one piece, for an entry routine: started before the
// adapter opens (so a refused address stops nothing that has begun), attached to the register
// access and the link once they exist, detached before they go.
#pragma once

#include <memory>
#include <string>

#include "metrics/BenchMetrics.h"
#include "metrics/MetricsServer.h"

class RegisterAccess;
class frmUSB;

namespace metrics {

class BenchEndpoint {
 public:
  // Null when text is malformed or the address is in use or not allowed; error says why
  // ("cannot serve metrics on 127.0.0.1:9100: Address already in use").
  static std::unique_ptr<BenchEndpoint> Start(const std::string& text, const BoardInfo& board,
                                              std::string& error);
  ~BenchEndpoint();

  void Attach(RegisterAccess& access, frmUSB& link);
  void Detach();
  std::string Url() const { return server_->Url(); }
  const BenchMetrics& Metrics() const { return *bench_; }

 private:
  BenchEndpoint() = default;
  std::shared_ptr<BenchMetrics> bench_;
  std::unique_ptr<MetricsServer> server_;
  RegisterAccess* access_ = nullptr;
  frmUSB* link_ = nullptr;
};

}  // namespace metrics
