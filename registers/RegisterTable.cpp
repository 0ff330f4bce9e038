#include "registers/RegisterTable.h"

#include <cctype>

#include "foundation/Text.h"
#include "foundation/Utils.h"

namespace RegisterTable {

namespace {

constexpr BitNames kControlBits = {"RSVD",   "RSVD",  "RSVD",  "RSVD",   "BATDP2", "BATDP1",
                                   "BATDP0", "ACOC1", "ACOC0", "ACOCEN", "PWM500", "LEARN",
                                   "IOUTBT", "RST",   "RSVD",  "CHGEND"};
constexpr BitNames kStatusBits = {"ACDET",  "RSVD",   "AC<BT",  "VOR",     "BDEPL", "RSVD",
                                  "RSVD",   "TSHUT",  "AC2SYS", "BAT2SYS", "CHGOC", "NoDPM",
                                  "NoIreg", "NoVreg", "CHGOFF", "InhibCHG"};
// rk5191 names bits 14, 10 and 9.
constexpr BitNames kStatusBits5191 = {"ACDET",  "BDET",   "AC<BT",  "VOR",     "BDEPL", "BHOT",
                                      "BCOLD",  "TSHUT",  "AC2SYS", "BAT2SYS", "CHGOC", "NoDPM",
                                      "NoIreg", "NoVreg", "CHGOFF", "InhibCHG"};

// The voltage accepts 9000 on its own (two cells) and the three- and four-cell ranges.
constexpr Range kVoltageRanges[] = {{9000, 9000}, {12000, 14400}, {16000, 19200}};
constexpr Range kCurrentRanges[] = {{0, 16256}};  // 0x3F80
// Lowest DAC bits: "VREG DAC 0" is bit 1 of 0x15 (2 mV), "ICHG DAC 0" and "IAC DAC 0" bit 7 of
// 0x14 and 0x3F (128 mA).
constexpr Dac kVoltage{"mV", 1, kVoltageRanges};
constexpr Dac kCurrent{"mA", 7, kCurrentRanges};

constexpr Register kRegisters[] = {
    {kTrim0, "", "TR0: TRIM 0 REGISTER(0x10)",
     "BG CRUD 2|BG CRUD 1|BG CRUD 0|ICHG XLATR 3|ICHG XLATR 2|ICHG XLATR 1|ICHG XLATR 0|IAC  4|"
     "IAC  3|IAC  2|IAC  1|IAC  0|IAC XLATR 3|IAC XLATR 2|IAC XLATR 1|IAC XLATR 0",
     nullptr, nullptr, false, true, true, "", nullptr},
    {kTrim1, "", "TR1: TRIM 1 REGISTER(0x11)",
     "ICHG 4|ICHG 3|ICHG 2|ICHG 1|ICHG 0|LBSET 3|LBSET 2|LBSET 1|LBSET 0|RDIV 4Cell 2|"
     "RDIV 4Cell 1|RDIV 4Cell 0|BG 3|BG 2|BG 1|BG 0",
     nullptr, nullptr, false, true, true, "", nullptr},
    {kControl, "CONTROL REGISTER (0x12)", "CM: CHARGER MODE REGISTER(0x12)",
     "TM DAC VREG|TM DAC ICHG|TM DAC IAC|TM DPM Ovrd|SET BAT DEPL 2|SET BAT DEPL 1|"
     "SET BAT DEPL 0|SET ACOC 1|SET ACOC 0|ACOC EN|PWM FSEL|Learn Cycle|IOUT Select|"
     "CHG Default|TM ACOC SEL|CHG END",
     &kControlBits, nullptr, false, true, true, "No valid value specified for Control Register!",
     nullptr},
    {kStatus, "STATUS REGISTER (0x13)", "CHARGER STATUS REG(0x13)",
     "AC DET|BAT DET|AC < BAT|VOLT OutOf Range|BAT DEPL|TS HOT OP|TS COLD|TSHUT|AC To SYS|"
     "BAT To SYS|CHOC|DPM LOOP Disable|ICHG LOOP Disable|VCHG LOOP Disable|Charge Off|"
     "CHG Not Ready",
     &kStatusBits, &kStatusBits5191, true, true, true, "", nullptr},
    {kChargeCurrent, "CHARGE CURRENT (0x14)", "CC: CHARGING CURRENT REG(0x14)",
     "ICHG DAC 8|ICHG DAC 7|ICHG DAC 6|ICHG DAC 5|ICHG DAC 4|ICHG DAC 3|ICHG DAC 2|"
     "ICHG DAC 1|ICHG DAC 0|TM Set chg ucp|TM Set bat detz|TM Set bat sysz|TM Set bat depl|"
     "TM Set AIR DET|TM VDAC Ovrd|TM Set Bat_lowv",
     nullptr, nullptr, false, true, true, "No valid value specified for Charge Current!",
     &kCurrent},
    {kChargeVoltage, "BATTERY VOLTAGE (0x15)", "CV: CHARGING VOLTAGE REG(0x15)",
     "VREG DAC 14|CELLS/ VDAC 13|VREG DAC 12|VREG DAC 11|VREG DAC 10|VREG DAC 9|VREG DAC 8|"
     "VREG DAC 7|VREG DAC 6|VREG DAC 5|VREG DAC 4|VREG DAC 3|VREG DAC 2|VREG DAC 1|"
     "VREG DAC 0|TM vdac ",
     nullptr, nullptr, false, true, true, "No valid value specified for Voltage!", &kVoltage},
    {kTrim2, "", "TR2: TRIM 2 REGISTER(0x16)",
     "SMBus AD 1/ PWM30|SMBus AD 0/ 31_30Z|ReadIdle Ovrd/ 2Cell|SDASCL Ovrd/ AirOut|"
     "AC Good TSz|DEV SEL 20_30Z|Rdiv 3Cell 2|Rdiv 3Cell 1|Rdiv 3Cell 0|OSC 1|OSC 0|"
     "SET ACUC 1|SET ACUC 0|SET CHGOC 1|SET CHGOC 0|OVRD EN",
     nullptr, nullptr, false, true, true, "", nullptr},
    {kTestMode1, "", "TM1: TEST MODE 1 REGISTER(0x17)",
     "TM CLK 1|TM CLK 0|TM TShut|TM Alarm in en|TMOD IDAC|TM BG CRUD BGZ|TM Soft Trim|"
     "TM Dig TP|TM Set|TM 100|TM BG|TMDAC Cntr|TMExt Clock|TMEE BURN|TM Soft Rst|TMEN",
     nullptr, nullptr, false, true, false, "", nullptr},
    {kTestMode2, "", "TM2: TEST MODE 2 REGISTER(0x18)",
     "TMSet REGN GOOD|TMSet VREF5 GOOD|TM Set ACDET|TM Set Susp|TMSet CHG OCP|TM Set ACUC|"
     "TM Set ACOC|TMSet Bat ACPZ|ACOC OVRD|TS OVRD|ACUC OVRD|CHG OCP OVRD|SYNC OVRD|"
     "Batshort CHG10|Batshort EN|DTIMR EN",
     nullptr, nullptr, false, true, true, "", nullptr},
    {kVdt, "", "VDT REG (0x19)",
     "High OutOf Range|DAC Offset|VDAC 6|VDAC 5|VDAC 4|VDAC 3|VDAC 2|VDAC 1|VDAC 0|"
     "Mid Outof Range|Low OutOf Range|Nine Volt|VDAC Chg Inhibit|Four cell|Three Cell|"
     "Two Cell",
     nullptr, nullptr, true, false, false, "", nullptr},
    {kInputCurrent, "INPUT CURRENT (0x3F)", "IC: INPUT CURRENT REGISTER(0x3F)",
     "IAC DAC 8|IAC DAC 7|IAC DAC 6|IAC DAC 5|IAC DAC 4|IAC DAC 3|IAC DAC 2|IAC DAC 1|"
     "IAC DAC 0|TM Decode 4|TM Decode 3|TM Decode 2|TM Decode 1|TM Decode 0|TM SoftStart|"
     "TM CLK 2",
     nullptr, nullptr, false, true, true, "No valid value specified for Input Current!", &kCurrent},
};

constexpr uint8_t kMainReadOrder[] = {kStatus, kControl, kChargeVoltage, kInputCurrent,
                                      kChargeCurrent};

}  // namespace

bool Dac::Valid(double value) const {
  for (const Range& r : valid)
    if (value >= r.low && value <= r.high) return true;
  return false;
}

std::span<const Register> All() { return kRegisters; }

const Register* Find(uint8_t address) {
  for (const Register& r : kRegisters)
    if (r.address == address) return &r;
  return nullptr;
}

std::span<const uint8_t> MainReadOrder() { return kMainReadOrder; }

std::string_view TrimBitName(const Register& r, int bit) {
  if (bit < 0 || bit > 15) return {};
  std::string_view names = r.trimBitNames;
  for (int i = 15; i > bit; --i) {
    const std::size_t bar = names.find('|');
    if (bar == std::string_view::npos) return {};
    names.remove_prefix(bar + 1);
  }
  return names.substr(0, names.find('|'));
}

std::string_view MainBitName(const Register& r, int bit, Variant variant) {
  if (bit < 0 || bit > 15) return {};
  const BitNames* names =
      variant == Variant::rk5191 && r.mainBitNames5191 ? r.mainBitNames5191 : r.mainBitNames;
  return names ? (*names)[static_cast<std::size_t>(15 - bit)] : std::string_view();
}

std::string Tag(const Register& r) {
  std::string hex = Text::Hex(r.address, 2);
  for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "&h" + hex;
}

std::string PresetKey(const Register& r) { return r.inPreset ? Text::Byte(r.address) : ""; }

uint8_t AddressFromTag(std::string_view tag) {
  tag = Text::Trim(tag);
  if (Text::StartsWithNoCase(tag, "&h")) tag.remove_prefix(2);
  return static_cast<uint8_t>(Utils::LenientHexValue(tag) & 0xFF);
}

}  // namespace RegisterTable
