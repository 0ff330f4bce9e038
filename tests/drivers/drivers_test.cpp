// The driver list: names as users type them, and the note shared by the drivers after a NACK.
#include "drivers/Drivers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DriverNames, MatchIgnoringCaseWithI2cDevForI2cdev) {
  const std::pair<const char*, const char*> cases[] = {
      {"sim", "sim"},         {"SIM", "sim"},         {"i2cdev", "i2cdev"}, {"I2CDev", "i2cdev"},
      {"i2c-dev", "i2cdev"},  {"I2C-DEV", "i2cdev"},  {"i2c_dev", nullptr}, {"tarn99", nullptr},
      {"", nullptr},          {"sim ", nullptr}};
  for (const auto& [typed, driver] : cases) {
    const DriverInfo* d = FindDriver(typed);
    EXPECT_EQ(d != nullptr ? std::string(d->name) : "none", driver != nullptr ? driver : "none") << typed;
  }
}

TEST(NoAnswerNote, NamesBothAddressFormsAndTheSevenBitReading) {
  const std::pair<int, const char*> cases[] = {
      {0x33, "no answer at 8-bit 0x33 (7-bit 0x19); i2cdetect's 0x33 is Korvo's 0x66"},
      {0x67, "no answer at 8-bit 0x67 (7-bit 0x33); i2cdetect's 0x67 is Korvo's 0xCE"},
      {0x00, "no answer at 8-bit 0x00 (7-bit 0x00); i2cdetect's 0x00 is Korvo's 0x00"},
      {0xA0, "no answer at 8-bit 0xA0 (7-bit 0x50)"},  // no 7-bit address
  };
  for (const auto& [target, note] : cases) EXPECT_EQ(NoAnswerNote(target), note) << target;
}

}  // namespace
