// A clock that moves only when told (or when someone sleeps on it): days pass in no time.
#pragma once

#include <atomic>
#include <functional>

#include "observation/Clock.h"

class ManualClock : public recording::Clock {
 public:
  ManualClock()
      : now_(std::chrono::steady_clock::time_point{} + std::chrono::hours(1)),
        wall_(std::chrono::sys_days{std::chrono::year{2024} / 5 / 1} + std::chrono::hours(10)) {}

  // Now() may be read from any thread (the instruments stamp their readings on it).
  recording::MonoTime Now() const override { return now_.load(); }
  recording::WallTime WallNow() const override {
    return wall_ + std::chrono::duration_cast<recording::WallTime::duration>(now_.load() - origin_);
  }
  void SleepUntil(recording::MonoTime deadline) override {
    ++sleeps;
    if (deadline > now_.load()) now_ = deadline;
    if (onSleep) onSleep();
  }
  void Advance(std::chrono::nanoseconds d) { now_ = now_.load() + d; }
  // Moves the wall clock alone, as a user or NTP setting the system clock would.
  void SetWall(recording::WallTime wall) {
    wall_ = wall;
    origin_ = now_.load();
  }

  int sleeps = 0;
  std::function<void()> onSleep;

 private:
  std::atomic<recording::MonoTime> now_;
  recording::MonoTime origin_ = now_.load();
  recording::WallTime wall_;
};
