// A bench's metrics as Prometheus metric families. Part of the metrics module: it calls nothing
// of the core, only the inline readers of BenchMetrics.
#pragma once

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>
#include <vector>

#include "metrics/BenchMetrics.h"
#include "metrics/InstrumentMetrics.h"

namespace metrics {

// The instruments' families come before the scrape's duration, which counts them too.
std::vector<prometheus::MetricFamily> Families(const BenchMetrics& bench,
                                               const InstrumentMetrics* instruments = nullptr);

// The instruments' families alone: korvo_instrument_up and the readings' families, in the order
// their first series came. Nothing when there is no instrument.
void AppendInstrumentFamilies(const InstrumentMetrics& instruments,
                              std::vector<prometheus::MetricFamily>& out);

// What the exposer collects from; bench and instruments (may be null) must outlive it.
class BenchCollectable : public prometheus::Collectable {
 public:
  BenchCollectable(const BenchMetrics& bench, const InstrumentMetrics* instruments)
      : bench_(bench), instruments_(instruments) {}
  std::vector<prometheus::MetricFamily> Collect() const override {
    return Families(bench_, instruments_);
  }

 private:
  const BenchMetrics& bench_;
  const InstrumentMetrics* instruments_;
};

}  // namespace metrics
