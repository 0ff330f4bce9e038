// Bench instrument readings in the recordings, beside the register accesses.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "recording/Recorder.h"
#include "recording/ScopedTz.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono;

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string l; std::getline(f, l);) lines.push_back(l);
  return lines;
}

class InstrumentRowsTest : public ::testing::Test {
 protected:
  InstrumentRowsTest() { options_.clock = &clock_; }
  std::unique_ptr<recording::Recorder> Open(const std::string& name) {
    std::string message;
    auto r = recording::Recorder::Open(dir_.File(name), options_, message);
    EXPECT_TRUE(r) << message;
    return r;
  }
  recording::InstrumentReading Reading(std::string_view caption, std::string_view unit, double value) {
    return {clock_.Now(), "PSU", "I1", caption, "current", unit, value};
  }
  ScopedTz tz_{"UTC0"};
  TempDir dir_;
  ManualClock clock_;
  recording::RecorderOptions options_;
};

}  // namespace

TEST_F(InstrumentRowsTest, CsvReadingGoesInTheMilliColumn) {
  auto r = Open("run.csv");
  clock_.Advance(milliseconds(1500));
  r->OnInstrumentReading(Reading("PSU CH1 current", "mA", 1792.9));
  r->Close();
  const auto lines = Lines(dir_.File("run.csv"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "1.500000,2024-05-01T10:00:01.500+00:00,PSU,measure,,PSU CH1 current,,,1792.9,0,"
                      "Communication OK\r");
}

TEST_F(InstrumentRowsTest, CsvOtherUnitsGoInTheDecimalColumnNamedInTheCaption) {
  auto r = Open("run.csv");
  r->OnInstrumentReading(Reading("PSU CH1 power", "W", 34.0645));
  r->Close();
  const auto lines = Lines(dir_.File("run.csv"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].substr(lines[1].find(",PSU,")), ",PSU,measure,,PSU CH1 power (W),,34.0645,,0,Communication OK\r");
}

TEST_F(InstrumentRowsTest, CsvReadingKeepsSevenSignificantDigits) {
  auto r = Open("run.csv");
  r->OnInstrumentReading(Reading("PSU CH1 current", "mA", 2048.000123));
  r->Close();
  EXPECT_NE(Lines(dir_.File("run.csv"))[1].find(",,,2048,0,"), std::string::npos);
}

TEST_F(InstrumentRowsTest, CsvColumnSetIsUnchanged) {
  auto r = Open("run.csv");
  r->OnInstrumentReading(Reading("PSU CH1 current", "mA", 1));
  r->Close();
  const auto lines = Lines(dir_.File("run.csv"));
  EXPECT_EQ(std::count(lines[0].begin(), lines[0].end(), ','), std::count(lines[1].begin(), lines[1].end(), ','));
}

TEST_F(InstrumentRowsTest, CsvLabelWithCommaIsQuoted) {
  auto r = Open("run.csv");
  r->OnInstrumentReading({clock_.Now(), "Load, left", "I1", "Load, left CH1 current", "current", "mA", 5});
  r->Close();
  EXPECT_NE(Lines(dir_.File("run.csv"))[1].find(",\"Load, left\",measure,,\"Load, left CH1 current\","),
            std::string::npos);
}
