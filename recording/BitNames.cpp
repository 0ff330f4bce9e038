#include "recording/BitNames.h"

#include "foundation/Text.h"
#include "foundation/Utils.h"

namespace recording {

std::string_view VariantName(Variant v) { return v == Variant::rk5191 ? "rk5191" : "rk5190"; }

std::optional<Variant> ParseVariant(std::string_view text) {
  if (text == "rk5190") return Variant::rk5190;
  if (text == "rk5191") return Variant::rk5191;
  return std::nullopt;
}

std::string_view TestModeBitName(uint8_t address, int bit) {
  const RegisterTable::Register* r = RegisterTable::Find(address);
  return r ? RegisterTable::TrimBitName(*r, bit) : std::string_view();
}

std::string_view MainBitName(uint8_t address, int bit, Variant variant) {
  const RegisterTable::Register* r = RegisterTable::Find(address);
  return r ? RegisterTable::MainBitName(*r, bit, variant) : std::string_view();
}

std::array<std::string, 16> WireNames(uint8_t address, Variant variant) {
  const RegisterTable::Register* r = RegisterTable::Find(address);
  const bool mainWindow = r != nullptr && !r->mainCaption.empty();
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

std::string AddressText(uint8_t address) { return "0x" + Text::Hex(address, 2); }

std::optional<std::string_view> DacUnit(uint8_t address) {
  const RegisterTable::Register* r = RegisterTable::Find(address);
  if (r == nullptr || r->dac == nullptr) return std::nullopt;
  return r->dac->unit;
}

}  // namespace recording
