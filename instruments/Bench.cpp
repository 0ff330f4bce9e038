#include "instruments/Bench.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <thread>

#include "foundation/Messages.h"

namespace instruments {

namespace {
using Steady = std::chrono::steady_clock;

// Readings waiting for delivery beyond this many are dropped, oldest first: an owner that does
// not deliver must not make the queue grow without end.
constexpr std::size_t kMaxQueued = 200000;

// Devices of threads left behind, never closed and kept reachable on purpose.
void KeepOpen(std::unique_ptr<Device> device) {
  static std::mutex mutex;
  static auto* const kept = new std::vector<std::unique_ptr<Device>>;
  const std::lock_guard lock(mutex);
  kept->push_back(std::move(device));
}

std::string SecondsText(std::chrono::milliseconds d) {
  const auto ms = d.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}
}  // namespace

std::string AbsentText(const std::string& label, const std::string& config,
                       const std::string& reason) {
  return "Instrument " + label + " (" + config + ") is absent: " + reason + ".";
}

struct Bench::Shared {
  BenchOptions options;
  const recording::Clock* clock = nullptr;
  mutable std::mutex mutex;
  std::condition_variable changed;  // a worker settled or answered
  std::deque<LatestReading> queue;
  std::vector<std::string> messages;
  std::vector<std::string> everAbsent;
  uint64_t dropped = 0;

  void Message(std::string text) {
    const std::lock_guard lock(mutex);
    messages.push_back(std::move(text));
  }
};

struct Bench::Worker {
  InstrumentConfig config;
  std::shared_ptr<Backend> backend;
  std::shared_ptr<Shared> shared;

  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;
  std::atomic<uint64_t> triggers{0};
  uint64_t served = 0;                    // triggers taken
  std::atomic<uint64_t> answeredUpTo{0};  // triggers whose reading is over
  std::atomic<uint64_t> answered{0};      // readings completed (either way); read without mutex
  Device* reading = nullptr;              // the device while a Read is under way
  bool givenUp = false;                   // the watchdog gave that Read up
  Steady::time_point deadline = Steady::time_point::max();
  Steady::time_point watchdogUntil = Steady::time_point::max();  // when the watchdog wakes
  bool finished = false, watchdogFinished = false;
  // Stop gave up waiting for it. From then on the thread touches nothing but its own worker: the
  // owner may be gone and the process may be exiting around it.
  std::atomic<bool> abandoned{false};
  std::condition_variable done;

  // Guarded by shared->mutex.
  InstrumentState state;
  bool reported = false;  // its absence was named

  void Run() {
    std::unique_ptr<Device> device;
    Steady::time_point nextTry = Steady::time_point::min();
    Steady::time_point nextRead = Steady::now();
    const auto& o = shared->options;
    std::unique_lock lock(mutex);
    while (!stop) {
      if (!device) {
        if (Steady::now() < nextTry) {
          wake.wait_until(lock, nextTry, [&] { return stop; });
          continue;
        }
        lock.unlock();
        std::string reason;
        auto opened = backend->Open(config, reason);
        lock.lock();
        if (stop) break;
        if (!opened) {
          Absent(reason);
          nextTry = Steady::now() + o.retry;
          continue;
        }
        device = std::move(opened);
        Present(device->Info());
        nextRead = Steady::now();
      }
      if (o.period.count() > 0) {
        wake.wait_until(lock, nextRead, [&] { return stop; });
        if (stop) break;
        nextRead = std::max(nextRead + o.period, Steady::now());
      } else {
        wake.wait(lock, [&] { return stop || triggers > served; });
        if (stop) break;
        served = triggers;
      }
      reading = device.get();
      givenUp = false;
      deadline = Steady::now() + o.readTimeout;
      // The watchdog, unless it wakes before this deadline anyway and then sleeps on to it: a
      // wake a read costs more CPU than the rest of our part of a reading.
      if (watchdogUntil > deadline) wake.notify_all();
      lock.unlock();
      std::string reason;
      const bool ok = device->Read([&](const RawValue& v) { Queue(device->Info(), v); }, reason);
      lock.lock();
      reading = nullptr;
      deadline = Steady::time_point::max();
      ++answered;
      answeredUpTo = served;
      if ((!ok || givenUp) && !stop) {
        if (reason == "no answer in time" || givenUp)
          reason = "no answer within " + SecondsText(o.readTimeout);
        device.reset();
        Absent(reason);
        nextTry = Steady::now() + o.retry;
      }
      { const std::lock_guard settle(shared->mutex); }  // ReadOnce sees answered, then waits
      shared->changed.notify_all();
    }
    // Closed here, on the thread that opened it. A thread left behind keeps its device open
    // instead: closing calls into the library, which may be unloading as the process exits.
    lock.unlock();
    if (abandoned)
      KeepOpen(std::move(device));
    else
      device.reset();
    lock.lock();
    finished = true;
    done.notify_all();
  }

