// Hex forms, hex parsing and case-blind comparison, as every message and settings key uses them.
#include "foundation/Text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>

namespace {

TEST(TextHex, ByteIsTheLowByteInTwoDigits) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0x00, "0x00"}, {0x07, "0x07"}, {0x67, "0x67"}, {0x80, "0x80"},
      {0xFF, "0xFF"}, {0x100, "0x00"}, {0x1CE, "0xCE"}, {0xFFFFFFFF, "0xFF"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(Text::Byte(value), text) << value;
}

TEST(TextHex, WordIsTheLowWordInFourDigits) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0x0000, "0x0000"}, {0x000F, "0x000F"}, {0x41A0, "0x41A0"}, {0x8000, "0x8000"},
      {0xFFFF, "0xFFFF"}, {0x10000, "0x0000"}, {0x12345, "0x2345"}, {0xFFFFFFFF, "0xFFFF"}};
  for (const auto& [value, text] : cases) EXPECT_EQ(Text::Word(value), text) << value;
}

TEST(TextHex, ParseHexWordTakesOneToFourDigitsOnly) {
  const std::pair<const char*, std::optional<uint16_t>> cases[] = {
      {"0", 0},           {"9", 9},           {"a", 0xA},         {"F", 0xF},
      {"a0F", 0xA0F},     {"FFFF", 0xFFFF},   {"0000", 0},        {"", std::nullopt},
      {"12345", std::nullopt}, {"0x12", std::nullopt}, {"&h12", std::nullopt},
      {"1G", std::nullopt}, {"g", std::nullopt}, {" 1", std::nullopt}, {"-1", std::nullopt},
      {"1 2", std::nullopt}};
  for (const auto& [text, value] : cases) EXPECT_EQ(Text::ParseHexWord(text), value) << text;
}

TEST(TextCase, EqualsNoCaseIgnoresAsciiCaseOnly) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"abcxyz", "ABCXYZ", true}, {"AZaz", "azAZ", true},  {"Spin", "spin", true},
      {"a", "b", false},          {"ab", "abc", false},    {"@[", "`{", false},
      {"0x3f", "0x3F", true},     {"", "", true},          {"\xC3\x84", "\xC3\xA4", false}};
  for (const auto& [a, b, equal] : cases) EXPECT_EQ(Text::EqualsNoCase(a, b), equal) << a << " " << b;
}

}  // namespace
