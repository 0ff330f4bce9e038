#include <gtest/gtest.h>

#include <sstream>

#include "cli/Korvoctl.h"
#include "drivers/sim/SimBoard.h"
#include "registers/Spins.h"
#include "shell/base/Settings.h"
#include "support/TempDir.h"

namespace {

const std::string kSpinConfirm = std::string(Spins::kSpinConfirmText) + "\n";
const std::string kBurnConfirm = std::string(Spins::kBurnConfirmText) + "\n";

class SpinsCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("KORVO_ADAPTER", "sim", 1);
    sim::Board::ResetShared(board_);
    WriteIni("");
  }
  void TearDown() override {
    ::unsetenv("KORVO_ADAPTER");
    sim::Board::ResetShared();
    Settings::SetFile(Settings::DefaultFile());
    Settings::ResetToDefaults();
  }
  void WriteIni(const std::string& text) { dir_.Write("korvo.ini", text); }
  int Run(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"--ini", ini_});
    out_.str("");
    err_.str("");
    std::istringstream in(input);
    return RunKorvoctl(args, out_, err_, in);
  }

  TempDir dir_{"korvo_spins_cli"};
  const std::string ini_ = dir_.File("korvo.ini");
  const std::string eeprom_ = dir_.File("eeprom.txt");
  std::shared_ptr<sim::Board> board_ = std::make_shared<sim::Board>();
  std::ostringstream out_, err_;
};

TEST_F(SpinsCliTest, ConfirmationIsAskedAtTheTerminal) {
  WriteIni("[SpinCustom 1]\n0x10=1234\n");
  EXPECT_EQ(Run({"spin", "Custom 1"}, "y\n"), kExitOk);
  EXPECT_EQ(err_.str(), kSpinConfirm + "Continue? [y/N] ");
  EXPECT_EQ(board_->Peek(0x10), 0x1234);

  board_->ClearHistory();
  for (const char* answer : {"n\n", "\n", ""}) {
    EXPECT_EQ(Run({"spin", "Custom 1", "burn"}, answer), kExitDeclined) << answer;
    EXPECT_EQ(board_->Count(sim::Transaction::Kind::Write), 0u);
    EXPECT_EQ(board_->BurnCount(), 0);
  }
}

// A failed burn, or a spin that did not go in cleanly (which stops the burn after it), is a bus error.
TEST_F(SpinsCliTest, FailedBurnOrUncleanSpinIsABusError) {
  const std::tuple<const char*, bool, std::string_view> cases[] = {
      {"", true, Spins::kBurnFailedText},
      {"[SpinCustom 1]\n0x10=0x12\n", false, "Register 0x10 not written: the value \"0x12\""},
      {"[SpinCustom 1]\n0x13=0\n", false, "Register 0x13 : Read Value does not match"},
  };
  for (const auto& [ini, failWrite, expectedMessage] : cases) {
    WriteIni(ini);
    if (failWrite) board_->FailNext(1, 8, sim::FaultScope::Writes);
    EXPECT_EQ(Run(failWrite ? std::vector<std::string>{"--yes", "burn"}
                            : std::vector<std::string>{"--yes", "spin", "Custom 1", "burn"}),
              kExitBus) << ini;
    EXPECT_NE(err_.str().find(expectedMessage), std::string::npos) << err_.str();
    EXPECT_EQ(err_.str().find("Programming complete."), std::string::npos);
    EXPECT_EQ(board_->BurnCount(), 0);
  }
}

TEST_F(SpinsCliTest, UnknownOrMissingCaptionIsAUsageError) {
  EXPECT_EQ(Run({"spin", "Trim1"}), kExitUsage);
  EXPECT_NE(err_.str().find("unknown spin 'Trim1': expected one of 'rk51xx Trim1'"), std::string::npos);
  EXPECT_EQ(Run({"spin"}), kExitUsage);
  EXPECT_NE(err_.str().find("spin caption is missing"), std::string::npos);
  EXPECT_EQ(board_->TransactionCount(), 0u);
}

// Spin (the caption in any case), burn, then a new board on the same EEPROM file comes up with
// the burned trims.
TEST_F(SpinsCliTest, BurnedSpinIsLoadedByANewBoard) {
  sim::Board::Options options;
  options.eepromFile = eeprom_;
  sim::Board::ResetShared(board_ = std::make_shared<sim::Board>(options));
  WriteIni("[Spinrk51xx Trim4]\n0x10=0A5A\n0x11=1B2C\n0x16=00F0\n");
  EXPECT_EQ(Run({"--yes", "spin", "RK51XX trim4", "burn"}), kExitOk);
  EXPECT_EQ(err_.str(), kSpinConfirm + kBurnConfirm + "Programming complete.\n");
  EXPECT_EQ(out_.str(), "");

  sim::Board::ResetShared(std::make_shared<sim::Board>(options));
  EXPECT_EQ(Run({"read", "0x10", "read", "0x11", "read", "0x16", "read", "0x17"}), kExitOk);
  EXPECT_EQ(out_.str(), "0x10 0x0A5A 2650\n0x11 0x1B2C 6956\n0x16 0x00F0 240\n0x17 0x0000 0\n");
}

}  // namespace
