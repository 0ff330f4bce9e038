#include "recording/BitNames.h"

#include <span>

#include "shell/Utils.h"

namespace recording {

namespace {

// Names from bit 15 down to bit 0, separated by "|", exactly as the test-mode window shows them.
struct Row {
  uint8_t address;
  std::string_view names;
};
constexpr std::array<Row, 11> kTestModeRows = {{
    {0x10,
     "BG CRUD 2|BG CRUD 1|BG CRUD 0|ICHG XLATR 3|ICHG XLATR 2|ICHG XLATR 1|ICHG XLATR 0|IAC  4|"
     "IAC  3|IAC  2|IAC  1|IAC  0|IAC XLATR 3|IAC XLATR 2|IAC XLATR 1|IAC XLATR 0"},
    {0x11,
     "ICHG 4|ICHG 3|ICHG 2|ICHG 1|ICHG 0|LBSET 3|LBSET 2|LBSET 1|LBSET 0|RDIV 4Cell 2|"
     "RDIV 4Cell 1|RDIV 4Cell 0|BG 3|BG 2|BG 1|BG 0"},
    {0x12,
     "TM DAC VREG|TM DAC ICHG|TM DAC IAC|TM DPM Ovrd|SET BAT DEPL 2|SET BAT DEPL 1|"
     "SET BAT DEPL 0|SET ACOC 1|SET ACOC 0|ACOC EN|PWM FSEL|Learn Cycle|IOUT Select|"
     "CHG Default|TM ACOC SEL|CHG END"},
    {0x13,
     "AC DET|BAT DET|AC < BAT|VOLT OutOf Range|BAT DEPL|TS HOT OP|TS COLD|TSHUT|AC To SYS|"
     "BAT To SYS|CHOC|DPM LOOP Disable|ICHG LOOP Disable|VCHG LOOP Disable|Charge Off|"
     "CHG Not Ready"},
    {0x14,
     "ICHG DAC 8|ICHG DAC 7|ICHG DAC 6|ICHG DAC 5|ICHG DAC 4|ICHG DAC 3|ICHG DAC 2|"
     "ICHG DAC 1|ICHG DAC 0|TM Set chg ucp|TM Set bat detz|TM Set bat sysz|TM Set bat depl|"
     "TM Set AIR DET|TM VDAC Ovrd|TM Set Bat_lowv"},
    {0x15,
     "VREG DAC 14|CELLS/ VDAC 13|VREG DAC 12|VREG DAC 11|VREG DAC 10|VREG DAC 9|VREG DAC 8|"
     "VREG DAC 7|VREG DAC 6|VREG DAC 5|VREG DAC 4|VREG DAC 3|VREG DAC 2|VREG DAC 1|"
     "VREG DAC 0|TM vdac "},
    {0x16,
     "SMBus AD 1/ PWM30|SMBus AD 0/ 31_30Z|ReadIdle Ovrd/ 2Cell|SDASCL Ovrd/ AirOut|"
     "AC Good TSz|DEV SEL 20_30Z|Rdiv 3Cell 2|Rdiv 3Cell 1|Rdiv 3Cell 0|OSC 1|OSC 0|"
     "SET ACUC 1|SET ACUC 0|SET CHGOC 1|SET CHGOC 0|OVRD EN"},
    {0x17,
     "TM CLK 1|TM CLK 0|TM TShut|TM Alarm in en|TMOD IDAC|TM BG CRUD BGZ|TM Soft Trim|"
     "TM Dig TP|TM Set|TM 100|TM BG|TMDAC Cntr|TMExt Clock|TMEE BURN|TM Soft Rst|TMEN"},
    {0x18,
     "TMSet REGN GOOD|TMSet VREF5 GOOD|TM Set ACDET|TM Set Susp|TMSet CHG OCP|TM Set ACUC|"
     "TM Set ACOC|TMSet Bat ACPZ|ACOC OVRD|TS OVRD|ACUC OVRD|CHG OCP OVRD|SYNC OVRD|"
     "Batshort CHG10|Batshort EN|DTIMR EN"},
    {0x19,
     "High OutOf Range|DAC Offset|VDAC 6|VDAC 5|VDAC 4|VDAC 3|VDAC 2|VDAC 1|VDAC 0|"
     "Mid Outof Range|Low OutOf Range|Nine Volt|VDAC Chg Inhibit|Four cell|Three Cell|"
     "Two Cell"},
    {0x3F,
     "IAC DAC 8|IAC DAC 7|IAC DAC 6|IAC DAC 5|IAC DAC 4|IAC DAC 3|IAC DAC 2|IAC DAC 1|"
     "IAC DAC 0|TM Decode 4|TM Decode 3|TM Decode 2|TM Decode 1|TM Decode 0|TM SoftStart|"
     "TM CLK 2"},
}};

// Main window, bit 0 first.
constexpr std::array<std::string_view, 16> kControlNames = {
    "CHGEND", "RSVD",   "RST",  "IOUTBT", "LEARN", "PWM500", "ACOCEN", "ACOC0",
    "ACOC1",  "BATDP0", "BATDP1", "BATDP2", "RSVD", "RSVD",   "RSVD",   "RSVD"};
constexpr std::array<std::string_view, 16> kStatusNames5190 = {
    "InhibCHG", "CHGOFF", "NoVreg", "NoIreg", "NoDPM", "CHGOC", "BAT2SYS", "AC2SYS",
    "TSHUT",    "RSVD",   "RSVD",   "BDEPL",  "VOR",   "AC<BT", "RSVD",    "ACDET"};
constexpr std::array<std::string_view, 16> kStatusNames5191 = {
    "InhibCHG", "CHGOFF", "NoVreg", "NoIreg", "NoDPM", "CHGOC", "BAT2SYS", "AC2SYS",
    "TSHUT",    "BCOLD",  "BHOT",   "BDEPL",  "VOR",   "AC<BT", "BDET",    "ACDET"};

}  // namespace

std::string_view VariantName(Variant v) { return v == Variant::kRk5191 ? "rk5191" : "rk5190"; }

std::optional<Variant> ParseVariant(std::string_view text) {
  if (text == "rk5190") return Variant::kRk5190;
  if (text == "rk5191") return Variant::kRk5191;
  return std::nullopt;
}

std::string_view TestModeBitName(uint8_t address, int bit) {
  if (bit < 0 || bit > 15) return {};
  for (const Row& row : kTestModeRows) {
    if (row.address != address) continue;
    std::string_view names = row.names;
    for (int b = 15; b > bit; --b) names.remove_prefix(names.find('|') + 1);
    return names.substr(0, names.find('|'));
  }
  return {};
}

std::string_view MainBitName(uint8_t address, int bit, Variant variant) {
  if (bit < 0 || bit > 15) return {};
  const auto i = static_cast<std::size_t>(bit);
  if (address == 0x12) return kControlNames[i];
  if (address == 0x13) return variant == Variant::kRk5191 ? kStatusNames5191[i] : kStatusNames5190[i];
  return {};
}

std::array<std::string, 16> WireNames(uint8_t address, Variant variant) {
  const bool mainWindow = address == 0x12 || address == 0x13 || DacUnit(address).has_value();
  std::array<std::string, 16> base;
  for (int bit = 0; bit < 16; ++bit) {
    std::string_view name =
        mainWindow ? MainBitName(address, bit, variant) : TestModeBitName(address, bit);
    std::string s = name.empty() ? "B" + std::to_string(bit) : std::string(name);
    for (char& c : s)
      if (c == ' ') c = '_';
    base[static_cast<std::size_t>(bit)] = std::move(s);
  }
  std::array<std::string, 16> wires;
  for (std::size_t bit = 0; bit < 16; ++bit) {
    int same = 0;
    for (const std::string& other : base) same += other == base[bit];
    wires[bit] = AddressText(address) + "." + base[bit] + (same > 1 ? std::to_string(bit) : "");
  }
  return wires;
}

std::string AddressText(uint8_t address) {
  return "0x" + Utils::PadLeftZeros(Utils::Hex(address), 2);
}

std::optional<std::string_view> DacUnit(uint8_t address) {
  switch (address) {
    case 0x14: return "mA";
    case 0x15: return "mV";
    case 0x3F: return "mA";
    default: return std::nullopt;
  }
}

}  // namespace recording
