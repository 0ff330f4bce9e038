// The simulated charger's register rules, seen over the bus: status from the board conditions,
// DAC resolutions, test mode, the EEPROM burn and its reload.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "SimRig.h"
#include "support/TempDir.h"

namespace sim {
namespace {

namespace fs = std::filesystem;
using Words = std::initializer_list<std::pair<uint8_t, uint16_t>>;  // (register, value)

constexpr uint16_t kTestModeOn = 0x0201;
constexpr uint16_t kBurn = 0x0205;  // TMEN and TMEE BURN

class SimCharger : public SimRig {
 protected:
  // Writes each register in turn; each write must succeed.
  void WriteAll(Words writes) {
    for (const auto& [r, v] : writes) ASSERT_EQ(Write(r, v), VB_OK) << "register " << int(r);
  }
  void ExpectAll(Words expected) {
    for (const auto& [r, v] : expected) EXPECT_EQ(Read(r), v) << "register " << int(r);
  }
  // A board whose trims live in file, as after a restart.
  void AttachWithEepromFile(const fs::path& file) {
    Board::Options o;
    o.eepromFile = file.string();
    Attach(std::make_shared<Board>(o));
  }
};

TEST_F(SimCharger, StatusFollowsTheBoardConditions) {
  // AC: ACDET and AC2SYS; battery alone: AC<BT and BAT2SYS; CHGOFF unless charging with both.
  const std::pair<Conditions, uint16_t> cases[] = {
      {{true, true, true}, 0x8080},   {{true, true, false}, 0x8082}, {{true, false, true}, 0x8082},
      {{false, true, true}, 0x2042}, {{false, true, false}, 0x2042}};
  for (const auto& [conditions, status] : cases) {
    board->SetConditions(conditions);
    EXPECT_EQ(Read(kStatus), status)
        << conditions.acPresent << conditions.batteryPresent << conditions.charging;
  }
}

TEST_F(SimCharger, TestBitsExistOnlyInTestMode) {
  const std::tuple<uint8_t, uint16_t, uint16_t, uint16_t> cases[] = {
      // register, written, read, in test mode
      {kChargeVoltage, 16801, 16800, 16801}, {kChargeVoltage, 0x8000, 0x8000, 0x8000},
      {kChargeCurrent, 16257, 16256, 16257}, {kChargeCurrent, 16384, 16384, 16384},
      {kInputCurrent, 0x007F, 0, 0x007F},    {kInputCurrent, 0xC0FF, 0xC080, 0xC0FF},
      {kControl, 0xFFFB, 0x0FF9, 0xFFFB},    {kControl, 0xF002, 0, 0xF002},
      {kControl, 0x0001, 0x0001, 0x0001},
  };
  for (bool testMode : {false, true}) {
    ASSERT_EQ(Write(kTestMode1, testMode ? kTestModeOn : 0), VB_OK);
    for (const auto& [r, written, read, inTestMode] : cases)
      EXPECT_EQ(WriteThenRead(r, written), testMode ? inTestMode : read)
          << int(r) << " " << written << " " << testMode;
  }
}

TEST_F(SimCharger, BurnNeedsTestModeOn) {
  WriteAll({{kTestMode1, kTestModeBurn}});  // TMEE BURN without TMEN
  EXPECT_EQ(board->BurnCount(), 0);
}

TEST_F(SimCharger, BurnCopiesTheThreeTrims) {
  WriteAll({{kTestMode1, kTestModeOn},
            {kTrim0, 0x1234},
            {kTrim1, 0x5678},
            {kTrim2, 0x9ABC},
            {kTestMode2, 0x0F0F}});
  WriteAll({{kTestMode1, kBurn}});  // the window's sequence: burn on, wait, burn off
  adapter->Wait(1);
  WriteAll({{kTestMode1, kTestModeOn}, {kTrim0, 0x0B0B}});  // trimmed again, not burned
  EXPECT_EQ(board->BurnCount(), 1);
  EXPECT_EQ(board->Eeprom(), (TrimEeprom{0x1234, 0x5678, 0x9ABC}));
}

class SimEepromFile : public SimCharger {
 protected:
  // A board as the settings file korvo.ini in dir would build it, its EEPROM in name.
  void AttachFromSettings(const std::string& name) {
    Board::Options o;
    o.eepromFile = (dir / name).string();
    o.settingsFile = (dir / "korvo.ini").string();
    board = std::make_shared<Board>(o);
    adapter = std::make_unique<Adapter>(board);
  }
  static std::string Contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Burn(uint16_t tr0) {
    WriteAll({{kTestMode1, kTestModeOn}, {kTrim0, tr0}, {kTestMode1, kBurn}});
  }

