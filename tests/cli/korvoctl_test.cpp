#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "cli/Korvoctl.h"
#include "drivers/sim/SimBoard.h"
#include "shell/Paths.h"
#include "shell/Settings.h"
#include "shell/Version.h"
#include "support/ScopedXdg.h"
#include "support/TempDir.h"

namespace {

class KorvoctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("KORVO_ADAPTER", "sim", 1);
    board_ = std::make_shared<sim::Board>();
    sim::Board::ResetShared(board_);
  }
  void TearDown() override {
    ::unsetenv("KORVO_ADAPTER");
    sim::Board::ResetShared();
    Settings::SetFile(Settings::DefaultFile());
    Settings::ResetToDefaults();
  }
  int Run(std::vector<std::string> args, const std::string& input = "") {
    out_.str("");
    err_.str("");
    std::istringstream in(input);
    return RunKorvoctl(args, out_, err_, in);
  }

  std::shared_ptr<sim::Board> board_;
  std::ostringstream out_, err_;
};

TEST_F(KorvoctlTest, OperationsRunInOrderOnOneAdapter) {
  EXPECT_EQ(Run({"write", "0x15", "16800", "read", "0x15"}), kExitOk);
  EXPECT_EQ(out_.str(), "0x15 0x41A0 16800\n");
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(board_->Peek(0x15), 16800);
  EXPECT_EQ(Run({"list"}), kExitOk);
  EXPECT_EQ(out_.str(), std::string(sim::kAdapterName) + "\n");
}

TEST_F(KorvoctlTest, DumpShowsAllElevenRegistersWithCaptions) {
  board_->Poke(0x14, 0x0400);
  EXPECT_EQ(Run({"dump"}), kExitOk);
  std::istringstream lines(out_.str());
  std::vector<std::string> rows;
  for (std::string l; std::getline(lines, l);) rows.push_back(l);
  ASSERT_EQ(rows.size(), 11u);
  EXPECT_EQ(rows.front().substr(0, 12), "0x10 0x4A52 ");
  EXPECT_EQ(rows[4], "0x14 0x0400 CC: CHARGING CURRENT REG(0x14)");
  EXPECT_EQ(rows.back().substr(0, 5), "0x3F ");
  EXPECT_NE(rows.back().find("IC: INPUT CURRENT REGISTER(0x3F)"), std::string::npos);
}

TEST_F(KorvoctlTest, UsageErrorsNameTheRangeAndTouchNoBus) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "no operation given"},
      {{"frobnicate"}, "unknown operation 'frobnicate'"},
      {{"--bogus", "dump"}, "unknown option '--bogus'"},
      {{"read"}, "register address is missing"},
      {{"read", "0x100"}, "expected 0 to 255"},
      {{"read", "0x1G"}, "invalid register address '0x1G'"},
      {{"read", "-1"}, "expected 0 to 255"},
      {{"write", "0x15", "65536"}, "expected 0 to 65535"},
      {{"write", "0x15"}, "register value is missing"},
      {{"write", "0x15", "12abc"}, "invalid register value"},
      {{"--address", "300", "dump"}, "expected 0 to 255"},
      {{"--retries", "x", "dump"}, "invalid retry count"},
      {{"--ini"}, "--ini needs a file"},
  };
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(Run(args), kExitUsage);
    EXPECT_NE(err_.str().find(message), std::string::npos) << err_.str();
    EXPECT_EQ(out_.str(), "");
  }
  EXPECT_EQ(board_->TransactionCount(), 0u);
  EXPECT_EQ(Run({"--help"}), kExitOk);  // the exit codes are documented there
  EXPECT_NE(out_.str().find("2  bus failure"), std::string::npos);
}

TEST_F(KorvoctlTest, NoAdapterGivesTheStartUpMessageAndExitCode2) {
  board_->SetAbsent(true);
  EXPECT_EQ(Run({"dump"}), kExitBus);
  EXPECT_EQ(err_.str(),
            "Failed to initialize the Tarn88! This program cannot continue.\n"
            "Please make sure that the Tarn88 is connected and all required drivers are "
            "installed.\n"
            "Please ensure that no other program is using the Tarn88.\n"
            "Please close and restart the Korvo program.\n");
  EXPECT_EQ(out_.str(), "");
}

TEST_F(KorvoctlTest, ABusFailureStopsTheRemainingOperations) {
  board_->FailNext(1, 8, sim::FaultScope::Reads);
  EXPECT_EQ(Run({"read", "0x13", "write", "0x15", "12000"}), kExitBus);
  EXPECT_EQ(err_.str(),
            "Error reading register CS: Status(0x13).\nError description : VB_TIMEOUT_ERROR\n");
  EXPECT_NE(board_->Peek(0x15), 12000);
}

