#include "registers/Spins.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "adapter/ErrorCodes.h"
#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"
#include "drivers/sim/SimBoard.h"
#include "drivers/sim/SimDriver.h"
#include "registers/RegisterAccess.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"
#include "support/RecordingSink.h"
#include "support/TempDir.h"

namespace {

using sim::Transaction;
using Spins::BurnOutcome;
using Outcome = Spins::SpinReport::Outcome;
using Write = std::pair<uint8_t, uint16_t>;

constexpr int16_t kTimeout = VB_TIMEOUT_ERROR;
const std::string kConfirm(Spins::kSpinConfirmText);

class SpinsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteIni("");
    Settings::SetFile(ini_);
    Settings::ResetToDefaults();
    sim::Board::ResetShared(board_);
    frmUSB::SetControlFactory([] { return CreateSimControl(); });
    ASSERT_TRUE(frmUSB::Get().OpenFirstFreeDevice());
    board_->ClearHistory();
  }
  void TearDown() override {
    if (frmUSB::Loaded()) frmUSB::Get().CloseDevice();
    frmUSB::SetControlFactory(&CreateSelectedControl);
    sim::Board::ResetShared();
    Settings::SetFile("");
    Settings::ResetToDefaults();
  }
  void WriteIni(const std::string& text) { dir_.Write("korvo.ini", text); }
  std::vector<Write> Writes() const {
    std::vector<Write> w;
    for (const Transaction& t : board_->History())
      if (t.kind == Transaction::Kind::Write) w.emplace_back(t.command, t.value);
    return w;
  }
  std::vector<uint8_t> Reads() const {
    std::vector<uint8_t> r;
    for (const Transaction& t : board_->History())
      if (t.kind == Transaction::Kind::Read) r.push_back(t.command);
    return r;
  }

  TempDir dir_{"korvo_spins"};
  const std::string ini_ = dir_.File("korvo.ini");
  std::shared_ptr<sim::Board> board_ = std::make_shared<sim::Board>();
  RecordingSink sink_;
  ScopedSink scope_{&sink_};
  RegisterAccess access_;
  Spins::SpinProgrammer spins_{access_};
};

TEST_F(SpinsTest, MissingSectionOnlyEntersTestMode) {
  const Spins::SpinReport missing = spins_.ApplySpin("Custom 2");
  EXPECT_EQ(missing.outcome, Outcome::kApplied);
  EXPECT_TRUE(missing.Clean());
  EXPECT_EQ(sink_.messages, std::vector<std::string>{kConfirm});
  EXPECT_EQ(Writes(), (std::vector<Write>{{0x17, 0x0201}}));
  EXPECT_TRUE(Reads().empty());
}

// Whatever the order in the file.
TEST_F(SpinsTest, RegistersGoInTheFixedOrder) {
  WriteIni(
      "[SpinCustom 1]\n"
      "0x3F=0800\n0x15=2EE0\n0x18=FFFF\n0x10=0\n0x16=0102\n0x11=a0f\n0x14=0400\n0x12=0\n");
  modGlobals::VerifyWrite = false;
  modGlobals::DeviceAddress = 0x66;
  const Spins::SpinReport r = spins_.ApplySpin("Custom 1");
  EXPECT_EQ(r.written, 8);
  const std::vector<Write> inOrder = {{0x17, 0x0201}, {0x10, 0x0000}, {0x11, 0x0A0F},
                                      {0x12, 0x0000}, {0x14, 0x0400}, {0x15, 0x2EE0},
                                      {0x16, 0x0102}, {0x18, 0xFFFF}, {0x3F, 0x0800}};
  EXPECT_EQ(Writes(), inOrder);
  for (const Transaction& t : board_->History()) EXPECT_EQ(t.target, 0x66);
}

TEST_F(SpinsTest, DeclinedConfirmationWritesNothing) {
  WriteIni("[SpinCustom 1]\n0x10=1\n0x11=2\n");
  sink_.confirmAnswer = false;
  EXPECT_EQ(spins_.ApplySpin("Custom 1").outcome, Outcome::kDeclined);
  EXPECT_EQ(spins_.BurnEeprom(), BurnOutcome::kDeclined);
  EXPECT_EQ(board_->TransactionCount(), 0u);
  EXPECT_EQ(sink_.messages,
            (std::vector<std::string>{kConfirm, std::string(Spins::kBurnConfirmText)}));
}

