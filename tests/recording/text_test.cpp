#include <gtest/gtest.h>

#include "recording/ScopedTz.h"
#include "recording/Text.h"

namespace {

using namespace std::chrono;

TEST(IsoTime, OffsetFollowsASummerTimeChange) {
  ScopedTz scope("CET-1CEST,M3.5.0,M10.5.0/3");
  recording::IsoTimeFormatter f;  // keeps its second: it must notice the new one
  const auto before = sys_days{year{2024} / 3 / 31} + hours(0) + minutes(59) + seconds(59);
  EXPECT_EQ(f.Format(before), "2024-03-31T01:59:59.000+01:00");
  EXPECT_EQ(f.Format(before + seconds(1)), "2024-03-31T03:00:00.000+02:00");
}

}  // namespace
