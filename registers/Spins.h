// Trim presets ("spins") kept in the settings file, and the EEPROM burn of the trim values.
// Shared by the spin window and korvoctl: both go through SpinProgrammer, so the register
// writes, read-backs and messages are the same wherever a spin is applied.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

class RegisterAccess;

#include "registers/RegisterTable.h"

namespace Spins {

// The captions of the spin buttons, top to bottom. A caption is the only link between a
// button and its preset: the preset lives in section "Spin" + caption.
inline constexpr std::array<std::string_view, 7> kButtonCaptions = {
    "rk51xx Trim1", "rk51xx Trim2", "rk51xx Trim3", "rk51xx Trim4",
    "rk51xx Trim5", "Custom 1",     "Custom 2"};

// A preset writes the registers of RegisterTable::All() that a preset may write, in that order
// (0x17 and 0x19 never); the key is also the register name in messages.

inline constexpr std::string_view kDescKey = "Desc";

// Test-mode register and the words written to it.
inline constexpr uint8_t kTestModeRegister = RegisterTable::kTestMode1;
inline constexpr int16_t kTestModeSoftTrim = 0x0201;  // TM Soft Trim + TMEN
inline constexpr int16_t kTestModeEEBurn = 0x0205;    // TM Soft Trim + TMEE BURN + TMEN
inline constexpr int32_t kBurnDelayMs = 100;
inline constexpr float kBurnSettleSeconds = 0.1f;

// Message texts.
inline constexpr std::string_view kSpinConfirmText =
    "Be sure CHGEN pin is at 15V to enable test mode. Press OK to continue.";
inline constexpr std::string_view kAbortingText = " Aborting";
inline constexpr std::string_view kBurnConfirmText =
    "Be sure CHGEN pin is at 12V for EEPROM burn. Press OK to continue.";
inline constexpr std::string_view kBurnCompleteText = "Programming complete.";
inline constexpr std::string_view kBurnFailedText =
    "EEPROM burn failed! The trim values may not have been stored. "
    "Check the adapter and the CHGEN pin, then burn again.";
inline constexpr std::string_view kSpinEnableName = "TM1";
inline constexpr std::string_view kBurnName = "TestMode1";

std::string SectionName(std::string_view caption);  // "Spin" + caption, no blank between
// The preset's "Desc" text, empty when the section or key is absent.
std::string Description(std::string_view caption);
// The caption among kButtonCaptions that equals text, ignoring case; nullopt if none does.
std::optional<std::string_view> FindCaption(std::string_view text);

// A preset value is the register word as 1 to 4 hex digits, no prefix. nullopt otherwise.
std::optional<uint16_t> ParsePresetValue(std::string_view text);

std::string ReadBackErrorText(std::string_view key, int32_t status);
std::string MismatchText(std::string_view key);
std::string BadValueText(std::string_view section, std::string_view key, std::string_view value);

struct SpinReport {
  enum class Outcome {
    kDeclined,  // the operator did not confirm; nothing was written
    kAborted,   // the test-mode entry write failed; no preset register was written
    kApplied,   // the preset loop ran to its end
  };
  Outcome outcome = Outcome::kDeclined;
  int written = 0;      // preset registers whose write succeeded
  int writeFailed = 0;  // preset registers whose write failed on the bus
  int refused = 0;      // preset values refused as malformed
  int readFailed = 0;   // read-backs that failed (VerifyWrite on)
  int mismatched = 0;   // read-backs that differed from the value written (VerifyWrite on)

  // True when the preset went in exactly as stored.
  bool Clean() const {
    return outcome == Outcome::kApplied && writeFailed == 0 && refused == 0 && readFailed == 0 &&
           mismatched == 0;
  }
};

enum class BurnOutcome {
  kDeclined,  // the operator did not confirm; nothing was written
  kFailed,    // a write to the test-mode register failed; the failure has been reported
  kComplete,  // both writes succeeded, "Programming complete." shown
};

// Applies presets and burns the EEPROM through the register access it is handed (the main
// window's, korvoctl's, or a board's of its own): at the access's device address as it is at
// the time of each call, with its link and its messages.
class SpinProgrammer {
 public:
  explicit SpinProgrammer(RegisterAccess& access) : access_(access) {}

  // Applies the preset of the button with this caption. The preset is read from the settings
  // file on every call, so edits take effect without a restart.
  SpinReport ApplySpin(std::string_view caption);
  BurnOutcome BurnEeprom();

  // The one preset writer, for spins and for restored snapshots alike: the confirmation, the
  // test-mode entry, the keys in write order, the read-backs and the messages. valueOf(key)
  // gives a key's text in the section named section; empty leaves the register untouched.
  using PresetValue = std::function<std::string(std::string_view key)>;
  SpinReport ApplyPreset(std::string_view section, const PresetValue& valueOf);

 private:
  RegisterAccess& access_;
};

}  // namespace Spins
