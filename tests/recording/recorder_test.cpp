#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>

#include "recording/Recorder.h"
#include "recording/ScopedTz.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono;
using recording::AccessKind;
using recording::AccessSource;
using recording::RegisterEvent;

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

class RecorderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options_.clock = &clock_;
    options_.timescale = microseconds(1);  // the clock's steps show as they are
  }
  std::unique_ptr<recording::Recorder> Open(const std::string& name) {
    std::string message;
    auto r = recording::Recorder::Open(dir_.Path() + "/" + name, options_, message);
    EXPECT_TRUE(r) << message;
    if (r) r->SetErrorHandler([this](const std::string& m) { errors_.push_back(m); });
    return r;
  }
  RegisterEvent Read(uint8_t address, uint16_t value, int32_t status = 0) {
    return {clock_.Now(), AccessSource::kScanTick, AccessKind::kRead, address, value, status, 0x67};
  }
  // The file's lines after the header lines of a VCD (from "#0" on).
  std::vector<std::string> VcdBody(const std::string& path) {
    std::istringstream in(Slurp(path));
    std::vector<std::string> lines;
    bool body = false;
    for (std::string l; std::getline(in, l);) {
      if (l == "$enddefinitions $end") {
        body = true;
        continue;
      }
      if (body) lines.push_back(l);
    }
    return lines;
  }
  // The identifier a VCD in the folder declares wire under.
  std::string Id(const std::string& name, const std::string& wire) {
    const std::string text = Slurp(dir_.Path() + "/" + name);
    const std::size_t end = text.find(" " + wire + " $end");
    const std::size_t start = text.rfind(' ', end - 1) + 1;
    return text.substr(start, end - start);
  }

  TempDir dir_;
  ManualClock clock_;
  recording::RecorderOptions options_;
  std::vector<std::string> errors_;
  ScopedTz tz_;
};

TEST_F(RecorderTest, CsvRowsCarryEveryColumn) {
  auto r = Open("run.csv");
  clock_.Advance(milliseconds(1500));
  const RegisterEvent events[] = {
      Read(0x15, 16800),
      Read(0x13, 0, 8),  // failed: no value, its status name
      {clock_.Now(), AccessSource::kWrite, AccessKind::kWrite, 0x12, 0x0050, 772, 0x67},
      {clock_.Now(), AccessSource::kKorvoctl, AccessKind::kRead, 0x05, 1, 0, 0x67},
  };
  for (const auto& e : events) r->OnRegisterAccess(e);
  r->Close();
  EXPECT_EQ(Slurp(dir_.Path() + "/run.csv"),
            std::string(recording::kCsvHeader) + "\r\n" +
                "1.500000,2024-05-01T10:00:01.500+00:00,scan tick,read,0x15,"
                "CV: CHARGING VOLTAGE REG(0x15),0x41A0,16800,16800,0,Communication OK\r\n"
                "1.500000,2024-05-01T10:00:01.500+00:00,scan tick,read,0x13,"
                "CHARGER STATUS REG(0x13),,,,8,VB_TIMEOUT_ERROR\r\n"
                "1.500000,2024-05-01T10:00:01.500+00:00,write,write,0x12,"
                "CM: CHARGER MODE REGISTER(0x12),0x0050,80,,772,VB_T2H_NACK\r\n"
                "1.500000,2024-05-01T10:00:01.500+00:00,korvoctl,read,0x05,,0x0001,1,,0,"
                "Communication OK\r\n");
}

// An older, longer recording of the same name leaves nothing behind, in either format.
TEST_F(RecorderTest, AnExistingFileIsReplacedWhole) {
  for (const char* name : {"old.csv", "old.vcd"}) {
    const std::string path = dir_.Path() + "/" + name;
    std::ofstream(path) << std::string(100000, '~');
    auto r = Open(name);
    r->OnRegisterAccess(Read(0x15, 16800));
    r->Close();
    EXPECT_LT(Slurp(path).size(), 100000u) << name;
  }
}

