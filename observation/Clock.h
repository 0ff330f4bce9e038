// The time seam of the core. Recordings, the journal, korvoctl's watch and the simulated board's
// scenario read time through a Clock, so tests and benchmarks can run a day in a second.
#pragma once

#include <chrono>

namespace recording {

using MonoTime = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic: every timestamp of a recording comes from here.
  virtual MonoTime Now() const = 0;
  // Wall-clock time, read once when a recording starts.
  virtual WallTime WallNow() const = 0;
  // Returns at deadline or a little later.
  virtual void SleepUntil(MonoTime deadline) = 0;
};

// The machine's clocks.
Clock& SystemClock();

// A recording's origin: the monotonic time it started and the wall-clock time at that moment.
// Wall times of later samples are the start's wall time plus monotonic time elapsed, so a
// recording stays right across midnight and across changes of the system clock.
struct TimeBase {
  MonoTime mono{};
  WallTime wall{};

  static TimeBase Start(const Clock& clock) { return {clock.Now(), clock.WallNow()}; }
  std::chrono::microseconds Since(MonoTime t) const {
    return std::chrono::duration_cast<std::chrono::microseconds>(t - mono);
  }
  WallTime WallAt(MonoTime t) const {
    return wall + std::chrono::duration_cast<WallTime::duration>(t - mono);
  }
};

}  // namespace recording