TEST_F(SpinsTest, FailedTestModeEntryAborts) {
  WriteIni("[SpinCustom 1]\n0x10=1\n0x11=2\n");
  board_->FailNext(1, kTimeout);
  EXPECT_EQ(spins_.ApplySpin("Custom 1").outcome, Outcome::kAborted);
  EXPECT_EQ(sink_.messages, (std::vector<std::string>{
                                kConfirm, WriteFailureText("TM1", 0x17, kTimeout), " Aborting"}));
  EXPECT_EQ(board_->TransactionCount(), 1u);  // the failed entry write only
}

TEST_F(SpinsTest, MalformedValuesAreRefusedByNameAndTheLoopGoesOn) {
  WriteIni(
      "[SpinCustom 1]\n"
      "0x10=0x12\n0x11=12345\n0x12=\n0x13=&h12\n0x14=1G\n0x15=2EE0\n0x16=12 "
      "34\n0x18=-1\n0x3F=0800\n");
  const Spins::SpinReport r = spins_.ApplySpin("Custom 1");
  EXPECT_EQ(r.refused, 6);
  EXPECT_EQ(r.written, 2);
  EXPECT_FALSE(r.Clean());
  ASSERT_EQ(sink_.messages.size(), 7u);
  EXPECT_EQ(sink_.messages[1],
            "Register 0x10 not written: the value \"0x12\" in section [SpinCustom 1] is not 1 to 4 "
            "hex digits without any prefix.");
  EXPECT_EQ(Writes(), (std::vector<Write>{{0x17, 0x0201}, {0x15, 0x2EE0}, {0x3F, 0x0800}}));
  EXPECT_EQ(Reads(), (std::vector<uint8_t>{0x15, 0x3F}));
}

TEST_F(SpinsTest, ReadBackMismatchesAreReportedOnlyWithVerifyWrite) {
  // 0x12's RST bit resets the charger and reads 0, and 0x13 is read-only: both differ.
  WriteIni("[SpinCustom 1]\n0x10=1234\n0x12=0004\n0x13=0\n");
  for (bool verify : {true, false}) {
    SCOPED_TRACE(verify);
    modGlobals::VerifyWrite = verify;
    board_->ClearHistory();
    sink_.messages.clear();
    const Spins::SpinReport r = spins_.ApplySpin("Custom 1");
    EXPECT_EQ(r.mismatched, verify ? 2 : 0);
    EXPECT_EQ(r.readFailed, 0);
    EXPECT_EQ(r.Clean(), !verify);
    EXPECT_EQ(Reads(), verify ? (std::vector<uint8_t>{0x10, 0x12, 0x13}) : std::vector<uint8_t>{});
    std::vector<std::string> expected{kConfirm};
    if (verify)
      expected.insert(expected.end(),
                      {"Register 0x12 : Read Value does not match the value that was written!",
                       "Register 0x13 : Read Value does not match the value that was written!"});
    EXPECT_EQ(sink_.messages, expected);
  }
}

TEST_F(SpinsTest, FailedReadBackOrWriteIsReportedWithItsCodeAndTheLoopGoesOn) {
  WriteIni("[SpinCustom 1]\n0x10=1234\n0x11=5678\n");
  board_->FailNext(1, kTimeout, sim::FaultScope::Reads);
  Spins::SpinReport r = spins_.ApplySpin("Custom 1");
  EXPECT_EQ(r.readFailed, 1);
  EXPECT_EQ(r.written, 2);
  EXPECT_EQ(sink_.messages,
            (std::vector<std::string>{
                kConfirm, ReadFailureText("0x10", 0x10, kTimeout),
                "Error reading register 0x10. Error code(decimal)=8",
                "Register 0x10 : Read Value does not match the value that was written!"}));

  modGlobals::VerifyWrite = false;
  sink_.messages.clear();
  board_->Poke(0x11, 0);
  board_->FailEveryNth(2, kTimeout, sim::FaultScope::Writes);  // the write of 0x10
  r = spins_.ApplySpin("Custom 1");
  EXPECT_EQ(r.writeFailed, 1);
  EXPECT_EQ(r.written, 1);
  EXPECT_EQ(sink_.messages,
            (std::vector<std::string>{kConfirm, WriteFailureText("0x10", 0x10, kTimeout)}));
  EXPECT_EQ(board_->Peek(0x11), 0x5678);
}

