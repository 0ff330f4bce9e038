// libsigrok's real demo and scpi-pps drivers, the latter against the simulated bench on
// loopback (scripts/fake-bench.py).
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "instruments/Bench.h"
#include "instruments/SigrokBackend.h"
#include "support/FakeBench.h"
#include "support/RecordingSink.h"
#include "support/TempDir.h"

using namespace instruments;
using namespace std::chrono_literals;

namespace {

InstrumentConfig Config(const std::string& text, const std::string& label = {}) {
  ConfigResult r = ParseInstrument(text, label);
  if (!r.config) ADD_FAILURE() << r.error;
  return r.config.value_or(InstrumentConfig{});
}

// Every value of one reading, by channel.
std::map<std::string, RawValue> ReadOnce(Device& d) {
  std::map<std::string, RawValue> values;
  std::string reason;
  EXPECT_TRUE(d.Read([&](const RawValue& v) { values[v.channel] = v; }, reason)) << reason;
  return values;
}

class SigrokTest : public ::testing::Test {
 protected:
  std::shared_ptr<Backend> backend_ = MakeSigrokBackend();
};

}  // namespace

struct RefusedConfig {
  const char* config;
  const char* reason;
};

class SigrokRefuses : public SigrokTest, public ::testing::WithParamInterface<RefusedConfig> {};

TEST_P(SigrokRefuses, UnknownDriverOrOptionBeforeAnythingOpens) {
  EXPECT_NE(backend_->Check(Config(GetParam().config)).find(GetParam().reason), std::string::npos)
      << backend_->Check(Config(GetParam().config));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SigrokRefuses,
    ::testing::Values(RefusedConfig{"no-such-driver", "unknown driver 'no-such-driver'"},
                      RefusedConfig{"demo:conn=/dev/ttyUSB0", "driver 'demo' has no option 'conn'"},
                      RefusedConfig{"scpi-pps:frobnicate=1",
                                    "driver 'scpi-pps' has no option 'frobnicate'"},
                      RefusedConfig{"demo:analog_channels=many", "invalid value 'many'"}));

TEST_F(SigrokTest, KnownDriverAndScanOptionsPass) {
  EXPECT_EQ(backend_->Check(Config("scpi-pps:conn=tcp-raw/127.0.0.1/5555")), "");
  EXPECT_EQ(backend_->Check(Config("demo:analog_channels=2")), "");
}

TEST_F(SigrokTest, DemoReadsEachEnabledChannelInVolts) {
  std::string reason;
  auto d = backend_->Open(Config("demo channels=A1,A2"), reason);
  ASSERT_TRUE(d) << reason;
  const auto values = ReadOnce(*d);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values.at("A1").quantity, "voltage");
  EXPECT_EQ(values.at("A1").unit, "V");
  EXPECT_EQ(values.count("A2"), 1u);
}

TEST_F(SigrokTest, SelectingAChannelTheDeviceLacksIsRefused) {
  std::string reason;
  EXPECT_FALSE(backend_->Open(Config("demo channels=Z9"), reason));
  EXPECT_EQ(reason, "no analog channel 'Z9' (it has: A0 A1 A2 A3 A4)");
}

TEST_F(SigrokTest, ScpiPpsReadsTheFakeSupplyWhileCharging) {
  FakeBench bench;
  ASSERT_TRUE(bench.Ready());
  std::string reason;
  auto psu = backend_->Open(Config(bench.PsuConfig() + " channels=V1,I1"), reason);
  ASSERT_TRUE(psu) << reason;
  EXPECT_EQ(psu->Info().model, "DP832");
  EXPECT_EQ(psu->Info().serial, "DP8A000001");
  const auto values = ReadOnce(*psu);
  ASSERT_EQ(values.size(), 2u);
  EXPECT_DOUBLE_EQ(values.at("V1").value, 19.0);
  EXPECT_EQ(values.at("I1").quantity, "current");
  EXPECT_GT(values.at("I1").value, 1.0);
  auto load = backend_->Open(Config(bench.LoadConfig() + " channels=I1"), reason);
  ASSERT_TRUE(load) << reason;
  EXPECT_NEAR(ReadOnce(*load).at("I1").value, 2.048, 1e-6);
}

