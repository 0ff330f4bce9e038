// The charger's registers as the program knows them, in one table: address, Tag text, the
// captions of the main and the test-mode window, the bit names, which ones take writes, the
// spin preset key and, for the three DAC registers, unit, resolution and the values the main
// window shows as valid. The windows, the spins, korvoctl and the simulated board read it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace RegisterTable {

inline constexpr uint8_t kTrim0 = 0x10;
inline constexpr uint8_t kTrim1 = 0x11;
inline constexpr uint8_t kControl = 0x12;
inline constexpr uint8_t kStatus = 0x13;
inline constexpr uint8_t kChargeCurrent = 0x14;
inline constexpr uint8_t kChargeVoltage = 0x15;
inline constexpr uint8_t kTrim2 = 0x16;
inline constexpr uint8_t kTestMode1 = 0x17;
inline constexpr uint8_t kTestMode2 = 0x18;
inline constexpr uint8_t kVdt = 0x19;
inline constexpr uint8_t kInputCurrent = 0x3F;

// The chip variant chosen on the command line; it renames three status bits.
enum class Variant { rk5190, rk5191 };

struct Range {
  uint16_t low;
  uint16_t high;  // inclusive
};

// A DAC register holds its quantity directly in the unit: the value 16800 is 16800 mV.
struct Dac {
  std::string_view unit;         // "mV" or "mA", beside the main window's entry
  int lowestBit;                 // the DAC's least significant bit
  std::span<const Range> valid;  // the values the entry shows on white; others on red
  // The weight of the lowest DAC bit, in the unit.
  uint32_t Resolution() const { return 1u << lowestBit; }
  // Whether the entry's numeric value (an empty entry counts as 0) lies in a valid range.
  bool Valid(double value) const;
};

// Sixteen bit names, bit 15 first, as the windows show them from left to right.
using BitNames = std::array<std::string_view, 16>;

// The captions keep the address as the windows write it, spacing and all; the Tag and the preset
// key are derived from the address (Tag(), PresetKey()).
struct Register {
  uint8_t address;
  std::string_view mainCaption;  // main window frame or row caption; empty when not shown there
  std::string_view trimTitle;    // test-mode row title, also the register name in its messages
  // The test-mode row's bit names as its bit view takes them: "|" between names, bit 15 first,
  // blanks exact.
  std::string_view trimBitNames;
  const BitNames* mainBitNames;      // the main window's bit name row (0x12, 0x13), else null
  const BitNames* mainBitNames5191;  // the status register's names for rk5191, else null
  bool readOnly;                     // the charger ignores writes (status, VDT)
  bool trimWritable;                 // the test-mode row has a Write button (every row but VDT)
  bool inPreset;                     // a spin preset may write it (PresetKey)
  std::string_view emptyEntryText;   // main window: refusal to write an empty entry
  const Dac* dac;                    // the three DAC registers, else null
};

// In address order, 0x10 to 0x19 then 0x3F: the test-mode rows, the preset write order and
// korvoctl's dump.
std::span<const Register> All();
const Register* Find(uint8_t address);
// The main window's five registers in the order Read All and the scan read them.
std::span<const uint8_t> MainReadOrder();

// The name of a bit (0 to 15) in the test-mode window / on the main window (empty when the
// main window names no bits of this register).
std::string_view TrimBitName(const Register& r, int bit);
std::string_view MainBitName(const Register& r, int bit, Variant variant = Variant::rk5190);

// The Tag of every view of the register: "&h" and the address in lower-case hex ("&h3f").
std::string Tag(const Register& r);
// The register's key in a spin preset section: "0x" and the address in upper-case hex ("0x3F");
// empty for a register no preset writes.
std::string PresetKey(const Register& r);

// The register address a Tag denotes: blanks around it ignored, an "&h" prefix in either case,
// then hex digits read as far as they go; the low byte of the value ("&h3f" gives 0x3F).
uint8_t AddressFromTag(std::string_view tag);

}  // namespace RegisterTable
