#include "registers/RegisterTable.h"

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(RegisterTable, ListsTheElevenRegistersInAddressOrder) {
  std::vector<int> addresses;
  for (const Register& r : RegisterTable::All()) addresses.push_back(r.address);
  EXPECT_EQ(addresses,
            (std::vector<int>{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x3F}));
}

// The test-mode titles are checked where that window shows them.
TEST(RegisterTable, MainWindowCaptions) {
  struct Case {
    uint8_t address;
    std::string_view caption;
  } const cases[] = {
      {0x12, "CONTROL REGISTER (0x12)"}, {0x13, "STATUS REGISTER (0x13)"},
      {0x14, "CHARGE CURRENT (0x14)"},   {0x15, "BATTERY VOLTAGE (0x15)"},
      {0x3F, "INPUT CURRENT (0x3F)"},
  };
  std::size_t shown = 0;
  for (const Register& r : RegisterTable::All()) shown += !r.mainCaption.empty();
  EXPECT_EQ(shown, std::size(cases));
  for (const Case& c : cases) EXPECT_EQ(At(c.address).mainCaption, c.caption) << int{c.address};
}

TEST(RegisterTable, StatusBitNamesFollowTheVariant) {
  struct Case {
    int bit;
    std::string_view rk5190, rk5191;
  } const cases[] = {
      {15, "ACDET", "ACDET"},      {14, "RSVD", "BDET"},    {13, "AC<BT", "AC<BT"},
      {12, "VOR", "VOR"},          {11, "BDEPL", "BDEPL"},  {10, "RSVD", "BHOT"},
      {9, "RSVD", "BCOLD"},        {8, "TSHUT", "TSHUT"},   {7, "AC2SYS", "AC2SYS"},
      {6, "BAT2SYS", "BAT2SYS"},   {5, "CHGOC", "CHGOC"},   {4, "NoDPM", "NoDPM"},
      {3, "NoIreg", "NoIreg"},     {2, "NoVreg", "NoVreg"}, {1, "CHGOFF", "CHGOFF"},
      {0, "InhibCHG", "InhibCHG"},
  };
  const Register& status = At(0x13);
  for (const Case& c : cases) {
    EXPECT_EQ(MainBitName(status, c.bit, Variant::rk5190), c.rk5190) << c.bit;
    EXPECT_EQ(MainBitName(status, c.bit, Variant::rk5191), c.rk5191) << c.bit;
  }
}

TEST(RegisterTable, ControlBitNamesOfTheMainWindow) {
  const std::string_view names[16] = {"RSVD",   "RSVD",  "RSVD",  "RSVD",   "BATDP2", "BATDP1",
                                      "BATDP0", "ACOC1", "ACOC0", "ACOCEN", "PWM500", "LEARN",
                                      "IOUTBT", "RST",   "RSVD",  "CHGEND"};  // bit 15 first
  for (int bit = 0; bit < 16; ++bit)
    EXPECT_EQ(MainBitName(At(0x12), bit, Variant::rk5191), names[15 - bit]) << bit;
}

TEST(RegisterTable, TestModeRegisterBitNames) {
  const std::string_view names[16] = {
      "TMEN",           "TM Soft Rst", "TMEE BURN", "TMExt Clock",  "TMDAC Cntr",     "TM BG",
      "TM 100",         "TM Set",      "TM Dig TP", "TM Soft Trim", "TM BG CRUD BGZ", "TMOD IDAC",
      "TM Alarm in en", "TM TShut",    "TM CLK 0",  "TM CLK 1"};  // bit 0 first
  for (int bit = 0; bit < 16; ++bit) EXPECT_EQ(TrimBitName(At(0x17), bit), names[bit]) << bit;
}

TEST(RegisterTable, EveryTestModeRowNamesSixteenBits) {
  for (const Register& r : RegisterTable::All())
    EXPECT_EQ(std::count(r.trimBitNames.begin(), r.trimBitNames.end(), '|'), 15) << r.trimTitle;
}

TEST(RegisterTable, DacUnitsAndResolution) {
  struct Case {
    uint8_t address;
    std::string_view unit;
    uint32_t resolution;
  } const cases[] = {{0x15, "mV", 2}, {0x14, "mA", 128}, {0x3F, "mA", 128}};
  for (const Case& c : cases) {
    const RegisterTable::Dac* dac = At(c.address).dac;
    ASSERT_NE(dac, nullptr) << int{c.address};
    EXPECT_EQ(dac->unit, c.unit);
    EXPECT_EQ(dac->Resolution(), c.resolution);
  }
}

TEST(RegisterTable, DacValidRanges) {
  struct Case {
    uint8_t address;
    double value;
    bool valid;
  } const cases[] = {
      {0x15, 9000, true},  {0x15, 8999, false},  {0x15, 9001, false},  {0x15, 11999, false},
      {0x15, 12000, true}, {0x15, 14400, true},  {0x15, 14401, false}, {0x15, 16000, true},
      {0x15, 19200, true}, {0x15, 19201, false}, {0x15, 0, false},     {0x15, 65535, false},
      {0x14, 0, true},     {0x14, 16256, true},  {0x14, 16257, false}, {0x14, 65535, false},
      {0x3F, 0, true},     {0x3F, 16256, true},  {0x3F, 16257, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(At(c.address).dac->Valid(c.value), c.valid) << int{c.address} << " " << c.value;
}

TEST(RegisterTable, OnlyStatusAndVdtAreReadOnlyAndOnlyVdtHasNoTestModeWrite) {
  for (const Register& r : RegisterTable::All()) {
    EXPECT_EQ(r.readOnly, r.address == 0x13 || r.address == 0x19) << int{r.address};
    EXPECT_EQ(r.trimWritable, r.address != 0x19) << int{r.address};
  }
}

TEST(RegisterTable, PresetKeysInWriteOrder) {
  std::vector<std::string_view> keys;
  for (const Register& r : RegisterTable::All())
    if (!r.presetKey.empty()) keys.push_back(r.presetKey);
  EXPECT_EQ(keys, (std::vector<std::string_view>{"0x10", "0x11", "0x12", "0x13", "0x14", "0x15",
                                                 "0x16", "0x18", "0x3F"}));
}

TEST(RegisterTable, MainReadOrderIsStatusControlVoltageInputCharge) {
  const auto order = RegisterTable::MainReadOrder();
  EXPECT_EQ(std::vector<int>(order.begin(), order.end()),
            (std::vector<int>{0x13, 0x12, 0x15, 0x3F, 0x14}));
}

TEST(RegisterTable, AddressFromTag) {
  struct Case {
    std::string_view tag;
    uint8_t address;
  } const cases[] = {{"&h15", 0x15}, {"&h3f", 0x3F}, {"&H3F", 0x3F},  {" &h12\t", 0x12},
                     {"13", 0x13},   {"&h", 0},      {"&h1FF", 0xFF}, {"&hxyz", 0}};
  for (const Case& c : cases) EXPECT_EQ(RegisterTable::AddressFromTag(c.tag), c.address) << c.tag;
}

TEST(RegisterTable, EveryTagNamesItsOwnAddress) {
  for (const Register& r : RegisterTable::All())
    EXPECT_EQ(RegisterTable::AddressFromTag(r.tag), r.address) << r.tag;
}

}  // namespace
