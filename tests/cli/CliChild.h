// The built korvoctl as a child process on the simulated board, for what only a real process
// shows. State is polled for with a generous deadline.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

// True once done() holds; false when the deadline passed first.
template <class Done>
bool PollUntil(Done done) {
  using namespace std::chrono_literals;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);  // the polling interval, not a wait for something
  }
  return true;
}

// Standard output to stdoutFd (-1: nowhere), standard error to errFile.
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
