#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "instruments/Bench.h"
#include "instruments/ScriptedBackend.h"
#include "support/RecordingSink.h"

using namespace instruments;
using namespace std::chrono_literals;

namespace {

struct Log : recording::RegisterObserver {
  void OnRegisterAccess(const recording::RegisterEvent&) override {}
  void OnInstrumentReading(const recording::InstrumentReading& r) override {
    readings.push_back({r.time, std::string(r.instrument), std::string(r.channel),
                        std::string(r.caption), std::string(r.quantity), std::string(r.unit),
                        r.value});
  }
  std::vector<LatestReading> readings;
};

InstrumentConfig Config(const std::string& label) {
  InstrumentConfig s;
  s.text = "fake:conn=" + label;
  s.driver = "fake";
  s.label = label;
  return s;
}

class BenchTest : public ::testing::Test {
 protected:
  BenchTest() {
    options_.clock = &clock_;
    options_.retry = 20ms;
    options_.readTimeout = 50ms;
  }
  // Delivers until done() holds; a generous deadline, never a fixed wait.
  template <typename Done>
  bool DeliverUntil(Bench& bench, Done done) {
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < until) {
      bench.Deliver({&log_});
      if (done()) return true;
      std::this_thread::yield();
    }
    return false;
  }
  std::shared_ptr<ScriptedBackend> backend_ = std::make_shared<ScriptedBackend>();
  StillClock clock_;
  BenchOptions options_;
  Log log_;
  RecordingSink sink_;
  ScopedSink scope_{&sink_};
};

}  // namespace

TEST_F(BenchTest, ReadingsReachObserversInKorvoUnitsOnTheClock) {
  backend_->Add("PSU");
  Bench bench(backend_, {Config("PSU")}, options_);
  bench.Start();
  ASSERT_TRUE(bench.WaitSettled(30s));
  clock_.Set(5s);
  bench.Trigger();
  ASSERT_TRUE(DeliverUntil(bench, [&] { return log_.readings.size() >= 2; }));
  EXPECT_EQ(log_.readings[0].caption, "PSU CH1 voltage");
  EXPECT_EQ(log_.readings[0].unit, "mV");
  EXPECT_DOUBLE_EQ(log_.readings[0].value, 15200);
  EXPECT_EQ(log_.readings[1].caption, "PSU CH1 current");
  EXPECT_DOUBLE_EQ(log_.readings[1].value, 2048);
  EXPECT_EQ(log_.readings[1].time, recording::MonoTime{} + 5s);
}

TEST_F(BenchTest, NoReadingWithoutTriggerWhenPeriodIsZero) {
  auto s = backend_->Add("PSU");
  Bench bench(backend_, {Config("PSU")}, options_);
  bench.Start();
  ASSERT_TRUE(bench.WaitSettled(30s));
  bench.Trigger();
  ASSERT_TRUE(DeliverUntil(bench, [&] { return s->reads >= 1; }));
  bench.Stop();
  EXPECT_EQ(s->reads, 1);
}

TEST_F(BenchTest, AbsentInstrumentNamedOnceWhileRetried) {
  auto s = backend_->Add("Load");
  s->openFails = true;
  Bench bench(backend_, {Config("Load")}, options_);
  bench.Start();
  ASSERT_TRUE(DeliverUntil(bench, [&] { return s->opens >= 3; }));
  bench.Stop();
  bench.Deliver({&log_});
  ASSERT_EQ(sink_.messages.size(), 1u);
  EXPECT_EQ(
      sink_.messages[0].rfind("Instrument Load (fake:conn=Load) is absent: no device found.", 0),
      0u)
      << sink_.messages[0];
  EXPECT_EQ(bench.EverAbsent(), std::vector<std::string>{"Load"});
}

TEST_F(BenchTest, RetriesAreBoundedByTheRetryPeriod) {
  auto s = backend_->Add("Load");
  s->openFails = true;
  options_.retry = 100ms;
  const auto start = std::chrono::steady_clock::now();
  Bench bench(backend_, {Config("Load")}, options_);
  bench.Start();
  ASSERT_TRUE(DeliverUntil(bench, [&] { return s->opens >= 3; }));
  bench.Stop();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LE(s->opens, 1 + elapsed / options_.retry);
}

