// The i2c-dev driver's only way to the kernel: what a path is, opening a bus, the functionality
// query, setting the target address, the transfers, closing, and where sysfs lives. The real
// implementation calls stat(2), open(2), ioctl(2) and Debian's libi2c; tests install a fake
// kernel in the same process.
//
// Every call returns a negative errno on failure, as libi2c does, so the driver has one error
// path for all of them.
#pragma once

#include <linux/i2c.h>

#include <cstdint>
#include <span>
#include <string>

class I2cDevKernel {
 public:
  // The most an SMBus block or an I2C block transfer carries.
  static constexpr std::size_t kBlockMax = 32;

  virtual ~I2cDevKernel() = default;

  // The major number of i2c-dev character devices (the kernel's devices list: "89 char I2C
  // bus interface"); the kernel does not export it to user space.
  static constexpr unsigned kI2cDevMajor = 89;

  // What is at path, following symbolic links, without opening it: 0 with its file type (the
  // S_IFMT bits of st_mode) and, for a device, its major number; or -errno.
  virtual int Inspect(const std::string& path, unsigned& fileType, unsigned& major) = 0;
  // A file descriptor (>= 0) for the bus device, or -errno.
  virtual int Open(const std::string& devicePath) = 0;
  virtual void Close(int fd) = 0;
  // I2C_FUNCS: the adapter's I2C_FUNC_* bits.
  virtual int Functionality(int fd, unsigned long& funcs) = 0;
  // I2C_SLAVE, or I2C_SLAVE_FORCE when force is set. address is the 7-bit address.
  virtual int SetAddress(int fd, uint8_t address, bool force) = 0;

  // SMBus transfers (libi2c). Reads return the value (>= 0) or -errno; writes 0 or -errno.
  virtual int SmbusReadWord(int fd, uint8_t command) = 0;
  virtual int SmbusWriteWord(int fd, uint8_t command, uint16_t word) = 0;
  virtual int SmbusSendByte(int fd, uint8_t value) = 0;
  virtual int SmbusReadByteData(int fd, uint8_t command) = 0;
  virtual int SmbusWriteByteData(int fd, uint8_t command, uint8_t value) = 0;
  // Returns the number of bytes the device sent (at most kBlockMax), placed in values.
  virtual int SmbusReadBlock(int fd, uint8_t command, std::span<uint8_t, kBlockMax> values) = 0;
  virtual int SmbusWriteBlock(int fd, uint8_t command, std::span<const uint8_t> values) = 0;
  // I2C block at a command: values.size() (at most kBlockMax) bytes. The read returns the
  // number of bytes placed in values.
  virtual int SmbusReadI2cBlock(int fd, uint8_t command, std::span<uint8_t> values) = 0;
  virtual int SmbusWriteI2cBlock(int fd, uint8_t command, std::span<const uint8_t> values) = 0;

  // I2C_RDWR: the messages as one combined transaction. Returns the number of messages done.
  virtual int Transfer(int fd, std::span<i2c_msg> messages) = 0;

  // "/sys" on a real system.
  virtual std::string SysfsRoot() = 0;
};

// The kernel itself.
I2cDevKernel& RealI2cDevKernel();
// The kernel new i2c-dev controls talk to: the real one unless a test installed another.
I2cDevKernel& CurrentI2cDevKernel();
// Not owned; nullptr restores the real kernel. A control keeps the kernel it was created with.
void InstallI2cDevKernel(I2cDevKernel* kernel);
