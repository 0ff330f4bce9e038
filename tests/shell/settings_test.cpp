#include "shell/Settings.h"

#include <gtest/gtest.h>

#include <string>

#include "shell/Paths.h"
#include "shell/Utils.h"
#include "shell_temp_dir.h"

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.path() + "/korvo.ini";
    Settings::SetFile(path_);
    Scramble();
  }
  void TearDown() override {
    Settings::SetFile("");
    Settings::ResetToDefaults();
  }
  void WriteIni(const std::string& text) { dir_.Write("korvo.ini", text); }
  // Values no loader would produce from an absent file, so a forgotten assignment shows.
  static void Scramble() {
    modGlobals::BitHi = modGlobals::BitLo = modGlobals::BitUnknown = -7;
    modGlobals::DeviceAddress = -7;
    modGlobals::I2CMode = true;
    modGlobals::VerifyWrite = false;
    modGlobals::ReadRetryCount = -7;
  }
  void LoadAll() {
    Settings::LoadColors();
    Settings::LoadCommSettings();
  }

  ShellTempDir dir_;
  std::string path_;
};

TEST_F(SettingsTest, NoFileGivesEveryDefault) {
  LoadAll();
  EXPECT_EQ(modGlobals::BitHi, 0x7F80FF);
  EXPECT_EQ(modGlobals::BitLo, 0x7FBF00);
  EXPECT_EQ(modGlobals::BitUnknown, 0xCFCFCF);
  EXPECT_EQ(modGlobals::DeviceAddress, 103);
  EXPECT_EQ(Utils::Hex16(modGlobals::DeviceAddress), "67");
  EXPECT_FALSE(modGlobals::I2CMode);
  EXPECT_TRUE(modGlobals::VerifyWrite);
  EXPECT_EQ(modGlobals::ReadRetryCount, 0);
}

TEST_F(SettingsTest, EmptyFileAndForeignSectionsGiveEveryDefault) {
  WriteIni("[Other]\nBitHi=1\nAddress=1\nCommMode=0\n");
  LoadAll();
  EXPECT_EQ(modGlobals::BitHi, 0x7F80FF);
  EXPECT_EQ(modGlobals::DeviceAddress, 103);
  EXPECT_FALSE(modGlobals::I2CMode);
  EXPECT_TRUE(modGlobals::VerifyWrite);
  EXPECT_EQ(modGlobals::ReadRetryCount, 0);
}

TEST_F(SettingsTest, ResetToDefaultsRestoresTheNoFileValues) {
  Settings::ResetToDefaults();
  EXPECT_EQ(modGlobals::BitHi, Settings::kDefaultBitHi);
  EXPECT_EQ(modGlobals::BitLo, Settings::kDefaultBitLo);
  EXPECT_EQ(modGlobals::BitUnknown, Settings::kDefaultBitUnknown);
  EXPECT_EQ(modGlobals::DeviceAddress, Settings::kDefaultAddress);
  EXPECT_FALSE(modGlobals::I2CMode);
  EXPECT_TRUE(modGlobals::VerifyWrite);
  EXPECT_EQ(modGlobals::ReadRetryCount, 0);
}

TEST_F(SettingsTest, ColorsAreReadIndependently) {
  WriteIni("[colors]\nbitlo=255\n");
  Settings::LoadColors();
  EXPECT_EQ(modGlobals::BitHi, 0x7F80FF);
  EXPECT_EQ(modGlobals::BitLo, 255);
  EXPECT_EQ(modGlobals::BitUnknown, 0xCFCFCF);
  WriteIni("[Colors]\nBitHi=1\nBitLo=2\nBitUnknown=16777215\n");
  Settings::LoadColors();
  EXPECT_EQ(modGlobals::BitHi, 1);
  EXPECT_EQ(modGlobals::BitLo, 2);
  EXPECT_EQ(modGlobals::BitUnknown, 0xFFFFFF);
  // The colour loader leaves the communication settings alone.
  EXPECT_EQ(modGlobals::DeviceAddress, -7);
}

TEST_F(SettingsTest, AddressIsClampedIntoSixteenBits) {
  const std::pair<std::string, int16_t> cases[] = {
      {"18", 18}, {"0", 0}, {"", 0}, {"x", 0}, {"-1", -1}, {"32767", 32767},
      {"40000", 32767}, {"-40000", -32768}, {"99999999999", 32767}, {"0x66", 0},
  };
  for (const auto& [text, value] : cases) {
    WriteIni("[Target]\nAddress=" + text + "\n");
    Settings::LoadCommSettings();
    EXPECT_EQ(modGlobals::DeviceAddress, value) << '"' << text << '"';
  }
  WriteIni("[Target]\nAddress=18\n");
  Settings::LoadCommSettings();
  EXPECT_EQ(Utils::Hex16(modGlobals::DeviceAddress), "12");
}