TEST_F(BenchTest, InstrumentThatStopsAnsweringIsNamedOthersGoOn) {
  auto psu = backend_->Add("PSU");
  auto load = backend_->Add("Load");
  load->answers = {Script::Answer::kFail};
  {
    const std::lock_guard lock(load->mutex);
    load->openFails = false;
  }
  Bench bench(backend_, {Config("PSU"), Config("Load")}, options_);
  bench.Start();
  ASSERT_TRUE(bench.WaitSettled(30s));
  {
    const std::lock_guard lock(load->mutex);
    load->openFails = true;  // unplugged for good
  }
  for (int i = 0; i < 3; ++i) {
    bench.Trigger();
    ASSERT_TRUE(DeliverUntil(bench, [&] { return psu->reads > i; }));
  }
  ASSERT_TRUE(DeliverUntil(bench, [&] { return load->opens >= 3; }));
  ASSERT_EQ(sink_.messages.size(), 1u);
  EXPECT_NE(sink_.messages[0].find("Instrument Load"), std::string::npos);
  EXPECT_NE(sink_.messages[0].find("connection reset"), std::string::npos);
  EXPECT_GE(std::count_if(log_.readings.begin(), log_.readings.end(),
                          [](const LatestReading& r) { return r.instrument == "PSU"; }),
            6);
}

TEST_F(BenchTest, HungReadIsGivenUpAfterTheReadTimeout) {
  auto s = backend_->Add("PSU");
  s->answers = {Script::Answer::kHang};
  Bench bench(backend_, {Config("PSU")}, options_);
  bench.Start();
  bench.Trigger();
  ASSERT_TRUE(DeliverUntil(bench, [&] { return !sink_.messages.empty(); }));
  EXPECT_NE(sink_.messages[0].find("no answer within 50 ms"), std::string::npos)
      << sink_.messages[0];
}

TEST_F(BenchTest, HangAfterGoodReadsIsStillGivenUp) {
  auto s = backend_->Add("PSU");
  s->answers = {Script::Answer::kValues, Script::Answer::kValues, Script::Answer::kHang};
  Bench bench(backend_, {Config("PSU")}, options_);
  bench.Start();
  for (int i = 0; i < 2; ++i) {
    bench.Trigger();
    ASSERT_TRUE(DeliverUntil(bench, [&] { return s->reads > i; }));
  }
  bench.WaitAnswered(30s);
  bench.Trigger();
  ASSERT_TRUE(DeliverUntil(bench, [&] { return !sink_.messages.empty(); }));
  EXPECT_NE(sink_.messages[0].find("no answer within 50 ms"), std::string::npos)
      << sink_.messages[0];
}

TEST_F(BenchTest, InstrumentBackAgainIsNamed) {
  auto s = backend_->Add("PSU");
  s->answers = {Script::Answer::kFail};
  Bench bench(backend_, {Config("PSU")}, options_);
  bench.Start();
  bench.Trigger();
  ASSERT_TRUE(DeliverUntil(bench, [&] { return sink_.messages.size() >= 2; }));
  EXPECT_EQ(sink_.messages[1], "Instrument PSU (fake:conn=PSU) answers again.");
}

TEST_F(BenchTest, StopEndsOnTimeWhenTheLibraryHangs) {
  auto s = backend_->Add("PSU");
  s->answers = {Script::Answer::kHangHard};
  options_.readTimeout = 30s;
  Bench bench(backend_, {Config("PSU")}, options_);
  bench.Start();
  bench.Trigger();
  ASSERT_TRUE(DeliverUntil(bench, [&] { return s->reads >= 1; }));
  bench.Trigger();  // never waits on the hung instrument
  bench.Stop(10ms);
  {
    const std::lock_guard lock(s->mutex);
    s->release = true;  // lets the thread that was left behind finish
  }
  s->cv.notify_all();
  SUCCEED();
}

// A thread left behind comes back from the library after Stop gave up on it.
class LeftBehindTest : public BenchTest {
 protected:
  LeftBehindTest() {
    script_->answers = {Script::Answer::kHangHardThenValues};
    options_.readTimeout = 30s;
  }
  void LeaveBehind(Bench& bench) {
    bench.Start();
    bench.Trigger();
    ASSERT_TRUE(DeliverUntil(bench, [&] { return script_->reads >= 1; }));
    bench.Stop(10ms);
    {
      const std::lock_guard lock(script_->mutex);
      script_->release = true;
    }
    script_->cv.notify_all();
  }
  std::shared_ptr<Script> script_ = backend_->Add("PSU");
};

TEST_F(LeftBehindTest, ItsLateReadingIsDropped) {
  Bench bench(backend_, {Config("PSU")}, options_);
  LeaveBehind(bench);
  ASSERT_TRUE(DeliverUntil(bench, [&] { return script_->readsReturned >= 1; }));
  bench.Deliver({&log_});
  EXPECT_EQ(bench.Delivered(), 0u);
}

TEST_F(LeftBehindTest, ItsDeviceIsNeverClosed) {
  {
    Bench bench(backend_, {Config("PSU")}, options_);
    LeaveBehind(bench);
  }
  // The thread holds the backend until it ends.
  const auto until = std::chrono::steady_clock::now() + 30s;
  while (backend_.use_count() > 1 && std::chrono::steady_clock::now() < until)
    std::this_thread::yield();
  ASSERT_EQ(backend_.use_count(), 1);
  EXPECT_EQ(script_->closes, 0);
}
