// korvoctl's --metrics [ADDRESS:]PORT: serves the bench's Prometheus metrics while the run
// lasts (a watch, typically). The listener is bound before the adapter opens, so an address in
// use or not allowed ends the run before anything reaches the bus.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "metrics/BenchMetrics.h"
#include "metrics/InstrumentMetrics.h"
#include "metrics/MetricsServer.h"

class RegisterAccess;
class frmUSB;
class KorvoctlInstruments;

class KorvoctlMetrics {
 public:
  struct Taken {
    bool taken = false;
    std::string error;  // a usage error
  };
  Taken Take(const std::vector<std::string>& args, std::size_t& i);

  // Binds the listener (nothing to do without --metrics): kExitOk, or kExitUsage with the
  // reason on err. The instruments' metrics are served beside the bench's when the run has
  // instruments (after their Prepare).
  int Start(std::ostream& err, RegisterTable::Variant variant, KorvoctlInstruments& instruments);
  void Attach(RegisterAccess& access, frmUSB& link);
  void Detach(RegisterAccess& access, frmUSB& link);

 private:
  std::optional<metrics::ListenAddress> address_;
  std::shared_ptr<metrics::BenchMetrics> bench_;
  std::shared_ptr<metrics::InstrumentMetrics> instruments_;
  std::unique_ptr<metrics::MetricsServer> server_;
};

std::string KorvoctlMetricsUsage();