TEST_F(RecorderTest, WallTimeIsTheStartPlusMonotonicTime) {
  clock_.SetWall(sys_days{year{2024} / 12 / 31} + hours(23) + minutes(59) + seconds(59) +
                 milliseconds(900));
  auto r = Open("run.csv");
  clock_.Advance(milliseconds(200));
  clock_.SetWall(sys_days{year{2020} / 1 / 1});  // someone sets the system clock back
  r->OnRegisterAccess(Read(0x13, 0));
  r->Close();
  EXPECT_NE(Slurp(dir_.Path() + "/run.csv").find("\r\n0.200000,2025-01-01T00:00:00.100+00:00,"),
            std::string::npos);
}

TEST_F(RecorderTest, SamplesReachTheFileWhenFlushed) {
  auto r = Open("run.csv");
  const std::string header = std::string(recording::kCsvHeader) + "\r\n";
  r->OnRegisterAccess(Read(0x13, 0));
  EXPECT_EQ(Slurp(dir_.Path() + "/run.csv"), header);
  r->OnFlush();
  EXPECT_GT(Slurp(dir_.Path() + "/run.csv").size(), header.size());
}

TEST_F(RecorderTest, AFailedWriteLeavesOnlyWholeRows) {
  auto r = Open("run.csv");
  r->OnRegisterAccess(Read(0x13, 0));
  r->OnFlush();
  const std::string before = Slurp(dir_.Path() + "/run.csv");
  // The file may grow by a few bytes only: the next tick's write stops part-way (EFBIG).
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit tight = saved;
  tight.rlim_cur = before.size() + 40;
  ::setrlimit(RLIMIT_FSIZE, &tight);
  for (int i = 0; i < 3; ++i) r->OnRegisterAccess(Read(0x13, 0));
  r->OnFlush();
  r->OnRegisterAccess(Read(0x13, 0));  // a stopped recording takes nothing more
  r->OnFlush();
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(r->Active());
  EXPECT_EQ(errors_, std::vector<std::string>{"Recording to " + dir_.Path() +
                                              "/run.csv stopped: File too large."});
  EXPECT_EQ(Slurp(dir_.Path() + "/run.csv"), before);
}

TEST_F(RecorderTest, VcdWritesOnlyChanges) {
  options_.registers = {0x13};
  auto r = Open("run.vcd");
  const std::string acdet = Id("run.vcd", "0x13.ACDET"), chgoff = Id("run.vcd", "0x13.CHGOFF");
  clock_.Advance(microseconds(10));
  r->OnRegisterAccess(Read(0x13, 0x8000));
  clock_.Advance(microseconds(10));
  r->OnRegisterAccess(Read(0x13, 0x8000));  // unchanged: nothing written
  clock_.Advance(microseconds(10));
  r->OnRegisterAccess(Read(0x13, 0x8002));
  r->Close();
  const std::vector<std::string> body = VcdBody(dir_.Path() + "/run.vcd");
  const auto at = [&](const std::string& stamp) {
    return std::find(body.begin(), body.end(), stamp) - body.begin();
  };
  ASSERT_LT(at("#10"), static_cast<long>(body.size()));
  EXPECT_EQ(at("#20"), static_cast<long>(body.size()));
  EXPECT_EQ(body[static_cast<std::size_t>(at("#10")) + 1], "1" + acdet);
  EXPECT_EQ(body[static_cast<std::size_t>(at("#30")) + 1], "1" + chgoff);
}

TEST_F(RecorderTest, VcdFailedReadSetsEveryBitToX) {
  options_.registers = {0x13};
  auto r = Open("run.vcd");
  clock_.Advance(microseconds(10));
  r->OnRegisterAccess(Read(0x13, 0x8000));
  clock_.Advance(microseconds(10));
  r->OnRegisterAccess(Read(0x13, 0, 8));
  r->Close();
  const std::vector<std::string> body = VcdBody(dir_.Path() + "/run.vcd");
  const auto failed = std::find(body.begin(), body.end(), "#20");
  ASSERT_NE(failed, body.end());
  const auto next = std::find_if(failed + 1, body.end(), [](auto& l) { return l[0] == '#'; });
  EXPECT_EQ(next - failed, 1 + 16);
  for (auto line = failed + 1; line != next; ++line) EXPECT_EQ((*line)[0], 'x') << *line;
}

