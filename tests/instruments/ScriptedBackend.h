// An instrument library of the test's making: devices whose answers the test scripts, so the
// bench's threading, absence and retry rules are tested without libsigrok or sockets.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "instruments/Instrument.h"
#include "observation/Clock.h"

// A clock that any thread may read: it stands still unless the test moves it.
class StillClock : public recording::Clock {
 public:
  recording::MonoTime Now() const override {
    return recording::MonoTime{} + std::chrono::microseconds(now_.load());
  }
  recording::WallTime WallNow() const override { return {}; }
  void SleepUntil(recording::MonoTime) override {}
  void Set(std::chrono::microseconds t) { now_ = t.count(); }

 private:
  std::atomic<int64_t> now_{3600000000};
};

struct Script {
  enum class Answer { kValues, kFail, kHang, kHangHard, kHangHardThenValues };
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<Answer> answers;  // one per Read; when empty: kValues
  bool openFails = false;
  std::string openReason = "no device found";
  std::atomic<int> opens{0}, reads{0}, readsReturned{0}, closes{0};
  bool release = false;  // ends every hang
  instruments::DeviceInfo info{"fake",
                               "Vendor",
                               "Model",
                               "1",
                               "S1",
                               "conn",
                               {{"V1", "1", "", "", true}, {"I1", "1", "", "", true}}};
};

class ScriptedDevice : public instruments::Device {
 public:
  explicit ScriptedDevice(std::shared_ptr<Script> s) : s_(std::move(s)) {}
  ~ScriptedDevice() override { ++s_->closes; }
  const instruments::DeviceInfo& Info() const override { return s_->info; }
  bool Read(const std::function<void(const instruments::RawValue&)>& onValue,
            std::string& reason) override {
    ++s_->reads;
    Script::Answer a = Script::Answer::kValues;
    {
      std::unique_lock lock(s_->mutex);
      if (!s_->answers.empty()) {
        a = s_->answers.front();
        s_->answers.pop_front();
      }
      if (a == Script::Answer::kHang)
        s_->cv.wait(lock, [&] { return interrupted_ || s_->release; });
      if (a == Script::Answer::kHangHard || a == Script::Answer::kHangHardThenValues)
        s_->cv.wait(lock, [&] { return s_->release; });
    }
    if (a != Script::Answer::kValues && a != Script::Answer::kHangHardThenValues) {
      reason = a == Script::Answer::kFail ? "connection reset" : "no answer in time";
      ++s_->readsReturned;
      return false;
    }
    onValue({"V1", "voltage", "V", 15.2});
    onValue({"I1", "current", "A", 2.048});
    ++s_->readsReturned;
    return true;
  }
  void Interrupt() override {
    const std::lock_guard lock(s_->mutex);
    interrupted_ = true;
    s_->cv.notify_all();
  }

 private:
  std::shared_ptr<Script> s_;
  bool interrupted_ = false;
};

// One script per instrument label.
class ScriptedBackend : public instruments::Backend {
 public:
  std::shared_ptr<Script> Add(const std::string& label) {
    return scripts_[label] = std::make_shared<Script>();
  }
  std::string Check(const instruments::InstrumentConfig&) override { return {}; }
  std::unique_ptr<instruments::Device> Open(const instruments::InstrumentConfig& config,
                                            std::string& reason) override {
    const std::shared_ptr<Script> s = scripts_.at(config.label);
    ++s->opens;
    const std::lock_guard lock(s->mutex);
    if (s->openFails) {
      reason = s->openReason;
      return nullptr;
    }
    return std::make_unique<ScriptedDevice>(s);
  }

 private:
  std::map<std::string, std::shared_ptr<Script>> scripts_;
};
