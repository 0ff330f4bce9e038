// The driver list: names as users type them.
#include "drivers/Drivers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DriverNames, MatchIgnoringCaseWithI2cDevForI2cdev) {
  const std::pair<const char*, const char*> cases[] = {
      {"sim", "sim"},        {"SIM", "sim"},        {"i2cdev", "i2cdev"}, {"I2CDev", "i2cdev"},
      {"i2c-dev", "i2cdev"}, {"I2C-DEV", "i2cdev"}, {"i2c_dev", nullptr}, {"tarn99", nullptr},
      {"", nullptr},         {"sim ", nullptr}};
  for (const auto& [typed, driver] : cases) {
    const DriverInfo* d = FindDriver(typed);
    EXPECT_EQ(d != nullptr ? std::string(d->name) : "none", driver != nullptr ? driver : "none")
        << typed;
  }
}

}  // namespace
