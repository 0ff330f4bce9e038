// korvoctl --pec over the i2c-dev driver and a fake kernel: the option turns on the packet error
// code for the run without the settings file saying so.
#include <gtest/gtest.h>

#include "CliRig.h"
#include "drivers/i2cdev/I2cDevFakeKernel.h"

namespace {

class KorvoctlPecTest : public CliRig {
 protected:
  KorvoctlPecTest() {
    ::setenv("KORVO_ADAPTER", "i2cdev", 1);
    InstallI2cDevKernel(&rig_.kernel);
    rig_.Charger().pecWords = true;
    rig_.Charger().words[0x15] = 0x41A0;
  }
  ~KorvoctlPecTest() override { InstallI2cDevKernel(nullptr); }
  I2cDevRig rig_;
};

TEST_F(KorvoctlPecTest, WithPecAWordReadTravelsAsAnI2cTransferWithItsCode) {
  ASSERT_EQ(Run({"--pec", "read", "0x15"}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "0x15 0x41A0 16800\n");
  EXPECT_EQ(rig_.kernel.Count("ReadWord"), 0);
  EXPECT_EQ(rig_.kernel.Count("Transfer"), 1);
}

TEST_F(KorvoctlPecTest, WithoutPecTheKernelsSmbusWordReadIsUsed) {
  rig_.Charger().pecWords = false;
  ASSERT_EQ(Run({"read", "0x15"}), 0) << err_.str();
  EXPECT_EQ(rig_.kernel.Count("ReadWord"), 1);
  EXPECT_EQ(rig_.kernel.Count("Transfer"), 0);
}

}  // namespace