TEST(VcdTimescale, TheDefaultStepIsAHundredthOfThePeriodFrom1UsTo1S) {
  const std::pair<milliseconds, std::string> cases[] = {
      {milliseconds(0), "1 us"},     {milliseconds(1), "10 us"},      {milliseconds(9), "10 us"},
      {milliseconds(10), "100 us"},  {milliseconds(100), "1 ms"},     {milliseconds(500), "1 ms"},
      {milliseconds(1000), "10 ms"}, {milliseconds(60000), "100 ms"}, {hours(1), "1 s"},
  };
  for (const auto& [period, step] : cases)
    EXPECT_EQ(recording::VcdTimescaleText(recording::VcdTimescaleFor(period)), step)
        << period.count();
}

TEST(VcdTimescale, AStepIsOneTenOrAHundredOfAUnit) {
  const std::pair<std::string, std::optional<nanoseconds>> cases[] = {
      {"1us", microseconds(1)},     {"1 us", microseconds(1)},    {"1\xC2\xB5s", microseconds(1)},
      {"10ms", milliseconds(10)},   {"100 ns", nanoseconds(100)}, {"1s", seconds(1)},
      {"100ms", milliseconds(100)}, {"2ms", std::nullopt},        {"1000ms", std::nullopt},
      {"10s", std::nullopt},        {"1ps", std::nullopt},        {"ms", std::nullopt},
      {"", std::nullopt},           {"1 m s", std::nullopt},      {"01ms", std::nullopt},
  };
  for (const auto& [text, step] : cases)
    EXPECT_EQ(recording::ParseVcdTimescale(text), step) << text;
}

TEST_F(RecorderTest, VcdStepFollowsTheDefaultScanWhenNoneIsChosen) {
  options_ = {};
  options_.clock = &clock_;
  Open("run.vcd")->Close();
  EXPECT_NE(Slurp(dir_.Path() + "/run.vcd").find("$timescale 1 ms $end"), std::string::npos);
}

TEST_F(RecorderTest, VcdTimesCountInTheChosenStep) {
  options_.registers = {0x13};
  options_.timescale = milliseconds(10);
  auto r = Open("run.vcd");
  clock_.Advance(milliseconds(25));
  r->OnRegisterAccess(Read(0x13, 0x8000));
  clock_.Advance(milliseconds(1209));
  r->OnRegisterAccess(Read(0x13, 0x0000));
  clock_.Advance(milliseconds(1000));
  r->Close();
  std::vector<std::string> stamps;
  for (const std::string& l : VcdBody(dir_.Path() + "/run.vcd"))
    if (l[0] == '#') stamps.push_back(l);
  EXPECT_EQ(stamps, (std::vector<std::string>{"#0", "#2", "#123", "#223"}));
}

TEST_F(RecorderTest, VcdReadsOfOneTickKeepTheirOrder) {
  options_.registers = {0x13, 0x12};
  options_.timescale = milliseconds(1);
  auto r = Open("run.vcd");
  clock_.Advance(milliseconds(500));
  // One tick, faster than a step: 0x13 twice, 0x12 between.
  for (auto [address, value] : {std::pair{0x13, 0x8000}, {0x12, 0x0001}, {0x13, 0x0000}})
    r->OnRegisterAccess(Read(static_cast<uint8_t>(address), static_cast<uint16_t>(value)));
  r->Close();  // at the same instant
  const std::vector<std::string> body = VcdBody(dir_.Path() + "/run.vcd");
  std::vector<std::pair<std::string, std::size_t>> stamps;  // stamp, changes after it
  for (const std::string& l : body) {
    if (l[0] == '#')
      stamps.emplace_back(l, 0);
    else if (!stamps.empty() && (l[0] == '0' || l[0] == '1'))
      ++stamps.back().second;
  }
  // Each read on a step of its own, and one more step so readers show the last values.
  EXPECT_EQ(stamps, (std::vector<std::pair<std::string, std::size_t>>{
                        {"#0", 0}, {"#500", 16}, {"#501", 16}, {"#502", 1}, {"#503", 0}}));
}

// ------------------------------------------------------------------ CSV: instrument readings

class InstrumentRowsTest : public RecorderTest {
 protected:
  // The rows after the header once reading is recorded, after into the recording.
  std::string RowsOf(recording::InstrumentReading reading, milliseconds after = {}) {
    auto r = Open("run.csv");
    clock_.Advance(after);
    reading.time = clock_.Now();
    r->OnInstrumentReading(reading);
    r->Close();
    return Slurp(dir_.Path() + "/run.csv").substr(recording::kCsvHeader.size() + 2);
  }
  recording::InstrumentReading Reading(std::string_view caption, std::string_view unit,
                                       double value) {
    return {{}, "PSU", "I1", caption, "current", unit, value};
  }
};