  // A reading that takes longer than readTimeout is given up: interrupted, and the instrument
  // named absent at once, even when the library stays stuck inside a blocking call (libsigrok
  // 0.5's raw TCP reads wait without a timeout). The worker picks up when the call returns.
  void Watch() {
    std::unique_lock lock(mutex);
    while (!stop) {
      if (reading != nullptr && Steady::now() >= deadline) {
        reading->Interrupt();
        deadline = Steady::time_point::max();
        givenUp = true;
        Absent("no answer within " + SecondsText(shared->options.readTimeout));
        continue;
      }
      watchdogUntil = deadline;
      if (deadline == Steady::time_point::max())
        wake.wait(lock);
      else
        wake.wait_until(lock, deadline);
      watchdogUntil = Steady::time_point::min();  // awake: it looks at deadline next
    }
    watchdogFinished = true;
    done.notify_all();
  }

  void Queue(const DeviceInfo& info, const RawValue& v) {
    if (abandoned) return;
    const KorvoValue k = ToKorvoUnits(v.unit, v.value);
    LatestReading r;
    r.time = shared->clock->Now();
    r.instrument = config.label;
    r.channel = v.channel;
    r.quantity = v.quantity;
    r.unit = k.unit;
    r.value = k.value;
    const auto ch = std::find_if(info.channels.begin(), info.channels.end(),
                                 [&](const ChannelInfo& c) { return c.name == v.channel; });
    r.caption = Caption(config.label,
                        ch != info.channels.end() ? *ch : ChannelInfo{v.channel, {}, {}, {}, true},
                        v.quantity);
    const std::lock_guard lock(shared->mutex);
    if (shared->queue.size() >= kMaxQueued) {
      shared->queue.pop_front();
      ++shared->dropped;
    }
    shared->queue.push_back(std::move(r));
  }

  void Absent(const std::string& reason) {
    const std::lock_guard lock(shared->mutex);
    const bool wasPresent = state.present || !state.settled;
    state.settled = true;
    state.present = false;
    state.reason = reason.empty() ? "no reason given" : reason;
    if (wasPresent && !reported) {
      reported = true;
      shared->messages.push_back(AbsentText(config.label, config.text, state.reason) +
                                 " Korvo goes on without it and tries again every " +
                                 SecondsText(shared->options.retry) + ".");
      if (std::find(shared->everAbsent.begin(), shared->everAbsent.end(), config.label) ==
          shared->everAbsent.end())
        shared->everAbsent.push_back(config.label);
    }
    shared->changed.notify_all();
  }

