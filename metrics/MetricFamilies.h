// A bench's metrics as Prometheus metric families. Part of the metrics module: it calls nothing
// of the core, only the inline readers of BenchMetrics.
#pragma once

#include <prometheus/collectable.h>
#include <prometheus/metric_family.h>
#include <vector>

#include "metrics/BenchMetrics.h"

namespace metrics {

std::vector<prometheus::MetricFamily> Families(const BenchMetrics& bench);

// What the exposer collects from; bench must outlive it.
class BenchCollectable : public prometheus::Collectable {
 public:
  explicit BenchCollectable(const BenchMetrics& bench) : bench_(bench) {}
  std::vector<prometheus::MetricFamily> Collect() const override { return Families(bench_); }

 private:
  const BenchMetrics& bench_;
};

}  // namespace metrics
