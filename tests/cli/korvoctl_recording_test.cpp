#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "CliRig.h"
#include "recording/Recorder.h"
#include "recording/Snapshot.h"

namespace {

class KorvoctlRecordingTest : public CliRig {
 protected:
  std::vector<uint8_t> ReadCommands() const {
    std::vector<uint8_t> c;
    for (const sim::Transaction& t : board_->History())
      if (t.kind == sim::Transaction::Kind::Read) c.push_back(t.command);
    return c;
  }
};

TEST_F(KorvoctlRecordingTest, WatchReadsTheFiveMainRegistersInTheScansOrder) {
  EXPECT_EQ(Run({"--count", "2", "watch"}), kExitOk);
  EXPECT_EQ(ReadCommands(),
            (std::vector<uint8_t>{0x13, 0x12, 0x15, 0x3F, 0x14, 0x13, 0x12, 0x15, 0x3F, 0x14}));
}

TEST_F(KorvoctlRecordingTest, WatchPrintsCsvRowsWithoutAnOutputFile) {
  EXPECT_EQ(Run({"--count", "1", "watch"}), kExitOk);
  std::istringstream rows(out_.str());
  std::string header, first;
  std::getline(rows, header);
  std::getline(rows, first);
  EXPECT_EQ(header + "\n", std::string(recording::kCsvHeader) + "\r\n");
  EXPECT_EQ(first.substr(first.find(",korvoctl,")),
            ",korvoctl,read,0x13,CHARGER STATUS REG(0x13),0x8080,32896,,0,Communication OK\r");
  EXPECT_EQ(Lines(out_.str()), 6u);
}

TEST_F(KorvoctlRecordingTest, WatchTicksEveryPeriodForTheDuration) {
  const struct {
    std::vector<std::string> args;
    std::size_t ticks;
  } cases[] = {
      {{"watch", "--duration", "1"}, 2},  // the default period: 500 ms
      {{"--period", "10", "--duration", "1", "watch"}, 100},
      {{"--period", "10", "--duration", "1", "--count", "7", "watch"}, 7},
      {{"--period", "0", "--count", "30", "watch"}, 30},
  };
  for (const auto& c : cases) {
    board_->ClearHistory();
    EXPECT_EQ(Run(c.args), kExitOk);
    EXPECT_EQ(ReadCommands().size(), 5 * c.ticks);
  }
}

TEST_F(KorvoctlRecordingTest, CtrlCEndsTheRunCleanlyWithACompleteFile) {
  clock_.onSleep = [this] {
    if (clock_.sleeps == 3) std::raise(SIGINT);
  };
  const std::string file = Path("run.csv");
  EXPECT_EQ(Run({"--output", file, "--period", "100", "watch", "write", "0x15", "12000"}), kExitOk);
  EXPECT_EQ(Slurp(file).substr(Slurp(file).size() - 2), "\r\n");
  EXPECT_EQ(Lines(Slurp(file)), 1u + 3 * 5);  // the header and three whole ticks
  EXPECT_NE(board_->Peek(0x15), 12000);       // the run ended with the watch
  EXPECT_EQ(out_.str(), "");
}

TEST_F(KorvoctlRecordingTest, DumpFormats) {
  board_->FailNext(1, 8, sim::FaultScope::Reads);
  EXPECT_EQ(Run({"--format", "csv", "dump"}), kExitBus);
  std::istringstream csv(out_.str());
  std::string header, first, second;
  std::getline(csv, header);
  std::getline(csv, first);
  std::getline(csv, second);
  EXPECT_EQ(header, "register,caption,hex,decimal,status,status_name\r");
  EXPECT_EQ(first, "0x10,TR0: TRIM 0 REGISTER(0x10),,,8,VB_TIMEOUT_ERROR\r");
  EXPECT_EQ(second, "0x11,TR1: TRIM 1 REGISTER(0x11),0x8C63,35939,0,Communication OK\r");

  EXPECT_EQ(Run({"--format", "json", "dump"}), kExitOk);
  EXPECT_EQ(out_.str().substr(0, 17), "{\"registers\": [\n ");
  EXPECT_NE(out_.str().find("{\"address\": \"0x15\", \"caption\": \"CV: CHARGING VOLTAGE "
                            "REG(0x15)\", \"value\": 16800, \"hex\": \"0x41A0\", \"status\": "
                            "\"Communication OK\"}"),
            std::string::npos);
  EXPECT_EQ(Lines(out_.str()), 13u);
}

TEST_F(KorvoctlRecordingTest, SnapshotWritesASpinSectionNamedByTheCaption) {
  EXPECT_EQ(
      Run({"--caption", "rk51xx trim2", "--variant", "rk5191", "snapshot", Path("board.ini")}),
      kExitOk);
  std::string message;
  const auto s = recording::LoadSnapshot(Path("board.ini"), message);
  ASSERT_TRUE(s) << message;
  EXPECT_EQ(s->caption, "rk51xx Trim2");
  EXPECT_EQ(s->variant, recording::Variant::rk5191);
  EXPECT_EQ(s->time, "2024-05-01T10:00:00.000+00:00");
}

TEST_F(KorvoctlRecordingTest, CompareExitsFourWhenTheRegistersDiffer) {
  ASSERT_EQ(Run({"snapshot", Path("a.ini")}), kExitOk);
  EXPECT_EQ(Run({"compare", Path("a.ini")}), kExitOk);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(Run({"write", "0x12", "0x50", "compare", Path("a.ini"), "read", "0x12"}), kExitDiffer);
  EXPECT_EQ(out_.str(),
            "0x12 0x0050 80\n"  // the write's read-back
            "0x12 0x0040 (" +
                Path("a.ini") +
                ") 0x0050 (chip) CM: CHARGER MODE REGISTER(0x12)\n"
                "  bit 4 \"Learn Cycle\" 0 -> 1\n"
                "0x12 0x0050 80\n");  // the run goes on after a difference
}

TEST_F(KorvoctlRecordingTest, RestoreWritesTheSnapshotBackAsASpin) {
  ASSERT_EQ(Run({"snapshot", Path("a.ini")}), kExitOk);
  ASSERT_EQ(Run({"write", "0x15", "12000"}), kExitOk);
  EXPECT_EQ(Run({"restore", Path("a.ini")}, "y\n"), kExitOk);
  EXPECT_EQ(board_->Peek(0x15), 16800);
  EXPECT_NE(err_.str().find("Be sure CHGEN pin is at 15V"), std::string::npos);
}

TEST_F(KorvoctlRecordingTest, ABadSnapshotWritesNothingAndNamesItsLine) {
  ASSERT_EQ(Run({"snapshot", Path("a.ini")}), kExitOk);
  const std::string text = Slurp(Path("a.ini"));
  std::ofstream(Path("a.ini"), std::ios::trunc) << text.substr(0, text.find("0x14="));
  board_->ClearHistory();
  EXPECT_EQ(Run({"--yes", "write", "0x15", "12000", "restore", Path("a.ini")}), kExitUsage);
  EXPECT_EQ(board_->TransactionCount(), 0u);  // refused before the adapter opened
  EXPECT_EQ(err_.str(), "korvoctl: " + Path("a.ini") + ":7: truncated: 0x14 is missing\n");
}

TEST_F(KorvoctlRecordingTest, TheOutputFileRecordsTheWholeRun) {
  EXPECT_EQ(Run({"--output", Path("run.csv"), "read", "0x15", "write", "0x15", "12000"}), kExitOk);
  const std::string text = Slurp(Path("run.csv"));
  EXPECT_EQ(Lines(text), 4u);  // the header, the read, the write and its read-back
  EXPECT_NE(text.find(",korvoctl,write,0x15,CV: CHARGING VOLTAGE REG(0x15),0x2EE0,12000,12000,"),
            std::string::npos);
}

TEST_F(KorvoctlRecordingTest, AnOutputThatCannotBeWrittenIsReportedAndTheRunGoesOn) {
  std::filesystem::create_symlink("/dev/full", Path("full.csv"));
  EXPECT_EQ(Run({"--output", Path("full.csv"), "read", "0x15"}), kExitBus);
  EXPECT_EQ(out_.str(), "0x15 0x41A0 16800\n");
  EXPECT_EQ(err_.str(), "Cannot write " + Path("full.csv") + ": No space left on device.\n");
}

TEST_F(KorvoctlRecordingTest, TheJournalHoldsEveryTransactionOfTheRun) {
  EXPECT_EQ(Run({"--journal", Path("j.csv"), "--stats", "dump", "write", "0x15", "12000"}),
            kExitOk);
  const std::string journal = Slurp(Path("j.csv"));
  EXPECT_EQ(Lines(journal), 1u + 13);  // the dump, the write and its read-back
  EXPECT_EQ(err_.str().substr(0, 29), "13 transactions (0 dropped), ");
}

// The column named "time" (the local time) of every row.
std::vector<std::string> TimeColumn(const std::string& csv) {
  auto fields = [](const std::string& line) {
    std::vector<std::string> f;
    std::istringstream s(line);
    for (std::string field; std::getline(s, field, ',');) f.push_back(field);
    return f;
  };
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);
  const std::vector<std::string> header = fields(line);
  const auto column = static_cast<std::size_t>(
      std::find(header.begin(), header.end(), "time") - header.begin());
  std::vector<std::string> times;
  while (std::getline(lines, line)) times.push_back(fields(line).at(column));
  return times;
}

