// korvoctl --metrics: the listener is bound before the bus opens, and a watch serves what it
// reads.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "CliRig.h"
#include "metrics/Exposition.h"
#include "metrics/Loopback.h"
#include "support/FakeBench.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

// A socket listening on a free loopback port; the port is in use while it lives.
class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(fd_, 1);
    socklen_t len = sizeof sa;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);
  }
  ~Listener() { Close(); }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  uint16_t Port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

class KorvoctlMetricsTest : public CliRig {};

TEST_F(KorvoctlMetricsTest, AnAddressInUseIsRefusedBeforeTheBusOpens) {
  Listener busy;
  const std::string address = "127.0.0.1:" + std::to_string(busy.Port());
  EXPECT_EQ(Run({"--metrics", address, "watch", "--count", "1"}), kExitUsage);
  EXPECT_EQ(err_.str(),
            "korvoctl: cannot serve metrics on " + address + ": Address already in use\n");
  EXPECT_TRUE(board_->History().empty());
  EXPECT_EQ(out_.str(), "");
}

TEST_F(KorvoctlMetricsTest, AMalformedAddressIsAUsageError) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"watch", "--metrics"}, "--metrics needs [ADDRESS:]PORT"},
      {{"--metrics", "70000", "watch"}, "invalid metrics port '70000': expected 1 to 65535"},
      {{"--metrics", "bench7:9100", "watch"},
       "invalid metrics address 'bench7': expected a dotted IPv4 address"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.args), kExitUsage) << c.message;
    EXPECT_EQ(err_.str(), "korvoctl: " + c.message + "\nTry 'korvoctl --help'.\n");
    EXPECT_TRUE(board_->History().empty());
  }
}

TEST_F(KorvoctlMetricsTest, HelpNamesTheOption) {
  EXPECT_EQ(Run({"--help"}), kExitOk);
  EXPECT_NE(out_.str().find("--metrics [ADDR:]PORT"), std::string::npos);
}

// The built korvoctl watching the simulated board, scraped while it runs.
TEST(KorvoctlMetricsProcessTest, AWatchServesWhatItReads) {
  Listener probe;
  const uint16_t port = probe.Port();
  probe.Close();
  TempDir dir("korvo_metrics_process");
  const std::string ini = dir.Write("korvo.ini", "");
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "KORVO_ADAPTER=", 14) != 0) env.emplace_back(*e);
  env.emplace_back("KORVO_ADAPTER=sim");
  std::vector<std::string> args = {KORVOCTL_BINARY,      "--ini",    ini,  "--metrics",
                                   std::to_string(port), "--period", "20", "watch"};
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);

  // Polled with a generous deadline: up once the watch has read all five registers.
  exposition::Parsed p;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto r = loopback::Get(port);
    if (r.status == 200) {
      p = exposition::Parse(r.body);
      if (p.Count("korvo_register_value") == 5) break;
    }
    std::this_thread::sleep_for(20ms);  // the polling interval, not a wait for something
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.Value("korvo_up"), 1);
  EXPECT_EQ(p.Value("korvo_register_value", {{"register", "0x15"}}), 16800);
  EXPECT_EQ(p.Value("korvo_charge_voltage_setpoint_volts"), 16.8);
  EXPECT_EQ(
      p.Value("korvo_board_info",
              {{"variant", "rk5190"}, {"driver", "sim"}, {"bus", "smbus"}, {"address", "0x67"}}),
      1);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// The built korvoctl with two instruments, one on the simulated bench and one that is not there.
TEST(KorvoctlMetricsProcessTest, AWatchServesItsInstrumentsReadingsAndPresence) {
  FakeBench bench;
  ASSERT_TRUE(bench.Ready());
  Listener probe;
  const uint16_t port = probe.Port();
  probe.Close();
  TempDir dir("korvo_metrics_instruments");
  const std::string ini = dir.Write("korvo.ini", "");
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "KORVO_ADAPTER=", 14) != 0) env.emplace_back(*e);
  env.emplace_back("KORVO_ADAPTER=sim");
  std::vector<std::string> args = {KORVOCTL_BINARY,
                                   "--ini",
                                   ini,
                                   "--metrics",
                                   std::to_string(port),
                                   "--instrument",
                                   bench.PsuConfig() + " label=PSU channels=V1,I1",
                                   "--instrument",
                                   "scpi-pps:conn=tcp-raw/127.0.0.1/1 label=Gone",
                                   "--period",
                                   "20",
                                   "watch"};
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&actions);

  const std::map<std::string, std::string> psuV1 = {{"instrument", "PSU"}, {"channel", "V1"}};
  exposition::Parsed p;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto r = loopback::Get(port);
    if (r.status == 200) {
      p = exposition::Parse(r.body);
      if (p.Value("korvo_instrument_voltage_volts", psuV1) &&
          p.Value("korvo_instrument_current_amperes", {{"instrument", "PSU"}, {"channel", "I1"}}))
        break;
    }
    std::this_thread::sleep_for(20ms);  // the polling interval, not a wait for something
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(p.error, "");
  // The simulated supply's first output is set to 19 V: 19000 mV in korvoctl's own files.
  EXPECT_EQ(p.Value("korvo_instrument_voltage_volts", psuV1), 19);
  EXPECT_EQ(p.Value("korvo_instrument_up", {{"instrument", "PSU"}}), 1);
  EXPECT_EQ(p.Value("korvo_instrument_up", {{"instrument", "Gone"}}), 0);
  EXPECT_EQ(p.Value("korvo_up"), 1);
  ASSERT_TRUE(WIFEXITED(status));
}

}  // namespace
