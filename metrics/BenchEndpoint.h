// A bench's metrics and their endpoint in one piece, for an entry routine: started before the
// adapter opens (so a refused address stops nothing that has begun), attached to the register
// access and the link once they exist, detached before they go.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "metrics/BenchMetrics.h"
#include "metrics/InstrumentMetrics.h"
#include "metrics/MetricsServer.h"

class RegisterAccess;
class frmUSB;

namespace metrics {

class BenchEndpoint {
 public:
  // Null when text is malformed or the address is in use or not allowed; error says why
  // ("cannot serve metrics on 127.0.0.1:9100: Address already in use"). With the labels of
  // the bench's instruments it serves their readings and presence too.
  static std::unique_ptr<BenchEndpoint> Start(const std::string& text, const BoardInfo& board,
                                              std::string& error,
                                              std::vector<std::string> instruments = {});
  ~BenchEndpoint();

  // The instruments' readings come through the register access, like its own accesses.
  void Attach(RegisterAccess& access, frmUSB& link);
  // Whether an instrument answers, from the thread that delivers its readings.
  void SetInstrumentUp(std::string_view label, bool up);
  void Detach();
  std::string Url() const { return server_->Url(); }
  const BenchMetrics& Metrics() const { return *bench_; }
  const InstrumentMetrics* Instruments() const { return instruments_.get(); }

 private:
  BenchEndpoint() = default;
  std::shared_ptr<BenchMetrics> bench_;
  std::shared_ptr<InstrumentMetrics> instruments_;  // none without instruments
  std::unique_ptr<MetricsServer> server_;
  RegisterAccess* access_ = nullptr;
  frmUSB* link_ = nullptr;
};

}  // namespace metrics
