// Unplugging: the descriptor is closed at once so the kernel can finish the removal, and every
// later transaction is VB_NO_USB without touching the kernel again.
#include <gtest/gtest.h>

#include <cerrno>

#include "I2cDevRig.h"
#include "adapter/ErrorCodes.h"

namespace {

TEST(I2cDevUnplug, InTheMiddleOfAScanTheFdClosesAtOnceAndEveryLaterReadIsNoUsb) {
  I2cDevRig rig;
  for (int r = 0x10; r <= 0x19; ++r) rig.Charger().words[r] = static_cast<uint16_t>(r * 0x101);
  auto d = rig.Opened();
  ASSERT_NE(d, nullptr);
  std::vector<int16_t> statuses;
  std::size_t callsAtFailure = 0;
  for (int pass = 0; pass < 3; ++pass) {
    for (int r = 0x10; r <= 0x19; ++r) {
      if (pass == 0 && r == 0x14) rig.kernel.Unplug(I2cDevRig::kUsbBus);
      int16_t w = 0;
      statuses.push_back(d->SmbReadWord(static_cast<int16_t>(r), w, 0x67));
      if (statuses.size() == 5) {
        // Right after the first failure: nothing of the bus is held open any more.
        EXPECT_EQ(rig.kernel.OpenFds(), 0);
        EXPECT_FALSE(rig.kernel.RemovalStalled());
        callsAtFailure = rig.kernel.calls.size();
      }
    }
  }
  for (std::size_t i = 0; i < statuses.size(); ++i)
    EXPECT_EQ(statuses[i], i < 4 ? VB_OK : VB_NO_USB) << i;
  EXPECT_EQ(rig.kernel.calls.size(), callsAtFailure) << "nothing reaches the kernel after that";
  EXPECT_EQ(rig.kernel.Count("Close"), 1);
  EXPECT_EQ(rig.kernel.CallsAfterClose(), 0);
  EXPECT_EQ(d->QueryError(), VB_NO_USB);
  int16_t v = 0, rev = 0;
  EXPECT_EQ(d->GetVersion(v, rev), VB_NO_USB);
  EXPECT_NE(I2cDevDiagnostics().find("has gone (unplugged?)"), std::string::npos);
}

TEST(I2cDevUnplug, StaysGoneEvenWhenTheAdapterComesBack) {
  I2cDevRig rig;
  auto d = rig.Opened();
  rig.kernel.Unplug(I2cDevRig::kUsbBus);
  EXPECT_EQ(d->SmbWriteWord(0x15, 1, 0x67), VB_NO_USB);
  rig.UsbBus().unplugged = false;  // plugged in again
  const std::size_t calls = rig.kernel.calls.size();
  EXPECT_EQ(d->OpenDevice(I2cDevRig::kUsbName), -1);
  EXPECT_EQ(d->SmbWriteWord(0x15, 1, 0x67), VB_NO_USB);
  EXPECT_EQ(rig.kernel.calls.size(), calls);
  d->Wait(0);
  EXPECT_EQ(d->QueryError(), VB_NO_USB);
  EXPECT_NE(I2cDevDiagnostics().find("restart the program"), std::string::npos);
  // A new control (the program restarted) finds it again.
  EXPECT_NE(rig.Opened(), nullptr);
}

TEST(I2cDevUnplug, DetectedWhereverTheKernelSaysSo) {
  struct Case {
    const char* what;
    int error;
    bool beforeFirstTransfer;  // unplugged before the address was ever set
  };
  for (const Case& c : {Case{"ENODEV while setting the address", ENODEV, true},
                        Case{"ENODEV from a transfer", ENODEV, false},
                        Case{"ESHUTDOWN from a transfer", ESHUTDOWN, false}}) {
    I2cDevRig rig;
    auto d = rig.Opened();
    if (c.beforeFirstTransfer) {
      rig.kernel.Unplug(I2cDevRig::kUsbBus);
    } else {
      rig.kernel.failNext = {c.error};
    }
    std::vector<uint8_t> buf;
    EXPECT_EQ(d->I2CBlockRead(0x15, buf, 2, 0x67), VB_NO_USB) << c.what;
    EXPECT_EQ(rig.kernel.OpenFds(), 0) << c.what;
    EXPECT_EQ(d->I2CBlockWrite(0x15, {1, 2}, 2, 0x67), VB_NO_USB) << c.what;
  }
}

TEST(I2cDevUnplug, OtherFailuresKeepTheBusOpen) {
  I2cDevRig rig;
  auto d = rig.Opened();
  for (int e : {ENXIO, EREMOTEIO, ETIMEDOUT, EIO, EBUSY, EAGAIN}) {
    rig.kernel.failNext = {e};
    int16_t w = 0;
    EXPECT_NE(d->SmbReadWord(0x15, w, 0x67), VB_OK);
    EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), VB_OK) << e;
  }
  EXPECT_EQ(rig.kernel.OpenFds(), 1);
}

TEST(I2cDevUnplug, ClosingAfterAnUnplugDoesNotCloseTwice) {
  I2cDevRig rig;
  auto d = rig.Opened();
  rig.kernel.Unplug(I2cDevRig::kUsbBus);
  int16_t w = 0;
  d->SmbReadWord(0x15, w, 0x67);
  d->DeviceClose();
  d.reset();
  EXPECT_EQ(rig.kernel.Count("Close"), 1);
  EXPECT_EQ(rig.kernel.CallsAfterClose(), 0);
}

}  // namespace
