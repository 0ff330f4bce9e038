#include "foundation/Text.h"

namespace Text {

namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// ASCII only: settings keys and captions are ASCII, and the C library's tolower would
// depend on the locale korvoctl sets for its log dates.
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string Hex(uint32_t value, int minDigits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (minDigits > 0 && out.size() < static_cast<std::size_t>(minDigits))
    out.insert(0, static_cast<std::size_t>(minDigits) - out.size(), '0');
  return out;
}

std::string_view Trim(std::string_view s, std::string_view chars) {
  const std::size_t first = s.find_first_not_of(chars);
  if (first == std::string_view::npos) return s.substr(s.size());
  const std::size_t last = s.find_last_not_of(chars);
  return s.substr(first, last - first + 1);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::optional<uint16_t> ParseHexWord(std::string_view text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  uint16_t v = 0;
  for (char c : text) {
    const int d = HexDigitValue(c);
    if (d < 0) return std::nullopt;
    v = static_cast<uint16_t>(v * 16 + d);
  }
  return v;
}

std::string Byte(uint32_t value) { return "0x" + Hex(value & 0xFF, 2); }
std::string Word(uint32_t value) { return "0x" + Hex(value & 0xFFFF, 4); }

}  // namespace Text
