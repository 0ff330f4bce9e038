// How korvoctl runs end: an adapter that has gone, repeated failures, outputs that clash with
// other files of the run, a removed output, and the exit code of each.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "CliRig.h"
#include "adapter/ErrorCodes.h"
#include "cli/RepeatSummary.h"
#include "foundation/Paths.h"

namespace {

namespace fs = std::filesystem;

class KorvoctlEndingsTest : public CliRig {
 protected:
  // Runs f once the watch has slept n times (n ticks at a period above 0).
  void AfterSleeps(int n, std::function<void()> f) {
    clock_.onSleep = [this, n, f] {
      if (clock_.sleeps == n) f();
    };
  }
  std::size_t Transactions() const { return board_->TransactionCount(); }
};

TEST_F(KorvoctlEndingsTest, AnAdapterThatHasGoneEndsWatchAtOnce) {
  const struct {
    std::vector<std::string> args;
    int retries;
  } cases[] = {
      {{"--output", Path("run.csv"), "--period", "100", "--duration", "60", "watch"}, 0},
      {{"--output", Path("run.csv"), "--period", "100", "--duration", "60", "watch"}, 2},
      {{"--period", "100", "--duration", "60", "watch"}, 0},  // rows on standard output
  };
  for (const auto& c : cases) {
    board_->ClearHistory();
    clock_.sleeps = 0;
    AfterSleeps(3, [this] { board_->SetAbsent(true); });
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), {"--retries", std::to_string(c.retries)});
    EXPECT_EQ(Run(args), kExitBus);
    // Three whole ticks, then the attempts at the first register only.
    EXPECT_EQ(Transactions(), 3u * 5 + 1 + static_cast<std::size_t>(c.retries));
    EXPECT_EQ(err_.str(),
              "Error reading register CS: Status(0x13).\n"
              "Error description : VB_NO_USB\n"
              "korvoctl: watch stopped: the adapter has gone (VB_NO_USB).\n"
              "The simulated adapter is absent (Absent=1 in section [Simulator]).\n");
    const std::string rows = c.args[0] == "--output" ? Slurp(Path("run.csv")) : out_.str();
    EXPECT_EQ(Lines(rows), 1u + 3 * 5 + 1);  // the header, three ticks, the failed read
    EXPECT_EQ(rows.substr(rows.size() - 14), ",2,VB_NO_USB\r\n");
    board_->SetAbsent(false);
  }
}

TEST_F(KorvoctlEndingsTest, RepeatedFailuresAreSummarisedAtMostOnceASecond) {
  board_->FailEveryNth(1, VB_TIMEOUT_ERROR, sim::FaultScope::Reads);
  // 300 ticks, 10 ms apart: every read fails.
  EXPECT_EQ(Run({"--period", "10", "--duration", "3", "--output", Path("run.csv"), "watch"}),
            kExitBus);
  const std::string first =
      "Error reading register CS: Status(0x13). Error description : "
      "VB_TIMEOUT_ERROR ... the same failure ";
  const std::string err = err_.str();
  EXPECT_EQ(Lines(err), 5u * 2 + 3 * 5);  // five messages in full, three summaries of each
  EXPECT_EQ(err.rfind("Error reading register CS: Status(0x13).\n"
                      "Error description : VB_TIMEOUT_ERROR\n",
                      0),
            0u);
  EXPECT_NE(err.find(first + "99 more times\n"), std::string::npos);  // after 1 s
  EXPECT_NE(err.find(first + "100 more times\n"), std::string::npos);
  EXPECT_EQ(Lines(Slurp(Path("run.csv"))), 1u + 300 * 5) << "every failure is recorded";
}

TEST_F(KorvoctlEndingsTest, ASummaryCountsInThousands) {
  const std::pair<uint64_t, const char*> cases[] = {
      {1, "1 more time"},
      {999, "999 more times"},
      {1000, "1,000 more times"},
      {1234567, "1,234,567 more times"},
  };
  for (const auto& [n, tail] : cases)
    EXPECT_EQ(RepeatSummaryText("Error.\r\nError description : VB_BUS_BUSY", n),
              std::string("Error. Error description : VB_BUS_BUSY ... the same failure ") + tail);
}

