// A Korvo CSV recording read back for review.
#include <gtest/gtest.h>

#include <sstream>

#include "recording/Recorder.h"
#include "recording/RecordingReader.h"
#include "recording/ScopedTz.h"
#include "support/ManualClock.h"

namespace {

using namespace std::chrono;
using recording::AccessKind;
using recording::AccessSource;

const std::string kHeader = std::string(recording::kCsvHeader) + "\r\n";

TEST(RecordingReaderTest, WhatTheCsvRecorderWroteReadsBackTheSame) {
  ScopedTz tz("CET-1");
  ManualClock clock;
  recording::RecorderOptions options;
  options.clock = &clock;
  std::ostringstream out;
  auto r = recording::Recorder::ToStream(out, "run", recording::RecordFormat::kCsv, options);
  const recording::MonoTime t0 = clock.Now();
  clock.Advance(milliseconds(250));
  r->OnRegisterAccess({clock.Now(), AccessSource::kScanTick, AccessKind::kRead, 0x15, 16800, 0, 0x67});
  clock.Advance(microseconds(50'001));
  r->OnRegisterAccess({clock.Now(), AccessSource::kScanTick, AccessKind::kRead, 0x14, 0, 8, 0x67});
  r->OnInstrumentReading({clock.Now(), "PSU, left", "I1", "PSU, left CH1 current", "current", "mA", 2031.5});
  clock.Advance(seconds(2));
  r->OnRegisterAccess({clock.Now(), AccessSource::kSpin, AccessKind::kWrite, 0x12, 0xF00D, 8, 0x67});
  r->OnInstrumentReading({clock.Now(), "DMM", "T", "DMM T temperature", "temperature", "°C", 21.25});
  r->Close();

  recording::RecordingError error;
  const auto rec = recording::ParseRecording(out.str(), error);
  ASSERT_TRUE(rec) << error.line << ": " << error.reason;
  EXPECT_EQ(rec->start, clock.WallNow() - duration_cast<recording::WallTime::duration>(clock.Now() - t0));
  const std::vector<recording::RecordedAccess> accesses = {
      {250'000, AccessSource::kScanTick, AccessKind::kRead, 0x15, 16800, true, 0},
      {300'001, AccessSource::kScanTick, AccessKind::kRead, 0x14, 0, false, 8},
      {2'300'001, AccessSource::kSpin, AccessKind::kWrite, 0x12, 0xF00D, true, 8}};
  EXPECT_EQ(rec->accesses, accesses);
  const std::vector<recording::RecordingChannel> channels = {
      {"PSU, left", "PSU, left CH1 current", "current", "mA"},
      {"DMM", "DMM T temperature (°C)", "temperature", "°C"}};
  EXPECT_EQ(rec->channels, channels);
  const std::vector<recording::RecordedReading> readings = {{300'001, 0, 2031.5},
                                                            {2'300'001, 1, 21.25}};
  EXPECT_EQ(rec->readings, readings);
}

TEST(RecordingReaderTest, AFileThatIsNotARecordingIsRefusedWithItsLine) {
  const std::string row = "0.100000,2024-05-01T10:00:00.100+00:00,scan tick,read,0x15,Charging Voltage,0x41A0,16800,16800,0,Communication OK\r\n";
  const std::vector<std::tuple<std::string, int, std::string>> cases = {
      {"", 1, "empty"},
      {"time,value\r\n1,2\r\n", 1, "header"},
      {kHeader + row + "0.2,2024-05-01T10:00:00.200+00:00,scan tick,read,0x1G5,,,,,0,\r\n", 3, "register"},
      {kHeader + row + row + "0.3,x,scan tick,read,0x15,,0x0001,1,1\r\n", 4, "fields"},
      {kHeader + "zero,2024-05-01T10:00:00.100+00:00,scan tick,read,0x15,,0x41A0,1,1,0,\r\n", 2, "seconds"},
      {kHeader + "0.1,yesterday,scan tick,read,0x15,,0x41A0,1,1,0,\r\n", 2, "date"},
      {kHeader + "0.1,9999-05-01T10:00:00.100+00:00,scan tick,read,0x15,,0x41A0,1,1,0,\r\n", 2, "date"},
      {kHeader + row + "0.2,t,scan tick,erase,0x15,,0x41A0,1,1,0,\r\n", 3, "operation"},
      {kHeader + row + "0.2,t,PSU,measure,,\"PSU CH1 current,,,1,0,\r\n", 3, "quoted"},
      {kHeader + row + "0.2,t,PSU,measure,,PSU CH1 current,,,lots,0,\r\n", 3, "reading"},
      {kHeader + row + "0.2,t,scan tick,read,0x15,,,,,0,\r\n", 3, "without a value"},
      {std::string(recording::kCsvHeader) + "\r" + row.substr(0, row.size() - 2) + "\r0.3\r", 3, "fields"},
  };
  for (const auto& [text, line, word] : cases) {
    recording::RecordingError error;
    EXPECT_FALSE(recording::ParseRecording(text, error)) << text;
    EXPECT_EQ(error.line, line) << text;
    EXPECT_NE(error.reason.find(word), std::string::npos) << error.reason;
  }
}

TEST(RecordingReaderTest, LfLineEndsAndAMissingLastLineEndAreAccepted) {
  const std::string text = std::string(recording::kCsvHeader) +
                           "\n1.5,2024-05-01T10:00:01.500+00:00,scan tick,read,0x13,,0x0001,1,,0,OK";
  recording::RecordingError error;
  const auto rec = recording::ParseRecording(text, error);
  ASSERT_TRUE(rec) << error.reason;
  ASSERT_EQ(rec->accesses.size(), 1u);
  EXPECT_EQ(rec->accesses[0].us, 1'500'000);
}

TEST(RecordingReaderTest, IsoTimeHonoursTheUtcOffset) {
  const auto a = recording::ParseIsoTime("2024-05-01T12:00:00.250+02:00");
  const auto b = recording::ParseIsoTime("2024-05-01T10:00:00.250+00:00");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(*a, *b);
  EXPECT_EQ(*b, recording::WallTime(sys_days{year{2024} / 5 / 1} + hours(10) + milliseconds(250)));
  EXPECT_FALSE(recording::ParseIsoTime("2024-13-01T10:00:00.250+00:00"));
}

}  // namespace
