// The simulated bench (scripts/fake-bench.py) as a child process on free local ports, for the
// tests that run libsigrok's real scpi-pps driver. Ended (by its own process id) with the test.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class FakeBench {
 public:
  explicit FakeBench(std::vector<std::string> args = {}) {
    // Debian's own interpreter: it starts in a fraction of the time a version manager's shim takes.
    const std::string python =
        ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    std::vector<std::string> argv{python, KORVO_SOURCE_DIR "/scripts/fake-bench.py", "--port", "0"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    int fds[2];
    if (::pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    if (posix_spawnp(&pid_, cargv[0], &actions, nullptr, cargv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    // "ready PSU_PORT LOAD_PORT", or nothing when it failed to start.
    FILE* out = ::fdopen(fds[0], "r");
    if (out != nullptr && std::fscanf(out, "ready %d %d", &psuPort_, &loadPort_) != 2)
      psuPort_ = loadPort_ = 0;
    out_ = out;
  }
  ~FakeBench() {
    Kill();
    if (out_ != nullptr) std::fclose(out_);
  }
  FakeBench(const FakeBench&) = delete;
  FakeBench& operator=(const FakeBench&) = delete;

  bool Ready() const { return psuPort_ != 0; }
  std::string PsuConfig() const {
    return "scpi-pps:conn=tcp-raw/127.0.0.1/" + std::to_string(psuPort_);
  }
  std::string LoadConfig() const {
    return "scpi-pps:conn=tcp-raw/127.0.0.1/" + std::to_string(loadPort_);
  }
  int PsuPort() const { return psuPort_; }
  // Pulls the plug on the whole bench.
  void Kill() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  int psuPort_ = 0, loadPort_ = 0;
};
