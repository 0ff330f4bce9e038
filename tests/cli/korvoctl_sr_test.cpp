// korvoctl watch --output FILE.sr: a sigrok session sigrok-cli reads back, from the simulated
// board and from libsigrok's own instruments (the simulated bench over scpi-pps).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "CliRig.h"
#include "instruments/SrReadBack.h"
#include "support/FakeBench.h"

namespace {

class KorvoctlSrTest : public CliRig {
 protected:
  SrContents Sr(const std::string& file, const std::vector<std::string>& bits = {}) {
    return ReadSr(file, dir_.Path(), bits);
  }
};

// The mV_mA column of a CSV recording's rows of register address.
std::vector<double> CsvDac(const std::string& text, const std::string& address) {
  std::vector<double> v;
  std::istringstream s(text);
  for (std::string line; std::getline(s, line);) {
    if (line.find(",read," + address + ",") == std::string::npos) continue;
    std::vector<std::string> fields;
    std::istringstream l(line);
    for (std::string f; std::getline(l, f, ',');) fields.push_back(f);
    v.push_back(std::stod(fields.at(8)));
  }
  return v;
}

}  // namespace

TEST_F(KorvoctlSrTest, WatchSrHoldsEachTicksSetPointsAsTheCsvDoes) {
  const std::string csv = Path("run.csv"), sr = Path("run.sr");
  ASSERT_EQ(Run({"--output", csv, "--count", "3", "watch"}), kExitOk) << err_.str();
  ASSERT_EQ(Run({"--output", sr, "--count", "3", "watch"}), kExitOk) << err_.str();
  const SrContents c = Sr(sr);
  ASSERT_TRUE(c.ok) << c.show;
  EXPECT_EQ(c.samplerate, 2u);  // --period 500
  EXPECT_EQ(c.logicSamples, 3u);
  EXPECT_EQ(c.analog, (std::vector<std::string>{"0x14.CHARGE_CURRENT_mA",
                                                "0x15.BATTERY_VOLTAGE_mV",
                                                "0x3F.INPUT_CURRENT_mA"}));
  EXPECT_EQ(c.logic.size(), 32u);  // the control and status registers' named bits
  const std::string text = Slurp(csv);
  EXPECT_EQ(c.values.at("0x15.BATTERY_VOLTAGE_mV"), CsvDac(text, "0x15"));
  EXPECT_EQ(c.values.at("0x3F.INPUT_CURRENT_mA"), CsvDac(text, "0x3F"));
}

TEST_F(KorvoctlSrTest, SampleRateFollowsThePeriod) {
  const std::string sr = Path("run.sr");
  ASSERT_EQ(Run({"--period", "50", "--output", sr, "--count", "4", "watch"}), kExitOk)
      << err_.str();
  const SrContents c = Sr(sr);
  EXPECT_EQ(c.samplerate, 20u) << c.show;
  EXPECT_EQ(c.analogSamples, 4u);
}

TEST_F(KorvoctlSrTest, WatchSrHoldsAnInstrumentChannelInMilliamperes) {
  FakeBench bench;
  ASSERT_TRUE(bench.Ready());
  const std::string sr = Path("run.sr");
  ASSERT_EQ(Run({"--instrument", bench.LoadConfig() + " label=Load channels=I1", "--output", sr,
                 "--count", "3", "watch"}),
            kExitOk)
      << err_.str();
  const SrContents c = Sr(sr);
  ASSERT_EQ(c.analog.back(), "Load.CH1_current_mA") << c.show;
  const std::vector<double>& i = c.values.at("Load.CH1_current_mA");
  // A reading shows from the tick after it; the last one gets a closing sample if it came late.
  ASSERT_GE(i.size(), 3u);
  ASSERT_LE(i.size(), 4u);
  EXPECT_EQ(i.back(), 2048);
  EXPECT_EQ(c.values.at("0x15.BATTERY_VOLTAGE_mV").size(), i.size());
}

TEST_F(KorvoctlSrTest, UnwritableSrIsReportedLikeAnUnwritableCsv) {
  const int csv = Run({"--output", Path("no/dir/run.csv"), "--count", "1", "watch"});
  const int sr = Run({"--output", Path("no/dir/run.sr"), "--count", "1", "watch"});
  EXPECT_EQ(sr, csv);
  EXPECT_NE(err_.str().find("Cannot create " + Path("no/dir/run.sr") +
                            ": No such file or directory."),
            std::string::npos)
      << err_.str();
}

// The built korvoctl copied where no module lies beside it (nor in ../lib/korvo).
TEST_F(KorvoctlSrTest, WithoutTheModuleSrIsRefusedBeforeAnythingOpens) {
  const std::string bin = Path("bin");
  std::filesystem::create_directories(bin);
  std::filesystem::copy_file(KORVOCTL_BINARY, bin + "/korvoctl");
  const std::string sr = Path("run.sr"), err = Path("err.txt");
  const std::string command = "KORVO_ADAPTER=sim " + bin + "/korvoctl --ini " + ini_ +
                              " --output " + sr + " --count 1 watch > /dev/null 2> " + err;
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kExitUsage);
  EXPECT_EQ(Slurp(err).rfind("korvoctl: cannot record to '" + sr +
                                 "': cannot load the instrument module " + bin +
                                 "/korvo-sigrok.so: ",
                             0),
            0u)
      << Slurp(err);
  EXPECT_FALSE(std::filesystem::exists(sr));
}
