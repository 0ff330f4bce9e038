// .sr recordings through libsigrok's srzip output, read back by sigrok-cli.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "instruments/SrReadBack.h"
#include "instruments/SrRecorder.h"
#include "instruments/SrWriter.h"
#include "recording/Recorder.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using instruments::InstallSrRecordings;
using instruments::PlanSr;
using recording::AccessKind;
using recording::AccessSource;
using recording::RecorderOptions;

class SrRecorderTest : public ::testing::Test {
 protected:
  SrRecorderTest() { InstallSrRecordings(); }
  ~SrRecorderTest() override { InstallSrRecordings(); }

  RecorderOptions Options() {
    RecorderOptions o;
    o.clock = &clock_;
    o.period = 500ms;
    o.registers = {0x13, 0x15};
    o.channels = {{"PSU", "I1", "PSU CH1 current", "mA"}};
    return o;
  }
  void Read(recording::Recorder& r, uint8_t address, uint16_t value, int32_t status = 0) {
    r.OnRegisterAccess(
        {clock_.Now(), AccessSource::kKorvoctl, AccessKind::kRead, address, value, status, 9});
    clock_.Advance(1ms);
  }
  void Reading(recording::Recorder& r, double value) {
    r.OnInstrumentReading({clock_.Now(), "PSU", "I1", "PSU CH1 current", "current", "mA", value});
    clock_.Advance(1ms);
  }
  std::string File(const std::string& name) { return dir_.File(name); }
  std::unique_ptr<recording::Recorder> Open(const std::string& path, const RecorderOptions& o) {
    std::string message;
    auto r = recording::Recorder::Open(path, o, message);
    EXPECT_TRUE(r) << message;
    return r;
  }

  ManualClock clock_;
  TempDir dir_{"korvo_sr"};
};

struct RateCase {
  int periodMs;
  uint64_t samplerate;
  uint64_t perTick;
};

class SrRate : public ::testing::TestWithParam<RateCase> {};

}  // namespace

TEST_P(SrRate, SampleRateIsTheWatchPeriodInWholeHertz) {
  RecorderOptions o;
  o.period = std::chrono::milliseconds(GetParam().periodMs);
  const instruments::SrPlan plan = PlanSr(o);
  EXPECT_EQ(plan.layout.samplerate, GetParam().samplerate);
  EXPECT_EQ(plan.samplesPerTick, GetParam().perTick);
}

INSTANTIATE_TEST_SUITE_P(Periods, SrRate,
                         ::testing::Values(RateCase{500, 2, 1}, RateCase{1000, 1, 1},
                                           RateCase{50, 20, 1}, RateCase{300, 10, 3},
                                           RateCase{2000, 1, 2}, RateCase{0, 1000, 1}));

TEST_F(SrRecorderTest, ChannelsAreNamedBitsSetPointsAndReadingsWithUnits) {
  const instruments::SrPlan plan = PlanSr(Options());
  ASSERT_EQ(plan.layout.logic.size(), 16u);  // the status register's named bits
  EXPECT_EQ(plan.layout.logic.front(), recording::WireNames(0x13, recording::Variant::rk5190)[15]);
  EXPECT_EQ(plan.layout.analog,
            (std::vector<std::string>{"0x15.BATTERY_VOLTAGE_mV", "PSU.CH1_current_mA"}));
}

TEST_F(SrRecorderTest, SigrokReadsOneSampleATickWithReadingsHeldToTheNext) {
  const std::string path = File("run.sr");
  auto r = Open(path, Options());
  ASSERT_TRUE(r);
  Read(*r, 0x13, 0x0001);
  Read(*r, 0x15, 16800);
  Reading(*r, 100);  // after tick 0's reads: shown from tick 1
  r->OnFlush();
  Read(*r, 0x13, 0x0000);
  Read(*r, 0x15, 8400, 1);  // a failed read: no set point
  r->OnFlush();
  Read(*r, 0x13, 0x0001);
  Read(*r, 0x15, 12600);
  r->Close();
  ASSERT_TRUE(r->Error().empty()) << r->Error();

  const std::string ac = recording::WireNames(0x13, recording::Variant::rk5190)[0];
  SrContents c = ReadSr(path, dir_.Path(), {ac});
  ASSERT_TRUE(c.ok) << c.show;
  EXPECT_EQ(c.samplerate, 2u);
  EXPECT_EQ(c.logicSamples, 3u);
  EXPECT_EQ(c.analogSamples, 3u);
  EXPECT_EQ(c.bits.at(ac), "101");
  const std::vector<double>& vset = c.values.at("0x15.BATTERY_VOLTAGE_mV");
  ASSERT_EQ(vset.size(), 3u);
  EXPECT_EQ(vset[0], 16800);
  EXPECT_TRUE(std::isnan(vset[1]));
  EXPECT_EQ(vset[2], 12600);
  const std::vector<double>& i = c.values.at("PSU.CH1_current_mA");
  ASSERT_EQ(i.size(), 3u);
  EXPECT_TRUE(std::isnan(i[0]));
  EXPECT_EQ(i[1], 100);
  EXPECT_EQ(i[2], 100);
}

