#include <gtest/gtest.h>

#include <sstream>

#include "recording/Journal.h"
#include "recording/OutputFile.h"
#include "recording/ScopedTz.h"
#include "support/ManualClock.h"

namespace {

using namespace std::chrono;
using recording::TransactionEvent;

class JournalTest : public ::testing::Test {
 protected:
  void Tell(recording::Journal& j, const char* op, const char* detail, int32_t status,
            microseconds took = microseconds(100), int32_t target = 0x67) {
    clock_.Advance(took);
    j.OnTransaction({clock_.Now(), op, detail, target, status, took});
  }

  ScopedTz tz_;
  ManualClock clock_;
};

TEST_F(JournalTest, CsvHasOneRowPerKeptEntry) {
  recording::Journal j(clock_);
  Tell(j, "WriteSMBusWord_", "15,41A0", 0, microseconds(1500));
  Tell(j, "Delay", "64", 8, microseconds(2), TransactionEvent::kNoTarget);
  std::ostringstream out;
  recording::StreamSink sink(out, "test");
  ASSERT_TRUE(j.WriteCsv(sink));
  EXPECT_EQ(out.str(),
            "sequence,seconds,time,transaction,target,status,status_name,duration_us\r\n"
            "1,0.001500,2024-05-01T10:00:00.001+00:00,\"WriteSMBusWord_(15,41A0)\",0x67,0,"
            "Communication OK,1500\r\n"
            "2,0.001502,2024-05-01T10:00:00.001+00:00,Delay(64),,8,VB_TIMEOUT_ERROR,2\r\n");
}

TEST_F(JournalTest, StatisticsPrintAsText) {
  recording::Journal j(clock_);
  Tell(j, "ReadSMBusWord_", "13", 0, milliseconds(250));
  Tell(j, "ReadSMBusWord_", "13", 8, milliseconds(250));
  EXPECT_EQ(recording::FormatStatistics(j.Statistics()),
            "2 transactions (0 dropped), 4.0 per second, longest 250000 us: ReadSMBusWord_(13)\n"
            "  Communication OK: 1 (50.00 %)\n"
            "  VB_TIMEOUT_ERROR: 1 (50.00 %)\n");
}

}  // namespace
