// The [Simulator] settings, the scenario file among them.
#include <unistd.h>

#include "SimRig.h"
#include "foundation/Settings.h"
#include "support/TempDir.h"

namespace sim {
namespace {

class SimSettings : public ::testing::Test {
 protected:
  SimSettings() { Board::ResetShared(); }
  ~SimSettings() override {
    Settings::SetFile("");
    Settings::ResetToDefaults();
    Board::ResetShared();
  }
  TempDir dir;
};

// Every field of the options, in the order of the keys.
auto Fields(const Board::Options& o) {
  const FaultSettings& f = o.faults;
  return std::tuple(o.absent, o.conditions.acPresent, o.conditions.batteryPresent,
                    o.conditions.charging, o.eepromFile, f.everyNth, f.rate, f.seed, f.next,
                    f.status, f.scope, f.pendingErrorAfterWrite, o.latency.count());
}

TEST_F(SimSettings, EveryKeyIsRead) {
  Settings::SetFile(dir.Write(
      "korvo.ini",
      "[simulator]\nAbsent=1\nAcPresent=0\nBatteryPresent=1\nCharging=0\n"
      "EepromFile=/tmp/elsewhere/eeprom.ini\nFailEveryNth=7\nFailRate=0.125\nFailSeed=99\n"
      "FailNext=3\nFailStatus=772\nFailScope=writes\nPendingError=3\nLatencyUs=480\n"));
  EXPECT_EQ(
      Fields(Board::OptionsFromSettings()),
      std::tuple(true, false, true, false, std::string("/tmp/elsewhere/eeprom.ini"), 7, 0.125, 99u,
                 3, int16_t{VB_T2H_NACK}, FaultScope::Writes, int16_t{VB_BAD_PEC}, 480L));
}

// A board of its own is read from a file that need not be the process's settings file.
TEST_F(SimSettings, RelativePathsFollowTheFileTheSettingsCameFrom) {
  Settings::SetFile(dir.Write("korvo.ini", "[Simulator]\n"));
  TempDir other("korvo_own");
  const std::optional<Settings::Snapshot> own =
      Settings::Snapshot::Load(other.Write("own.ini", "[Simulator]\nEepromFile=eeprom.ini\n"));
  ASSERT_TRUE(own);
  EXPECT_EQ(Board::OptionsFromSettings(*own).eepromFile, other.File("eeprom.ini"));
}

TEST_F(SimSettings, AnUnusableScenarioFileKeepsTheAdapterShut) {
  dir.Write("run.txt", "1 AcPresent=0\n2 AcPresent=maybe\n");
  const std::pair<const char*, std::string> cases[] = {
      {"run.txt", "/run.txt, line 2: AcPresent must be 0 or 1\n"},
      {"gone.txt", "/gone.txt: cannot be read (missing, or not a plain file)\n"}};
  for (const auto& [file, why] : cases) {
    Board::ResetShared();
    Settings::SetFile(dir.Write("korvo.ini", std::string("[Simulator]\nScenario=") + file + "\n"));
    Adapter adapter;
    EXPECT_EQ(adapter.OpenDevice(kAdapterName), -1) << file;
    EXPECT_EQ(SimDiagnostics(), "Scenario file " + dir.Path() + why);
  }
}

TEST_F(SimSettings, AScenarioOverOneMegabyteIsRefusedAsTooLarge) {
  const std::string path = dir.Write("big.txt", "");
  ASSERT_EQ(::truncate(path.c_str(), 89 << 20), 0);  // sparse: nothing to write
  Settings::SetFile(dir.Write("korvo.ini", "[Simulator]\nScenario=big.txt\n"));
  Adapter adapter;
  EXPECT_EQ(adapter.OpenDevice(kAdapterName), -1);
  EXPECT_EQ(SimDiagnostics(),
            "Scenario file " + path + ": larger than 1 MB, too large for a scenario\n");
}

TEST_F(SimSettings, AScenarioFileIsTakenRelativeToTheSettings) {
  dir.Write("run.txt", "2.5 AcPresent=0\n");
  Settings::SetFile(dir.Write("korvo.ini", "[Simulator]\nScenario=run.txt\n"));
  Adapter adapter;
  EXPECT_EQ(adapter.OpenDevice(kAdapterName), 0);
  EXPECT_EQ(Board::Shared()->GetScenario().steps.size(), 1u);
  EXPECT_EQ(SimDiagnostics(), "");
}

}  // namespace
}  // namespace sim
