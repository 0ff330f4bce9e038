#include "registers/RegisterTable.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

using RegisterTable::Find;
using RegisterTable::Register;
using RegisterTable::Variant;

const Register& At(uint8_t address) {
  const Register* r = Find(address);
  EXPECT_NE(r, nullptr) << int{address};
  static const Register kNone{};
  return r ? *r : kNone;
}

// The rk5191 names three reserved status bits; every other bit is named alike.
TEST(RegisterTable, StatusBitNamesFollowTheVariant) {
  const std::map<int, std::string_view> rk5191Only = {{14, "BDET"}, {10, "BHOT"}, {9, "BCOLD"}};
  const Register& status = At(0x13);
  for (int bit = 0; bit < 16; ++bit) {
    const auto it = rk5191Only.find(bit);
    EXPECT_EQ(MainBitName(status, bit, Variant::rk5191),
              it != rk5191Only.end() ? it->second : MainBitName(status, bit, Variant::rk5190))
        << bit;
    if (it != rk5191Only.end()) {
      EXPECT_EQ(MainBitName(status, bit, Variant::rk5190), "RSVD") << bit;
    }
  }
  EXPECT_EQ(MainBitName(status, 13, Variant::rk5190), "AC<BT");
}

TEST(RegisterTable, DacValidRanges) {
  struct Case {
    uint8_t address;
    double value;
    bool valid;
  } const cases[] = {
      {0x15, 9000, true},   {0x15, 8999, false},  {0x15, 9001, false},  {0x15, 11999, false},
      {0x15, 12000, true},  {0x15, 14400, true},  {0x15, 14401, false}, {0x15, 16000, true},
      {0x15, 19200, true},  {0x15, 19201, false}, {0x15, 0, false},     {0x14, 16256, true},
      {0x14, 16257, false}, {0x3F, 0, true},      {0x3F, 16257, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(At(c.address).dac->Valid(c.value), c.valid) << int{c.address} << " " << c.value;
}

TEST(RegisterTable, AddressFromTag) {
  struct Case {
    std::string_view tag;
    uint8_t address;
  } const cases[] = {{"&h15", 0x15}, {"&h3f", 0x3F}, {"&H3F", 0x3F},  {" &h12\t", 0x12},
                     {"13", 0x13},   {"&h", 0},      {"&h1FF", 0xFF}, {"&hxyz", 0}};
  for (const Case& c : cases) EXPECT_EQ(RegisterTable::AddressFromTag(c.tag), c.address) << c.tag;
}

// Every view's Tag reads back as its register's address, in the windows' lower-case "&h" form.
TEST(RegisterTable, TagOfEveryRegister) {
  for (const Register& r : RegisterTable::All())
    EXPECT_EQ(RegisterTable::AddressFromTag(RegisterTable::Tag(r)), r.address) << int{r.address};
  EXPECT_EQ(RegisterTable::Tag(At(0x10)), "&h10");
  EXPECT_EQ(RegisterTable::Tag(At(0x3F)), "&h3f");
}

// A preset names its registers "0x10" .. "0x3F"; test mode 1 and VDT are never in a preset.
TEST(RegisterTable, PresetKeyOfEveryRegister) {
  const std::map<uint8_t, std::string> expected = {{0x10, "0x10"}, {0x11, "0x11"}, {0x12, "0x12"},
                                                   {0x13, "0x13"}, {0x14, "0x14"}, {0x15, "0x15"},
                                                   {0x16, "0x16"}, {0x17, ""},     {0x18, "0x18"},
                                                   {0x19, ""},     {0x3F, "0x3F"}};
  for (const Register& r : RegisterTable::All())
    EXPECT_EQ(RegisterTable::PresetKey(r), expected.at(r.address)) << int{r.address};
}

}  // namespace