// With VerifyWrite on, each preset register whose write fails is still read back: the operator
// sees what the charger now holds.
TEST_F(SpinsTest, AFailedWriteIsStillReadBack) {
  const uint8_t presetRegisters[] = {0x10, 0x11, 0x12, 0x14, 0x15, 0x16, 0x18, 0x3F};
  for (uint8_t reg : presetRegisters) {
    SCOPED_TRACE(int(reg));
    WriteIni("[SpinCustom 1]\n0x" + Text::Hex(reg, 2) + "=0001\n");
    board_->ClearFaults();
    board_->ClearHistory();
    board_->FailEveryNth(2, kTimeout, sim::FaultScope::Writes);  // the register's, not TM1's
    const Spins::SpinReport r = spins_.ApplySpin("Custom 1");
    EXPECT_EQ(r.writeFailed, 1);
    EXPECT_EQ(Reads(), std::vector<uint8_t>{reg});
  }
}

// The closing write that leaves the burn state is made even after a failed start.
TEST_F(SpinsTest, BurnIsCompleteOnlyIfBothWritesGoIn) {
  // Every Nth write fails, or the next K: the words that went through, the failures reported.
  const std::tuple<int, int, std::vector<uint16_t>, int> cases[] = {
      {0, 0, {0x0205, 0x0201}, 0},
      {0, 1, {0x0201}, 1},  // the start fails: the closing write is still made
      {2, 0, {0x0205}, 1},  // the closing write fails
      {1, 0, {}, 2}};
  for (const auto& [everyNth, next, wordsWritten, failures] : cases) {
    SCOPED_TRACE(failures + 10 * everyNth);
    board_->PowerCycle();
    board_->ClearFaults();
    board_->ClearHistory();
    sink_.messages.clear();
    if (everyNth) board_->FailEveryNth(everyNth, kTimeout, sim::FaultScope::Writes);
    if (next) board_->FailNext(next, kTimeout, sim::FaultScope::Writes);

    EXPECT_EQ(spins_.BurnEeprom(), failures ? BurnOutcome::kFailed : BurnOutcome::kComplete);
    EXPECT_EQ(board_->Count(Transaction::Kind::Write, 0x17), 2u);
    std::vector<uint16_t> written;
    for (const Transaction& t : board_->History())
      if (t.kind == Transaction::Kind::Write && t.status == 0) written.push_back(t.value);
    EXPECT_EQ(written, wordsWritten);
    std::vector<std::string> expected{std::string(Spins::kBurnConfirmText)};
    expected.insert(expected.end(), failures, WriteFailureText("TestMode1", 0x17, kTimeout));
    expected.push_back(failures ? std::string(Spins::kBurnFailedText) : "Programming complete.");
    EXPECT_EQ(sink_.messages, expected);
  }
  EXPECT_EQ(board_->BurnCount(), 2);  // the complete burn and the one whose closing write failed
}

TEST_F(SpinsTest, ExampleSettingsFileSamplesApplyCleanly) {
  const std::filesystem::path example = KORVO_EXAMPLE_INI;
  ASSERT_TRUE(std::filesystem::exists(example)) << example;
  Settings::SetFile(example.string());
  Settings::LoadCommSettings();
  EXPECT_TRUE(modGlobals::VerifyWrite);
  int samples = 0;
  for (std::string_view caption : Spins::kButtonCaptions) {
    if (Spins::Description(caption).empty()) continue;
    EXPECT_EQ(Spins::Description(caption).rfind("SAMPLE", 0), 0u) << caption;
    sink_.messages.clear();
    ++samples;
    EXPECT_TRUE(spins_.ApplySpin(caption).Clean()) << caption;
    EXPECT_EQ(sink_.messages, std::vector<std::string>{kConfirm}) << caption;
  }
  EXPECT_GE(samples, 2);
}

}  // namespace
