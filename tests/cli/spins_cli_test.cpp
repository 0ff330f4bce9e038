#include <gtest/gtest.h>

#include <string_view>
#include <tuple>

#include "CliRig.h"
#include "registers/Spins.h"

namespace {

const std::string kSpinConfirm = std::string(Spins::kSpinConfirmText) + "\n";
const std::string kBurnConfirm = std::string(Spins::kBurnConfirmText) + "\n";

class SpinsCliTest : public CliRig {};

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

// A failed burn, or a spin that did not go in cleanly (which stops the burn after it), is a bus
// error.
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
              kExitBus)
        << ini;
    EXPECT_NE(err_.str().find(expectedMessage), std::string::npos) << err_.str();
    EXPECT_EQ(err_.str().find("Programming complete."), std::string::npos);
    EXPECT_EQ(board_->BurnCount(), 0);
  }
}

// The caption in any case; the burned trims reaching the EEPROM is the board's own rule.
TEST_F(SpinsCliTest, SpinAndBurnConfirmAndReportOnStderr) {
  WriteIni("[Spinrk51xx Trim4]\n0x10=0A5A\n");
  EXPECT_EQ(Run({"--yes", "spin", "RK51XX trim4", "burn"}), kExitOk);
  EXPECT_EQ(err_.str(), kSpinConfirm + kBurnConfirm + "Programming complete.\n");
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(board_->Eeprom().tr0, 0x0A5A);
}

}  // namespace
