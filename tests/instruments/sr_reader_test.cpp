// .sr recordings read back for review: what the .sr recorder wrote comes back tick by tick, and a
// session Korvo did not write is refused with the reason.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "adapter/ErrorCodes.h"
#include "instruments/SrReader.h"
#include "instruments/SrRecorder.h"
#include "recording/Recorder.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using recording::AccessKind;
using recording::AccessSource;
using recording::RecordedAccess;
using recording::RecorderOptions;
using recording::Recording;

class SrReaderTest : public ::testing::Test {
 protected:
  SrReaderTest() { instruments::InstallSrRecordings(); }

  RecorderOptions Options(std::chrono::milliseconds period) {
    RecorderOptions o;
    o.variant = variant_;
    o.clock = &clock_;
    o.period = period;
    o.registers = {0x12, 0x13, 0x14, 0x15, 0x3F};
    o.channels = {{"PSU", "I1", "PSU CH1 current", "mA"}};
    return o;
  }
  void Read(recording::Recorder& r, uint8_t address, uint16_t value, int32_t status = 0) {
    r.OnRegisterAccess(
        {clock_.Now(), AccessSource::kScanTick, AccessKind::kRead, address, value, status, 9});
    clock_.Advance(1ms);
  }
  // Three ticks of all five registers, a reading after the first; the second 0x3F read fails.
  std::string Record(std::chrono::milliseconds period) {
    const std::string path = dir_.File("run.sr");
    std::string message;
    auto r = recording::Recorder::Open(path, Options(period), message);
    EXPECT_TRUE(r) << message;
    for (const Tick& t : kTicks) {
      Read(*r, 0x12, t.control);
      Read(*r, 0x13, t.status);
      Read(*r, 0x14, t.charge);
      Read(*r, 0x15, t.battery);
      Read(*r, 0x3F, t.input, t.inputFails ? VB_T2H_ERR_TIMEOUT : 0);
      if (&t == &kTicks[0])
        r->OnInstrumentReading(
            {clock_.Now(), "PSU", "I1", "PSU CH1 current", "current", "mA", 250.5});
    }
    r->Close();
    EXPECT_TRUE(r->Error().empty()) << r->Error();
    return path;
  }
  // The accesses of address in the recording, in order.
  static std::vector<RecordedAccess> Of(const Recording& rec, uint8_t address) {
    std::vector<RecordedAccess> v;
    for (const RecordedAccess& a : rec.accesses)
      if (a.address == address) v.push_back(a);
    return v;
  }

  struct Tick {
    uint16_t control, status, charge, battery, input;
    bool inputFails;
  };
  static constexpr Tick kTicks[] = {{0xA5C3, 0x0001, 1000, 16800, 500, false},
                                    {0x5A3C, 0x4601, 1200, 8400, 0, true},
                                    {0x0000, 0xFFFF, 0, 12600, 700, false}};

  ManualClock clock_;
  TempDir dir_{"korvo_srread"};
  recording::Variant variant_ = recording::Variant::rk5190;
};

class SrReaderVariant : public SrReaderTest,
                        public ::testing::WithParamInterface<recording::Variant> {};

}  // namespace

// Once each, also where a tick is written as several samples (300 ms at 10 Hz).
TEST_F(SrReaderTest, EveryTickComesBackWithTheValuesRecorded) {
  for (std::chrono::milliseconds period : {500ms, 300ms}) {
    SCOPED_TRACE(period.count());
    std::string message;
    const std::optional<Recording> rec = instruments::ReadSrRecording(Record(period), message);
    ASSERT_TRUE(rec) << message;
    struct Lane {
      uint8_t address;
      uint16_t Tick::*value;
    };
    for (const Lane& lane : {Lane{0x12, &Tick::control}, Lane{0x13, &Tick::status},
                             Lane{0x14, &Tick::charge}, Lane{0x15, &Tick::battery}}) {
      const std::vector<RecordedAccess> a = Of(*rec, lane.address);
      ASSERT_EQ(a.size(), 3u) << int(lane.address);
      for (std::size_t t = 0; t < 3; ++t) {
        EXPECT_EQ(a[t].us, int64_t(t) * period.count() * 1000)
            << int(lane.address) << " tick " << t;
        EXPECT_EQ(a[t].value, kTicks[t].*lane.value) << int(lane.address) << " tick " << t;
        EXPECT_TRUE(a[t].hasValue);
        EXPECT_EQ(a[t].status, 0);
        EXPECT_EQ(a[t].kind, AccessKind::kRead);
      }
    }
  }
}

TEST_F(SrReaderTest, AFailedSetPointReadComesBackAsAFailedRead) {
  std::string message;
  const std::optional<Recording> rec = instruments::ReadSrRecording(Record(500ms), message);
  ASSERT_TRUE(rec) << message;
  const std::vector<RecordedAccess> input = Of(*rec, 0x3F);
  ASSERT_EQ(input.size(), 3u);
  EXPECT_EQ(input[0].value, 500);
  EXPECT_FALSE(input[1].hasValue);
  EXPECT_EQ(input[1].status, VB_UNKNOWN);
  EXPECT_EQ(input[2].value, 700);
}