TEST_F(InstrumentRowsTest, CsvReadingGoesInTheMilliColumn) {
  EXPECT_EQ(RowsOf(Reading("PSU CH1 current", "mA", 1792.9), milliseconds(1500)),
            "1.500000,2024-05-01T10:00:01.500+00:00,PSU,measure,,PSU CH1 current,,,1792.9,0,"
            "Communication OK\r\n");
}

TEST_F(InstrumentRowsTest, CsvOtherUnitsGoInTheDecimalColumnNamedInTheCaption) {
  const std::string row = RowsOf(Reading("PSU CH1 power", "W", 34.0645));
  EXPECT_EQ(row.substr(row.find(",PSU,")),
            ",PSU,measure,,PSU CH1 power (W),,34.0645,,0,Communication OK\r\n");
}

TEST_F(InstrumentRowsTest, CsvReadingKeepsSevenSignificantDigits) {
  EXPECT_NE(RowsOf(Reading("PSU CH1 current", "mA", 2048.000123)).find(",,,2048,0,"),
            std::string::npos);
}

TEST_F(InstrumentRowsTest, CsvLabelWithCommaIsQuoted) {
  EXPECT_NE(RowsOf({{}, "Load, left", "I1", "Load, left CH1 current", "current", "mA", 5})
                .find(",\"Load, left\",measure,,\"Load, left CH1 current\","),
            std::string::npos);
}

// ------------------------------------------------------------------ VCD: instrument channels

// The declarations of 0x12 and 0x13 with their vectors, as recorded before instruments.
constexpr std::string_view kTwoRegisterHeader = R"VCD($timescale 1 us $end
$scope module 0x12 $end
$var wire 1 1 0x12.RSVD15 $end
$var wire 1 0 0x12.RSVD14 $end
$var wire 1 / 0x12.RSVD13 $end
$var wire 1 . 0x12.RSVD12 $end
$var wire 1 - 0x12.BATDP2 $end
$var wire 1 , 0x12.BATDP1 $end
$var wire 1 + 0x12.BATDP0 $end
$var wire 1 * 0x12.ACOC1 $end
$var wire 1 ) 0x12.ACOC0 $end
$var wire 1 ( 0x12.ACOCEN $end
$var wire 1 ' 0x12.PWM500 $end
$var wire 1 & 0x12.LEARN $end
$var wire 1 % 0x12.IOUTBT $end
$var wire 1 # 0x12.RST $end
$var wire 1 " 0x12.RSVD1 $end
$var wire 1 ! 0x12.CHGEND $end
$var wire 16 2 0x12 [15:0] $end
$upscope $end
$scope module 0x13 $end
$var wire 1 B 0x13.ACDET $end
$var wire 1 A 0x13.RSVD14 $end
$var wire 1 @ 0x13.AC<BT $end
$var wire 1 ? 0x13.VOR $end
$var wire 1 > 0x13.BDEPL $end
$var wire 1 = 0x13.RSVD10 $end
$var wire 1 < 0x13.RSVD9 $end
$var wire 1 ; 0x13.TSHUT $end
$var wire 1 : 0x13.AC2SYS $end
$var wire 1 9 0x13.BAT2SYS $end
$var wire 1 8 0x13.CHGOC $end
$var wire 1 7 0x13.NoDPM $end
$var wire 1 6 0x13.NoIreg $end
$var wire 1 5 0x13.NoVreg $end
$var wire 1 4 0x13.CHGOFF $end
$var wire 1 3 0x13.InhibCHG $end
$var wire 16 C 0x13 [15:0] $end
$upscope $end
$enddefinitions $end
)VCD";