  void Present(const DeviceInfo& info) {
    const std::lock_guard lock(shared->mutex);
    if (reported)
      shared->messages.push_back("Instrument " + config.label + " (" + config.text +
                                 ") answers again.");
    reported = false;
    state.settled = true;
    state.present = true;
    state.reason.clear();
    state.info = info;
    shared->changed.notify_all();
  }
};

Bench::Bench(std::shared_ptr<Backend> backend, std::vector<InstrumentConfig> configs,
             BenchOptions options)
    : shared_(std::make_shared<Shared>()) {
  shared_->options = options;
  shared_->clock = options.clock ? options.clock : &recording::SystemClock();
  for (InstrumentConfig& s : configs) {
    auto w = std::make_shared<Worker>();
    w->state.label = s.label;
    w->state.config = s.text;
    w->config = std::move(s);
    w->backend = backend;
    w->shared = shared_;
    workers_.push_back(std::move(w));
  }
}

Bench::~Bench() { Stop(); }

void Bench::Start() {
  if (started_) return;
  started_ = true;
  // The instrument threads never take the program's signals: a write to an instrument that hung
  // up (libsigrok sends without MSG_NOSIGNAL) fails there with EPIPE instead of ending the
  // program, and Ctrl-C stays with the thread that handles it.
  sigset_t block, previous;
  sigemptyset(&block);
  sigaddset(&block, SIGPIPE);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &block, &previous);
  for (const auto& w : workers_) {
    // Each thread holds its worker, so one left behind by Stop keeps what it uses.
    std::thread([w] { w->Run(); }).detach();
    std::thread([w] { w->Watch(); }).detach();
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void Bench::Trigger() {
  for (const auto& w : workers_) {
    const std::lock_guard lock(w->mutex);
    ++w->triggers;
    w->wake.notify_all();
  }
}

void Bench::AddLogLine(const std::string& line) { shared_->Message("libsigrok: " + line); }

std::function<void(const std::string&)> Bench::LogRoute() const {
  std::weak_ptr<Shared> weak = shared_;
  return [weak](const std::string& line) {
    if (auto s = weak.lock()) s->Message("libsigrok: " + line);
  };
}

void Bench::Deliver(const std::vector<recording::RegisterObserver*>& observers) {
  std::deque<LatestReading> readings;
  std::vector<std::string> messages;
  {
    const std::lock_guard lock(shared_->mutex);
    readings.swap(shared_->queue);
    messages.swap(shared_->messages);
  }
  for (const std::string& m : messages) MsgBox(m);
  for (const LatestReading& r : readings) {
    const recording::InstrumentReading event{r.time,     r.instrument, r.channel, r.caption,
                                             r.quantity, r.unit,       r.value};
    for (recording::RegisterObserver* o : observers) o->OnInstrumentReading(event);
    auto same = std::find_if(latest_.begin(), latest_.end(), [&](const LatestReading& l) {
      return l.instrument == r.instrument && l.channel == r.channel;
    });
    if (same != latest_.end())
      *same = r;
    else
      latest_.push_back(r);
    ++delivered_;
  }
}

bool Bench::WaitSettled(std::chrono::milliseconds timeout) {
  std::unique_lock lock(shared_->mutex);
  return shared_->changed.wait_for(lock, timeout, [&] {
    return std::all_of(workers_.begin(), workers_.end(),
                       [](const auto& w) { return w->state.settled; });
  });
}

void Bench::WaitAnswered(std::chrono::milliseconds timeout) {
  std::vector<uint64_t> triggered;
  for (const auto& w : workers_) triggered.push_back(w->triggers.load());
  std::unique_lock lock(shared_->mutex);
  shared_->changed.wait_for(lock, timeout, [&] {
    for (std::size_t i = 0; i < workers_.size(); ++i) {
      const auto& w = workers_[i];
      if (!w->state.settled) return false;
      if (w->state.present && w->answeredUpTo.load() < triggered[i]) return false;
    }
    return true;
  });
}

void Bench::ReadOnce(std::chrono::milliseconds timeout) {
  const auto until = Steady::now() + timeout;
  std::vector<uint64_t> before;
  for (const auto& w : workers_) before.push_back(w->answered.load());
  Trigger();
  std::unique_lock lock(shared_->mutex);
  shared_->changed.wait_until(lock, until, [&] {
    for (std::size_t i = 0; i < workers_.size(); ++i) {
      const auto& w = workers_[i];
      if (!w->state.settled) return false;
      if (!w->state.present) continue;
      if (w->answered.load() == before[i]) return false;
    }
    return true;
  });
}

std::vector<InstrumentState> Bench::States() const {
  std::vector<InstrumentState> states;
  const std::lock_guard lock(shared_->mutex);
  for (const auto& w : workers_) states.push_back(w->state);
  return states;
}

std::vector<LatestReading> Bench::Latest() const { return latest_; }

std::vector<std::string> Bench::EverAbsent() const {
  const std::lock_guard lock(shared_->mutex);
  return shared_->everAbsent;
}

void Bench::Stop(std::chrono::milliseconds grace) {
  if (!started_) return;
  started_ = false;
  for (const auto& w : workers_) {
    const std::lock_guard lock(w->mutex);
    w->stop = true;
    if (w->reading != nullptr) w->reading->Interrupt();
    w->wake.notify_all();
  }
  const auto until = Steady::now() + grace;
  for (const auto& w : workers_) {
    std::unique_lock lock(w->mutex);
    if (!w->done.wait_until(lock, until, [&] { return w->finished && w->watchdogFinished; }))
      w->abandoned = true;
  }
}

}  // namespace instruments
