// The built korvoctl as a child process, for what only a real process shows: signals that end
// it, a pipe whose reader went away. State is polled for with a generous deadline.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliFiles.h"
#include "support/TempDir.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 60s;

// True once done() holds; false when the deadline passed first.
template <class Done>
bool PollUntil(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);  // the polling interval, not a wait for something
  }
  return true;
}

// korvoctl on the simulated board, standard error to a file.
class Child {
 public:
  Child(const std::vector<std::string>& args, int stdoutFd, const std::string& errFile) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
      if (std::strncmp(*e, "KORVO_ADAPTER=", 14) != 0) env.emplace_back(*e);
    env.emplace_back("KORVO_ADAPTER=sim");
    std::vector<char*> envp, argv;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> all{KORVOCTL_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0)
      posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    else
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool Started() const { return pid_ > 0; }
  void Signal(int sig) const { ::kill(pid_, sig); }
  // The wait status; -1 when it did not end before the deadline.
  int Wait() {
    int status = -1;
    exited_ = PollUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; });
    return exited_ ? status : -1;
  }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
};

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
  EXPECT_NE(err.find("Recording to standard output stopped: " + std::string(std::strerror(EPIPE))),
            std::string::npos)
      << err;
  EXPECT_NE(err.find(" transactions (0 dropped)"), std::string::npos) << err;
  EXPECT_GE(Lines(Slurp(journal_)), 6u);
  ExpectWholeRows(Slurp(journal_));
}

}  // namespace
