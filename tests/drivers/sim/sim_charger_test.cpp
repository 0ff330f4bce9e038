// The simulated charger's register rules, seen over the bus: status from the board conditions,
// DAC resolutions, the control register, test mode, VDT, the EEPROM burn and its reload.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "adapter/ErrorCodes.h"
#include "drivers/sim/SimDriver.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

class SimCharger : public ::testing::Test {
 protected:
  SimCharger() { Attach(std::make_shared<Board>()); }

  void Attach(std::shared_ptr<Board> b) {
    board = std::move(b);
    adapter = std::make_unique<Adapter>(board);
    EXPECT_EQ(adapter->OpenDevice(kAdapterName), 0);
  }
  int16_t Write(uint8_t r, uint16_t v) { return adapter->SmbWriteWord(r, static_cast<int16_t>(v), 0x67); }
  uint16_t Read(uint8_t r) {
    int16_t w = 0;
    EXPECT_EQ(adapter->SmbReadWord(r, w, 0x67), VB_OK) << "register " << int(r);
    return static_cast<uint16_t>(w);
  }
  void EnterTestMode() { ASSERT_EQ(Write(reg::TM1, 0x0201), VB_OK); }

  std::shared_ptr<Board> board;
  std::unique_ptr<Adapter> adapter;
};

// A folder of its own for each test, gone afterwards.
class TempDir {
 public:
  TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = fs::temp_directory_path() /
            ("korvo_sim_" + std::to_string(::getpid()) + "_" + info->test_suite_name() + "_" + info->name());
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

TEST_F(SimCharger, PowerOnValues) {
  EXPECT_EQ(Read(reg::Control), kPowerOnControl);
  EXPECT_EQ(Read(reg::ChargeCurrent), kPowerOnChargeCurrent);
  EXPECT_EQ(Read(reg::ChargeVoltage), 16800);
  EXPECT_EQ(Read(reg::InputCurrent), kPowerOnInputCurrent);
  EXPECT_EQ(Read(reg::TM1), 0);
  EXPECT_EQ(Read(reg::TM2), 0);
  const TrimEeprom factory;
  EXPECT_EQ(Read(reg::TR0), factory.tr0);
  EXPECT_EQ(Read(reg::TR1), factory.tr1);
  EXPECT_EQ(Read(reg::TR2), factory.tr2);
}

TEST_F(SimCharger, StatusFollowsTheBoardConditions) {
  struct Case {
    Conditions c;
    uint16_t status;
  };
  const Case cases[] = {
      {{true, true, true}, 0x8080},    // ACDET, AC2SYS
      {{true, true, false}, 0x8082},   // + CHGOFF
      {{true, false, true}, 0x8082},   // nothing to charge
      {{true, false, false}, 0x8082},
      {{false, true, true}, 0x2042},   // AC<BT, BAT2SYS, CHGOFF: cannot charge from the battery
      {{false, true, false}, 0x2042},
  };
  for (const auto& k : cases) {
    board->SetConditions(k.c);
    EXPECT_EQ(Read(reg::Status), k.status)
        << "ac " << k.c.acPresent << " battery " << k.c.batteryPresent << " charging " << k.c.charging;
    EXPECT_EQ(board->GetConditions(), k.c);
  }
}

TEST_F(SimCharger, WithoutAnySupplyTheChargerDoesNotAnswerAndStartsAfreshWhenPowered) {
  EnterTestMode();
  ASSERT_EQ(Write(reg::ChargeVoltage, 12000), VB_OK);
  ASSERT_EQ(Write(reg::TR0, 0x1111), VB_OK);
  board->SetConditions({false, false, true});
  int16_t w = 0;
  EXPECT_EQ(adapter->SmbReadWord(reg::Status, w, 0x67), VB_T2H_NACK);
  EXPECT_EQ(Write(reg::ChargeVoltage, 9000), VB_T2H_NACK);
  EXPECT_EQ(adapter->I2CByteOp(2, 0xA0, 0, w), VB_OK) << "the EEPROM device is powered by the adapter";
  board->SetConditions({false, true, true});
  EXPECT_EQ(Read(reg::ChargeVoltage), kPowerOnChargeVoltage);
  EXPECT_EQ(Read(reg::TR0), TrimEeprom{}.tr0) << "trims come back from the EEPROM";
  EXPECT_FALSE(board->TestMode());
}

TEST_F(SimCharger, StatusIsReadOnly) {
  EXPECT_EQ(Write(reg::Status, 0xFFFF), VB_OK);
  EXPECT_EQ(Read(reg::Status), 0x8080);
  EXPECT_EQ(Write(reg::Status, 0x0000), VB_OK);
  EXPECT_EQ(Read(reg::Status), 0x8080);
}

TEST_F(SimCharger, EveryValidVoltageThatIsAMultipleOfTheStepReadsBackUnchanged) {
  auto check = [&](unsigned mv) {
    ASSERT_EQ(Write(reg::ChargeVoltage, static_cast<uint16_t>(mv)), VB_OK);
    ASSERT_EQ(Read(reg::ChargeVoltage), mv) << mv << " mV";
  };
  check(9000);
  for (unsigned mv = 12000; mv <= 14400; mv += 8) check(mv);
  for (unsigned mv = 16000; mv <= 19200; mv += 8) check(mv);
}

TEST_F(SimCharger, EveryValidCurrentThatIsAMultipleOfTheStepReadsBackUnchanged) {
  for (uint8_t r : {reg::ChargeCurrent, reg::InputCurrent}) {
    for (unsigned ma = 0; ma <= 16256; ma += 128) {
      ASSERT_EQ(Write(r, static_cast<uint16_t>(ma)), VB_OK);
      ASSERT_EQ(Read(r), ma) << "register " << int(r) << ", " << ma << " mA";
    }
  }
}

TEST_F(SimCharger, UnimplementedBitsReadZero) {
  struct Case {
    uint8_t r;
    uint16_t written;
    uint16_t read;
  };
  const Case cases[] = {
      {reg::ChargeVoltage, 16801, 16800}, {reg::ChargeVoltage, 0xFFFF, 0x7FF8},
      {reg::ChargeVoltage, 0x8000, 0},    {reg::ChargeCurrent, 16257, 16256},
      {reg::ChargeCurrent, 0xFFFF, 0x3F80}, {reg::ChargeCurrent, 16384, 0},
      {reg::InputCurrent, 0x007F, 0},     {reg::InputCurrent, 0xC0FF, 0x0080},
      {reg::Control, 0xFFFB, 0x0FF9},     {reg::Control, 0xF002, 0},
      {reg::Control, 0x0001, 0x0001},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Write(c.r, c.written), VB_OK);
    EXPECT_EQ(Read(c.r), c.read) << "register " << int(c.r) << " written " << c.written;
  }
}

