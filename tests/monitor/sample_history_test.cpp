#include <gtest/gtest.h>

#include <tuple>

#include "monitor/MonitorFixture.h"
#include "monitor/SampleHistory.h"

namespace {

using monitor::BitColumn;
using monitor::PlotPoint;
using monitor::Sample;
using monitor::SampleSeries;

SampleSeries SeriesOf(const std::vector<Sample>& samples, std::size_t capacity = 100) {
  SampleSeries s(capacity);
  for (const Sample& x : samples) s.Append(x);
  return s;
}

constexpr int64_t kSecond = 1000000;

TEST(SampleHistoryTest, KeepsReadsOfTheFiveMainRegistersOnly) {
  ManualClock clock;
  monitor::SampleHistory history(clock);
  const std::vector<std::tuple<recording::AccessKind, uint8_t, bool>> accesses = {
      {recording::AccessKind::kRead, 0x15, true},
      {recording::AccessKind::kRead, 0x10, false},
      {recording::AccessKind::kWrite, 0x15, false},
      {recording::AccessKind::kRead, 0x13, true},
  };
  for (const auto& [kind, address, kept] : accesses) {
    clock.Advance(std::chrono::milliseconds(50));
    const uint64_t before = history.Generation();
    history.OnRegisterAccess(
        {clock.Now(), recording::AccessSource::kScanTick, kind, address, 1, 0, 0x66});
    EXPECT_EQ(history.Generation() - before, kept ? 1u : 0u) << int(address);
  }
  EXPECT_EQ(history.Series(0x15)->Newest().us, 50000);
  EXPECT_EQ(history.Series(0x10), nullptr);
}

TEST(SampleHistoryTest, KeepsTheNewestCapacityReadsOfARegister) {
  std::vector<Sample> samples;
  for (int i = 0; i < 25; ++i) samples.push_back({i * kSecond, static_cast<uint16_t>(i), true});
  const SampleSeries s = SeriesOf(samples, 10);
  EXPECT_EQ(s.Size(), 10u);
  EXPECT_EQ(s.Dropped(), 15u);
  EXPECT_EQ(s.At(0).value, 15);
  EXPECT_EQ(s.LowerBound(20 * kSecond), 5u);
}

TEST(SampleHistoryTest, DenseReadsKeepEachColumnsLowAndHighInTimeOrder) {
  std::vector<Sample> samples;
  // 1000 reads in 10 s onto 10 columns: each second rises from 0 to 99.
  for (int i = 0; i < 1000; ++i)
    samples.push_back({i * 10000, static_cast<uint16_t>(i % 100), true});
  const auto runs = monitor::LineRuns(SeriesOf(samples, 2000), 0, 10, 10);
  ASSERT_EQ(runs.size(), 1u);
  ASSERT_EQ(runs[0].size(), 20u);
  for (std::size_t c = 0; c < 10; ++c) {
    EXPECT_EQ(runs[0][2 * c].v, 0) << c;
    EXPECT_EQ(runs[0][2 * c + 1].v, 99) << c;
    EXPECT_LT(runs[0][2 * c].t, runs[0][2 * c + 1].t);
  }
}

TEST(SampleHistoryTest, TheLineReachesBothEdgesOfTheRange) {
  const SampleSeries s = SeriesOf({{1 * kSecond, 1, true},
                                   {5 * kSecond, 5, true},
                                   {9 * kSecond, 9, true},
                                   {12 * kSecond, 12, true}});
  const auto runs = monitor::LineRuns(s, 4, 10, 100);
  ASSERT_EQ(runs.size(), 1u);
  std::vector<double> values;
  for (const PlotPoint& p : runs[0]) values.push_back(p.v);
  EXPECT_EQ(values, (std::vector<double>{1, 5, 9, 12}));
}

TEST(SampleHistoryTest, BitColumnsHoldEachReadUntilTheNext) {
  // Bit 15 is 1 from 2 s, unknown after the failed read at 4 s, 0 from 6 s; newest read at 6 s.
  const SampleSeries s =
      SeriesOf({{2 * kSecond, 0x8000, true}, {4 * kSecond, 0, false}, {6 * kSecond, 0x0000, true}});
  const auto columns = monitor::BitColumns(&s, 0, 8, 8, 6 * kSecond);
  struct Expect {
    int column;
    bool one, zero, unknown;
  };
  for (const Expect& e : std::vector<Expect>{{0, false, false, true},
                                             {2, true, false, false},
                                             {3, true, false, false},
                                             {4, false, false, true},
                                             {5, false, false, true},
                                             {6, false, true, false},
                                             {7, false, false, false}}) {
    const BitColumn& c = columns[static_cast<std::size_t>(e.column)];
    EXPECT_EQ(std::make_tuple((c.ones & 0x8000) != 0, (c.zeros & 0x8000) != 0, c.unknown),
              std::make_tuple(e.one, e.zero, e.unknown))
        << "column " << e.column;
  }
}

}  // namespace
