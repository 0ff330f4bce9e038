// The bench's instruments beside the charger: each one opened, read and watched on a thread of
// its own, never on the window's thread or on the register access's path. Readings are stamped
// on the register accesses' clock as they arrive and wait in a queue until the owner delivers
// them (Deliver, on the owner's thread) to the same observers as the register accesses.
//
// An instrument that is not found, refuses, stops answering or answers nothing usable is named
// once (a message when it is delivered), marked absent and tried again at most every
// BenchOptions::retry; the others and the registers go on.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "instruments/Instrument.h"
#include "instruments/InstrumentConfig.h"
#include "observation/Clock.h"
#include "observation/Observation.h"

namespace instruments {

struct BenchOptions {
  // 0: one reading per Trigger() (a scan tick or a watch period); else every period, on its own.
  std::chrono::milliseconds period{0};
  // How often an absent instrument is tried again, at most.
  std::chrono::milliseconds retry{5000};
  // A reading that takes longer is given up and the instrument counted absent.
  std::chrono::milliseconds readTimeout{3000};
  // Stamps the readings; must be the register access's clock and safe to read from any thread.
  const recording::Clock* clock = nullptr;  // nullptr: the machine's clock
};

struct InstrumentState {
  std::string label;
  std::string config;
  bool settled = false;  // opened, or found absent, at least once
  bool present = false;
  std::string reason;  // why it is absent
  DeviceInfo info;     // valid once it was opened
};

// A reading kept as the newest of its channel.
struct LatestReading {
  recording::MonoTime time;
  std::string instrument, channel, caption, quantity, unit;
  double value = 0;
};

// "Instrument PSU (scpi-pps:conn=...) is absent: no device found."
std::string AbsentText(const std::string& label, const std::string& config,
                       const std::string& reason);

class Bench {
 public:
  Bench(std::shared_ptr<Backend> backend, std::vector<InstrumentConfig> configs,
        BenchOptions options);
  ~Bench();  // Stop()
  Bench(const Bench&) = delete;
  Bench& operator=(const Bench&) = delete;

  // Each instrument opens on its own thread; returns at once.
  void Start();
  // Asks every present instrument for one reading (period 0); never waits.
  void Trigger();
  // On the owner's thread: the readings that arrived, in order, to every observer, and the
  // messages (an instrument absent, back, libsigrok's log) through the message interface.
  void Deliver(const std::vector<recording::RegisterObserver*>& observers);
  // Waits, at most timeout, until every instrument was opened or found absent once.
  bool WaitSettled(std::chrono::milliseconds timeout);
  // Triggers a reading and waits, at most timeout, until every present instrument answered.
  void ReadOnce(std::chrono::milliseconds timeout);
  // Waits, at most timeout, until every present instrument has answered every Trigger so far.
  void WaitAnswered(std::chrono::milliseconds timeout);
  // Library log lines to deliver as messages (from any thread).
  void AddLogLine(const std::string& line);
  // The same as a function that stays valid after the bench is gone (then it drops the line).
  std::function<void(const std::string&)> LogRoute() const;

  std::vector<InstrumentState> States() const;
  // The newest reading of every channel delivered so far, in instrument and channel order.
  std::vector<LatestReading> Latest() const;
  // Labels of the instruments that were absent at some time since Start.
  std::vector<std::string> EverAbsent() const;
  uint64_t Delivered() const { return delivered_; }

  // Ends the threads. One stuck inside the library longer than grace is left behind, holding
  // what it uses, so the run still ends on time.
  void Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

 private:
  struct Shared;
  struct Worker;
  std::shared_ptr<Shared> shared_;
  std::vector<std::shared_ptr<Worker>> workers_;
  std::vector<LatestReading> latest_;
  uint64_t delivered_ = 0;
  bool started_ = false;
};

}  // namespace instruments
