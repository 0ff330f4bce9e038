// The real kernel seam, as far as it can be tried without an I2C bus: errors come back as
// -errno, and a test can swap the kernel for new controls.
#include <gtest/gtest.h>

#include <cerrno>

#include "I2cDevFakeKernel.h"
#include "adapter/ErrorCodes.h"
#include "drivers/i2cdev/I2cDevDriver.h"

namespace {

TEST(I2cDevRealKernel, ErrorsComeBackAsNegativeErrno) {
  I2cDevKernel& k = RealI2cDevKernel();
  EXPECT_EQ(k.SysfsRoot(), "/sys");
  EXPECT_EQ(k.Open("/nonexistent/i2c-99"), -ENOENT);

  // /dev/null opens, but is no I2C bus: every ioctl fails with ENOTTY.
  const int fd = k.Open("/dev/null");
  ASSERT_GE(fd, 0);
  unsigned long funcs = 12345;
  EXPECT_EQ(k.Functionality(fd, funcs), -ENOTTY);
  EXPECT_EQ(funcs, 12345u);
  EXPECT_EQ(k.SetAddress(fd, 0x33, false), -ENOTTY);
  EXPECT_EQ(k.SetAddress(fd, 0x33, true), -ENOTTY);
  EXPECT_LT(k.SmbusReadWord(fd, 0x15), 0);
  EXPECT_LT(k.SmbusWriteWord(fd, 0x15, 1), 0);
  EXPECT_LT(k.SmbusSendByte(fd, 0x15), 0);
  EXPECT_LT(k.SmbusReadByteData(fd, 0x15), 0);
  EXPECT_LT(k.SmbusWriteByteData(fd, 0x15, 1), 0);
  std::array<uint8_t, I2cDevKernel::kBlockMax> block{};
  EXPECT_LT(k.SmbusReadBlock(fd, 0x15, block), 0);
  const uint8_t two[2] = {1, 2};
  EXPECT_LT(k.SmbusWriteBlock(fd, 0x15, two), 0);
  EXPECT_LT(k.SmbusReadI2cBlock(fd, 0x15, std::span<uint8_t>(block.data(), 2)), 0);
  EXPECT_LT(k.SmbusWriteI2cBlock(fd, 0x15, two), 0);
  i2c_msg msg{0x33, I2C_M_RD, 2, block.data()};
  EXPECT_EQ(k.Transfer(fd, std::span<i2c_msg>(&msg, 1)), -ENOTTY);
  k.Close(fd);
}

TEST(I2cDevRealKernel, OversizedBlocksAreRefusedBeforeTheKernel) {
  I2cDevKernel& k = RealI2cDevKernel();
  const int fd = k.Open("/dev/null");
  ASSERT_GE(fd, 0);
  std::array<uint8_t, 40> big{};
  EXPECT_EQ(k.SmbusWriteBlock(fd, 0, big), -EINVAL);
  EXPECT_EQ(k.SmbusReadI2cBlock(fd, 0, big), -EINVAL);
  EXPECT_EQ(k.SmbusWriteI2cBlock(fd, 0, big), -EINVAL);
  k.Close(fd);
}

TEST(I2cDevRealKernel, ADeviceThatIsNoBusIsNotOpened) {
  ClearI2cDevDiagnostics();
  I2cDevDriver d(RealI2cDevKernel(), {"/dev/null", false});
  int32_t count = -1;
  std::string names;
  d.ListFreeDevices(16, count, names);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(d.OpenDevice("/dev/null"), -1);
  EXPECT_NE(I2cDevDiagnostics().find("Cannot use /dev/null: the functionality query failed"),
            std::string::npos)
      << I2cDevDiagnostics();
}

TEST(I2cDevRealKernel, EnumeratingTheRealSysfsIsHarmless) {
  for (const I2cBusInfo& b : EnumerateI2cBuses("/sys")) EXPECT_GE(b.number, 0);
}

TEST(I2cDevKernelSeam, TestsInstallAFakeAndNewControlsUseIt) {
  EXPECT_EQ(&CurrentI2cDevKernel(), &RealI2cDevKernel());
  FakeKernel fake;
  {
    ScopedI2cDevKernel scope(&fake);
    EXPECT_EQ(&CurrentI2cDevKernel(), &fake);
    auto control = CreateI2cDevControl();
    int32_t count = -1;
    std::string names;
    control->ListFreeDevices(16, count, names);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(control->OpenDevice("i2c-3"), -1);
  }
  EXPECT_EQ(&CurrentI2cDevKernel(), &RealI2cDevKernel());
}

}  // namespace
