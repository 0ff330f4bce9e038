#include <gtest/gtest.h>

#include "recording/BitNames.h"

namespace {

using recording::Variant;

TEST(BitNamesTest, WireNamesFollowTheWindowsNames) {
  struct Case {
    uint8_t address;
    Variant variant;
    int bit;
    std::string wire;
  } cases[] = {
      {0x13, Variant::rk5190, 10, "0x13.RSVD10"},  // repeats within the register
      {0x13, Variant::rk5191, 10, "0x13.BHOT"},
      {0x15, Variant::rk5190, 14, "0x15.B14"},    // the main window names no DAC bit
      {0x10, Variant::rk5190, 8, "0x10.IAC__4"},  // test-mode names, blanks become _
  };
  for (const auto& c : cases) {
    EXPECT_EQ(recording::WireNames(c.address, c.variant)[static_cast<std::size_t>(c.bit)], c.wire);
  }
}

}  // namespace
