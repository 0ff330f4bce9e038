// korvoctl --metrics: the listener is bound before the bus opens, and a watch serves what it
// reads.
#include <gtest/gtest.h>

#include "CliChild.h"
#include "CliRig.h"
#include "metrics/Exposition.h"
#include "metrics/Loopback.h"
#include "support/FakeBench.h"

namespace {

class KorvoctlMetricsTest : public CliRig {};

TEST_F(KorvoctlMetricsTest, AnAddressInUseIsRefusedBeforeTheBusOpens) {
  loopback::Listener busy;
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

// The built korvoctl watching the simulated board with a free port's metrics, scraped until
// done(scrape) holds or the deadline passes, then ended as a service manager ends it.
template <class Done>
exposition::Parsed ScrapeAWatch(std::vector<std::string> args, Done done, int& status) {
  const uint16_t port = loopback::FreePort();
  TempDir dir("korvo_metrics_process");
  args.insert(args.begin(), {"--ini", dir.Write("korvo.ini", ""), "--metrics", std::to_string(port),
                             "--period", "20"});
  args.push_back("watch");
  Child child(args, -1, "/dev/null");
  exposition::Parsed p;
  EXPECT_TRUE(child.Started());
  PollUntil([&] {
    const auto r = loopback::Get(port);
    if (r.status == 200) p = exposition::Parse(r.body);
    return r.status == 200 && done(p);
  });
  child.Signal(SIGTERM);
  status = child.Wait();
  return p;
}

TEST(KorvoctlMetricsProcessTest, AWatchServesWhatItReads) {
  int status = -1;
  const auto p = ScrapeAWatch(
      {}, [](const exposition::Parsed& s) { return s.Count("korvo_register_value") == 5; }, status);
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

// Two instruments, one on the simulated bench and one that is not there.
TEST(KorvoctlMetricsProcessTest, AWatchServesItsInstrumentsReadingsAndPresence) {
  FakeBench bench;
  ASSERT_TRUE(bench.Ready());
  const std::map<std::string, std::string> psuV1 = {{"instrument", "PSU"}, {"channel", "V1"}},
                                           psuI1 = {{"instrument", "PSU"}, {"channel", "I1"}};
  int status = -1;
  const auto p = ScrapeAWatch(
      {"--instrument", bench.PsuConfig() + " label=PSU channels=V1,I1", "--instrument",
       "scpi-pps:conn=tcp-raw/127.0.0.1/1 label=Gone"},
      [&](const exposition::Parsed& s) {
        return s.Value("korvo_instrument_voltage_volts", psuV1) &&
               s.Value("korvo_instrument_current_amperes", psuI1);
      },
      status);
  EXPECT_EQ(p.error, "");
  // The simulated supply's first output is set to 19 V: 19000 mV in korvoctl's own files.
  EXPECT_EQ(p.Value("korvo_instrument_voltage_volts", psuV1), 19);
  EXPECT_EQ(p.Value("korvo_instrument_up", {{"instrument", "PSU"}}), 1);
  EXPECT_EQ(p.Value("korvo_instrument_up", {{"instrument", "Gone"}}), 0);
  EXPECT_EQ(p.Value("korvo_up"), 1);
  ASSERT_TRUE(WIFEXITED(status));
}

}  // namespace
