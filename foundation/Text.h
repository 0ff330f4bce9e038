// Text helpers that the windows, korvoctl, the drivers and the settings readers share: hex
// formatting, trimming, case-insensitive comparison and the strict hex-word parse. Qt-free.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Text {

// The characters Trim removes unless told otherwise: blank, tab, line feed, carriage return,
// vertical tab, form feed (what isspace gives in the C locale).
inline constexpr std::string_view kWhitespace = " \t\n\r\v\f";

// Upper-case hexadecimal without prefix, left-filled with zeros to at least minDigits digits:
// Hex(0xA3F, 4) is "0A3F", Hex(0x12345, 4) "12345", Hex(0) "0". A signed 16-bit register
// value is passed as its 16-bit pattern (static_cast<uint16_t>).
std::string Hex(uint32_t value, int minDigits = 0);

// A byte and a register word as korvoctl, the recordings and the drivers' notes write them:
// Byte(0x67) is "0x67", Byte(0x1CE) "0xCE" (the low byte); Word(0x41A0) is "0x41A0".
std::string Byte(uint32_t value);
std::string Word(uint32_t value);

// s without the leading and trailing characters that are in chars.
std::string_view Trim(std::string_view s, std::string_view chars = kWhitespace);

// Equal when they differ at most in the case of ASCII letters.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// A register word written as 1 to 4 hex digits, nothing else: no blanks, sign or prefix.
// nullopt for anything that is not.
std::optional<uint16_t> ParseHexWord(std::string_view text);

}  // namespace Text