TEST_F(SigrokTest, NoCurrentFlowsWithTheAcAdapterPulled) {
  TempDir dir;
  FakeBench bench({"--scenario", dir.Write("s.txt", "0 AcPresent=0\n")});
  ASSERT_TRUE(bench.Ready());
  std::string reason;
  auto psu = backend_->Open(Config(bench.PsuConfig() + " channels=I1"), reason);
  ASSERT_TRUE(psu) << reason;
  auto load = backend_->Open(Config(bench.LoadConfig() + " channels=I1"), reason);
  ASSERT_TRUE(load) << reason;
  EXPECT_EQ(ReadOnce(*psu).at("I1").value, 0.0);
  EXPECT_EQ(ReadOnce(*load).at("I1").value, 0.0);
}

TEST_F(SigrokTest, NothingListeningIsNamedWithTheLibrarysReason) {
  FakeBench bench;
  ASSERT_TRUE(bench.Ready());
  const std::string config = bench.PsuConfig();
  bench.Kill();
  std::string reason;
  EXPECT_FALSE(backend_->Open(Config(config), reason));
  EXPECT_NE(reason.find("no device found"), std::string::npos) << reason;
  EXPECT_NE(reason.find("Connection refused"), std::string::npos) << reason;
}

// Caught at file descriptor 2 itself, where the library would write.
TEST_F(SigrokTest, LibraryLogNeverReachesTheTerminal) {
  ::testing::internal::CaptureStderr();
  std::string reason;
  EXPECT_FALSE(backend_->Open(Config("scpi-pps:conn=tcp-raw/127.0.0.1/1"), reason));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// Through the bench, as korvoctl uses it.
class SigrokBenchTest : public SigrokTest {
 protected:
  template <typename Done>
  bool DeliverUntil(Bench& bench, Done done) {
    const auto until = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < until) {
      bench.Deliver({});
      if (done()) return true;
      std::this_thread::yield();
    }
    return false;
  }
  RecordingSink sink_;
  ScopedSink scope_{&sink_};
};

TEST_F(SigrokBenchTest, GarbageAnswersAreNamedOnce) {
  FakeBench fake({"--garbage"});
  ASSERT_TRUE(fake.Ready());
  BenchOptions o;
  o.retry = 50ms;
  Bench bench(backend_, {Config(fake.PsuConfig(), "PSU")}, o);
  bench.Start();
  for (int i = 0; i < 3; ++i) bench.Trigger();
  ASSERT_TRUE(DeliverUntil(bench, [&] { return !sink_.messages.empty(); }));
  EXPECT_EQ(sink_.messages[0].rfind("Instrument PSU (" + fake.PsuConfig() + ") is absent: ", 0), 0u)
      << sink_.messages[0];
  EXPECT_EQ(bench.Delivered(), 0u);
}

TEST_F(SigrokBenchTest, StalledInstrumentIsGivenUpAndTheBenchStopsOnTime) {
  FakeBench fake({"--stall-after", "0"});
  ASSERT_TRUE(fake.Ready());
  BenchOptions o;
  o.readTimeout = 500ms;
  Bench bench(backend_, {Config(fake.PsuConfig(), "PSU")}, o);
  bench.Start();
  bench.Trigger();
  ASSERT_TRUE(DeliverUntil(bench, [&] { return !sink_.messages.empty(); }));
  EXPECT_NE(sink_.messages[0].find("is absent: no answer within 500 ms"), std::string::npos)
      << sink_.messages[0];
  bench.Stop(100ms);  // the library is still stuck in its read: left behind, not waited for
}

TEST_F(SigrokBenchTest, UnpluggedMidRunIsNamedOnce) {
  FakeBench fake;
  ASSERT_TRUE(fake.Ready());
  BenchOptions o;
  o.retry = 50ms;
  Bench bench(backend_, {Config(fake.PsuConfig() + " channels=I1", "PSU")}, o);
  bench.Start();
  bench.Trigger();
  ASSERT_TRUE(DeliverUntil(bench, [&] { return bench.Delivered() >= 1; }));
  fake.Kill();
  ASSERT_TRUE(DeliverUntil(bench, [&] {
    bench.Trigger();
    return !sink_.messages.empty();
  }));
  EXPECT_NE(sink_.messages[0].find("Instrument PSU"), std::string::npos);
  EXPECT_EQ(bench.EverAbsent(), std::vector<std::string>{"PSU"});
}