TEST_F(SimCharger, ResetBitRestoresThePowerOnValuesAndReadsZero) {
  ASSERT_EQ(Write(reg::ChargeVoltage, 12600), VB_OK);
  ASSERT_EQ(Write(reg::ChargeCurrent, 2048), VB_OK);
  ASSERT_EQ(Write(reg::InputCurrent, 1024), VB_OK);
  ASSERT_EQ(Write(reg::Control, 0x0F01), VB_OK);
  EnterTestMode();
  ASSERT_EQ(Write(reg::TR1, 0x1234), VB_OK);

  ASSERT_EQ(Write(reg::Control, 0x0FFD), VB_OK);  // RST with other bits
  EXPECT_EQ(Read(reg::Control), kPowerOnControl);
  EXPECT_EQ(Read(reg::Control) & kControlRst, 0);
  EXPECT_EQ(Read(reg::ChargeVoltage), kPowerOnChargeVoltage);
  EXPECT_EQ(Read(reg::ChargeCurrent), kPowerOnChargeCurrent);
  EXPECT_EQ(Read(reg::InputCurrent), kPowerOnInputCurrent);
  EXPECT_EQ(Read(reg::TR1), 0x1234) << "trims and test mode are not charger settings";
  EXPECT_TRUE(board->TestMode());
}

TEST_F(SimCharger, TrimAndTestModeRegistersTakeWritesOnlyInTestMode) {
  for (uint8_t r : {reg::TR0, reg::TR1, reg::TR2, reg::TM2}) {
    const uint16_t before = Read(r);
    EXPECT_EQ(Write(r, 0xA5A5), VB_OK) << "acknowledged";
    EXPECT_EQ(Read(r), before) << "register " << int(r) << " unchanged outside test mode";
  }
  EnterTestMode();
  for (uint8_t r : {reg::TR0, reg::TR1, reg::TR2, reg::TM2}) {
    ASSERT_EQ(Write(r, 0xA5A5), VB_OK);
    EXPECT_EQ(Read(r), 0xA5A5) << "register " << int(r);
    ASSERT_EQ(Write(r, 0xFFFF), VB_OK);
    EXPECT_EQ(Read(r), 0xFFFF) << "register " << int(r) << " keeps all 16 bits";
  }
  ASSERT_EQ(Write(reg::TM1, 0x0000), VB_OK);
  EXPECT_FALSE(board->TestMode());
  EXPECT_EQ(Write(reg::TR0, 0x0001), VB_OK);
  EXPECT_EQ(Read(reg::TR0), 0xFFFF) << "test mode ended: the trims keep their values, writes are refused";
}

