#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "recording/Journal.h"
#include "recording/OutputFile.h"
#include "recording/ScopedTz.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono;
using recording::TransactionEvent;

class JournalTest : public ::testing::Test {
 protected:
  void Tell(recording::TransactionObserver& j, const char* op, const char* detail, int32_t status,
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

// An instrument's rows are shown, but they are not the link's traffic.
TEST_F(JournalTest, InstrumentRowsLeaveTheLinksStatisticsAndShowInTheCsv) {
  recording::Journal j(clock_);
  Tell(j, "ReadSMBusWord_", "13", 0);
  j.OnTransaction({clock_.Now(), "Instrument absent", "no device found",
                   TransactionEvent::kNoTarget, 1, {}, "Load"});
  Tell(j, "ReadSMBusWord_", "14", 0);
  const recording::JournalStatistics s = j.Statistics();
  EXPECT_EQ(s.total, 2u);
  ASSERT_EQ(s.byStatus.size(), 1u);
  EXPECT_EQ(s.byStatus[0].count, 2u);
  std::ostringstream out;
  recording::StreamSink sink(out, "test");
  ASSERT_TRUE(j.WriteCsv(sink));
  EXPECT_NE(out.str().find(",Instrument absent(no device found),Load,1,absent,0\r\n"),
            std::string::npos)
      << out.str();
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

TEST_F(JournalTest, StatisticsListTheCommonestStatusFirst) {
  recording::Journal j(clock_);
  const int32_t statuses[] = {0, 94, 8, 8, 94, 8};  // OK once, busy twice, timeout three times
  for (int32_t status : statuses) Tell(j, "ReadSMBusWord_", "13", status);
  std::vector<std::pair<int32_t, uint64_t>> order;
  for (const recording::StatusCount& c : j.Statistics().byStatus) order.emplace_back(c.status, c.count);
  EXPECT_EQ(order, (std::vector<std::pair<int32_t, uint64_t>>{{8, 3}, {94, 2}, {0, 1}}));
}

class JournalFileTest : public JournalTest {
 protected:
  std::unique_ptr<recording::JournalFile> Create(const std::string& path) {
    std::string message;
    auto f = recording::JournalFile::Create(path, clock_, message);
    EXPECT_TRUE(f) << message;
    if (f) f->SetErrorHandler([this](const std::string& m) { errors_.push_back(m); });
    return f;
  }
  static std::string Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
  }
  static std::size_t Lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  }

  TempDir dir_{"korvo_journal"};
  std::vector<std::string> errors_;
};

TEST_F(JournalFileTest, AnExistingFileIsReplacedWhole) {
  const std::string path = dir_.File("j.csv");
  std::ofstream(path) << std::string(100000, 'x');
  auto f = Create(path);
  ASSERT_TRUE(f);
  Tell(*f, "ReadSMBusWord_", "13", 0);
  f->Close();
  const std::string text = Slurp(path);
  EXPECT_LT(text.size(), 1000u);
  EXPECT_EQ(Lines(text), 2u);
}

TEST_F(JournalFileTest, RowsAreOnDiskWhenTheAccessFlushes) {
  const std::string path = dir_.File("j.csv");
  auto f = Create(path);
  ASSERT_TRUE(f);
  EXPECT_EQ(Slurp(path), std::string(recording::kJournalCsvHeader) + "\r\n");
  Tell(*f, "ReadSMBusWord_", "13", 0);
  Tell(*f, "ReadSMBusWord_", "12", 0);
  f->OnFlush();  // a tick ends
  EXPECT_EQ(Lines(Slurp(path)), 3u);
  Tell(*f, "ReadSMBusWord_", "15", 8);
  f->OnFlush();
  EXPECT_EQ(Lines(Slurp(path)), 4u);
}

TEST_F(JournalFileTest, TheFileWrittenAsItGoesEqualsTheJournalSavedAtTheEnd) {
  recording::Journal memory(clock_);
  auto f = Create(dir_.File("live.csv"));
  ASSERT_TRUE(f);
  const struct {
    const char* op;
    const char* detail;
    int32_t status;
    int32_t target;
  } rows[] = {{"ReadSMBusWord_", "13", 0, 0x67},
              {"WriteSMBusWord_", "15,41A0", 0, 0x67},
              {"I2CReadBlock_", "15,2", 8, 0x66},
              {"Delay", "64", 0, TransactionEvent::kNoTarget},
              {"OpenDevice", "x,y", 2, 300}};
  for (const auto& r : rows) {
    clock_.Advance(milliseconds(700));
    const TransactionEvent e{clock_.Now(), r.op, r.detail, r.target, r.status, microseconds(42)};
    memory.OnTransaction(e);
    f->OnTransaction(e);
  }
  ASSERT_TRUE(f->Close());
  std::string message;
  ASSERT_TRUE(recording::SaveJournalCsv(memory, dir_.File("saved.csv"), message)) << message;
  EXPECT_EQ(Slurp(dir_.File("live.csv")), Slurp(dir_.File("saved.csv")));
}

TEST_F(JournalFileTest, TheFileKeepsEveryTransactionPastTheMemorysBound) {
  const std::string path = dir_.File("j.csv");
  auto f = Create(path);
  ASSERT_TRUE(f);
  const std::size_t n = recording::Journal::kCapacity + 1;
  for (std::size_t i = 0; i < n; ++i)
    f->OnTransaction({clock_.Now(), "ReadSMBusWord_", "13", 0x67, 0, microseconds(1)});
  ASSERT_TRUE(f->Close());
  const std::string text = Slurp(path);
  EXPECT_EQ(Lines(text), 1 + n);
  EXPECT_EQ(text.substr(text.rfind("\r\n", text.size() - 3) + 2, 7), "100001,");
}

TEST_F(JournalFileTest, ARemovedFileFailsOnceWithAMessageNamingIt) {
  const std::string path = dir_.File("j.csv");
  auto f = Create(path);
  ASSERT_TRUE(f);
  std::filesystem::remove(path);
  f->OnFlush();  // nothing pending: the file is checked all the same
  Tell(*f, "ReadSMBusWord_", "13", 0);
  f->OnFlush();
  EXPECT_FALSE(f->Close());
  EXPECT_EQ(errors_,
            std::vector<std::string>{"Writing the journal to " + path + " failed: the file was removed."});
}

}  // namespace
