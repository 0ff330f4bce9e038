#include "registers/Spins.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "adapter/ErrorCodes.h"
#include "adapter/frmUSB.h"
#include "drivers/sim/SimBoard.h"
#include "drivers/sim/SimDriver.h"
#include "registers/RegisterAccess.h"
#include "shell/Settings.h"
#include "support/RecordingSink.h"

namespace {

namespace fs = std::filesystem;
using sim::Transaction;
using Spins::BurnOutcome;
using Outcome = Spins::SpinReport::Outcome;

constexpr int16_t kTimeout = VB_TIMEOUT_ERROR;

class SpinsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/korvo-spins-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ini_ = (dir_ / "korvo.ini").string();
    WriteIni("");
    Settings::SetFile(ini_);
    Settings::ResetToDefaults();
    NewBoard({});
    frmUSB::SetControlFactory([] { return CreateSimControl(); });
    ASSERT_TRUE(frmUSB::Get().OpenFirstFreeDevice());
    board_->ClearHistory();
  }
  void TearDown() override {
    if (frmUSB::Loaded()) frmUSB::Get().CloseDevice();
    frmUSB::SetControlFactory(nullptr);
    sim::Board::ResetShared();
    Settings::SetFile("");
    Settings::ResetToDefaults();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void WriteIni(const std::string& text) { std::ofstream(ini_, std::ios::trunc) << text; }
  void NewBoard(sim::Board::Options options) {
    board_ = std::make_shared<sim::Board>(std::move(options));
    sim::Board::ResetShared(board_);
  }

  struct Write {
    uint8_t reg;
    uint16_t value;
    bool operator==(const Write&) const = default;
  };
  std::vector<Write> Writes() const {
    std::vector<Write> w;
    for (const Transaction& t : board_->History())
      if (t.kind == Transaction::Kind::Write) w.push_back({t.command, t.value});
    return w;
  }
  std::vector<uint8_t> Reads() const {
    std::vector<uint8_t> r;
    for (const Transaction& t : board_->History())
      if (t.kind == Transaction::Kind::Read) r.push_back(t.command);
    return r;
  }

  fs::path dir_;
  std::string ini_;
  std::shared_ptr<sim::Board> board_;
  RecordingSink sink_;
  ScopedSink scope_{&sink_};
  RegisterAccess access_;
  Spins::SpinProgrammer spins_{access_};
};

const std::string kConfirm(Spins::kSpinConfirmText);

TEST_F(SpinsTest, SectionNamesAndDescriptionsFollowTheButtonCaptions) {
  WriteIni("[SpinCustom 1]\nDesc=  lot 7 trims \n[Spinrk51xx Trim1]\n0x10=1\n");
  EXPECT_EQ(Spins::SectionName("Custom 1"), "SpinCustom 1");
  EXPECT_EQ(Spins::Description("Custom 1"), "lot 7 trims");
  EXPECT_EQ(Spins::Description("rk51xx Trim1"), "");  // section without Desc
  EXPECT_EQ(Spins::Description("Custom 2"), "");      // no section
  EXPECT_EQ(Spins::FindCaption("custom 1"), "Custom 1");
  EXPECT_EQ(Spins::FindCaption("RK51XX TRIM5"), "rk51xx Trim5");
  EXPECT_EQ(Spins::FindCaption("Custom1"), std::nullopt);
  EXPECT_EQ(Spins::FindCaption(""), std::nullopt);
}