TEST_F(KorvoctlEndingsTest, AnOutputThatIsAnotherFileOfTheRunIsRefusedFirst) {
  dir_.Write("snap.ini", "[SpinCustom 1]\n");
  fs::create_symlink(ini_, Path("link.csv"));
  fs::create_hard_link(ini_, Path("hard.csv"));
  fs::create_symlink(Path("later.csv"), Path("dangling.csv"));
  const std::string settings = " is the settings file '" + ini_ + "', which korvoctl never writes";
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--journal", ini_, "read", "0x13"}, "--journal '" + ini_ + "'" + settings},
      {{"--output", Path("link.csv"), "read", "0x13"},
       "--output '" + Path("link.csv") + "'" + settings},
      {{"--journal", Path("hard.csv"), "read", "0x13"},
       "--journal '" + Path("hard.csv") + "'" + settings},
      {{"snapshot", ini_}, "snapshot '" + ini_ + "'" + settings},
      {{"snapshot", Path("link.csv")}, "snapshot '" + Path("link.csv") + "'" + settings},
      {{"--journal", Path("snap.ini"), "compare", Path("snap.ini")},
       "--journal '" + Path("snap.ini") + "' is the snapshot file '" + Path("snap.ini") +
           "' that compare reads"},
      {{"--journal", Path("a.csv"), "--output", Path("a.csv"), "read", "0x13"},
       "--output '" + Path("a.csv") + "' and --journal '" + Path("a.csv") + "' are the same file"},
      {{"--journal", Path("dangling.csv"), "--output", Path("later.csv"), "watch"},
       "--output '" + Path("later.csv") + "' and --journal '" + Path("dangling.csv") +
           "' are the same file"},
      {{"--output", Path("s.csv"), "snapshot", Path("s.csv")},
       "--output '" + Path("s.csv") + "' and snapshot '" + Path("s.csv") + "' are the same file"},
  };
  for (const auto& c : cases) {
    board_->ClearHistory();
    EXPECT_EQ(Run(c.args), kExitUsage) << c.message;
    EXPECT_EQ(err_.str(), "korvoctl: " + c.message + "\n");
    EXPECT_EQ(Transactions(), 0u) << "refused before the adapter opened";
    EXPECT_EQ(Slurp(ini_), "");
    EXPECT_FALSE(fs::exists(Path("a.csv")) || fs::exists(Path("later.csv")) ||
                 fs::exists(Path("s.csv")))
        << "refused before anything was created";
  }
}

TEST_F(KorvoctlEndingsTest, TheSettingsFileBesideKorvoctlIsNeverAnOutput) {
  Paths::SetProgramDirForTesting(dir_.Path());
  ini_.clear();  // found beside korvoctl, not named
  dir_.Write("korvo.ini", "[Target]\nAddress=0x67\n");
  EXPECT_EQ(Run({"--journal", Path("korvo.ini"), "read", "0x13"}), kExitUsage);
  Paths::SetProgramDirForTesting("");
  EXPECT_EQ(Slurp(Path("korvo.ini")), "[Target]\nAddress=0x67\n");
}

TEST_F(KorvoctlEndingsTest, ASnapshotMayWriteTheFileALaterCompareReads) {
  EXPECT_EQ(Run({"snapshot", Path("a.ini"), "compare", Path("a.ini")}), kExitOk);
  EXPECT_EQ(err_.str(), "");
}

TEST_F(KorvoctlEndingsTest, ARemovedOutputIsReportedByNameWithExitCode2) {
  const struct {
    std::string option, file;
    bool folder;  // the file's folder is removed
    std::string message;
  } cases[] = {
      {"--output", "run.csv", false, "Recording to %s stopped: the file was removed."},
      {"--output", "run.vcd", false, "Recording to %s stopped: the file was removed."},
      {"--output", "run.csv", true, "Recording to %s stopped: the file was removed."},
      {"--journal", "j.csv", false, "Writing the journal to %s failed: the file was removed."},
      {"--journal", "j.csv", true, "Writing the journal to %s failed: the file was removed."},
  };
  for (const auto& c : cases) {
    fs::create_directory(Path("out"));
    const std::string file = Path("out/" + c.file);
    clock_.sleeps = 0;
    AfterSleeps(3, [&] { fs::remove_all(c.folder ? Path("out") : file); });
    EXPECT_EQ(Run({c.option, file, "--period", "100", "--duration", "1", "watch"}), kExitBus)
        << c.option << " " << c.file << " " << c.folder;
    std::string message = c.message;
    message.replace(message.find("%s"), 2, file);
    EXPECT_NE(err_.str().find(message), std::string::npos) << err_.str();
    EXPECT_EQ(Lines(err_.str()), 1u) << "reported once";
    fs::remove_all(Path("out"));
  }
}

// Endings no other test pins; the rest have their exit codes pinned beside their messages.
TEST_F(KorvoctlEndingsTest, TheOtherEndingsHaveTheirExitCodes) {
  fs::create_symlink("/dev/full", Path("full.csv"));
  const std::string bad = dir_.Write("bad.ini", "[SpinCustom 1]\n0x10=1\n");
  const std::string snap = Path("snap.ini"), fresh = Path("new.ini");
  dir_.Write("plain", "");  // a file, so nothing can be created under it
  const struct {
    const char* kind;
    std::vector<std::string> args;
    bool failFirst;  // the first transaction fails
    int code;
  } cases[] = {
      {"malformed snapshot", {"compare", bad}, false, kExitUsage},
      {"malformed snapshot at its turn",
       {"snapshot", fresh, "compare", bad, fresh},
       false,
       kExitUsage},
      {"failed read in a watch", {"--count", "2", "watch"}, true, kExitBus},
      {"journal not created", {"--journal", Path("plain/j.csv"), "read", "0x13"}, false, kExitBus},
      {"restore declined", {"restore", snap}, false, kExitDeclined},
      {"spin aborted: test mode not entered", {"--yes", "spin", "Custom 1"}, true, kExitBus},
      {"read failed in a compare", {"compare", snap}, true, kExitBus},
      {"output full, compare differs",
       {"--output", Path("full.csv"), "write", "0x12", "0x50", "compare", snap},
       false,
       kExitBus},
  };
  ASSERT_EQ(Run({"snapshot", snap}), kExitOk);
  for (const auto& c : cases) {
    board_->ClearFaults();
    if (c.failFirst) board_->FailNext(1, VB_TIMEOUT_ERROR);
    EXPECT_EQ(Run(c.args, "n\n"), c.code) << c.kind << "\n" << err_.str();
  }
}

}  // namespace