TEST_F(SettingsTest, CommModeZeroMeansI2CAnythingElseSMBus) {
  const std::pair<std::string, bool> cases[] = {
      {"0", true}, {"1", false}, {"5", false}, {"-1", false}, {"", true}, {"abc", true}, {"0x1", true},
  };
  for (const auto& [text, i2c] : cases) {
    modGlobals::I2CMode = !i2c;
    WriteIni("[Settings]\nCommMode=" + text + "\n");
    Settings::LoadCommSettings();
    EXPECT_EQ(modGlobals::I2CMode, i2c) << '"' << text << '"';
  }
}

TEST_F(SettingsTest, VerifyWriteIsTrueExactlyWhenNotZero) {
  const std::pair<std::string, bool> cases[] = {
      {"0", false}, {"1", true}, {"2", true}, {"-1", true}, {"", false}, {"no", false},
  };
  for (const auto& [text, verify] : cases) {
    modGlobals::VerifyWrite = !verify;
    WriteIni("[Settings]\nVerifyWrite=" + text + "\n");
    Settings::LoadCommSettings();
    EXPECT_EQ(modGlobals::VerifyWrite, verify) << '"' << text << '"';
  }
}

TEST_F(SettingsTest, ReadRetryCountNeverNegative) {
  const std::pair<std::string, int16_t> cases[] = {
      {"-3", 0}, {"0", 0}, {"3", 3}, {"40000", 32767}, {"-40000", 0}, {"", 0}, {"2 tries", 2},
  };
  for (const auto& [text, value] : cases) {
    WriteIni("[Settings]\nReadRetryCount=" + text + "\n");
    Settings::LoadCommSettings();
    EXPECT_EQ(modGlobals::ReadRetryCount, value) << '"' << text << '"';
  }
}

TEST_F(SettingsTest, FullFileWithWindowsLineEnds) {
  WriteIni(
      "[Colors]\r\nBitHi=255\r\nBitLo=65280\r\nBitUnknown=8421504\r\n"
      "[Target]\r\nAddress=102\r\n"
      "[Settings]\r\nCommMode=0\r\nVerifyWrite=0\r\nReadRetryCount=2\r\n");
  LoadAll();
  EXPECT_EQ(modGlobals::BitHi, 255);
  EXPECT_EQ(modGlobals::BitLo, 65280);
  EXPECT_EQ(modGlobals::BitUnknown, 8421504);
  EXPECT_EQ(modGlobals::DeviceAddress, 102);
  EXPECT_TRUE(modGlobals::I2CMode);
  EXPECT_FALSE(modGlobals::VerifyWrite);
  EXPECT_EQ(modGlobals::ReadRetryCount, 2);
}

TEST_F(SettingsTest, EveryReadSeesTheFileAsItIsNow) {
  EXPECT_EQ(Settings::GetInt("Settings", "ReadRetryCount", 4), 4);
  EXPECT_EQ(Settings::GetString("SpinCustom 1", "Desc"), "");
  WriteIni("[Settings]\nReadRetryCount=1\n[SpinCustom 1]\nDesc=\"first\"\n");
  EXPECT_EQ(Settings::GetInt("Settings", "ReadRetryCount", 4), 1);
  EXPECT_EQ(Settings::GetString("SpinCustom 1", "Desc"), "first");
  WriteIni("[Settings]\nReadRetryCount=6\n");
  EXPECT_EQ(Settings::GetInt("Settings", "ReadRetryCount", 4), 6);
  EXPECT_EQ(Settings::GetString("SpinCustom 1", "Desc", "none"), "none");
}

TEST(SettingsFile, DefaultsToTheIniBesideTheExecutable) {
  Settings::SetFile("");
  const std::string expected = Paths::ProgramDir() + "/" + Paths::ProgramBaseName() + ".ini";
  EXPECT_EQ(Settings::DefaultFile(), expected);
  EXPECT_EQ(Settings::File(), expected);

  ShellTempDir dir;
  Paths::SetProgramDirForTesting(dir.path());
  EXPECT_EQ(Settings::File(), dir.path() + "/" + Paths::ProgramBaseName() + ".ini");
  dir.Write(Paths::ProgramBaseName() + ".ini", "[Target]\nAddress=18\n");
  Settings::LoadCommSettings();
  EXPECT_EQ(modGlobals::DeviceAddress, 18);

  Settings::SetFile("/elsewhere/other.ini");
  EXPECT_EQ(Settings::File(), "/elsewhere/other.ini");
  Settings::SetFile("");
  Paths::SetProgramDirForTesting("");
  EXPECT_EQ(Settings::File(), expected);
  Settings::ResetToDefaults();
}

TEST(ClampToInt16, Bounds) {
  EXPECT_EQ(Settings::ClampToInt16(0), 0);
  EXPECT_EQ(Settings::ClampToInt16(32767), 32767);
  EXPECT_EQ(Settings::ClampToInt16(32768), 32767);
  EXPECT_EQ(Settings::ClampToInt16(-32768), -32768);
  EXPECT_EQ(Settings::ClampToInt16(-32769), -32768);
  EXPECT_EQ(Settings::ClampToInt16(std::numeric_limits<int32_t>::max()), 32767);
  EXPECT_EQ(Settings::ClampToInt16(std::numeric_limits<int32_t>::min()), -32768);
}

}  // namespace
