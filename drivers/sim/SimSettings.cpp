// The simulated board's settings: section [Simulator] of the settings file, read when the shared
// board is created.
//
//   Absent=1           no adapter is listed (the start-up failure path); default 0
//   AcPresent=0|1      AC adapter plugged in; default 1
//   BatteryPresent=0|1 battery connected; default 1
//   Charging=0|1       the charger is charging when it can (AC and battery present); default 1
//   EepromFile=PATH    file holding the charger's burned trims, so a burn survives a restart;
//                      relative to the settings file's folder; default none (kept in memory).
//                      The board writes no other file: not the settings file, nor a file that
//                      exists and is not an EEPROM file as the board writes them. Such a file,
//                      or one that cannot be read whole (garbage, a value cut short, empty, a
//                      directory, a FIFO), is named with the reason and the adapter does not
//                      open, as the board would not know its trims.
//   FailEveryNth=N     every Nth transaction fails; default 0 (off)
//   FailRate=R         each transaction fails with probability R (0 to 1, e.g. 0.05); default 0
//   FailSeed=S         seed of the FailRate draws, so a run can be repeated; default 1
//   FailNext=K         the first K transactions fail; default 0
//   FailStatus=CODE    status the failing transactions return; default 8 (VB_TIMEOUT_ERROR)
//   FailScope=All|Reads|Writes  which transactions the three modes above count; default All
//   PendingError=CODE  the first successful write leaves CODE for QueryError; default 0 (off)
//   LatencyUs=US       added to every bus transaction, like a USB round trip; default 0
//   Scenario=FILE      conditions that change over time after the adapter opens (SimScenario.h);
//                      relative to the settings file's folder; a bad file keeps the adapter shut
//
// A value that does not read as the key expects gives the default.
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "adapter/ErrorCodes.h"
#include "drivers/sim/SimBoard.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"

namespace sim {

namespace {

// A fraction 0..1; anything that does not read as one switches the mode off.
double ParseRate(std::string_view text) {
  text = Text::Trim(text);
  double v = 0.0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || !(v > 0.0)) return 0.0;
  return std::min(v, 1.0);
}

FaultScope ParseScope(std::string_view text) {
  text = Text::Trim(text);
  if (Text::EqualsNoCase(text, "Reads")) return FaultScope::Reads;
  if (Text::EqualsNoCase(text, "Writes")) return FaultScope::Writes;
  return FaultScope::All;
}

// A path from the settings, relative to the settings file's folder; empty when not set.
std::string PathSetting(const Settings::Snapshot& settings, std::string_view key,
                        const std::string& settingsFile) {
  std::string file(Text::Trim(settings.GetString(kSettingsSection, key, "")));
  if (file.empty()) return file;
  std::filesystem::path p(file);
  if (p.is_relative()) p = std::filesystem::path(settingsFile).parent_path() / p;
  return p.string();
}

}  // namespace

Board::Options Board::OptionsFromSettings() { return OptionsFromSettings(Settings::Snapshot()); }

Board::Options Board::OptionsFromSettings(const Settings::Snapshot& settings) {
  constexpr std::string_view kSection = kSettingsSection;
  Options o;
  auto flag = [&](std::string_view key, bool def) {
    return settings.GetInt(kSection, key, def ? 1 : 0) != 0;
  };
  o.absent = flag("Absent", false);
  o.conditions.acPresent = flag("AcPresent", true);
  o.conditions.batteryPresent = flag("BatteryPresent", true);
  o.conditions.charging = flag("Charging", true);

  o.settingsFile = settings.Path();
  o.eepromFile = PathSetting(settings, "EepromFile", o.settingsFile);

  o.faults.everyNth = std::max(0, settings.GetInt(kSection, "FailEveryNth", 0));
  o.faults.rate = ParseRate(settings.GetString(kSection, "FailRate", ""));
  o.faults.seed = static_cast<uint32_t>(settings.GetInt(kSection, "FailSeed", 1));
  o.faults.next = std::max(0, settings.GetInt(kSection, "FailNext", 0));
  o.faults.status =
      Settings::ClampToInt16(settings.GetInt(kSection, "FailStatus", VB_TIMEOUT_ERROR));
  o.faults.scope = ParseScope(settings.GetString(kSection, "FailScope", "All"));
  o.faults.pendingErrorAfterWrite =
      Settings::ClampToInt16(settings.GetInt(kSection, "PendingError", 0));
  o.latency = std::chrono::microseconds(std::max(0, settings.GetInt(kSection, "LatencyUs", 0)));

  if (const std::string scenario = PathSetting(settings, "Scenario", o.settingsFile);
      !scenario.empty()) {
    if (auto loaded = LoadScenario(scenario, o.refusal)) o.scenario = std::move(*loaded);
  }
  return o;
}

}  // namespace sim
