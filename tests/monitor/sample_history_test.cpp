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

}  // namespace
