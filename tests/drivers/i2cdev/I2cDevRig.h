// A bench for the i2c-dev driver tests: a fake sysfs and kernel with one CP2112 bridge (i2c-3)
// carrying a charger at 7-bit 0x33, and a motherboard SMBus (i2c-0) that must stay untouched.
#pragma once

#include <memory>

#include "I2cDevFakeKernel.h"
#include "drivers/i2cdev/I2cDevDriver.h"

class I2cDevRig {
 public:
  static constexpr int kUsbBus = 3;
  static constexpr int kPciBus = 0;
  static constexpr uint8_t kCharger7 = 0x33;
  static constexpr int16_t kCharger = 0x67;  // the program's default device address
  static constexpr const char* kUsbName = "i2c-3 CP2112 SMBus Bridge on hidraw0";

  I2cDevRig() : kernel(sysfs.Root()) {
    ClearI2cDevDiagnostics();
    sysfs.AddPciBus(kPciBus, "SMBus I801 adapter at efa0");
    sysfs.AddUsbBus(kUsbBus, "CP2112 SMBus Bridge on hidraw0");
    kernel.AddBus(kPciBus);
    kernel.Chip(kUsbBus, kCharger7);
  }

  std::unique_ptr<I2cDevDriver> Driver(I2cDevOptions options = {}) {
    return std::make_unique<I2cDevDriver>(kernel, std::move(options));
  }
  // A driver with the CP2112 bus open.
  std::unique_ptr<I2cDevDriver> Opened(I2cDevOptions options = {}) {
    auto d = Driver(std::move(options));
    if (d->OpenDevice(kUsbName) == -1) return nullptr;
    return d;
  }
  FakeChip& Charger() { return kernel.Chip(kUsbBus, kCharger7); }
  FakeKernel::Bus& UsbBus() { return kernel.AddBus(kUsbBus); }

  FakeSysfs sysfs;
  FakeKernel kernel;
};
