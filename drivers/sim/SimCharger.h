// The simulated rk5190 charger: its registers, the status and VDT it computes from the board
// conditions, test mode, RST, the burn, and its own EEPROM of trim words. Register addresses
// are the register table's; the masks below are this model's.
//
// - Registers 0x10 to 0x19 and 0x3F; any other command code is not acknowledged.
// - 0x13 (status) is read-only and follows the conditions: AC present sets ACDET (15) and
//   AC2SYS (7); battery alone sets AC<BT (13) and BAT2SYS (6); CHGOFF (1) is set whenever the
//   charger is not charging (Charging off, or no AC, or no battery, or the battery hot or cold,
//   or thermal shutdown). A hot battery sets BHOT (10), a cold one BCOLD (9) (the rk5191's
//   names; reserved bits on the rk5190), thermal shutdown TSHUT (8). With neither AC nor battery
//   the charger has no supply and acknowledges nothing; when power returns it starts afresh
//   from its power-on values (trims reloaded from the EEPROM).
// - The DAC registers keep their DAC bits, as the test-mode window names them: 0x15 (charging
//   voltage) bits 15 to 1 ("VREG DAC 0" is bit 1: 2 mV steps), 0x14 (charge current) and 0x3F
//   (input current) bits 15 to 7 ("ICHG DAC 0", "IAC DAC 0": 128 mA steps); the other bits are
//   test bits.
// - 0x12 (control) keeps bits 0 and 3 to 11. A write with RST (bit 2) set resets 0x12, 0x14,
//   0x15 and 0x3F to their power-on values (the rest of that write is ignored); RST reads 0.
// - Test mode is on while 0x17 bit 0 (TMEN) is set. 0x17 is always writable. 0x10, 0x11,
//   0x16 and 0x18 take writes only in test mode; outside it a write is acknowledged and
//   changes nothing (they keep what test mode left in them). In test mode the test bits of
//   0x12 (15 to 12, 1), 0x14 (6 to 0), 0x15 (0) and 0x3F (6 to 0) are writable too; they clear
//   when test mode ends.
// - 0x19 (VDT) is read-only, derived from the charging voltage: cell range (bit 0 two cells
//   with bit 4 "Nine Volt" at exactly 9000 mV, bit 1 three cells 12000-14400, bit 2 four cells
//   16000-19200), VDAC 6..0 (bits 13..7) the position in the range in 32 mV steps, and for
//   voltages outside the ranges Low (5), Mid (6) or High (15) OutOf Range with Chg Inhibit (3).
// - A write to 0x17 with TMEN and TMEE BURN (bit 2) both set burns TR0 (0x10), TR1 (0x11) and
//   TR2 (0x16) into the charger's EEPROM; a new board (or a power cycle) loads them from there.
//   With an EEPROM file the burn is saved there too; a burn that cannot be saved still burns,
//   and its write fails with VB_ZENTIO_OCX_INTERNAL_ERROR so the user hears of it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "registers/RegisterTable.h"

