// The value change dump opens in the viewers engineers have: GTKWave and sigrok-cli (the
// reader behind PulseView), as Debian packages them. Skipped where a tool is not installed.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "recording/Recorder.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono;

bool Installed(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Output(const std::string& command) {
  std::string out;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return out;
  std::array<char, 4096> buf{};
  while (std::fgets(buf.data(), buf.size(), p) != nullptr) out += buf.data();
  ::pclose(p);
  return out;
}

class VcdToolsTest : public ::testing::Test {
 protected:
  // A short run of every register, 125 us long: the status register changes twice, one read
  // fails.
  // With instruments: two channels of a supply, read with every tick.
  std::string Record(bool instruments = false) {
    recording::RecorderOptions options;
    options.clock = &clock_;
    if (instruments)
      options.channels = {{"PSU", "I1", "PSU CH1 current", "mA"},
                          {"PSU", "V1", "PSU CH1 voltage", "mV"}};
    options.timescale = microseconds(1);
    const std::string path = dir_.Path() + "/run.vcd";
    auto r = Open(path, options);
    const uint16_t status[] = {0x8080, 0x8080, 0x2042, 0x8080};
    for (int tick = 0; tick < 4; ++tick) {
      clock_.Advance(microseconds(25));
      for (uint8_t a : {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x3F}) {
        const bool fail = tick == 2 && a == 0x15;
        r->OnRegisterAccess(
            {clock_.Now(), recording::AccessSource::kScanTick, recording::AccessKind::kRead, a,
             a == 0x13 ? status[tick] : static_cast<uint16_t>(a * 257), fail ? 8 : 0, 0x67});
      }
      if (instruments) {
        r->OnInstrumentReading({clock_.Now(), "PSU", "I1", "", "", "", 1792.9 - tick * 100});
        r->OnInstrumentReading({clock_.Now(), "PSU", "V1", "", "", "", 19000});
      }
      r->OnFlush();
    }
    clock_.Advance(microseconds(25));
    r->Close();
    return path;
  }
  std::unique_ptr<recording::Recorder> Open(const std::string& path,
                                            const recording::RecorderOptions& options) {
    std::string message;
    auto r = recording::Recorder::Open(path, options, message);
    EXPECT_TRUE(r) << message;
    return r;
  }

  TempDir dir_;
  ManualClock clock_;
};

TEST_F(VcdToolsTest, SigrokReadsEveryWireAndTheLastValues) {
  if (!Installed("sigrok-cli")) GTEST_SKIP() << "sigrok-cli is not installed";
  const std::string path = Record();
  const std::string shown = Output("sigrok-cli -I vcd -i " + path + " --show");
  EXPECT_NE(shown.find("Channels: 176"), std::string::npos) << shown;
  EXPECT_NE(shown.find("- 0x13.ACDET: logic"), std::string::npos) << shown;
  // The last sample: ACDET (the 49th wire: 0x10, 0x11 and 0x12 come first) is 1 again.
  const std::string csv =
      Output("sigrok-cli -I vcd -i " + path + " -O csv:header=false | tail -n 1");
  const std::string lastRow = csv.substr(0, csv.find('\n'));
  ASSERT_GE(lastRow.size(), 2u * 49u) << csv;
  EXPECT_EQ(lastRow[2 * 48], '1') << lastRow;
}

TEST_F(VcdToolsTest, GtkwaveLoadsTheWholeRunWithOrWithoutInstrumentReals) {
  if (!Installed("gtkwave") || !Installed("xvfb-run"))
    GTEST_SKIP() << "gtkwave or xvfb-run missing";
  for (bool instruments : {false, true}) {
    const std::string out = Output("xvfb-run -a gtkwave --exit " + Record(instruments));
    EXPECT_NE(out.find("[125] end time."), std::string::npos) << instruments << out;
  }
}

// Debian 12's libsigrok skips real variables: the wires import as they do without them.
TEST_F(VcdToolsTest, SigrokReadsTheSameWiresBesideInstrumentReals) {
  if (!Installed("sigrok-cli")) GTEST_SKIP() << "sigrok-cli is not installed";
  const std::string wires = dir_.Path() + "/wires.vcd";
  std::rename(Record().c_str(), wires.c_str());
  const std::string both = Record(true);
  // The readings take time steps of their own, so compare the wires' states, not the samples.
  const std::string states = " -O csv:header=false | uniq";
  const std::string withReals = Output("sigrok-cli -I vcd -i " + both + states);
  EXPECT_EQ(withReals, Output("sigrok-cli -I vcd -i " + wires + states));
  EXPECT_GT(withReals.size(), 176u * 2 * 3) << withReals;
}

TEST_F(VcdToolsTest, GtkwaveReadsBackAnInstrumentReading) {
  if (!Installed("vcd2fst") || !Installed("fstminer"))
    GTEST_SKIP() << "vcd2fst or fstminer missing";
  const std::string path = Record(true);
  const std::string fst = dir_.Path() + "/run.fst";
  const std::string converted = Output("vcd2fst " + path + " " + fst + " && echo converted");
  ASSERT_NE(converted.find("converted"), std::string::npos) << converted;
  // The supply's current at its last reading, as GTKWave's own reader gives it back.
  const std::string mined = Output("fstminer -d " + fst + " -m 1492.9");
  EXPECT_NE(mined.find(" PSU.CH1_current_mA 1492.9\n"), std::string::npos) << mined;
}

// sigrok takes one sample per time step: at the default scan, a step of 1 ms or more.
TEST_F(VcdToolsTest, SigrokTakesAtMostAThousandSamplesASecondAtTheDefaultScan) {
  if (!Installed("sigrok-cli")) GTEST_SKIP() << "sigrok-cli is not installed";
  recording::RecorderOptions options;
  options.clock = &clock_;
  const std::string path = dir_.Path() + "/long.vcd";
  auto r = Open(path, options);
  ASSERT_TRUE(r);
  for (int tick = 0; tick < 40; ++tick) {  // 20 s at 500 ms
    for (uint8_t a : {0x13, 0x12, 0x15, 0x3F, 0x14}) {
      r->OnRegisterAccess({clock_.Now(), recording::AccessSource::kScanTick,
                           recording::AccessKind::kRead, a,
                           static_cast<uint16_t>(tick % 2 ? 0x8080 : 0x0042), 0, 0x67});
    }
    r->OnFlush();
    clock_.Advance(milliseconds(500));
  }
  r->Close();
  const std::string shown = Output("sigrok-cli -I vcd -i " + path + " --show");
  const std::size_t at = shown.find("Logic sample count: ");
  ASSERT_NE(at, std::string::npos) << shown;
  const long samples = std::atol(shown.c_str() + at + 20);
  EXPECT_GE(samples, 20 * 100) << shown;
  EXPECT_LE(samples, 20 * 1000) << shown;
}

TEST_F(VcdToolsTest, SigrokSeesEveryReadOfATickInOrder) {
  if (!Installed("sigrok-cli")) GTEST_SKIP() << "sigrok-cli is not installed";
  recording::RecorderOptions options;
  options.clock = &clock_;
  options.registers = {0x13};
  const std::string path = dir_.Path() + "/tick.vcd";
  auto r = Open(path, options);
  ASSERT_TRUE(r);
  clock_.Advance(milliseconds(500));
  for (uint16_t status : {0x8000, 0x0000, 0x8000, 0x0000}) {  // one tick, faster than a step
    r->OnRegisterAccess({clock_.Now(), recording::AccessSource::kScanTick,
                         recording::AccessKind::kRead, 0x13, status, 0, 0x67});
  }
  clock_.Advance(milliseconds(500));
  r->Close();
  // The first wire is bit 15; its samples from the tick on, one per line.
  const std::string bits =
      Output("sigrok-cli -I vcd -i " + path +
             " -O csv:header=false | grep -E '^[01]' | cut -c1 | uniq | tr -d '\\n'");
  EXPECT_EQ(bits, "01010") << bits;
}

}  // namespace