TEST_F(SrReaderTest, InstrumentReadingsComeBackWithCaptionAndUnit) {
  std::string message;
  const std::optional<Recording> rec = instruments::ReadSrRecording(Record(500ms), message);
  ASSERT_TRUE(rec) << message;
  ASSERT_EQ(rec->channels.size(), 1u);
  EXPECT_EQ(rec->channels[0],
            (recording::RecordingChannel{"PSU", "PSU CH1 current", "current", "mA"}));
  // Held from the tick after it came; none before.
  ASSERT_EQ(rec->readings.size(), 2u);
  EXPECT_EQ(rec->readings[0], (recording::RecordedReading{500000, 0, 250.5}));
  EXPECT_EQ(rec->readings[1], (recording::RecordedReading{1000000, 0, 250.5}));
}

TEST_F(SrReaderTest, TheRecordingStartsItsLengthBeforeTheFileWasLastWritten) {
  const std::string path = Record(500ms);
  const auto written = std::filesystem::file_time_type::clock::now() - std::chrono::hours(3);
  std::filesystem::last_write_time(path, written);
  std::string message;
  const std::optional<Recording> rec = instruments::ReadSrRecording(path, message);
  ASSERT_TRUE(rec) << message;
  // Three ticks of 500 ms.
  EXPECT_EQ(rec->start, std::chrono::time_point_cast<recording::WallTime::duration>(
                            std::chrono::file_clock::to_sys(written)) -
                            1500ms);
}

// The chips name status bits 9, 10 and 14 differently: each chip's names give its bits back.
TEST_P(SrReaderVariant, EachChipsStatusBitNamesRebuildTheWord) {
  variant_ = GetParam();
  std::string message;
  const std::optional<Recording> rec = instruments::ReadSrRecording(Record(500ms), message);
  ASSERT_TRUE(rec) << message;
  const std::vector<RecordedAccess> status = Of(*rec, 0x13);
  ASSERT_EQ(status.size(), 3u);
  for (std::size_t t = 0; t < 3; ++t) EXPECT_EQ(status[t].value, kTicks[t].status) << t;
}

INSTANTIATE_TEST_SUITE_P(Chips, SrReaderVariant,
                         ::testing::Values(recording::Variant::rk5190, recording::Variant::rk5191));

TEST_F(SrReaderTest, ASessionKorvoDidNotWriteIsRefusedWithTheReason) {
  const std::string path = dir_.File("demo.sr");
  const std::string command = "sigrok-cli -d demo --samples 10 -o '" + path + "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::string message;
  EXPECT_FALSE(instruments::ReadSrRecording(path, message));
  EXPECT_EQ(message,
            path + " is not a Korvo recording: no channels of the status register (0x13.*).");
}

TEST_F(SrReaderTest, AFileThatIsNoSessionIsRefused) {
  const std::string path = dir_.Write("notes.sr", "time_s,register\n1,2\n");
  std::string message;
  EXPECT_FALSE(instruments::ReadSrRecording(path, message));
  EXPECT_EQ(message, path + " is not a Korvo recording: not a sigrok session (no zip archive).");
}

// A zip archive holding one empty file "notes.txt", stored: no sigrok session inside.
std::string ZipOfOneEmptyFile() {
  auto le = [](std::string& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  const std::string name = "notes.txt";
  std::string zip = "PK\x03\x04";
  le(zip, 20, 2);
  zip.append(2 + 2 + 4 + 4 + 4 + 4, '\0');  // flags, stored, time and date, CRC and sizes of nothing
  le(zip, static_cast<uint32_t>(name.size()), 2);
  zip.append(2, '\0');
  zip += name;
  const auto central = static_cast<uint32_t>(zip.size());
  zip += "PK\x01\x02";
  le(zip, 20, 2);
  le(zip, 20, 2);
  zip.append(2 + 2 + 4 + 4 + 4 + 4, '\0');
  le(zip, static_cast<uint32_t>(name.size()), 2);
  zip.append(2 + 2 + 2 + 2 + 4 + 4, '\0');  // extra, comment, disk, attributes, local header at 0
  zip += name;
  const auto centralSize = static_cast<uint32_t>(zip.size()) - central;
  zip += "PK\x05\x06";
  le(zip, 0, 4);
  le(zip, 1, 2);
  le(zip, 1, 2);
  le(zip, centralSize, 4);
  le(zip, central, 4);
  le(zip, 0, 2);
  return zip;
}

TEST_F(SrReaderTest, AnArchiveLibsigrokCannotReadIsRefusedWithItsReason) {
  const std::string path = dir_.Write("other.sr", ZipOfOneEmptyFile());
  std::string message;
  EXPECT_FALSE(instruments::ReadSrRecording(path, message));
  EXPECT_EQ(message.rfind(path + " is not a Korvo recording: libsigrok cannot read it (", 0), 0u)
      << message;
}

TEST_F(SrReaderTest, WithoutTheModuleTheReasonNamesIt) {
  const std::string path = Record(500ms);
  const std::string module = dir_.File("absent/korvo-sigrok.so");
  std::string message;
  EXPECT_FALSE(instruments::ReadSrRecording(path, message, {module}));
  EXPECT_EQ(
      message.rfind("Cannot open " + path + ": cannot load the instrument module " + module, 0), 0u)
      << message;
}