  TempDir scratch{"korvo_sim_eeprom"};
  const fs::path dir = scratch.Path();
  const std::string kWritten = "; Trim words\n[Eeprom]\n0x10=BEEF\n0x11=8C63\n0x16=F00D\n";
};

TEST_F(SimEepromFile, ABurnSurvivesARestartThroughTheEepromFile) {
  AttachWithEepromFile(dir / "eeprom.ini");
  EXPECT_EQ(Read(kTrim1), TrimEeprom{}.tr1) << "no file yet: factory trims";
  WriteAll({{kTestMode1, kTestModeOn}, {kTrim0, 0xBEEF}, {kTrim2, 0xF00D}, {kTestMode1, kBurn}});
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "no scratch file left behind";
  AttachWithEepromFile(dir / "eeprom.ini");
  ExpectAll({{kTrim0, 0xBEEF}, {kTrim1, TrimEeprom{}.tr1}, {kTrim2, 0xF00D}});
}

TEST_F(SimEepromFile, ABurnThatCannotBeSavedIsReported) {
  AttachWithEepromFile(dir / "missing-folder" / "eeprom.ini");
  WriteAll({{kTestMode1, kTestModeOn}, {kTrim0, 0x4444}});
  EXPECT_EQ(Write(kTestMode1, kBurn), VB_ZENTIO_OCX_INTERNAL_ERROR);
  EXPECT_EQ(board->Eeprom().tr0, 0x4444) << "the charger itself did burn";
  EXPECT_THAT(board->Notes(), ::testing::HasSubstr("The burn was not saved to the EEPROM file"));
}

// A file the board would not have written (a damaged one, the settings file, a directory, a
// FIFO) is named with the reason, and the adapter does not open: the board would not know its
// trims.
TEST_F(SimEepromFile, AFileThatIsNoEepromFileKeepsTheAdapterShut) {
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // must not hang the start
  fs::create_directory(dir / "folder");
  std::ofstream(dir / "korvo.ini") << "[Simulator]\nEepromFile=korvo.ini\n";
  // clang-format off
  const std::tuple<std::string, std::optional<std::string>, std::string> cases[] = {  // file, contents, reason
      {"e.ini", "\x7F" "ELF\x02\x01garbage\n", "line 1 is not the section header [Eeprom]"},
      {"e.ini", "", "it is empty"},
      {"e.ini", kWritten.substr(0, kWritten.size() - 3), "its last line is not ended (cut short?)"},
      {"e.ini", std::string(5000, ';') + "\n", "too large"},
      {"korvo.ini", std::nullopt, "it is the settings file"},
      {"fifo", std::nullopt, "it is a FIFO"},
      {"folder", std::nullopt, "it is a directory"},
  };
  // clang-format on
  for (const auto& [name, text, reason] : cases) {
    if (text) std::ofstream(dir / name, std::ios::trunc | std::ios::binary) << *text;
    AttachFromSettings(name);
    EXPECT_THAT(board->OpenRefusal(), ::testing::AllOf(::testing::HasSubstr((dir / name).string()),
                                                       ::testing::HasSubstr(reason)))
        << reason;
    EXPECT_EQ(adapter->OpenDevice(kAdapterName), -1) << reason;
  }
}

TEST_F(SimEepromFile, ABurnOverwritesNoForeignFile) {
  AttachFromSettings("eeprom.ini");  // no file yet
  ASSERT_EQ(adapter->OpenDevice(kAdapterName), 0);
  std::ofstream(dir / "eeprom.ini") << "notes of the user\n";  // turned up after the start
  WriteAll({{kTestMode1, kTestModeOn}, {kTrim0, 0x1234}});
  EXPECT_EQ(Write(kTestMode1, kBurn), VB_ZENTIO_OCX_INTERNAL_ERROR);
  EXPECT_THAT(board->Notes(), ::testing::HasSubstr("not an EEPROM file the board wrote"));
  EXPECT_EQ(Contents(dir / "eeprom.ini"), "notes of the user\n");
}

TEST_F(SimEepromFile, ABurnReplacesItsOwnFileAndNoOther) {
  AttachFromSettings("eeprom.ini");
  ASSERT_EQ(adapter->OpenDevice(kAdapterName), 0);
  std::ofstream(dir / "eeprom.ini.tmp") << "the user's own";
  Burn(0x5678);
  EXPECT_THAT(Contents(dir / "eeprom.ini"), ::testing::HasSubstr("0x10=5678"));
  Burn(0x9ABC);
  EXPECT_THAT(Contents(dir / "eeprom.ini"), ::testing::HasSubstr("0x10=9ABC"));
  EXPECT_EQ(Contents(dir / "eeprom.ini.tmp"), "the user's own");
}

}  // namespace
}  // namespace sim