TEST_F(SimCharger, TestModeRegisterIsAlwaysWritable) {
  for (uint16_t v : {0x0201, 0x0000, 0xFFFE, 0x0001}) {
    ASSERT_EQ(Write(reg::TM1, v), VB_OK);
    EXPECT_EQ(Read(reg::TM1), v);
    EXPECT_EQ(board->TestMode(), (v & kTestModeEnable) != 0);
  }
}

TEST_F(SimCharger, TestBitsOfTheChargerRegistersExistOnlyInTestMode) {
  EnterTestMode();
  ASSERT_EQ(Write(reg::ChargeCurrent, 0xFFFF), VB_OK);
  ASSERT_EQ(Write(reg::InputCurrent, 0xFFFF), VB_OK);
  ASSERT_EQ(Write(reg::ChargeVoltage, 0xFFFF), VB_OK);
  ASSERT_EQ(Write(reg::Control, 0xFFFB), VB_OK);
  EXPECT_EQ(Read(reg::ChargeCurrent), 0x3FFF);
  EXPECT_EQ(Read(reg::InputCurrent), 0x3FFF);
  EXPECT_EQ(Read(reg::ChargeVoltage), 0x7FF9);
  EXPECT_EQ(Read(reg::Control), 0xFFFB);
  ASSERT_EQ(Write(reg::TM1, 0x0000), VB_OK);
  EXPECT_EQ(Read(reg::ChargeCurrent), 0x3F80);
  EXPECT_EQ(Read(reg::InputCurrent), 0x3F80);
  EXPECT_EQ(Read(reg::ChargeVoltage), 0x7FF8);
  EXPECT_EQ(Read(reg::Control), 0x0FF9);
}

TEST_F(SimCharger, VdtIsReadOnlyAndFollowsTheChargingVoltage) {
  struct Case {
    uint16_t mv;
    uint16_t vdt;
  };
  const Case cases[] = {
      {9000, 0x0011},               // two cells, Nine Volt
      {12000, 0x0002},              // three cells, bottom of the range
      {12600, 0x0002 | (18 << 7)},  // (12600-12000)/32 = 18
      {14400, 0x0002 | (75 << 7)},
      {16000, 0x0004},
      {16800, 0x0004 | (25 << 7)},
      {19200, 0x0004 | (100 << 7)},
      {8992, 0x0028},               // Low OutOf Range, Chg Inhibit
      {9008, 0x0028},
      {15000, 0x0048},              // Mid OutOf Range
      {19208, 0x8008},              // High OutOf Range
  };
  for (const auto& c : cases) {
    ASSERT_EQ(Write(reg::ChargeVoltage, c.mv), VB_OK);
    EXPECT_EQ(Read(reg::VDT), c.vdt) << c.mv << " mV";
  }
  EnterTestMode();
  const uint16_t before = Read(reg::VDT);
  EXPECT_EQ(Write(reg::VDT, 0x1234), VB_OK);
  EXPECT_EQ(Read(reg::VDT), before) << "read-only in test mode too";
}

TEST_F(SimCharger, BurnCopiesTheTrimsAndANewBoardLoadsThem) {
  EnterTestMode();
  ASSERT_EQ(Write(reg::TR0, 0x1234), VB_OK);
  ASSERT_EQ(Write(reg::TR1, 0x5678), VB_OK);
  ASSERT_EQ(Write(reg::TR2, 0x9ABC), VB_OK);
  ASSERT_EQ(Write(reg::TM2, 0x0F0F), VB_OK);
  // The window's sequence: burn on, wait, burn off.
  ASSERT_EQ(Write(reg::TM1, 0x0205), VB_OK);
  adapter->Wait(1);
  ASSERT_EQ(Write(reg::TM1, 0x0201), VB_OK);
  EXPECT_EQ(board->BurnCount(), 1);
  EXPECT_EQ(board->Eeprom(), (TrimEeprom{0x1234, 0x5678, 0x9ABC}));

  Board::Options o;
  o.eeprom = board->Eeprom();
  Attach(std::make_shared<Board>(o));
  EXPECT_EQ(Read(reg::TR0), 0x1234);
  EXPECT_EQ(Read(reg::TR1), 0x5678);
  EXPECT_EQ(Read(reg::TR2), 0x9ABC);
  EXPECT_EQ(Read(reg::TM2), 0) << "test-mode settings are not burned";
}

