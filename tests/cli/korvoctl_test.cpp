#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "CliRig.h"
#include "foundation/Paths.h"
#include "foundation/Version.h"
#include "support/ScopedXdg.h"

namespace {

class KorvoctlTest : public CliRig {};

TEST_F(KorvoctlTest, OperationsRunInOrderOnOneAdapter) {
  EXPECT_EQ(Run({"write", "0x15", "16800", "read", "0x15"}), kExitOk);
  EXPECT_EQ(out_.str(), "0x15 0x41A0 16800\n0x15 0x41A0 16800\n")
      << "the write's read-back, then the read";
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
}

TEST_F(KorvoctlTest, UsageErrorsNameTheRangeAndTouchNoBus) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "no operation given"},
      {{"frobnicate"}, "unknown operation 'frobnicate'"},
      {{"--bogus", "dump"}, "unknown option '--bogus'"},
      {{"read"}, "register address is missing"},
      {{"read", "0x100"}, "expected 0 to 255"},
      {{"read", "0x1G"}, "invalid register address '0x1G'"},
      {{"write", "0x15", "65536"}, "expected 0 to 65535"},
      {{"--ini"}, "--ini needs a file"},
      {{"--ini", "/nonexistent/korvo.ini", "dump"}, "cannot read settings file"},
      {{"--period", "-1", "watch"}, "expected 0 to 3600000"},
      {{"--count", "0", "watch"}, "expected 1 to 1000000000"},
      {{"--duration", "0", "watch"}, "expected more than 0, at most 31536000"},
      {{"--output", "run.txt", "watch"}, "must end in .csv (CSV) or .vcd"},
      {{"--format", "xml", "dump"}, "expected text, csv or json"},
      {{"--variant", "rk5192", "dump"}, "expected rk5190 or rk5191"},
      {{"--caption", "Custom 9", "snapshot", "x.ini"}, "unknown spin 'Custom 9'"},
  };
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(Run(args), kExitUsage);
    EXPECT_NE(err_.str().find(message), std::string::npos) << err_.str();
    EXPECT_EQ(out_.str(), "");
  }
  EXPECT_EQ(board_->TransactionCount(), 0u);
  EXPECT_FALSE(std::filesystem::exists("run.txt"));
}

TEST_F(KorvoctlTest, NoAdapterGivesTheStartUpMessageAndExitCode2) {
  board_->SetAbsent(true);
  EXPECT_EQ(Run({"dump"}), kExitBus);
  EXPECT_EQ(
      err_.str(),
      "Failed to initialize the Tarn88! This program cannot continue.\n"
      "Please make sure that the Tarn88 is connected and all required drivers are installed.\n"
      "Please ensure that no other program is using the Tarn88.\n"
      "Please close and restart the Korvo program.\n"
      "The simulated adapter is absent (Absent=1 in section [Simulator]).\n");
  EXPECT_EQ(out_.str(), "");
}

TEST_F(KorvoctlTest, RetriesOptionRetriesAFailedRead) {
  board_->FailNext(2, 8, sim::FaultScope::Reads);
  EXPECT_EQ(Run({"--retries", "2", "read", "0x15"}), kExitOk);
  EXPECT_EQ(out_.str(), "0x15 0x41A0 16800\n");
}

TEST_F(KorvoctlTest, AddressOptionChoosesTheTarget) {
  EXPECT_EQ(Run({"--address", "0x50", "read", "0x15"}), kExitBus);
  EXPECT_NE(err_.str().find("VB_T2H_NACK"), std::string::npos);
}

TEST_F(KorvoctlTest, I2cOptionWritesInI2cMode) {
  EXPECT_EQ(Run({"--i2c", "--address", "0x66", "write", "0x3F", "0x1000"}), kExitOk);
  EXPECT_EQ(out_.str(), "0x3F 0x1000 4096\n");
}

TEST_F(KorvoctlTest, ABusFailureStopsTheRemainingOperations) {
  board_->FailNext(1, 8, sim::FaultScope::Reads);
  EXPECT_EQ(Run({"read", "0x13", "write", "0x15", "12000"}), kExitBus);
  EXPECT_EQ(err_.str(),
            "Error reading register CS: Status(0x13).\nError description : VB_TIMEOUT_ERROR\n");
  EXPECT_NE(board_->Peek(0x15), 12000);
}

