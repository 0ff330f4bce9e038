#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/Korvoctl.h"
#include "drivers/sim/SimBoard.h"
#include "registers/Spins.h"
#include "shell/Settings.h"

namespace {

namespace fs = std::filesystem;

class SpinsCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("KORVO_ADAPTER", "sim", 1);
    char tmpl[] = "/tmp/korvo-spins-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ini_ = (dir_ / "korvo.ini").string();
    WriteIni("");
    NewBoard({});
  }
  void TearDown() override {
    ::unsetenv("KORVO_ADAPTER");
    sim::Board::ResetShared();
    Settings::SetFile(Settings::DefaultFile());
    Settings::ResetToDefaults();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void WriteIni(const std::string& text) { std::ofstream(ini_, std::ios::trunc) << text; }
  void NewBoard(sim::Board::Options options) {
    board_ = std::make_shared<sim::Board>(std::move(options));
    sim::Board::ResetShared(board_);
  }
  int Run(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"--ini", ini_});
    out_.str("");
    err_.str("");
    std::istringstream in(input);
    return RunKorvoctl(args, out_, err_, in);
  }
  std::vector<std::pair<uint8_t, uint16_t>> Writes() const {
    std::vector<std::pair<uint8_t, uint16_t>> w;
    for (const sim::Transaction& t : board_->History())
      if (t.kind == sim::Transaction::Kind::Write) w.emplace_back(t.command, t.value);
    return w;
  }

  fs::path dir_;
  std::string ini_;
  std::shared_ptr<sim::Board> board_;
  std::ostringstream out_, err_;
};

const std::string kSpinConfirm = std::string(Spins::kSpinConfirmText) + "\n";
const std::string kBurnConfirm = std::string(Spins::kBurnConfirmText) + "\n";

TEST_F(SpinsCliTest, SpinByCaptionWritesLikeTheWindowWithYes) {
  WriteIni("[SpinCustom 1]\n0x15=2EE0\n0x10=1234\n");
  EXPECT_EQ(Run({"--yes", "spin", "custom 1"}), kExitOk);
  EXPECT_EQ(Writes(), (std::vector<std::pair<uint8_t, uint16_t>>{
                          {0x17, 0x0201}, {0x10, 0x1234}, {0x15, 0x2EE0}}));
  EXPECT_EQ(board_->Count(sim::Transaction::Kind::Read), 2u);  // VerifyWrite defaults on
  EXPECT_EQ(err_.str(), kSpinConfirm);
  EXPECT_EQ(out_.str(), "");
}

TEST_F(SpinsCliTest, ConfirmationIsAskedAtTheTerminal) {
  WriteIni("[SpinCustom 1]\n0x10=1234\n");
  EXPECT_EQ(Run({"spin", "Custom 1"}, "y\n"), kExitOk);
  EXPECT_EQ(err_.str(), kSpinConfirm + "Continue? [y/N] ");
  EXPECT_EQ(board_->Peek(0x10), 0x1234);

  board_->ClearHistory();
  for (const char* answer : {"n\n", "\n", ""}) {
    EXPECT_EQ(Run({"spin", "Custom 1", "burn"}, answer), kExitDeclined) << answer;
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(board_->BurnCount(), 0);
  }
}

TEST_F(SpinsCliTest, BurnReportsItsOutcomeAndExitCode) {
  EXPECT_EQ(Run({"--yes", "burn"}), kExitOk);
  EXPECT_EQ(err_.str(), kBurnConfirm + "Programming complete.\n");
  EXPECT_EQ(board_->BurnCount(), 1);

  board_->FailNext(1, 8, sim::FaultScope::Writes);
  EXPECT_EQ(Run({"--yes", "burn"}), kExitBus);
  EXPECT_NE(err_.str().find("Error Writing register TestMode1(0x17)."), std::string::npos);
  EXPECT_NE(err_.str().find(std::string(Spins::kBurnFailedText)), std::string::npos);
  EXPECT_EQ(err_.str().find("Programming complete."), std::string::npos);
  EXPECT_EQ(board_->Peek(0x17), 0x0201);  // the burn state was left
}

TEST_F(SpinsCliTest, SpinThatDidNotGoInCleanlyStopsTheBurnAfterIt) {
  const struct {
    const char* ini;
    const char* expectedMessage;
  } cases[] = {
      {"[SpinCustom 1]\n0x10=0x12\n", "Register 0x10 not written: the value \"0x12\""},
      {"[SpinCustom 1]\n0x13=0\n", "Register 0x13 : Read Value does not match"},
  };
  for (const auto& c : cases) {
    WriteIni(c.ini);
    EXPECT_EQ(Run({"--yes", "spin", "Custom 1", "burn"}), kExitBus) << c.ini;
    EXPECT_NE(err_.str().find(c.expectedMessage), std::string::npos) << err_.str();
    EXPECT_EQ(board_->BurnCount(), 0);
  }
}

TEST_F(SpinsCliTest, UnknownOrMissingCaptionIsAUsageError) {
  EXPECT_EQ(Run({"spin", "Trim1"}), kExitUsage);
  EXPECT_NE(err_.str().find("unknown spin 'Trim1': expected one of 'rk51xx Trim1'"),
            std::string::npos);
  EXPECT_NE(err_.str().find("'Custom 2'"), std::string::npos);
  EXPECT_EQ(Run({"spin"}), kExitUsage);
  EXPECT_NE(err_.str().find("spin caption is missing"), std::string::npos);
  EXPECT_EQ(board_->TransactionCount(), 0u);
}

TEST_F(SpinsCliTest, HelpListsTheOperationsAndTheDeclinedExitCode) {
  EXPECT_EQ(Run({"--help"}), kExitOk);
  EXPECT_NE(out_.str().find("spin CAPTION"), std::string::npos);
  EXPECT_NE(out_.str().find("burn "), std::string::npos);
  EXPECT_NE(out_.str().find("3  a confirmation was declined"), std::string::npos);
}

// Spin, burn, then a new board on the same EEPROM file comes up with the burned trims.
TEST_F(SpinsCliTest, BurnedSpinIsLoadedByANewBoard) {
  sim::Board::Options options;
  options.eepromFile = (dir_ / "trims.bin").string();
  NewBoard(options);
  WriteIni("[Spinrk51xx Trim4]\n0x10=0A5A\n0x11=1B2C\n0x16=00F0\n");
  EXPECT_EQ(Run({"--yes", "spin", "rk51xx Trim4", "burn"}), kExitOk) << err_.str();

  NewBoard(options);
  EXPECT_EQ(Run({"read", "0x10", "read", "0x11", "read", "0x16"}), kExitOk);
  EXPECT_EQ(out_.str(), "0x10 0x0A5A 2650\n0x11 0x1B2C 6956\n0x16 0x00F0 240\n");
}

}  // namespace