TEST_F(SimCharger, BurnNeedsTestModeInTheSameWrite) {
  ASSERT_EQ(Write(reg::TM1, kTestModeBurn), VB_OK);  // TMEE BURN without TMEN
  EXPECT_EQ(board->BurnCount(), 0);
  EXPECT_EQ(board->Eeprom(), TrimEeprom{});
  ASSERT_EQ(Write(reg::TM1, 0x0205), VB_OK);  // entering test mode and burning at once
  EXPECT_EQ(board->BurnCount(), 1);
}

TEST_F(SimCharger, PowerCycleReloadsTheBurnedTrims) {
  EnterTestMode();
  ASSERT_EQ(Write(reg::TR0, 0x0A0A), VB_OK);
  ASSERT_EQ(Write(reg::TM1, 0x0205), VB_OK);
  ASSERT_EQ(Write(reg::TR0, 0x0B0B), VB_OK);  // trimmed again, not burned
  board->PowerCycle();
  EXPECT_EQ(Read(reg::TR0), 0x0A0A);
  EXPECT_EQ(Read(reg::TM1), 0);
}

TEST_F(SimCharger, BurnSurvivesARestartThroughTheEepromFile) {
  TempDir dir;
  const std::string file = (dir / "eeprom.ini").string();
  Board::Options o;
  o.eepromFile = file;
  Attach(std::make_shared<Board>(o));
  EXPECT_EQ(Read(reg::TR1), TrimEeprom{}.tr1) << "no file yet: factory trims";
  EnterTestMode();
  ASSERT_EQ(Write(reg::TR0, 0xBEEF), VB_OK);
  ASSERT_EQ(Write(reg::TR1, 0x0001), VB_OK);
  ASSERT_EQ(Write(reg::TR2, 0xF00D), VB_OK);
  ASSERT_EQ(Write(reg::TM1, 0x0205), VB_OK);
  ASSERT_TRUE(fs::exists(file));
  EXPECT_FALSE(fs::exists(file + ".tmp"));

  Attach(std::make_shared<Board>(o));
  EXPECT_EQ(Read(reg::TR0), 0xBEEF);
  EXPECT_EQ(Read(reg::TR1), 0x0001);
  EXPECT_EQ(Read(reg::TR2), 0xF00D);
}

TEST_F(SimCharger, DamagedEepromFileKeepsWhatItCanRead) {
  TempDir dir;
  const std::string file = (dir / "eeprom.ini").string();
  std::ofstream(file) << "[Eeprom]\n0x10=12345\n0x11=zz\n0x16= 00ff \ngarbage\n";
  Board::Options o;
  o.eepromFile = file;
  o.eeprom = TrimEeprom{1, 2, 3};
  Attach(std::make_shared<Board>(o));
  EXPECT_EQ(Read(reg::TR0), 1) << "five digits are not a word";
  EXPECT_EQ(Read(reg::TR1), 2);
  EXPECT_EQ(Read(reg::TR2), 0x00FF);
}

TEST_F(SimCharger, BurnThatCannotBeSavedIsReportedNotHidden) {
  TempDir dir;
  Board::Options o;
  o.eepromFile = (dir / "missing-folder" / "eeprom.ini").string();
  Attach(std::make_shared<Board>(o));
  EnterTestMode();
  ASSERT_EQ(Write(reg::TR0, 0x4444), VB_OK);
  EXPECT_EQ(Write(reg::TM1, 0x0205), VB_ZENTIO_OCX_INTERNAL_ERROR);
  EXPECT_EQ(board->Eeprom().tr0, 0x4444) << "the charger itself did burn";
}

TEST_F(SimCharger, BackDoorPinsComputedRegistersUntilCleared) {
  board->Poke(reg::Status, 0x8001);
  EXPECT_EQ(Read(reg::Status), 0x8001);
  board->SetConditions({false, true, true});
  EXPECT_EQ(Read(reg::Status), 0x2042) << "new conditions take over";
  board->Poke(reg::VDT, 0xFFFF);
  EXPECT_EQ(Read(reg::VDT), 0xFFFF);
  board->ClearOverrides();
  EXPECT_EQ(Read(reg::VDT), board->Peek(reg::VDT));
  EXPECT_NE(Read(reg::VDT), 0xFFFF);
  board->Poke(reg::ChargeVoltage, 0xFFFF);
  EXPECT_EQ(Read(reg::ChargeVoltage), 0xFFFF) << "no masks through the back door";
  board->Poke(0x20, 1);
  EXPECT_EQ(board->Peek(0x20), 0);
  EXPECT_EQ(board->TransactionCount(), 6u) << "the back door is not bus traffic";
}

}  // namespace
}  // namespace sim
