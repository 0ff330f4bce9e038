#include "ManualScanTimer.h"

#include <algorithm>

void ManualScanTimer::Start(int firstMs, int periodMs) {
  period_ = periodMs;
  next_ = now_ + firstMs;
}

void ManualScanTimer::Advance(int64_t ms) {
  const int64_t target = now_ + ms;
  while (next_ && *next_ <= target) {
    now_ = std::max(now_, *next_);
    next_ = now_ + period_;
    emit Tick();  // may restart, stop or advance the clock itself
  }
  now_ = std::max(now_, target);
}
