// korvoctl with bench instruments: libsigrok's real scpi-pps and demo drivers, the former
// against the simulated bench (scripts/fake-bench.py) on loopback.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "CliRig.h"
#include "support/FakeBench.h"

namespace {

std::vector<std::string> CsvRowsOf(const std::string& text, const std::string& source) {
  std::vector<std::string> rows;
  std::istringstream s(text);
  for (std::string line; std::getline(s, line);)
    if (line.find("," + source + ",") != std::string::npos) rows.push_back(line);
  return rows;
}

class KorvoctlInstrumentsTest : public CliRig {
 protected:
  std::string Psu(const std::string& extra = " label=PSU") const {
    return bench_.PsuConfig() + extra;
  }
  std::string Load(const std::string& extra = " label=Load") const {
    return bench_.LoadConfig() + extra;
  }
  // Every bus transaction of the run, without its timing.
  std::vector<std::tuple<int, int, int, int, int>> Traffic() const {
    std::vector<std::tuple<int, int, int, int, int>> t;
    for (const sim::Transaction& x : board_->History())
      t.emplace_back(static_cast<int>(x.kind), x.command, x.value, x.target, x.status);
    return t;
  }
  FakeBench bench_;
};

}  // namespace

TEST_F(KorvoctlInstrumentsTest, InstrumentsNamesDeviceChannelsAndReadings) {
  ASSERT_TRUE(bench_.Ready());
  EXPECT_EQ(Run({"--instrument", Psu(" label=PSU channels=V1,I1"), "instruments"}), kExitOk)
      << err_.str();
  EXPECT_NE(out_.str().find("PSU: " + bench_.PsuConfig() +
                            " - Rigol DP832 00.01.14 [S/N: DP8A000001] with 9 channels: V1 I1 P1"),
            std::string::npos)
      << out_.str();
  EXPECT_NE(out_.str().find("  V1  PSU CH1 voltage  19000 mV\n"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("  I1  PSU CH1 current  "), std::string::npos) << out_.str();
  EXPECT_EQ(out_.str().find("  P1  "), std::string::npos) << out_.str();
}

TEST_F(KorvoctlInstrumentsTest, InstrumentsExitsTwoWhenOneIsAbsent) {
  ASSERT_TRUE(bench_.Ready());
  EXPECT_EQ(Run({"--instrument", Psu(), "--instrument",
                 "scpi-pps:conn=tcp-raw/127.0.0.1/1 label=Gone", "instruments"}),
            kExitBus);
  EXPECT_NE(out_.str().find("Gone: scpi-pps:conn=tcp-raw/127.0.0.1/1 - absent: no device found"),
            std::string::npos)
      << out_.str();
  EXPECT_NE(out_.str().find("PSU CH1 current"), std::string::npos);
}

TEST_F(KorvoctlInstrumentsTest, InstrumentsNeedsNoAdapter) {
  WriteIni("[Simulator]\nAbsent=1\n");
  EXPECT_EQ(Run({"--instrument", "demo channels=A1", "instruments"}), kExitOk) << err_.str();
  EXPECT_NE(out_.str().find("  A1  demo A1 voltage  "), std::string::npos) << out_.str();
}

TEST_F(KorvoctlInstrumentsTest, SettingsSectionListsTheInstruments) {
  WriteIni("[Instruments]\nGen=demo channels=A2\n");
  EXPECT_EQ(Run({"instruments"}), kExitOk) << err_.str();
  EXPECT_NE(out_.str().find("  A2  Gen A2 voltage  "), std::string::npos) << out_.str();
}

TEST_F(KorvoctlInstrumentsTest, CommandLineReplacesTheSettingsList) {
  WriteIni("[Instruments]\nBad=no-such-driver\n");
  EXPECT_EQ(Run({"--instrument", "demo channels=A0", "instruments"}), kExitOk) << err_.str();
  EXPECT_EQ(out_.str().find("Bad"), std::string::npos);
}

TEST_F(KorvoctlInstrumentsTest, BadSettingsEntryOnlyMattersWhenInstrumentsAreUsed) {
  WriteIni("[Instruments]\nBad=no-such-driver\n");
  EXPECT_EQ(Run({"read", "0x13"}), kExitOk) << err_.str();
  EXPECT_EQ(Run({"--count", "1", "watch"}), kExitUsage);
  EXPECT_EQ(err_.str(),
            "korvoctl: invalid instrument 'no-such-driver': unknown driver "
            "'no-such-driver' (sigrok-cli -L lists the drivers)\n");
}

// The entries' own faults are the parser's and libsigrok's to name; korvoctl refuses them, every
// entry and its own options, before anything opens.
TEST_F(KorvoctlInstrumentsTest, ABadEntryOrOptionIsRefusedBeforeAnythingOpens) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--instrument", "no-such-driver"}, "invalid instrument 'no-such-driver': unknown driver"},
      {{"--instrument", "demo", "--instrument", "demo:frob=1"},
       "driver 'demo' has no option 'frob'"},
      {{"--instrument", "demo", "--instrument-period", "0"}, "invalid instrument period"},
      {{"--instrument", "demo", "--instrument-log", "9"}, "invalid instrument log level"},
  };
  for (auto [args, message] : cases) {
    args.insert(args.end(), {"--output", Path("run.csv"), "--count", "1", "watch"});
    EXPECT_EQ(Run(args), kExitUsage) << message;
    EXPECT_NE(err_.str().find(message), std::string::npos) << err_.str();
    EXPECT_FALSE(std::filesystem::exists(Path("run.csv")));
    EXPECT_TRUE(board_->History().empty());
  }
}

