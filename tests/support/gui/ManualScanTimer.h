// A scan timer on a clock that only moves when the test says so:
//
//   auto timer = std::make_unique<ManualScanTimer>();
//   ManualScanTimer* scan = timer.get();
//   frmBasic window(nullptr, std::move(timer));
//   scan->Advance(500);   // every tick due within these 500 ms fires, in order, at its time
//
// Advance may be called from inside a tick (a message box "open" for a while); ticks due then
// fire nested, as a QTimer's do inside a modal box's event loop.
#pragma once

#include <optional>

#include "panels/ScanTimer.h"

class ManualScanTimer : public ScanTimer {
  Q_OBJECT
 public:
  void Start(int firstMs, int periodMs) override;
  void Stop() override { next_.reset(); }
  bool IsActive() const override { return next_.has_value(); }
  int Period() const override { return period_; }
  int64_t NowMs() const override { return now_; }

  void Advance(int64_t ms);

 private:
  int64_t now_ = 0;
  std::optional<int64_t> next_;
  int period_ = 0;
};