// With VerifyWrite on, a write is read back and printed as read prints it; a register that kept
// something else is reported on stderr (DAC registers also in mV or mA).
TEST_F(KorvoctlTest, AWriteIsReadBackAndADifferentValueIsReportedWithExitCode2) {
  const std::tuple<std::string, std::string, std::string, int, std::string> cases[] = {
      {"0x15", "16802", "0x15 0x41A2 16802\n", kExitOk, ""},
      {"0x15", "0xFFFF", "0x15 0xFFFE 65534\n", kExitBus,
       "Register 0x15 : Read Value does not match the value that was written!\n"
       "Written 0xFFFF (65535 mV), read back 0xFFFE (65534 mV).\n"},
      {"0x14", "0x7F", "0x14 0x0000 0\n", kExitBus,
       "Written 0x007F (127 mA), read back 0x0000 (0 mA).\n"},
      {"0x13", "1", "0x13 0x8080 32896\n", kExitBus,
       "Register 0x13 : Read Value does not match the value that was written!\nWritten 0x0001, "
       "read back 0x8080.\n"},
  };
  for (const auto& [address, value, printed, rc, message] : cases) {
    EXPECT_EQ(Run({"write", address, value}), rc) << address << " " << value;
    EXPECT_EQ(out_.str(), printed) << address << " " << value;
    EXPECT_NE(err_.str().find(message), std::string::npos) << err_.str();
    EXPECT_EQ(err_.str().empty(), message.empty()) << err_.str();
  }
}

TEST_F(KorvoctlTest, WithVerifyWriteOffAWriteIsNeitherReadBackNorPrinted) {
  WriteIni("[Settings]\nVerifyWrite=0\n");
  EXPECT_EQ(Run({"write", "0x13", "1"}), kExitOk);
  EXPECT_EQ(out_.str() + err_.str(), "");
  EXPECT_EQ(board_->Count(sim::Transaction::Kind::Read), 0u);
}

// Standard output on a full disk: writes fill a buffer, whose flush fails.
class FullStreamBuf : public std::streambuf {
 public:
  FullStreamBuf() { setp(buffer_, buffer_ + sizeof buffer_); }

 protected:
  int_type overflow(int_type) override { return Fail(), traits_type::eof(); }
  int sync() override { return Fail(); }

 private:
  static int Fail() {
    errno = ENOSPC;
    return -1;
  }
  char buffer_[65536];
};

TEST_F(KorvoctlTest, OutputThatCannotBeWrittenIsAMessageAndExitCode2) {
  const std::vector<std::string> cases[] = {{"dump"}, {"read", "0x15"}, {"write", "0x15", "12000"},
                                            {"list"}, {"--help"},       {"--version"}};
  for (const auto& args : cases) {
    FullStreamBuf full;
    std::ostream out(&full);
    std::ostringstream err;
    std::istringstream in;
    EXPECT_EQ(RunKorvoctl(args, out, err, in), kExitBus) << args[0];
    EXPECT_EQ(err.str(),
              "korvoctl: cannot write the output: " + std::string(std::strerror(ENOSPC)) + "\n")
        << args[0];
  }
}

TEST_F(KorvoctlTest, OutputThatCannotBeWrittenEndsTheRun) {
  FullStreamBuf full;
  std::ostream out(&full);
  std::istringstream in;
  EXPECT_EQ(RunKorvoctl({"read", "0x15", "write", "0x15", "12000"}, out, err_, in), kExitBus);
  EXPECT_EQ(board_->Peek(0x15), sim::kPowerOnChargeVoltage) << "nothing more is done unseen";
}

TEST_F(KorvoctlTest, ListWithNoAdapterGivesTheDriversNotesAndExitCode2) {
  board_->SetAbsent(true);
  EXPECT_EQ(Run({"list"}), kExitBus);
  EXPECT_EQ(out_.str(), "");
  EXPECT_EQ(err_.str(), "The simulated adapter is absent (Absent=1 in section [Simulator]).\n");
}

// Which file the lookup picks is the settings' own rule; korvoctl names the one it read.
TEST_F(KorvoctlTest, VersionNamesTheSettingsFileRead) {
  TempDir program, user;
  ScopedXdg xdg(user.Path(), program.Path() + "/no-system-dir");
  Paths::SetProgramDirForTesting(program.Path());
  std::filesystem::create_directory(user.Path() + "/korvo");
  const std::string userFile = user.File("korvo/korvo.ini");
  const std::tuple<bool, std::vector<std::string>, std::string> cases[] = {
      // user file, arguments, named
      {false, {"--version"}, "none: defaults"},
      {false, {"--ini", ini_, "--version"}, ini_},
      {true, {"--version"}, userFile},
  };
  ini_.clear();
  for (const auto& [withUserFile, args, named] : cases) {
    if (withUserFile) user.Write("korvo/korvo.ini", "");
    EXPECT_EQ(Run(args), kExitOk);
    EXPECT_EQ(out_.str(), "korvoctl " + VersionText() + "\nSettings file: " + named + "\n");
  }
  Paths::SetProgramDirForTesting("");
}

TEST_F(KorvoctlTest, AnUnknownDriverListsNoAdapterAndSaysWhy) {
  ::setenv("KORVO_ADAPTER", "tarn99", 1);
  EXPECT_EQ(Run({"dump"}), kExitBus);
  EXPECT_NE(err_.str().find("Failed to initialize the Tarn88!"), std::string::npos);
  EXPECT_NE(err_.str().find("Unknown adapter driver 'tarn99' (known: i2cdev, sim)."),
            std::string::npos);
}

}  // namespace