TEST_F(KorvoctlInstrumentsTest, WatchRecordsReadingsBesideTheRegisters) {
  ASSERT_TRUE(bench_.Ready());
  const std::string file = Path("run.csv");
  EXPECT_EQ(Run({"--instrument", Psu(" label=PSU channels=I1"), "--instrument",
                 Load(" label=Load channels=I1"), "--output", file, "--count", "3", "watch"}),
            kExitOk)
      << err_.str();
  const std::string text = Slurp(file);
  const std::vector<std::string> load = CsvRowsOf(text, "Load");
  ASSERT_FALSE(load.empty()) << text;
  EXPECT_EQ(load[0].substr(load[0].find(",Load,")),
            ",Load,measure,,Load CH1 current,,,2048,0,Communication OK\r");
  EXPECT_FALSE(CsvRowsOf(text, "PSU").empty()) << text;
  EXPECT_EQ(CsvRowsOf(text, "korvoctl").size(), 15u);
}

TEST_F(KorvoctlInstrumentsTest, WatchVcdHoldsEachChannelAsARealBesideTheWires) {
  ASSERT_TRUE(bench_.Ready());
  const std::string file = Path("run.vcd");
  EXPECT_EQ(Run({"--instrument", Load(" label=Load channels=I1"), "--output", file, "--count",
                 "3", "watch"}),
            kExitOk)
      << err_.str();
  const std::string text = Slurp(file);
  const std::size_t scope = text.find("$scope module Load $end\n$var real 64 ");
  ASSERT_NE(scope, std::string::npos) << text;
  const std::size_t name = text.find(" CH1_current_mA $end\n$upscope $end\n$enddefinitions", scope);
  ASSERT_NE(name, std::string::npos) << text;
  const std::string id = text.substr(scope + 37, name - scope - 37);
  EXPECT_NE(text.find("\nr2048 " + id + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" 0x13.ACDET $end"), std::string::npos);
}

TEST_F(KorvoctlInstrumentsTest, WatchWithAbsentInstrumentGoesOnAndSaysSo) {
  EXPECT_EQ(Run({"--instrument", "scpi-pps:conn=tcp-raw/127.0.0.1/1 label=Gone", "--count", "2",
                 "watch"}),
            kExitOk);
  EXPECT_EQ(CsvRowsOf(out_.str(), "korvoctl").size(), 10u);
  EXPECT_NE(err_.str().find(
                "Instrument Gone (scpi-pps:conn=tcp-raw/127.0.0.1/1) is absent: no device found"),
            std::string::npos)
      << err_.str();
  EXPECT_NE(err_.str().find("Instruments absent during the run: Gone."), std::string::npos)
      << err_.str();
}

TEST_F(KorvoctlInstrumentsTest, BusTrafficIsTheSameWithInstrumentsAttached) {
  ASSERT_TRUE(bench_.Ready());
  const std::vector<std::string> ops{"--count", "3", "watch", "--format", "json", "dump"};
  ASSERT_EQ(Run(ops), kExitOk);
  const auto without = Traffic();
  board_->ClearHistory();
  std::vector<std::string> with{"--instrument", Psu(),          "--instrument",
                                Load(),         "--instrument", "demo"};
  with.insert(with.end(), ops.begin(), ops.end());
  ASSERT_EQ(Run(with), kExitOk) << err_.str();
  EXPECT_EQ(Traffic(), without);
}

