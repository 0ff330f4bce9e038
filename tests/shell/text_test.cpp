#include "shell/Text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace {

TEST(Text, HexIsUpperCaseFilledToTheWidth) {
  struct Case {
    uint32_t value;
    int width;
    std::string_view text;
  } const cases[] = {
      {0, 0, "0"},           {0, 4, "0000"},  {0xA3F, 4, "0A3F"}, {0xFFFF, 4, "FFFF"},
      {0x12345, 4, "12345"}, {0x3F, 2, "3F"}, {0x5, 2, "05"},     {0xFFFFFFFF, 0, "FFFFFFFF"},
      {0xab, -1, "AB"},
  };
  for (const Case& c : cases) EXPECT_EQ(Text::Hex(c.value, c.width), c.text) << c.value;
}

TEST(Text, TrimRemovesOnlyTheGivenCharactersAtTheEnds) {
  struct Case {
    std::string_view in;
    std::string_view chars;
    std::string_view out;
  } const cases[] = {
      {"  a b \t\r\n", Text::kWhitespace, "a b"},
      {"\v\fx\v", Text::kWhitespace, "x"},
      {" \t ", Text::kWhitespace, ""},
      {"", Text::kWhitespace, ""},
      {" \t12\t ", " ", "\t12\t"},
  };
  for (const Case& c : cases) EXPECT_EQ(Text::Trim(c.in, c.chars), c.out) << c.in;
}

TEST(Text, EqualsNoCaseIgnoresTheCaseOfLettersOnly) {
  struct Case {
    std::string_view a, b;
    bool equal;
  } const cases[] = {
      {"I2C", "i2c", true},   {"Reads", "READS", true}, {"Custom 1", "custom 1", true},
      {"I2C", "I2C ", false}, {"[", "{", false},        {"", "", true},
  };
  for (const Case& c : cases) EXPECT_EQ(Text::EqualsNoCase(c.a, c.b), c.equal) << c.a << "|" << c.b;
}

TEST(Text, StartsWithNoCaseComparesTheLeadingPart) {
  EXPECT_TRUE(Text::StartsWithNoCase("I2C-3", "i2c-"));
  EXPECT_TRUE(Text::StartsWithNoCase("cp2112 SMBus", "CP2112"));
  EXPECT_FALSE(Text::StartsWithNoCase("i2c", "i2c-"));
}

TEST(Text, ParseHexWordTakesOneToFourHexDigits) {
  struct Case {
    std::string_view text;
    uint16_t value;
  } const cases[] = {{"0", 0}, {"FFFF", 0xFFFF}, {"ffff", 0xFFFF}, {"a3F", 0xA3F}, {"0012", 0x12}};
  for (const Case& c : cases) EXPECT_EQ(Text::ParseHexWord(c.text), c.value) << c.text;
}

TEST(Text, ParseHexWordRefusesAnythingElse) {
  for (std::string_view text : {"", "12345", "0x12", "&h12", " 12", "12 ", "-1", "+1", "12G4"})
    EXPECT_EQ(Text::ParseHexWord(text), std::nullopt) << text;
}

}  // namespace
