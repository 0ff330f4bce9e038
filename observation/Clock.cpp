#include "observation/Clock.h"

#include <thread>

namespace recording {

namespace {
class MachineClock final : public Clock {
 public:
  MonoTime Now() const override { return std::chrono::steady_clock::now(); }
  WallTime WallNow() const override { return std::chrono::system_clock::now(); }
  void SleepUntil(MonoTime deadline) override { std::this_thread::sleep_until(deadline); }
};
}  // namespace

Clock& SystemClock() {
  // Never destroyed: an instrument thread left behind at exit may still stamp a reading.
  static MachineClock* const clock = new MachineClock;
  return *clock;
}

}  // namespace recording
