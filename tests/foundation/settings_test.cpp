#include "foundation/Settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "foundation/Paths.h"
#include "support/TempDir.h"

namespace {

using namespace modGlobals;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings::SetFile(dir_.Path() + "/korvo.ini");
    Scramble();
  }
  void TearDown() override {
    Settings::SetFile("");
    Settings::ResetToDefaults();
  }
  void WriteIni(const std::string& text) { dir_.Write("korvo.ini", text); }
  // Values no loader would produce, so a forgotten assignment shows.
  static void Scramble() {
    BitHi = BitLo = BitUnknown = -7;
    DeviceAddress = ReadRetryCount = -7;
    I2CMode = true;
    VerifyWrite = false;
  }
  static void ExpectDefaults(const char* after) {
    EXPECT_EQ(std::make_tuple(BitHi, BitLo, BitUnknown, DeviceAddress, I2CMode, VerifyWrite,
                              ReadRetryCount),
              std::make_tuple(0x7F80FF, 0x7FBF00, 0xCFCFCF, int16_t{103}, false, true, int16_t{0}))
        << after;
  }

  TempDir dir_;
};

TEST_F(SettingsTest, EveryKeyHasItsDefault) {
  Settings::LoadColors();
  Settings::LoadCommSettings();
  ExpectDefaults("no file");
  Scramble();
  WriteIni("[Other]\nBitHi=1\nAddress=1\nCommMode=0\n");
  Settings::LoadColors();
  Settings::LoadCommSettings();
  ExpectDefaults("foreign sections only");
  Scramble();
  Settings::ResetToDefaults();
  ExpectDefaults("ResetToDefaults");
}

TEST_F(SettingsTest, CommSettingsAreClampedIntoTheirVariables) {
  // CommMode 0 means I2C, VerifyWrite is on unless 0, ReadRetryCount is never negative.
  const std::tuple<std::string, std::string, int16_t, bool, bool, int16_t> cases[] = {
      {"18", "CommMode=0\nVerifyWrite=0\nReadRetryCount=3", 18, true, false, 3},
      {"", "CommMode=\nVerifyWrite=\nReadRetryCount=", 0, true, false, 0},
      {"40000", "CommMode=1\nVerifyWrite=1\nReadRetryCount=40000", 32767, false, true, 32767},
      {"-40000", "CommMode=5\nVerifyWrite=2\nReadRetryCount=-40000", -32768, false, true, 0},
      {"0x66", "CommMode=abc\nVerifyWrite=no\nReadRetryCount=2 tries", 0, true, false, 2},
      // Wrapped modulo 2^32 first, as every integer read, then clamped to 16 bits.
      {"4294967396", "ReadRetryCount=4294967299", 100, false, true, 3},
  };
  for (const auto& [address, settings, addr, i2c, verify, retries] : cases) {
    I2CMode = !i2c;
    VerifyWrite = !verify;
    DeviceAddress = ReadRetryCount = -7;
    WriteIni("[Target]\nAddress=" + address + "\n[Settings]\n" + settings + "\n");
    Settings::LoadCommSettings();
    EXPECT_EQ(std::make_tuple(DeviceAddress, I2CMode, VerifyWrite, ReadRetryCount),
              std::make_tuple(addr, i2c, verify, retries))
        << address << "\n"
        << settings;
  }
}

TEST_F(SettingsTest, ALoadTakesEveryKeyFromOneReadingOfTheFile) {
  WriteIni(
      "[Colors]\nBitHi=1\nBitLo=2\nBitUnknown=3\n[Target]\nAddress=18\n[Settings]\nCommMode=0\n"
      "VerifyWrite=0\nReadRetryCount=2\n");
  const Settings::Snapshot reading;
  WriteIni("[Settings]\nCommMode=1\n");  // changed after the reading
  Settings::LoadColors(reading);
  Settings::LoadCommSettings(reading);
  EXPECT_EQ(std::make_tuple(BitHi, BitLo, BitUnknown, DeviceAddress, I2CMode, VerifyWrite,
                            ReadRetryCount),
            std::make_tuple(1, 2, 3, int16_t{18}, true, false, int16_t{2}));
  EXPECT_EQ(reading.GetString("Settings", "CommMode"), "0");
}

TEST(SettingsFile, DefaultsToTheIniBesideTheExecutable) {
  Settings::SetFile("");
  const std::filesystem::path exe = std::filesystem::canonical("/proc/self/exe");
  const std::string beside = exe.parent_path().string() + "/" + exe.stem().string() + ".ini";
  EXPECT_EQ(Settings::File(), beside);
}

TEST(SettingsFile, JoinInTheRootDirectoryGivesOneSlash) {
  EXPECT_EQ(Paths::Join("/", "korvo.ini"), "/korvo.ini");
}

}  // namespace