namespace sim {

// Status bits.
inline constexpr uint16_t kStatusAcDet = 1u << 15;
inline constexpr uint16_t kStatusAcBelowBat = 1u << 13;
inline constexpr uint16_t kStatusBHot = 1u << 10;
inline constexpr uint16_t kStatusBCold = 1u << 9;
inline constexpr uint16_t kStatusTshut = 1u << 8;
inline constexpr uint16_t kStatusAc2Sys = 1u << 7;
inline constexpr uint16_t kStatusBat2Sys = 1u << 6;
inline constexpr uint16_t kStatusChgOff = 1u << 1;

// Control and test-mode bits.
inline constexpr uint16_t kControlRst = 1u << 2;
inline constexpr uint16_t kTestModeEnable = 1u << 0;  // TMEN
inline constexpr uint16_t kTestModeBurn = 1u << 2;    // TMEE BURN

// Implemented bits outside test mode, and the test bits that test mode adds.
inline constexpr uint16_t kControlMask = 0x0FF9;
inline constexpr uint16_t kControlTestMask = 0xF002;
inline constexpr uint16_t kCurrentMask = 0xFF80;
inline constexpr uint16_t kCurrentTestMask = 0x007F;
inline constexpr uint16_t kVoltageMask = 0xFFFE;
inline constexpr uint16_t kVoltageTestMask = 0x0001;

// Power-on values.
inline constexpr uint16_t kPowerOnControl = 0x0040;       // ACOCEN
inline constexpr uint16_t kPowerOnChargeCurrent = 0;      // not charging until told
inline constexpr uint16_t kPowerOnChargeVoltage = 16800;  // four cells
inline constexpr uint16_t kPowerOnInputCurrent = 4096;

// The charger's own EEPROM: the three trim words that a burn stores.
struct TrimEeprom {
  uint16_t tr0 = 0x4A52;
  uint16_t tr1 = 0x8C63;
  uint16_t tr2 = 0x0E10;
  bool operator==(const TrimEeprom&) const = default;
};

enum class BatteryTemperature : uint8_t { Normal, Hot, Cold };

struct Conditions {
  bool acPresent = true;
  bool batteryPresent = true;
  bool charging = true;
  BatteryTemperature batteryTemperature = BatteryTemperature::Normal;
  bool thermalShutdown = false;
  bool operator==(const Conditions&) const = default;
};

class Charger {
 public:
  // The trims come from eepromFile when it holds them, else from fallback (the factory trims
  // when there is none). settingsFile is never written, even when eepromFile names it.
  Charger(const Conditions& conditions, std::string eepromFile, std::string settingsFile,
          const std::optional<TrimEeprom>& fallback);

  // Why the EEPROM file cannot be used (the board would not know its trims); empty when it
  // can, or when there is none.
  const std::string& EepromProblem() const { return eepromProblem_; }

  // Back door: what a read of reg would return / store v unchecked (no masks or read-only
  // rules). Poke on 0x13 or 0x19 pins the computed value until ClearOverrides, PowerCycle or
  // (for 0x13) SetConditions. Unknown registers peek as 0 and ignore pokes.
  uint16_t Peek(uint8_t reg) const;
  void Poke(uint8_t reg, uint16_t v);
  void ClearOverrides();

  void SetConditions(const Conditions& c);
  const Conditions& GetConditions() const { return conditions_; }
  // Registers back to their power-on values, trims from the EEPROM, test mode off.
  void PowerCycle();
  bool TestMode() const;
  bool Powered() const { return conditions_.acPresent || conditions_.batteryPresent; }

  TrimEeprom Eeprom() const { return trimEeprom_; }
  void SetEeprom(const TrimEeprom& e) { trimEeprom_ = e; }  // memory only, file untouched
  int BurnCount() const { return burnCount_; }
  const std::string& EepromFile() const { return eepromFile_; }

  bool Has(uint8_t command) const;
  // A command byte on its own: selects the register for a read without command.
  bool Select(uint8_t command);
  uint8_t Pointer() const { return pointer_; }
  // false: the command is not acknowledged.
  bool Read(uint8_t command, uint16_t& value);
  // 0, VB_T2H_NACK, or VB_ZENTIO_OCX_INTERNAL_ERROR when a burn could not be saved to the
  // file; note then says why.
  int16_t Write(uint8_t command, uint16_t value, std::string& note);

  // ", AC adapter present, battery present, charging" and so on, for the About text.
  std::string Describe() const;

 private:
  bool Charging() const;
  uint16_t ComputeStatus() const;
  uint16_t ComputeVdt() const;
  void ResetChargerRegisters();
  void LeaveTestModeBits();
  int16_t WriteTestMode(uint16_t v, std::string& note);
  // Empty when saved, else why not.
  std::string SaveEepromFile() const;
  void LoadEeprom(const std::optional<TrimEeprom>& fallback);

  std::array<uint16_t, 0x40> regs_{};
  std::optional<uint16_t> statusOverride_;
  std::optional<uint16_t> vdtOverride_;
  uint8_t pointer_ = 0;
  Conditions conditions_;

  TrimEeprom trimEeprom_;
  std::string eepromFile_;
  std::string settingsFile_;
  std::string eepromProblem_;
  int burnCount_ = 0;
};

}  // namespace sim
