#include "cli/KorvoctlSpins.h"

#include "cli/Korvoctl.h"
#include "registers/Spins.h"

int KorvoctlSpin(RegisterAccess& access, std::string_view caption) {
  const Spins::SpinReport r = Spins::SpinProgrammer(access).ApplySpin(caption);
  switch (r.outcome) {
    case Spins::SpinReport::Outcome::kDeclined: return kExitDeclined;
    case Spins::SpinReport::Outcome::kAborted: return kExitBus;
    case Spins::SpinReport::Outcome::kApplied: break;
  }
  return r.Clean() ? kExitOk : kExitBus;
}

int KorvoctlBurn(RegisterAccess& access) {
  switch (Spins::SpinProgrammer(access).BurnEeprom()) {
    case Spins::BurnOutcome::kDeclined: return kExitDeclined;
    case Spins::BurnOutcome::kFailed: return kExitBus;
    case Spins::BurnOutcome::kComplete: break;
  }
  return kExitOk;
}

std::string UnknownSpinText(const std::string& caption) {
  std::string s = "unknown spin '" + caption + "': expected one of";
  bool first = true;
  for (std::string_view c : Spins::kButtonCaptions) {
    s += first ? " '" : ", '";
    s += c;
    s += "'";
    first = false;
  }
  return s;
}

std::string KorvoctlSpinUsage() {
  return "  spin CAPTION       apply the spin preset of the button CAPTION (\"rk51xx Trim1\" to\n"
         "                     \"rk51xx Trim5\", \"Custom 1\", \"Custom 2\"; section \"Spin\" + "
         "CAPTION\n"
         "                     of the settings file): test mode on, then the preset registers,\n"
         "                     read back when VerifyWrite is on. Asks first.\n"
         "  burn               burn the trim registers into the charger's EEPROM. Asks first.\n"
         "                     A failed spin or burn stops the operations after it.\n";
}