TEST_F(SrRecorderTest, ReadingsAfterTheLastTickGetAClosingSample) {
  const std::string path = File("run.sr");
  auto r = Open(path, Options());
  ASSERT_TRUE(r);
  Read(*r, 0x13, 1);
  Reading(*r, 250);
  r->Close();
  SrContents c = ReadSr(path, dir_.Path());
  EXPECT_EQ(c.analogSamples, 2u) << c.show;
  ASSERT_EQ(c.values["PSU.CH1_current_mA"].size(), 2u);
  EXPECT_EQ(c.values["PSU.CH1_current_mA"][1], 250);
}

TEST_F(SrRecorderTest, EveryTickRepeatsWhenThePeriodIsNoWholeRate) {
  RecorderOptions o = Options();
  o.period = 300ms;
  const std::string path = File("run.sr");
  auto r = Open(path, o);
  ASSERT_TRUE(r);
  Read(*r, 0x15, 100);
  Read(*r, 0x15, 200);
  r->Close();
  SrContents c = ReadSr(path, dir_.Path());
  EXPECT_EQ(c.samplerate, 10u) << c.show;
  EXPECT_EQ(c.values["0x15.BATTERY_VOLTAGE_mV"],
            (std::vector<double>{100, 100, 100, 200, 200, 200}));
}

TEST_F(SrRecorderTest, AnEmptyRecordingIsStillASession) {
  const std::string path = File("empty.sr");
  auto r = Open(path, Options());
  ASSERT_TRUE(r);
  r->Close();
  SrContents c = ReadSr(path, dir_.Path());
  EXPECT_TRUE(c.ok) << c.show;
  EXPECT_EQ(c.analog.size(), 2u);
}

TEST_F(SrRecorderTest, UnwritablePathIsRefusedWithTheSystemsReason) {
  std::string message;
  EXPECT_FALSE(recording::Recorder::Open(File("no/such/dir/run.sr"), Options(), message));
  EXPECT_EQ(message, "Cannot create " + File("no/such/dir/run.sr") +
                         ": No such file or directory.");
}

TEST_F(SrRecorderTest, RemovedFileStopsTheRecordingAtTheNextChunk) {
  RecorderOptions o = Options();
  o.noticeRemoval = true;
  const std::string path = File("run.sr");
  auto r = Open(path, o);
  ASSERT_TRUE(r);
  std::string error;
  r->SetErrorHandler([&](const std::string& m) { error = m; });
  std::filesystem::remove(path);
  Read(*r, 0x15, 1);
  r->OnFlush();
  EXPECT_EQ(error, "Recording to " + path + " stopped: the file was removed.");
}

TEST_F(SrRecorderTest, AbsentModuleRefusesSrBeforeAnythingOpens) {
  InstallSrRecordings({"/nonexistent/korvo-sigrok.so"});
  const std::string refused = recording::CheckRecordingPath("run.sr");
  EXPECT_EQ(refused.rfind("cannot record to 'run.sr': cannot load the instrument module "
                          "/nonexistent/korvo-sigrok.so: ",
                          0),
            0u)
      << refused;
  EXPECT_EQ(recording::CheckRecordingPath("run.csv"), "");
  std::string message;
  EXPECT_FALSE(recording::Recorder::Open(File("run.sr"), Options(), message));
  EXPECT_EQ(message, recording::CheckRecordingPath(File("run.sr")));
  EXPECT_FALSE(std::filesystem::exists(File("run.sr")));
}

TEST_F(SrRecorderTest, WithoutAWriterTheCoreRefusesSr) {
  recording::SetFormatWriter(recording::RecordFormat::kSr, {});
  EXPECT_EQ(recording::CheckRecordingPath("run.sr"),
            "cannot record to 'run.sr': this program does not write sigrok sessions");
}

TEST_F(SrRecorderTest, WriterAloneWritesChannelsForAnyCaller) {
  instruments::SrLayout layout;
  layout.samplerate = 20;
  layout.logic = {"A", "B"};
  layout.analog = {"V_mV"};
  std::string reason;
  auto w = instruments::SrWriter::Create(File("w.sr"), layout, reason);
  ASSERT_TRUE(w) << reason;
  ASSERT_TRUE(w->Append(2, {0x01, 0x02}, {1.5f, 2.5f})) << w->Error();
  ASSERT_TRUE(w->Close()) << w->Error();
  SrContents c = ReadSr(File("w.sr"), dir_.Path(), {"A", "B"});
  EXPECT_EQ(c.samplerate, 20u) << c.show;
  EXPECT_EQ(c.bits["A"], "10");
  EXPECT_EQ(c.bits["B"], "01");
  EXPECT_EQ(c.values["V_mV"], (std::vector<double>{1.5, 2.5}));
}
