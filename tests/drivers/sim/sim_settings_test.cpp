// The [Simulator] settings and the About text.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "SimRig.h"
#include "foundation/Settings.h"

namespace sim {
namespace {

namespace fs = std::filesystem;

class SimSettings : public ::testing::Test {
 protected:
  SimSettings() { Board::ResetShared(); }
  ~SimSettings() override {
    Settings::SetFile("");
    Settings::ResetToDefaults();
    Board::ResetShared();
    fs::remove(ini);
  }
  void UseSettings(const std::string& text) {
    std::ofstream(ini, std::ios::trunc) << text;
    Settings::SetFile(ini.string());
  }

  const fs::path ini =
      fs::temp_directory_path() / ("korvo_simset_" + std::to_string(::getpid()) + ".ini");
};

// Every field of the options, in the order of the keys.
auto Fields(const Board::Options& o) {
  const FaultSettings& f = o.faults;
  return std::tuple(o.absent, o.conditions.acPresent, o.conditions.batteryPresent,
                    o.conditions.charging, o.eepromFile, f.everyNth, f.rate, f.seed, f.next,
                    f.status, f.scope, f.pendingErrorAfterWrite, o.latency.count());
}

TEST_F(SimSettings, EveryKeyIsRead) {
  UseSettings(
      "[simulator]\nAbsent=1\nAcPresent=0\nBatteryPresent=1\nCharging=0\nEepromFile=/tmp/elsewhere/"
      "eeprom.ini\n"
      "FailEveryNth=7\nFailRate=0.125\nFailSeed=99\nFailNext=3\nFailStatus=772\nFailScope=writes\n"
      "PendingError=3\nLatencyUs=480\n");
  EXPECT_EQ(
      Fields(Board::OptionsFromSettings()),
      std::tuple(true, false, true, false, std::string("/tmp/elsewhere/eeprom.ini"), 7, 0.125, 99u,
                 3, int16_t{VB_T2H_NACK}, FaultScope::Writes, int16_t{VB_BAD_PEC}, 480L));
}

// A board of its own is read from a file that need not be the process's settings file.
TEST_F(SimSettings, RelativePathsFollowTheFileTheSettingsCameFrom) {
  UseSettings("[Simulator]\n");  // the process's file, elsewhere
  const fs::path dir = fs::temp_directory_path() / ("korvo_simown_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "own.ini") << "[Simulator]\nEepromFile=eeprom.ini\n";
  const std::optional<Settings::Snapshot> own = Settings::Snapshot::Load((dir / "own.ini").string());
  ASSERT_TRUE(own);
  EXPECT_EQ(Board::OptionsFromSettings(*own).eepromFile, (dir / "eeprom.ini").string());
  fs::remove_all(dir);
}

}  // namespace
}  // namespace sim
