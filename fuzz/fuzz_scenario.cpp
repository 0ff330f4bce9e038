// Feeds arbitrary bytes to the simulated board's scenario reader and checks what it gives back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "drivers/sim/SimCharger.h"
#include "drivers/sim/SimScenario.h"
#include "fuzz/FuzzCheck.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const std::optional<sim::Scenario> s = sim::ParseScenario(text, error);
  if (!s) {
    Check(error.rfind("line ", 0) == 0);
    fuzz::CheckMessage(error);
  } else {
    Check(error.empty());
    for (std::size_t i = 0; i < s->steps.size(); ++i) {
      const sim::ScenarioStep& step = s->steps[i];
      Check(step.at.count() >= 0 && step.at.count() <= sim::kScenarioMaxSeconds * 1e6);
      Check(step.line >= 1 && static_cast<std::size_t>(step.line) <= size);
      if (step.key == sim::ScenarioStep::Key::BatteryTemperature)
        Check(step.value >= 0 && step.value <= static_cast<int>(sim::BatteryTemperature::Cold));
      else
        Check(step.value == 0 || step.value == 1);
      if (i > 0) Check(step.at >= s->steps[i - 1].at && step.line > s->steps[i - 1].line);
    }
  }

  // Any line end reads the same: the same steps, or the same refusal.
  if (text.find('\r') == std::string_view::npos) {
    for (std::string_view end : {"\r\n", "\r"}) {
      std::string otherError;
      const std::optional<sim::Scenario> other =
          sim::ParseScenario(fuzz::WithLineEnds(text, end), otherError);
      Check(other.has_value() == s.has_value());
      Check(otherError == error);
      if (other) {
        Check(other->steps.size() == s->steps.size());
        for (std::size_t i = 0; i < s->steps.size(); ++i) {
          Check(other->steps[i].at == s->steps[i].at && other->steps[i].key == s->steps[i].key &&
                other->steps[i].value == s->steps[i].value &&
                other->steps[i].line == s->steps[i].line);
        }
      }
    }
  }
  return 0;
}