TEST_F(SpinsTest, PresetValuesAreOneToFourHexDigits) {
  const std::pair<const char*, std::optional<uint16_t>> cases[] = {
      {"FFFF", 0xFFFF}, {"0", 0},       {"1a2", 0x1A2},          {"0000", 0},
      {"ffff", 0xFFFF}, {"0x12", {}},   {"&h12", {}},            {"12345", {}},
      {"1G", {}},       {"-1", {}},     {"12 34", {}},           {"", {}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(Spins::ParsePresetValue(text), expected) << text;
}

TEST_F(SpinsTest, MissingSectionStillEntersTestModeAndShowsNothingMore) {
  const Spins::SpinReport r = spins_.ApplySpin("Custom 2");
  EXPECT_EQ(r.outcome, Outcome::kApplied);
  EXPECT_TRUE(r.Clean());
  EXPECT_EQ(sink_.messages, std::vector<std::string>{kConfirm});
  EXPECT_EQ(Writes(), (std::vector<Write>{{0x17, 0x0201}}));
  EXPECT_TRUE(Reads().empty());
  EXPECT_TRUE(board_->TestMode());
}

TEST_F(SpinsTest, RegistersAreWrittenInTheFixedOrderWhateverTheFileOrder) {
  WriteIni(
      "[SpinCustom 1]\n"
      "0x3F=0800\n0x15=2EE0\n0x18=FFFF\n0x10=0\n0x16=0102\n0x11=a0f\n0x14=0400\n0x12=0\n");
  modGlobals::VerifyWrite = false;
  const Spins::SpinReport r = spins_.ApplySpin("Custom 1");
  EXPECT_EQ(r.written, 8);
  EXPECT_EQ(Writes(), (std::vector<Write>{{0x17, 0x0201},
                                          {0x10, 0x0000},
                                          {0x11, 0x0A0F},
                                          {0x12, 0x0000},
                                          {0x14, 0x0400},
                                          {0x15, 0x2EE0},
                                          {0x16, 0x0102},
                                          {0x18, 0xFFFF},
                                          {0x3F, 0x0800}}));
  EXPECT_EQ(board_->Peek(0x18), 0xFFFF);
  EXPECT_EQ(board_->Peek(0x11), 0x0A0F);
}

TEST_F(SpinsTest, WritesGoToTheConfiguredDeviceAddress) {
  WriteIni("[SpinCustom 1]\n0x10=1\n");
  modGlobals::DeviceAddress = 0x66;
  spins_.ApplySpin("Custom 1");
  ASSERT_FALSE(board_->History().empty());
  for (const Transaction& t : board_->History()) EXPECT_EQ(t.target, 0x66);
}

TEST_F(SpinsTest, EditsOfTheFileTakeEffectAtTheNextApply) {
  WriteIni("[SpinCustom 1]\n0x10=1111\n");
  spins_.ApplySpin("Custom 1");
  EXPECT_EQ(board_->Peek(0x10), 0x1111);
  WriteIni("[SpinCustom 1]\n0x10=2222\n");
  spins_.ApplySpin("Custom 1");
  EXPECT_EQ(board_->Peek(0x10), 0x2222);
}

TEST_F(SpinsTest, DeclinedConfirmationWritesNothing) {
  WriteIni("[SpinCustom 1]\n0x10=1\n");
  sink_.confirmAnswer = false;
  EXPECT_EQ(spins_.ApplySpin("Custom 1").outcome, Outcome::kDeclined);
  EXPECT_EQ(spins_.BurnEeprom(), BurnOutcome::kDeclined);
  EXPECT_EQ(board_->TransactionCount(), 0u);
  EXPECT_EQ(sink_.messages,
            (std::vector<std::string>{kConfirm, std::string(Spins::kBurnConfirmText)}));
}

TEST_F(SpinsTest, FailedTestModeEntryAbortsBeforeAnyPresetRegister) {
  WriteIni("[SpinCustom 1]\n0x10=1\n0x11=2\n");
  board_->FailNext(1, kTimeout);
  const Spins::SpinReport r = spins_.ApplySpin("Custom 1");
  EXPECT_EQ(r.outcome, Outcome::kAborted);
  EXPECT_EQ(sink_.messages, (std::vector<std::string>{kConfirm, WriteFailureText("TM1", 0x17, kTimeout),
                                                      " Aborting"}));
  EXPECT_EQ(board_->TransactionCount(), 1u);  // the failed entry write only
}

TEST_F(SpinsTest, MalformedValuesAreRefusedByNameAndTheLoopGoesOn) {
  WriteIni(
      "[SpinCustom 1]\n"
      "0x10=0x12\n0x11=12345\n0x12=\n0x14=1G\n0x15=2EE0\n0x16=12 34\n0x3F=0800\n");
  const Spins::SpinReport r = spins_.ApplySpin("Custom 1");
  EXPECT_EQ(r.refused, 4);
  EXPECT_EQ(r.written, 2);
  EXPECT_FALSE(r.Clean());
  EXPECT_EQ(sink_.messages,
            (std::vector<std::string>{
                kConfirm,
                Spins::BadValueText("SpinCustom 1", "0x10", "0x12"),
                Spins::BadValueText("SpinCustom 1", "0x11", "12345"),
                Spins::BadValueText("SpinCustom 1", "0x14", "1G"),
                Spins::BadValueText("SpinCustom 1", "0x16", "12 34"),
            }));
  EXPECT_EQ(sink_.messages[1],
            "Register 0x10 not written: the value \"0x12\" in section [SpinCustom 1] is not 1 to 4 "
            "hex digits without any prefix.");
  EXPECT_EQ(Writes(), (std::vector<Write>{{0x17, 0x0201}, {0x15, 0x2EE0}, {0x3F, 0x0800}}));
  EXPECT_EQ(Reads(), (std::vector<uint8_t>{0x15, 0x3F}));
}

TEST_F(SpinsTest, VerifyReadsBackEveryWrittenRegisterAndReportsMismatches) {
  // 0x13 is read-only and 0x15 keeps only bits 14..3 (and bit 0 in test mode): both differ.
  WriteIni("[SpinCustom 1]\n0x10=1234\n0x13=0\n0x15=0006\n");
  const Spins::SpinReport r = spins_.ApplySpin("Custom 1");
  EXPECT_EQ(r.mismatched, 2);
  EXPECT_EQ(r.readFailed, 0);
  EXPECT_EQ(Reads(), (std::vector<uint8_t>{0x10, 0x13, 0x15}));
  EXPECT_EQ(sink_.messages,
            (std::vector<std::string>{
                kConfirm,
                "Register 0x13 : Read Value does not match the value that was written!",
                "Register 0x15 : Read Value does not match the value that was written!"}));
}

TEST_F(SpinsTest, FailedReadBackIsReportedWithItsCodeThenCompared) {
  WriteIni("[SpinCustom 1]\n0x10=1234\n0x11=5678\n");
  board_->FailNext(1, kTimeout, sim::FaultScope::Reads);
  const Spins::SpinReport r = spins_.ApplySpin("Custom 1");
  EXPECT_EQ(r.readFailed, 1);
  EXPECT_EQ(r.written, 2);
  EXPECT_EQ(sink_.messages,
            (std::vector<std::string>{
                kConfirm, ReadFailureText("0x10", 0x10, kTimeout),
                "Error reading register 0x10. Error code(decimal)=8",
                "Register 0x10 : Read Value does not match the value that was written!"}));
  EXPECT_EQ(board_->Peek(0x11), 0x5678);  // the loop went on
}

TEST_F(SpinsTest, ReadRetriesHideATransientReadBackFailure) {
  WriteIni("[SpinCustom 1]\n0x10=1234\n");
  modGlobals::ReadRetryCount = 1;
  board_->FailNext(1, kTimeout, sim::FaultScope::Reads);
  EXPECT_TRUE(spins_.ApplySpin("Custom 1").Clean());
  EXPECT_EQ(sink_.messages, std::vector<std::string>{kConfirm});
}

TEST_F(SpinsTest, WithoutVerifyNothingIsReadBackOrCompared) {
  WriteIni("[SpinCustom 1]\n0x10=1234\n0x13=0\n0x15=0006\n");
  modGlobals::VerifyWrite = false;
  const Spins::SpinReport r = spins_.ApplySpin("Custom 1");
  EXPECT_TRUE(r.Clean());
  EXPECT_TRUE(Reads().empty());
  EXPECT_EQ(sink_.messages, std::vector<std::string>{kConfirm});
}

TEST_F(SpinsTest, FailedPresetWriteIsReportedAndTheLoopGoesOn) {
  WriteIni("[SpinCustom 1]\n0x10=1234\n0x11=5678\n");
  modGlobals::VerifyWrite = false;
  board_->FailEveryNth(2, kTimeout, sim::FaultScope::Writes);  // the write of 0x10
  const Spins::SpinReport r = spins_.ApplySpin("Custom 1");
  EXPECT_EQ(r.writeFailed, 1);
  EXPECT_EQ(r.written, 1);
  EXPECT_EQ(sink_.messages,
            (std::vector<std::string>{kConfirm, WriteFailureText("0x10", 0x10, kTimeout)}));
  EXPECT_EQ(board_->Peek(0x11), 0x5678);
}

TEST_F(SpinsTest, SpinOverI2CWritesTheSameWords) {
  WriteIni("[SpinCustom 1]\n0x11=BEEF\n");
  modGlobals::I2CMode = true;
  EXPECT_TRUE(spins_.ApplySpin("Custom 1").Clean());
  EXPECT_EQ(Writes(), (std::vector<Write>{{0x17, 0x0201}, {0x11, 0xBEEF}}));
  EXPECT_EQ(board_->Peek(0x11), 0xBEEF);
}

TEST_F(SpinsTest, BurnStartsAndEndsTheBurnAndReportsCompletion) {
  WriteIni("[SpinCustom 1]\n0x10=1111\n0x11=2222\n0x16=3333\n");
  modGlobals::VerifyWrite = false;
  spins_.ApplySpin("Custom 1");
  board_->ClearHistory();
  sink_.messages.clear();

  EXPECT_EQ(spins_.BurnEeprom(), BurnOutcome::kComplete);
  EXPECT_EQ(Writes(), (std::vector<Write>{{0x17, 0x0205}, {0x17, 0x0201}}));
  EXPECT_EQ(sink_.messages, (std::vector<std::string>{std::string(Spins::kBurnConfirmText),
                                                      "Programming complete."}));
  EXPECT_EQ(board_->BurnCount(), 1);
  EXPECT_EQ(board_->Eeprom(), (sim::TrimEeprom{0x1111, 0x2222, 0x3333}));
  EXPECT_EQ(board_->Peek(0x17), 0x0201);
}

TEST_F(SpinsTest, BurnFailureIsNeverReportedAsCompleteAndTheBurnStateIsLeft) {
  struct Case {
    const char* what;
    int everyNth;  // write transactions: every Nth fails
    int next;      // the next K transactions fail
    std::vector<uint16_t> expectedWordsWritten;
    int failures;
  } cases[] = {
      {"start write fails", 0, 1, {0x0201}, 1},
      {"closing write fails", 2, 0, {0x0205}, 1},
      {"both fail", 1, 0, {}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    board_->PowerCycle();
    board_->ClearFaults();
    board_->ClearHistory();
    sink_.messages.clear();
    if (c.everyNth) board_->FailEveryNth(c.everyNth, kTimeout, sim::FaultScope::Writes);
    if (c.next) board_->FailNext(c.next, kTimeout, sim::FaultScope::Writes);

    EXPECT_EQ(spins_.BurnEeprom(), BurnOutcome::kFailed);
    // Both writes are always attempted, the closing one even after a failed start.
    EXPECT_EQ(board_->Count(Transaction::Kind::Write, 0x17), 2u);
    std::vector<uint16_t> written;
    for (const Transaction& t : board_->History())
      if (t.kind == Transaction::Kind::Write && t.status == 0) written.push_back(t.value);
    EXPECT_EQ(written, c.expectedWordsWritten);

    ASSERT_EQ(sink_.messages.size(), 2u + c.failures);
    EXPECT_EQ(sink_.messages.front(), Spins::kBurnConfirmText);
    for (int i = 0; i < c.failures; ++i)
      EXPECT_EQ(sink_.messages[1 + i], WriteFailureText("TestMode1", 0x17, kTimeout));
    EXPECT_EQ(sink_.messages.back(), Spins::kBurnFailedText);
    for (const std::string& m : sink_.messages) EXPECT_NE(m, "Programming complete.");
  }
}

TEST_F(SpinsTest, BurnWithTheAdapterAbsentReportsFailure) {
  frmUSB::Get().CloseDevice();  // the next link hosts a closed adapter
  EXPECT_EQ(spins_.BurnEeprom(), BurnOutcome::kFailed);
  EXPECT_EQ(sink_.messages.back(), Spins::kBurnFailedText);
  EXPECT_EQ(sink_.messages[1], WriteFailureText("TestMode1", 0x17, VB_NO_USB));
}

TEST_F(SpinsTest, BurnedSpinSurvivesIntoANewBoard) {
  const std::string eeprom = (dir_ / "trims.bin").string();
  sim::Board::Options options;
  options.eepromFile = eeprom;
  NewBoard(options);
  frmUSB::Get().CloseDevice();
  ASSERT_TRUE(frmUSB::Get().OpenFirstFreeDevice());

  WriteIni("[Spinrk51xx Trim3]\nDesc=lot 7\n0x10=0A5A\n0x11=1B2C\n0x16=00F0\n0x15=2EE0\n");
  EXPECT_TRUE(spins_.ApplySpin("rk51xx Trim3").Clean());
  EXPECT_EQ(spins_.BurnEeprom(), BurnOutcome::kComplete);

  // A fresh board on the same EEPROM file, as after a restart.
  frmUSB::Get().CloseDevice();
  NewBoard(options);
  ASSERT_TRUE(frmUSB::Get().OpenFirstFreeDevice());
  EXPECT_FALSE(board_->TestMode());
  int16_t v = 0;
  ASSERT_EQ(access_.ReadRegister("0x10", 0x10, v, modGlobals::DeviceAddress), 0);
  EXPECT_EQ(static_cast<uint16_t>(v), 0x0A5A);
  ASSERT_EQ(access_.ReadRegister("0x11", 0x11, v, modGlobals::DeviceAddress), 0);
  EXPECT_EQ(static_cast<uint16_t>(v), 0x1B2C);
  ASSERT_EQ(access_.ReadRegister("0x16", 0x16, v, modGlobals::DeviceAddress), 0);
  EXPECT_EQ(static_cast<uint16_t>(v), 0x00F0);
  // The charging voltage is not a trim: it comes back at its power-on value.
  EXPECT_EQ(board_->Peek(0x15), sim::kPowerOnChargeVoltage);
}

// The example settings file in the repository: its sample presets go in cleanly.
TEST_F(SpinsTest, ExampleSettingsFileSamplesApplyCleanly) {
  const fs::path example = fs::path(__FILE__).parent_path() / ".." / ".." / "korvo.ini";
  ASSERT_TRUE(fs::exists(example)) << example;
  Settings::SetFile(example.string());
  Settings::LoadColors();
  Settings::LoadCommSettings();
  EXPECT_TRUE(modGlobals::VerifyWrite);
  int withDescription = 0;
  for (std::string_view caption : Spins::kButtonCaptions) {
    const std::string desc = Spins::Description(caption);
    if (desc.empty()) continue;
    ++withDescription;
    EXPECT_EQ(desc.rfind("SAMPLE", 0), 0u) << desc;
    sink_.messages.clear();
    EXPECT_TRUE(spins_.ApplySpin(caption).Clean()) << caption;
    EXPECT_EQ(sink_.messages, std::vector<std::string>{kConfirm}) << caption;
  }
  EXPECT_GE(withDescription, 2);
}

}  // namespace