TEST_F(KorvoctlTest, RetriesAndOtherTargetsFromTheCommandLine) {
  board_->FailNext(2, 8, sim::FaultScope::Reads);
  EXPECT_EQ(Run({"--retries", "2", "read", "0x15"}), kExitOk);
  EXPECT_EQ(out_.str(), "0x15 0x41A0 16800\n");

  EXPECT_EQ(Run({"--address", "0x50", "read", "0x15"}), kExitBus);
  EXPECT_NE(err_.str().find("VB_T2H_NACK"), std::string::npos);

  EXPECT_EQ(Run({"--i2c", "--address", "0x66", "write", "0x3F", "0x1000", "read", "0x3F"}),
            kExitOk);
  EXPECT_EQ(out_.str(), "0x3F 0x1000 4096\n");
}

TEST_F(KorvoctlTest, DumpGoesOnPastAFailedRegister) {
  board_->FailNext(1, 772, sim::FaultScope::Reads);
  EXPECT_EQ(Run({"dump"}), kExitBus);
  std::istringstream lines(out_.str());
  int n = 0;
  for (std::string l; std::getline(lines, l);) ++n;
  EXPECT_EQ(n, 11);
  EXPECT_EQ(out_.str().substr(0, 12), "0x10 ------ ");
}

TEST_F(KorvoctlTest, SettingsFileFromIniOption) {
  EXPECT_EQ(Run({"--ini", "/nonexistent/korvo.ini", "dump"}), kExitUsage);
  EXPECT_NE(err_.str().find("cannot read settings file"), std::string::npos);

  const auto path = std::filesystem::temp_directory_path() / "korvoctl_test.ini";
  { std::ofstream(path) << "[Target]\nAddress=80\n"; }  // 0x50: nobody there
  EXPECT_EQ(Run({"--ini", path.string(), "read", "0x15"}), kExitBus);
  EXPECT_NE(err_.str().find("VB_T2H_NACK"), std::string::npos);
  std::filesystem::remove(path);
}

TEST_F(KorvoctlTest, VersionNamesTheSettingsFileRead) {
  TempDir program, user;
  ScopedXdg xdg(user.Path(), program.Path() + "/no-system-dir");
  Paths::SetProgramDirForTesting(program.Path());
  const std::string explicitFile = program.Write("explicit.ini", "");
  std::filesystem::create_directory(user.Path() + "/korvo");
  // (files present, arguments, the file named)
  const std::tuple<std::vector<std::string>, std::vector<std::string>, std::string> cases[] = {
      {{}, {"--version"}, "none: defaults"},
      {{}, {"--ini", explicitFile, "--version"}, explicitFile},
      {{"korvo/korvo.ini"}, {"--version"}, user.Path() + "/korvo/korvo.ini"},
  };
  for (const auto& [files, args, named] : cases) {
    for (const std::string& f : files) user.Write(f, "");
    EXPECT_EQ(Run(args), kExitOk);
    EXPECT_EQ(out_.str(), "korvoctl " + VersionText() + "\nSettings file: " + named + "\n");
  }
  Paths::SetProgramDirForTesting("");
}

TEST_F(KorvoctlTest, KorvoIniBesideKorvoctlComesBeforeTheXdgFiles) {
  TempDir program, user;
  ScopedXdg xdg(user.Path(), program.Path() + "/no-system-dir");
  Paths::SetProgramDirForTesting(program.Path());
  std::filesystem::create_directory(user.Path() + "/korvo");
  user.Write("korvo/korvo.ini", "[Target]\nAddress=80\n");  // 0x50: nobody there
  EXPECT_EQ(Run({"read", "0x15"}), kExitBus) << "the user's file is read";
  program.Write("korvo.ini", "[Target]\nAddress=103\n");
  EXPECT_EQ(Run({"read", "0x15"}), kExitOk) << "the file beside korvoctl wins";
  Paths::SetProgramDirForTesting("");
}

}  // namespace

namespace {

TEST(KorvoctlDrivers, AnUnknownDriverListsNoAdapterAndSaysWhy) {
  ::setenv("KORVO_ADAPTER", "tarn99", 1);
  std::ostringstream out, err;
  std::istringstream in;
  EXPECT_EQ(RunKorvoctl({"dump"}, out, err, in), kExitBus);
  EXPECT_NE(err.str().find("Failed to initialize the Tarn88!"), std::string::npos);
  EXPECT_NE(err.str().find("Unknown adapter driver 'tarn99' (known: i2cdev, sim)."),
            std::string::npos);
  ::unsetenv("KORVO_ADAPTER");
}

}  // namespace