TEST_F(KorvoctlInstrumentsTest, JsonDumpHoldsPresentReadingsAndAbsentOnes) {
  ASSERT_TRUE(bench_.Ready());
  EXPECT_EQ(Run({"--instrument", Load(" label=Load channels=I1"), "--instrument",
                 "scpi-pps:conn=tcp-raw/127.0.0.1/1 label=Gone", "--format", "json", "dump"}),
            kExitOk);
  EXPECT_NE(
      out_.str().find("{\"label\": \"Load\", \"config\": \"" + bench_.LoadConfig() +
                      "\", \"present\": true, \"readings\": [{\"channel\": \"I1\", \"caption\": "
                      "\"Load CH1 current\", \"quantity\": \"current\", \"value\": 2048, \"unit\": "
                      "\"mA\"}]}"),
      std::string::npos)
      << out_.str();
  EXPECT_NE(
      out_.str().find("{\"label\": \"Gone\", \"config\": \"scpi-pps:conn=tcp-raw/127.0.0.1/1\", "
                      "\"present\": false, \"reason\": \"no device found"),
      std::string::npos)
      << out_.str();
}

TEST_F(KorvoctlInstrumentsTest, CsvDumpHoldsAReadingRow) {
  ASSERT_TRUE(bench_.Ready());
  EXPECT_EQ(Run({"--instrument", Load(" label=Load channels=I1"), "--format", "csv", "dump"}),
            kExitOk);
  EXPECT_NE(out_.str().find("\r\nLoad,Load CH1 current (mA),,2048,0,Communication OK\r\n"),
            std::string::npos)
      << out_.str();
}

TEST_F(KorvoctlInstrumentsTest, TextDumpIsUnchangedByInstruments) {
  ASSERT_EQ(Run({"dump"}), kExitOk);
  const std::string plain = out_.str();
  ASSERT_EQ(Run({"--instrument", "demo", "dump"}), kExitOk);
  EXPECT_EQ(out_.str(), plain);
}

TEST_F(KorvoctlInstrumentsTest, LibraryLogOnlyAtTheChosenLevel) {
  const std::vector<std::string> args{"--instrument", "scpi-pps:conn=tcp-raw/127.0.0.1/1",
                                      "instruments"};
  Run(args);
  EXPECT_EQ(err_.str().find("libsigrok: "), std::string::npos) << err_.str();
  std::vector<std::string> logged{"--instrument-log", "1"};
  logged.insert(logged.end(), args.begin(), args.end());
  Run(logged);
  EXPECT_NE(err_.str().find("libsigrok: scpi_tcp: Failed to connect to 127.0.0.1:1"),
            std::string::npos)
      << err_.str();
}

TEST_F(KorvoctlInstrumentsTest, SnapshotHoldsReadingsAsCommentsAndStaysAPreset) {
  ASSERT_TRUE(bench_.Ready());
  const std::string file = Path("board.ini");
  ASSERT_EQ(Run({"--instrument", Load(" label=Load channels=I1"), "snapshot", file}), kExitOk)
      << err_.str();
  const std::string text = Slurp(file);
  EXPECT_NE(text.find("\n; Instrument Load CH1 current: 2048 mA\n"), std::string::npos) << text;
  EXPECT_EQ(Run({"compare", file}), kExitOk) << err_.str();
}

// Python's csv module reads the recording: every row has the header's eleven columns, and the
// supply's readings sit in the mV/mA column beside the DAC registers.
TEST_F(KorvoctlInstrumentsTest, PythonCsvReadsRegistersAndReadingsAlike) {
  ASSERT_TRUE(bench_.Ready());
  const std::string file = Path("run.csv");
  ASSERT_EQ(Run({"--instrument", Psu(" label=PSU channels=V1,I1"), "--output", file, "--count", "2",
                 "watch"}),
            kExitOk);
  const std::string script =
      dir_.Write("check.py",
                 "import csv, sys\n"
                 "rows = list(csv.DictReader(open(sys.argv[1], newline='')))\n"
                 "assert all(len(r) == 11 and None not in r for r in rows), 'columns'\n"
                 "psu = [r for r in rows if r['source'] == 'PSU']\n"
                 "assert psu and all(r['operation'] == 'measure' for r in psu), 'psu rows'\n"
                 "v = [float(r['mV_mA']) for r in psu if r['caption'] == 'PSU CH1 voltage']\n"
                 "assert v and all(x == 19000 for x in v), v\n"
                 "print('ok')\n");
  const std::string python =
      ::access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  // Through a file, not a pipe: a read from a pipe can end early on a signal meant for the
  // instrument threads, and the test would see an empty answer.
  const std::string answer = Path("check.out");
  ASSERT_EQ(std::system((python + " " + script + " " + file + " > " + answer + " 2>&1").c_str()), 0)
      << Slurp(answer);
  EXPECT_EQ(Slurp(answer), "ok\n");
}
