// korvoctl over a fresh simulated board on a manual clock, with an empty settings file.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/CliFiles.h"
#include "cli/Korvoctl.h"
#include "drivers/sim/SimBoard.h"
#include "foundation/Settings.h"
#include "support/ManualClock.h"
#include "support/TempDir.h"

class CliRig : public ::testing::Test {
 protected:
  CliRig() {
    ::setenv("KORVO_ADAPTER", "sim", 1);
    if (const char* tz = std::getenv("TZ")) savedTz_ = tz;
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    sim::Board::Options o;
    o.clock = &clock_;
    sim::Board::ResetShared(board_ = std::make_shared<sim::Board>(o));
    WriteIni("");
  }
  ~CliRig() override {
    ::unsetenv("KORVO_ADAPTER");
    if (savedTz_)
      ::setenv("TZ", savedTz_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
    sim::Board::ResetShared();
    Settings::SetFile(Settings::DefaultFile());
    Settings::ResetToDefaults();
  }
  void WriteIni(const std::string& text) { dir_.Write("korvo.ini", text); }
  // korvoctl with the rig's settings file, unless ini_ is cleared or the arguments name one.
  int Run(std::vector<std::string> args, const std::string& input = "") {
    out_.str("");
    err_.str("");
    if (!ini_.empty() && std::find(args.begin(), args.end(), "--ini") == args.end())
      args.insert(args.begin(), {"--ini", ini_});
    std::istringstream in(input);
    return RunKorvoctl(args, out_, err_, in, clock_);
  }
  std::string Path(const std::string& name) const { return dir_.File(name); }

  TempDir dir_{"korvo_cli"};
  std::string ini_ = dir_.File("korvo.ini");
  ManualClock clock_;
  std::shared_ptr<sim::Board> board_;
  std::ostringstream out_, err_;

 private:
  std::optional<std::string> savedTz_;
};
