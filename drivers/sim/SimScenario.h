// A scenario for the simulated board: board conditions that change over time, so a recording
// shows something and a run at the bench can be replayed. [Simulator] Scenario=FILE names it
// (relative to the settings file's folder). One step per line:
//
//   # the AC adapter is pulled after 2.5 s and put back 3 s later
//   2.5 AcPresent=0
//   5.5 AcPresent=1
//   8   BatteryTemperature=hot
//
// SECONDS (0 to 31536000, fractions allowed, never less than the line before) counts from the
// moment the adapter first opened. Keys, case ignored: AcPresent, BatteryPresent, Charging,
// ThermalShutdown (0 or 1) and BatteryTemperature (hot, cold or normal). Blank lines and lines
// starting with # or ; are skipped. A bad line refuses the whole file with its line number.
// The file is read as a snapshot is (foundation/TextFile.h): at most 1 MB, a byte order mark
// and any line end taken.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct Conditions;

struct ScenarioStep {
  enum class Key { AcPresent, BatteryPresent, Charging, BatteryTemperature, ThermalShutdown };
  std::chrono::microseconds at{0};
  Key key = Key::AcPresent;
  int value = 0;  // 0/1; for BatteryTemperature a BatteryTemperature value
  int line = 0;
};

struct Scenario {
  std::string file;                 // where it came from, for the About text
  std::vector<ScenarioStep> steps;  // in time order
};

inline constexpr double kScenarioMaxSeconds = 31536000;  // a year

// nullopt, with error "line N: reason", when a line is bad.
std::optional<Scenario> ParseScenario(std::string_view text, std::string& error);
// nullopt, with error "Scenario file FILE: reason" or "Scenario file FILE, line N: reason".
std::optional<Scenario> LoadScenario(const std::string& path, std::string& error);

void ApplyStep(Conditions& c, const ScenarioStep& step);

}  // namespace sim
