// The [Simulator] settings, the shared board behind CreateSimControl, the About text, and the
// simulated board seen through the link and register access like the windows see it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "adapter/ErrorCodes.h"
#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"
#include "drivers/sim/SimDriver.h"
#include "registers/RegisterAccess.h"
#include "shell/Settings.h"
#include "support/RecordingSink.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

class SimSettings : public ::testing::Test {
 protected:
  SimSettings() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::temp_directory_path() / ("korvo_simset_" + std::to_string(::getpid()) + "_" + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    Board::ResetShared();
  }
  ~SimSettings() override {
    if (frmUSB::Loaded()) frmUSB::Get().CloseDevice();
    frmUSB::SetControlFactory(nullptr);
    Settings::SetFile("");
    Settings::ResetToDefaults();
    Board::ResetShared();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  void UseSettings(const std::string& text) {
    const fs::path ini = dir / "korvo.ini";
    std::ofstream(ini) << text;
    Settings::SetFile(ini.string());
  }

  fs::path dir;
};

TEST_F(SimSettings, DefaultsWithoutASection) {
  UseSettings("[Settings]\nVerifyWrite=1\n");
  const Board::Options o = Board::OptionsFromSettings();
  EXPECT_FALSE(o.absent);
  EXPECT_EQ(o.conditions, Conditions{});
  EXPECT_EQ(o.eepromFile, "");
  EXPECT_EQ(o.faults.everyNth, 0);
  EXPECT_EQ(o.faults.rate, 0.0);
  EXPECT_EQ(o.faults.seed, 1u);
  EXPECT_EQ(o.faults.next, 0);
  EXPECT_EQ(o.faults.status, VB_TIMEOUT_ERROR);
  EXPECT_EQ(o.faults.scope, FaultScope::All);
  EXPECT_EQ(o.faults.pendingErrorAfterWrite, 0);
  EXPECT_EQ(o.latency.count(), 0);
}

TEST_F(SimSettings, EveryKeyIsRead) {
  UseSettings(
      "[simulator]\n"
      "Absent=1\nAcPresent=0\nBatteryPresent=1\nCharging=0\n"
      "EepromFile=/tmp/elsewhere/eeprom.ini\n"
      "FailEveryNth=7\nFailRate=0.125\nFailSeed=99\nFailNext=3\nFailStatus=772\nFailScope=writes\n"
      "PendingError=3\nLatencyUs=480\n");
  const Board::Options o = Board::OptionsFromSettings();
  EXPECT_TRUE(o.absent);
  EXPECT_EQ(o.conditions, (Conditions{false, true, false}));
  EXPECT_EQ(o.eepromFile, "/tmp/elsewhere/eeprom.ini");
  EXPECT_EQ(o.faults.everyNth, 7);
  EXPECT_DOUBLE_EQ(o.faults.rate, 0.125);
  EXPECT_EQ(o.faults.seed, 99u);
  EXPECT_EQ(o.faults.next, 3);
  EXPECT_EQ(o.faults.status, VB_T2H_NACK);
  EXPECT_EQ(o.faults.scope, FaultScope::Writes);
  EXPECT_EQ(o.faults.pendingErrorAfterWrite, VB_BAD_PEC);
  EXPECT_EQ(o.latency.count(), 480);
}

TEST_F(SimSettings, OddValuesFallBackToHarmlessOnes) {
  UseSettings(
      "[Simulator]\nFailRate=often\nFailScope=sometimes\nLatencyUs=-40\nFailEveryNth=-2\n"
      "FailNext=-1\nEepromFile=   \n");
  const Board::Options o = Board::OptionsFromSettings();
  EXPECT_EQ(o.faults.rate, 0.0);
  EXPECT_EQ(o.faults.scope, FaultScope::All);
  EXPECT_EQ(o.latency.count(), 0);
  EXPECT_EQ(o.faults.everyNth, 0);
  EXPECT_EQ(o.faults.next, 0);
  EXPECT_EQ(o.eepromFile, "");
  UseSettings("[Simulator]\nFailRate=7\n");
  EXPECT_EQ(Board::OptionsFromSettings().faults.rate, 1.0);
}

TEST_F(SimSettings, RelativeEepromFileLivesBesideTheSettingsFile) {
  UseSettings("[Simulator]\nEepromFile=burned.ini\n");
  EXPECT_EQ(fs::path(Board::OptionsFromSettings().eepromFile), dir / "burned.ini");
}

TEST_F(SimSettings, SettingsShapeTheSharedBoard) {
  UseSettings("[Simulator]\nAcPresent=0\nFailNext=1\nFailStatus=94\nFailScope=Reads\n");
  auto control = CreateSimControl();
  ASSERT_EQ(control->OpenDevice(kAdapterName), 0);
  int16_t w = 0;
  EXPECT_EQ(control->SmbReadWord(reg::Status, w, 0x67), VB_BUS_BUSY);
  EXPECT_EQ(control->SmbReadWord(reg::Status, w, 0x67), VB_OK);
  EXPECT_EQ(static_cast<uint16_t>(w), 0x2042);
}

TEST_F(SimSettings, AbsentSettingLeavesNothingToOpen) {
  UseSettings("[Simulator]\nAbsent=1\n");
  frmUSB::SetControlFactory(&CreateSimControl);
  EXPECT_FALSE(frmUSB::Get().OpenFirstFreeDevice());
}

TEST_F(SimSettings, ControlsShareOneBoardAndFollowItsReplacement) {
  UseSettings("");
  auto link = CreateSimControl();
  auto about = CreateSimControl();
  ASSERT_EQ(link->OpenDevice(kAdapterName), 0);
  ASSERT_EQ(about->OpenDevice(kAdapterName), 0);
  ASSERT_EQ(link->SmbWriteWord(reg::ChargeVoltage, 12000, 0x67), VB_OK);
  int16_t w = 0;
  ASSERT_EQ(about->SmbReadWord(reg::ChargeVoltage, w, 0x67), VB_OK);
  EXPECT_EQ(w, 12000);
  EXPECT_EQ(Board::Shared()->Peek(reg::ChargeVoltage), 12000);

  auto replacement = std::make_shared<Board>();
  replacement->Poke(reg::ChargeVoltage, 9000);
  Board::ResetShared(replacement);
  ASSERT_EQ(link->SmbReadWord(reg::ChargeVoltage, w, 0x67), VB_OK);
  EXPECT_EQ(w, 9000) << "controls made earlier see the new board";
  EXPECT_EQ(Board::Shared(), replacement);
  EXPECT_EQ(&static_cast<Adapter&>(*about).CurrentBoard(), replacement.get());

  Board::ResetShared();
  ASSERT_EQ(link->SmbReadWord(reg::ChargeVoltage, w, 0x67), VB_OK);
  EXPECT_EQ(w, static_cast<int16_t>(kPowerOnChargeVoltage)) << "a fresh board from the settings";
}

TEST_F(SimSettings, DriverListOffersTheSimulator) {
  const DriverInfo* d = FindDriver("sim");
  ASSERT_NE(d, nullptr);
  EXPECT_TRUE(d->simulated);
  auto control = d->create();
  int32_t count = 0;
  std::string names;
  control->ListFreeDevices(16, count, names);
  EXPECT_EQ(count, 1);
}

TEST_F(SimSettings, AboutBoxSaysSimulatedAndShowsTheBoard) {
  UseSettings("[Simulator]\nBatteryPresent=0\nFailEveryNth=5\nFailStatus=8\nLatencyUs=250\n");
  RecordingSink sink;
  ScopedSink scoped(&sink);
  CreateSimControl()->ShowAboutBox();
  ASSERT_EQ(sink.messages.size(), 1u);
  const std::string& text = sink.messages[0];
  EXPECT_NE(text.find(kAdapterName), std::string::npos);
  EXPECT_NE(text.find("simulated"), std::string::npos);
  EXPECT_NE(text.find("no battery"), std::string::npos);
  EXPECT_NE(text.find("every 5th transaction fails with 8 VB_TIMEOUT_ERROR"), std::string::npos) << text;
  EXPECT_NE(text.find("250 us"), std::string::npos);
  EXPECT_NE(text.find("\r\n"), std::string::npos);
  EXPECT_EQ(text.find("\n\n"), std::string::npos);
}

TEST_F(SimSettings, BurnThroughTheSettingsFileSurvivesANewSharedBoard) {
  UseSettings("[Simulator]\nEepromFile=eeprom.ini\n");
  auto control = CreateSimControl();
  ASSERT_EQ(control->OpenDevice(kAdapterName), 0);
  ASSERT_EQ(control->SmbWriteWord(reg::TM1, 0x0201, 0x67), VB_OK);
  ASSERT_EQ(control->SmbWriteWord(reg::TR2, 0x7E57, 0x67), VB_OK);
  ASSERT_EQ(control->SmbWriteWord(reg::TM1, 0x0205, 0x67), VB_OK);
  EXPECT_TRUE(fs::exists(dir / "eeprom.ini"));
  Board::ResetShared();
  int16_t w = 0;
  ASSERT_EQ(control->SmbReadWord(reg::TR2, w, 0x67), VB_OK);
  EXPECT_EQ(w, 0x7E57);
}

// The whole path the windows use: link, register access, both bus modes.
TEST_F(SimSettings, RegisterAccessOverTheLinkInBothBusModes) {
  UseSettings("");
  frmUSB::SetControlFactory(&CreateSimControl);
  ASSERT_TRUE(frmUSB::Get().OpenFirstFreeDevice());
  RecordingSink sink;
  ScopedSink scoped(&sink);
  RegisterAccess access;
  for (bool i2c : {false, true}) {
    modGlobals::I2CMode = i2c;
    ASSERT_EQ(access.WriteRegister("CS: Status", reg::ChargeVoltage, RegisterAccess::UIntToInt(16800), 103), 0);
    int16_t v = 0;
    ASSERT_EQ(access.ReadRegister("CS: Status", reg::ChargeVoltage, v, 103), 0) << "i2c " << i2c;
    EXPECT_EQ(v, 16800);
    ASSERT_EQ(access.ReadRegister("CS: Status", reg::Status, v, 0x66), 0);
    EXPECT_EQ(static_cast<uint16_t>(v), 0x8080);
    ASSERT_EQ(access.WriteRegister("CS: Status", reg::ChargeCurrent, RegisterAccess::UIntToInt(0xFFFF), 103), 0);
    ASSERT_EQ(access.ReadRegister("CS: Status", reg::ChargeCurrent, v, 103), 0);
    EXPECT_EQ(v, 0x3F80) << "verify-after-write shows what the charger kept";
  }
  EXPECT_TRUE(sink.messages.empty());

  // A pending error after a write reaches the user through CheckForError.
  Board::Shared()->SetPendingErrorAfterWrite(VB_BAD_PEC);
  EXPECT_EQ(access.WriteRegister("CS: Status", reg::ChargeVoltage, 12000, 103), VB_BAD_PEC);
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("VB_BAD_PEC"), std::string::npos);

  frmUSB::Get().CloseDevice();
  EXPECT_FALSE(frmUSB::Loaded());
}

}  // namespace
}  // namespace sim
