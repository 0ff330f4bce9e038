#include "drivers/sim/SimScenario.h"

#include <cmath>

#include "drivers/sim/SimBoard.h"
#include "foundation/Text.h"
#include "foundation/TextFile.h"
#include "foundation/Utils.h"

namespace sim {

namespace {

struct KeyInfo {
  std::string_view name;
  ScenarioStep::Key key;
};
constexpr KeyInfo kKeys[] = {
    {"AcPresent", ScenarioStep::Key::AcPresent},
    {"BatteryPresent", ScenarioStep::Key::BatteryPresent},
    {"Charging", ScenarioStep::Key::Charging},
    {"BatteryTemperature", ScenarioStep::Key::BatteryTemperature},
    {"ThermalShutdown", ScenarioStep::Key::ThermalShutdown},
};

}  // namespace

std::optional<Scenario> ParseScenario(std::string_view text, std::string& error) {
  Scenario s;
  std::string previousTime;  // as written on the line before
  TextFile::Lines lines(text);
  int lineNo = 0;
  auto fail = [&](const std::string& reason) {
    error = "line " + std::to_string(lineNo) + ": " + reason;
    return std::nullopt;
  };
  for (std::string_view raw; lines.Next(raw);) {
    lineNo = lines.Number();
    if (!TextFile::IsTextLine(raw)) return fail("not text (binary data)");
    const std::string_view line = Text::Trim(raw);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;

    const std::size_t blank = line.find_first_of(" \t");
    if (blank == std::string_view::npos) return fail("expected SECONDS KEY=VALUE");
    const std::string_view secondsText = line.substr(0, blank);
    const std::string_view assignment = Text::Trim(line.substr(blank));
    const std::optional<double> seconds = Utils::ParseDecimal(secondsText);
    if (!seconds || !std::isfinite(*seconds) || *seconds < 0 || *seconds > kScenarioMaxSeconds) {
      return fail("the time " + TextFile::Quote(secondsText) +
                  " is not a number of seconds from 0 to " +
                  std::to_string(static_cast<long>(kScenarioMaxSeconds)));
    }
    ScenarioStep step;
    step.line = lineNo;
    step.at = std::chrono::microseconds(std::llround(*seconds * 1e6));
    if (!s.steps.empty() && step.at < s.steps.back().at)
      return fail("the time goes back (the line before says " + previousTime + ")");
    previousTime = TextFile::Shown(secondsText);

    const std::size_t eq = assignment.find('=');
    if (eq == std::string_view::npos) return fail("expected KEY=VALUE after the time");
    const std::string_view key = Text::Trim(assignment.substr(0, eq));
    const std::string_view value = Text::Trim(assignment.substr(eq + 1));
    const KeyInfo* info = nullptr;
    for (const KeyInfo& k : kKeys)
      if (Text::EqualsNoCase(k.name, key)) info = &k;
    if (info == nullptr) {
      return fail("unknown key " + TextFile::Quote(key) +
                  " (AcPresent, BatteryPresent, Charging, BatteryTemperature, ThermalShutdown)");
    }
    step.key = info->key;
    if (step.key == ScenarioStep::Key::BatteryTemperature) {
      if (Text::EqualsNoCase(value, "normal"))
        step.value = static_cast<int>(BatteryTemperature::Normal);
      else if (Text::EqualsNoCase(value, "hot"))
        step.value = static_cast<int>(BatteryTemperature::Hot);
      else if (Text::EqualsNoCase(value, "cold"))
        step.value = static_cast<int>(BatteryTemperature::Cold);
      else
        return fail(std::string(info->name) + " must be hot, cold or normal");
    } else {
      if (value != "0" && value != "1") return fail(std::string(info->name) + " must be 0 or 1");
      step.value = value == "1";
    }
    s.steps.push_back(step);
  }
  return s;
}

std::optional<Scenario> LoadScenario(const std::string& path, std::string& error) {
  std::string text;
  switch (TextFile::Read(path, text)) {
    case TextFile::ReadResult::kOk: break;
    case TextFile::ReadResult::kUnreadable:
      error = "Scenario file " + path + ": cannot be read (missing, or not a plain file)";
      return std::nullopt;
    case TextFile::ReadResult::kTooLarge:
      error = "Scenario file " + path + ": larger than " + std::string(TextFile::kMaxBytesText) +
              ", too large for a scenario";
      return std::nullopt;
  }
  std::string why;
  std::optional<Scenario> s = ParseScenario(text, why);
  if (!s) {
    error = "Scenario file " + path + ", " + why;
    return std::nullopt;
  }
  s->file = path;
  return s;
}

void ApplyStep(Conditions& c, const ScenarioStep& step) {
  switch (step.key) {
    case ScenarioStep::Key::AcPresent: c.acPresent = step.value != 0; break;
    case ScenarioStep::Key::BatteryPresent: c.batteryPresent = step.value != 0; break;
    case ScenarioStep::Key::Charging: c.charging = step.value != 0; break;
    case ScenarioStep::Key::BatteryTemperature:
      c.batteryTemperature = static_cast<BatteryTemperature>(step.value);
      break;
    case ScenarioStep::Key::ThermalShutdown: c.thermalShutdown = step.value != 0; break;
  }
}

}  // namespace sim
