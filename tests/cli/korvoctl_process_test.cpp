// The built korvoctl as a child process: signals that end it, a pipe whose reader went away.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "cli/CliChild.h"
#include "cli/CliFiles.h"
#include "support/TempDir.h"

namespace {

class KorvoctlProcessTest : public ::testing::Test {
 protected:
  KorvoctlProcessTest() { ini_ = dir_.Write("korvo.ini", ""); }
  std::vector<std::string> WatchArgs() const {
    return {"--ini", ini_, "--journal", journal_, "--stats", "--period", "20", "watch"};
  }
  // Every line of the journal is whole: its eight fields and the CR LF.
  void ExpectWholeRows(const std::string& text) const {
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
      EXPECT_EQ(std::count(line.begin(), line.end(), ','), 7) << line;
  }

  TempDir dir_{"korvo_process"};
  std::string ini_;
  std::string journal_ = dir_.File("j.csv");
  std::string err_ = dir_.File("err.txt");
};

TEST_F(KorvoctlProcessTest, AHangUpEndsWatchLikeSigtermWithTheJournalWhole) {
  for (int sig : {SIGHUP, SIGTERM, SIGINT}) {
    std::remove(journal_.c_str());
    Child child(WatchArgs(), -1, err_);
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(PollUntil([&] { return Lines(Slurp(journal_)) >= 11; }))
        << "two ticks of the journal on disk while the watch runs";
    child.Signal(sig);
    const int status = child.Wait();
    ASSERT_TRUE(WIFEXITED(status)) << strsignal(sig) << ": " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << strsignal(sig);
    ExpectWholeRows(Slurp(journal_));
    EXPECT_NE(Slurp(err_).find(" transactions (0 dropped)"), std::string::npos) << strsignal(sig);
  }
}

TEST_F(KorvoctlProcessTest, AKilledWatchLeavesEveryFinishedTickOnDisk) {
  Child child(WatchArgs(), -1, err_);
  ASSERT_TRUE(child.Started());
  std::size_t seen = 0;
  ASSERT_TRUE(PollUntil([&] { return (seen = Lines(Slurp(journal_))) >= 11; }));
  child.Signal(SIGKILL);
  const int status = child.Wait();
  ASSERT_TRUE(WIFSIGNALED(status));
  const std::string text = Slurp(journal_);
  EXPECT_GE(Lines(text), seen);
  ExpectWholeRows(text);
}

TEST_F(KorvoctlProcessTest, AClosedPipeIsAnOutputErrorWithTheJournalAndStatistics) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  Child child(WatchArgs(), fds[1], err_);
  ::close(fds[1]);
  ASSERT_TRUE(child.Started());
  // The reader takes two lines, as head -2 does, and goes away.
  std::string got;
  char c;
  while (Lines(got) < 2 && ::read(fds[0], &c, 1) == 1) got += c;
  ::close(fds[0]);
  const int status = child.Wait();
  ASSERT_TRUE(WIFEXITED(status)) << "not killed by SIGPIPE: " << status;
  EXPECT_EQ(WEXITSTATUS(status), 2);
  const std::string err = Slurp(err_);
  const std::size_t second = err.find('\n') + 1;
  EXPECT_EQ(err.substr(0, second),
            "Recording to standard output stopped: " + std::string(std::strerror(EPIPE)) + ".\n");
  EXPECT_NE(err.substr(second, err.find('\n', second) - second).find(" transactions (0 dropped)"),
            std::string::npos)
      << "one message, then the statistics: " << err;
  EXPECT_GE(Lines(Slurp(journal_)), 6u);
  ExpectWholeRows(Slurp(journal_));
}

}  // namespace
