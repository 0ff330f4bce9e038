#include "registers/Spins.h"

#include "adapter/frmUSB.h"
#include "registers/RegisterAccess.h"
#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"
#include "foundation/Utils.h"

namespace Spins {

std::string SectionName(std::string_view caption) {
  std::string s = "Spin";
  s += caption;
  return s;
}

std::string Description(std::string_view caption) {
  return Settings::GetString(SectionName(caption), kDescKey, "");
}

std::optional<std::string_view> FindCaption(std::string_view text) {
  for (std::string_view c : kButtonCaptions) {
    if (Text::EqualsNoCase(c, text)) return c;
  }
  return std::nullopt;
}

std::optional<uint16_t> ParsePresetValue(std::string_view text) { return Text::ParseHexWord(text); }

std::string ReadBackErrorText(std::string_view key, int32_t status) {
  return "Error reading register " + std::string(key) +
         ". Error code(decimal)=" + std::to_string(status);
}

std::string MismatchText(std::string_view key) {
  return "Register " + std::string(key) +
         " : Read Value does not match the value that was written!";
}

std::string BadValueText(std::string_view section, std::string_view key, std::string_view value) {
  return "Register " + std::string(key) + " not written: the value \"" + std::string(value) +
         "\" in section [" + std::string(section) +
         "] is not 1 to 4 hex digits without any prefix.";
}

SpinReport SpinProgrammer::ApplySpin(std::string_view caption) {
  const RegisterAccess::SourceScope tag(access_, recording::AccessSource::kSpin);
  const std::string section = SectionName(caption);
  // The preset as the file holds it when its first key is wanted, read and parsed once.
  std::optional<Settings::Snapshot> settings;
  return ApplyPreset(section, [&section, &settings](std::string_view key) {
    if (!settings) settings.emplace();
    return settings->GetString(section, key, "");
  });
}

SpinReport SpinProgrammer::ApplyPreset(std::string_view sectionName, const PresetValue& valueOf) {
  SpinReport report;
  const std::string section(sectionName);

  if (!access_.Confirm(std::string(kSpinConfirmText))) return report;

  if (access_.WriteRegister(std::string(kSpinEnableName), kTestModeRegister, kTestModeSoftTrim,
                            access_.Comm().deviceAddress) != 0) {
    access_.ShowMessage(std::string(kAbortingText));
    report.outcome = SpinReport::Outcome::kAborted;
    return report;
  }

  for (const RegisterTable::Register& reg : RegisterTable::All()) {
    if (!reg.inPreset) continue;
    const std::string key = RegisterTable::PresetKey(reg);
    const std::string text = valueOf(key);
    if (text.empty()) continue;  // a missing or empty key leaves the register untouched

    const std::optional<uint16_t> parsed = ParsePresetValue(text);
    if (!parsed) {
      access_.ShowMessage(BadValueText(section, key, text));
      ++report.refused;
      continue;
    }
    const int16_t value = Utils::UIntToInt(*parsed);

    if (access_.WriteRegister(key, reg.address, value, access_.Comm().deviceAddress) == 0)
      ++report.written;
    else
      ++report.writeFailed;

    if (access_.Comm().verifyWrite) {
      // Read back even after a failed write: the operator sees what the charger now holds.
      int16_t readback = 0;
      const int32_t status =
          access_.ReadRegister(key, reg.address, readback, access_.Comm().deviceAddress);
      if (status != 0) {
        access_.ShowMessage(ReadBackErrorText(key, status));
        ++report.readFailed;
      }
      if (readback != value) {
        access_.ShowMessage(MismatchText(key));
        ++report.mismatched;
      }
    }
  }
  report.outcome = SpinReport::Outcome::kApplied;
  return report;
}

BurnOutcome SpinProgrammer::BurnEeprom() {
  const RegisterAccess::SourceScope tag(access_, recording::AccessSource::kBurn);
  if (!access_.Confirm(std::string(kBurnConfirmText))) return BurnOutcome::kDeclined;

  const std::string name(kBurnName);
  const int32_t start =
      access_.WriteRegister(name, kTestModeRegister, kTestModeEEBurn, access_.Comm().deviceAddress);
  access_.Link().Delay(kBurnDelayMs);
  Utils::WaitSeconds(kBurnSettleSeconds);
  // Always leave the burn state, even when starting the burn failed.
  const int32_t finish =
      access_.WriteRegister(name, kTestModeRegister, kTestModeSoftTrim, access_.Comm().deviceAddress);

  if (start != 0 || finish != 0) {
    access_.ShowMessage(std::string(kBurnFailedText));
    return BurnOutcome::kFailed;
  }
  access_.ShowMessage(std::string(kBurnCompleteText));
  return BurnOutcome::kComplete;
}

}  // namespace Spins