TEST_F(KorvoctlRecordingTest, AReadHasTheSameLocalTimeInTheRecordingAndTheJournal) {
  ASSERT_EQ(Run({"--output", Path("run.csv"), "--journal", Path("j.csv"), "--period", "700",
                 "--count", "3", "watch"}),
            kExitOk);
  const std::vector<std::string> recorded = TimeColumn(Slurp(Path("run.csv")));
  EXPECT_EQ(recorded, TimeColumn(Slurp(Path("j.csv"))));  // one transaction per read
  ASSERT_EQ(recorded.size(), 15u);
  EXPECT_EQ(recorded[5], "2024-05-01T10:00:00.700+00:00");
}

TEST_F(KorvoctlRecordingTest, VcdTimeStepFollowsThePeriodUnlessTimescaleIsGiven) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "$timescale 1 ms $end"},  // the default 500 ms
      {{"--period", "10"}, "$timescale 100 us $end"},
      {{"--period", "10", "--timescale", "10ms"}, "$timescale 10 ms $end"},
  };
  for (auto [args, header] : cases) {
    args.insert(args.end(), {"--count", "1", "--output", Path("run.vcd"), "watch"});
    EXPECT_EQ(Run(args), kExitOk) << err_.str();
    EXPECT_NE(Slurp(Path("run.vcd")).find(header), std::string::npos) << header;
  }
}

TEST_F(KorvoctlRecordingTest, ATimescaleThatIsNoVcdStepIsAUsageError) {
  EXPECT_EQ(Run({"--timescale", "2ms", "--output", Path("run.vcd"), "watch"}), kExitUsage);
  EXPECT_EQ(err_.str(),
            "korvoctl: invalid time step '2ms': expected 1, 10 or 100 ns, us or ms, or 1 s (as "
            "in 1ms)\nTry 'korvoctl --help'.\n");
  EXPECT_FALSE(std::filesystem::exists(Path("run.vcd")));
}

}  // namespace