class VcdChannelsTest : public RecorderTest {
 protected:
  recording::InstrumentReading Reading(std::string_view instrument, std::string_view channel,
                                       double value) {
    return {clock_.Now(), instrument, channel, "", "", "", value};
  }
  // The header's lines from $timescale to $enddefinitions.
  std::string Declarations(const std::string& path) {
    const std::string text = Slurp(path);
    const std::size_t from = text.find("$timescale");
    const std::size_t to = text.find("$enddefinitions $end\n");
    return text.substr(from, to + 21 - from);
  }
  const recording::RecordedChannel kCurrent{"PSU", "I1", "PSU CH1 current", "mA"};
  const recording::RecordedChannel kVoltage{"PSU", "V1", "PSU CH1 voltage", "mV"};
  const recording::RecordedChannel kLoad{"Load", "V1", "Load voltage", "mV"};
};

TEST_F(VcdChannelsTest, WithoutInstrumentsTheWiresAreAsBefore) {
  options_.registers = {0x12, 0x13};
  options_.vectors = true;
  auto r = Open("run.vcd");
  r->Close();
  EXPECT_EQ(Declarations(dir_.Path() + "/run.vcd"), kTwoRegisterHeader);
}

TEST_F(VcdChannelsTest, EachChannelIsARealInItsInstrumentsScope) {
  options_.registers = {0x13};
  options_.channels = {kCurrent, kVoltage, kLoad};
  auto r = Open("run.vcd");
  r->Close();
  const std::string text = Declarations(dir_.Path() + "/run.vcd");
  const std::size_t wires = text.find("$upscope $end\n") + 14;  // after 0x13's scope
  EXPECT_EQ(text.substr(wires),
            "$scope module PSU $end\n"
            "$var real 64 2 CH1_current_mA $end\n"
            "$var real 64 3 CH1_voltage_mV $end\n"
            "$upscope $end\n"
            "$scope module Load $end\n"
            "$var real 64 4 voltage_mV $end\n"
            "$upscope $end\n"
            "$enddefinitions $end\n");
}

TEST_F(VcdChannelsTest, ChannelsDoNotMoveTheWiresOrTheirNames) {
  options_.registers = {0x12, 0x13};
  options_.vectors = true;
  options_.channels = {kCurrent};
  Open("both.vcd")->Close();
  const std::string_view h = kTwoRegisterHeader;
  const std::string_view wires = h.substr(0, h.rfind("$enddefinitions"));
  EXPECT_EQ(Declarations(dir_.Path() + "/both.vcd").substr(0, wires.size()), wires);
}

TEST_F(VcdChannelsTest, AReadingIsARealValueChange) {
  options_.registers = {0x13};
  options_.channels = {kCurrent, kVoltage};
  auto r = Open("run.vcd");
  clock_.Advance(microseconds(10));
  r->OnInstrumentReading(Reading("PSU", "I1", 1792.9));
  clock_.Advance(microseconds(10));
  r->OnInstrumentReading(Reading("PSU", "V1", 19000));
  r->OnInstrumentReading(Reading("Load", "V1", 5));  // not declared: left out
  r->Close();
  const std::vector<std::string> body = VcdBody(dir_.Path() + "/run.vcd");
  const auto at = std::find(body.begin(), body.end(), "#10");
  ASSERT_NE(at, body.end());
  EXPECT_EQ(std::vector<std::string>(at, at + 4),
            (std::vector<std::string>{"#10", "r1792.9 2", "#20", "r19000 3"}));
  EXPECT_EQ(r->Samples(), 2u);
}

TEST_F(VcdChannelsTest, AReadingOnThePreviousChangesStepTakesTheNext) {
  options_.registers = {0x13};
  options_.channels = {kCurrent};
  options_.timescale = milliseconds(1);
  auto r = Open("run.vcd");
  clock_.Advance(milliseconds(5));
  r->OnRegisterAccess(Read(0x13, 0x8000));
  clock_.Advance(microseconds(10));  // same millisecond
  r->OnInstrumentReading(Reading("PSU", "I1", 1500));
  r->Close();
  const std::vector<std::string> body = VcdBody(dir_.Path() + "/run.vcd");
  const auto at = std::find(body.begin(), body.end(), "#6");
  ASSERT_NE(at, body.end());
  EXPECT_EQ(at[1], "r1500 2");
}

TEST_F(VcdChannelsTest, CsvIgnoresTheChannelList) {
  options_.channels = {kCurrent};
  Open("with.csv")->Close();
  options_.channels.clear();
  Open("without.csv")->Close();
  EXPECT_EQ(Slurp(dir_.Path() + "/with.csv"), Slurp(dir_.Path() + "/without.csv"));
}

}  // namespace
