// Bit names of the charger's registers for recordings and snapshot comparisons, from the
// register table: the main window names the bits of the control and status registers (the
// status names depend on the chip variant); the test-mode window names every bit of its rows.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "registers/RegisterTable.h"

namespace recording {

using Variant = RegisterTable::Variant;
std::string_view VariantName(Variant v);                     // "rk5190", "rk5191"
std::optional<Variant> ParseVariant(std::string_view text);  // exact names only

// The name of bit 0..15 in the test-mode window's row for address ("TMEN" for bit 0 of 0x17),
// blanks included; empty for a register the window does not show.
std::string_view TestModeBitName(uint8_t address, int bit);

// The main window's name of a bit: the control register's and the status register's name rows
// (the status register's for the variant); empty where the main window names no bit.
std::string_view MainBitName(uint8_t address, int bit, Variant variant);

// Wire names for a value change dump, bit 0 first: "<address>.<name>" with the main window's
// name where it gives one, else the test-mode window's, else "B<bit>"; blanks become "_", and
// a name that repeats within the register gets its bit number ("0x12.RSVD15").
std::array<std::string, 16> WireNames(uint8_t address, Variant variant);

// "0x15": the register address as the recordings and korvoctl write it.
std::string AddressText(uint8_t address);

// The DAC registers (0x14, 0x15, 0x3F) hold their value in mA or mV; nullopt otherwise.
std::optional<std::string_view> DacUnit(uint8_t address);

}  // namespace recording
