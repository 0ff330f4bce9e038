#include <gtest/gtest.h>

#include "monitor/SampleHistory.h"

namespace {

using monitor::Sample;
using monitor::SampleSeries;

constexpr int64_t kSecond = 1000000;

TEST(SampleHistoryTest, KeepsTheNewestCapacityReadsOfARegister) {
  SampleSeries s(10);
  for (int i = 0; i < 25; ++i) s.Append({i * kSecond, static_cast<uint16_t>(i), true});
  EXPECT_EQ(s.Size(), 10u);
  EXPECT_EQ(s.Dropped(), 15u);
  EXPECT_EQ(s.At(0).value, 15);
  EXPECT_EQ(s.LowerBound(20 * kSecond), 5u);
}

TEST(SampleHistoryTest, HoldsAnHourOfAFiftyMillisecondScan) {
  EXPECT_GE(monitor::SampleHistory::kCapacity, std::size_t{3600 * 20});
}

using recording::AccessKind;
using recording::AccessSource;
using namespace std::chrono;

class HistoryEventsTest : public ::testing::Test {
 protected:
  void Read(double seconds, uint8_t address, uint16_t value, int32_t status = 0,
            AccessSource source = AccessSource::kScanTick) {
    history.OnRegisterAccess({At(seconds), source, AccessKind::kRead, address, value, status, 0x67});
  }
  recording::MonoTime At(double seconds) {
    return base + duration_cast<nanoseconds>(duration<double>(seconds));
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const monitor::PlotEvent& e : history.Events()) t.push_back(e.text);
    return t;
  }
  const recording::MonoTime base = recording::MonoTime{} + hours(1);
  monitor::SampleHistory history{recording::TimeBase{base, {}}};
};

TEST_F(HistoryEventsTest, AStretchOfFailedReadsIsOneMarkCountingThem) {
  Read(1, 0x15, 1);
  Read(2, 0x15, 0, 8);
  Read(3, 0x15, 0, 8);
  Read(4, 0x15, 2);
  Read(5, 0x15, 0, 8);
  ASSERT_EQ(history.Events().size(), 2u);
  EXPECT_EQ(history.Events()[0].us, 2'000'000);
  EXPECT_NE(Texts()[0].find("Read of 0x15 failed"), std::string::npos) << Texts()[0];
  EXPECT_NE(Texts()[0].find("(2 failed reads"), std::string::npos) << Texts()[0];
}

TEST_F(HistoryEventsTest, ASpinOrBurnIsOneMarkWhereItBegins) {
  Read(1, 0x10, 1, 0, AccessSource::kSpin);
  Read(1.1, 0x11, 1, 0, AccessSource::kSpin);
  Read(5, 0x19, 1, 0, AccessSource::kBurn);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Spin preset applied", "EEPROM burn"}));
}

TEST_F(HistoryEventsTest, ScanTicksFarApartMarkAPause) {
  for (double t : {0.0, 0.5, 1.0, 1.5, 6.5, 7.0}) Read(t, 0x13, 1);
  ASSERT_EQ(history.Events().size(), 1u);
  EXPECT_EQ(history.Events()[0].us, 2'000'000);
  EXPECT_EQ(Texts()[0], "Scan paused for 5.0 s");
}

TEST_F(HistoryEventsTest, InstrumentReadingsAreKeptPerChannel) {
  history.OnInstrumentReading({At(1), "PSU", "I1", "PSU CH1 current", "current", "mA", 2031});
  history.OnInstrumentReading({At(2), "PSU", "V1", "PSU CH1 voltage", "voltage", "mV", 16790});
  history.OnInstrumentReading({At(3), "PSU", "I1", "PSU CH1 current", "current", "mA", 0});
  ASSERT_EQ(history.Channels().size(), 2u);
  const monitor::InstrumentChannel& c = history.Channels()[0];
  EXPECT_EQ(c.series.Size(), 2u);
  EXPECT_EQ(c.series.AtOrBefore(2'500'000)->value, 2031);
  EXPECT_EQ(c.unit, "mA");
  EXPECT_LT(c.lo, c.hi);
}

TEST_F(HistoryEventsTest, ChangedBitsAreThoseThatTookBothValues) {
  Read(1, 0x13, 0x0011);
  Read(2, 0x13, 0, 8);
  Read(3, 0x13, 0x0013);
  EXPECT_EQ(history.ChangedBits(0x13), 0x0002);
}

TEST_F(HistoryEventsTest, AnEventToldLateLeavesTheFailuresMarkCounting) {
  Read(2, 0x15, 0, 8);
  history.AddEvent(At(1), "PSU absent");
  Read(3, 0x15, 0, 8);
  EXPECT_EQ(Texts()[0], "PSU absent");
  EXPECT_NE(Texts()[1].find("(2 failed reads"), std::string::npos) << Texts()[1];
}

}  // namespace
