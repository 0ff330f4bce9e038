#include "drivers/i2cdev/I2cDevKernel.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>

extern "C" {
#include <i2c/smbus.h>
}

namespace {

int FailWithErrno() { return errno != 0 ? -errno : -EIO; }

class LinuxI2cDevKernel final : public I2cDevKernel {
 public:
  int Inspect(const std::string& path, unsigned& fileType, unsigned& major) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return FailWithErrno();
    fileType = st.st_mode & S_IFMT;
    major = (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) ? ::major(st.st_rdev) : 0;
    return 0;
  }

  int Open(const std::string& devicePath) override {
    int fd;
    do {
      fd = ::open(devicePath.c_str(), O_RDWR | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd >= 0 ? fd : FailWithErrno();
  }

  void Close(int fd) override { ::close(fd); }

  int Functionality(int fd, unsigned long& funcs) override {
    unsigned long f = 0;
    if (::ioctl(fd, I2C_FUNCS, &f) < 0) return FailWithErrno();
    funcs = f;
    return 0;
  }

  int SetAddress(int fd, uint8_t address, bool force) override {
    if (::ioctl(fd, force ? I2C_SLAVE_FORCE : I2C_SLAVE, static_cast<unsigned long>(address)) < 0)
      return FailWithErrno();
    return 0;
  }

  // libi2c returns -errno itself.
  int SmbusReadWord(int fd, uint8_t command) override {
    return i2c_smbus_read_word_data(fd, command);
  }
  int SmbusWriteWord(int fd, uint8_t command, uint16_t word) override {
    return i2c_smbus_write_word_data(fd, command, word);
  }
  int SmbusSendByte(int fd, uint8_t value) override { return i2c_smbus_write_byte(fd, value); }
  int SmbusReadByteData(int fd, uint8_t command) override {
    return i2c_smbus_read_byte_data(fd, command);
  }
  int SmbusWriteByteData(int fd, uint8_t command, uint8_t value) override {
    return i2c_smbus_write_byte_data(fd, command, value);
  }
  int SmbusReadBlock(int fd, uint8_t command, std::span<uint8_t, kBlockMax> values) override {
    // libi2c copies as many bytes as the device's count byte says (the kernel caps it at
    // I2C_SMBUS_BLOCK_MAX); a 256-byte buffer holds any count byte, then copy what fits.
    static_assert(I2C_SMBUS_BLOCK_MAX == kBlockMax);
    uint8_t block[256] = {};
    int n = i2c_smbus_read_block_data(fd, command, block);
    if (n < 0) return n;
    if (n > static_cast<int>(kBlockMax)) return -EPROTO;
    for (int i = 0; i < n; ++i) values[i] = block[i];
    return n;
  }
  int SmbusWriteBlock(int fd, uint8_t command, std::span<const uint8_t> values) override {
    if (values.size() > kBlockMax) return -EINVAL;
    return i2c_smbus_write_block_data(fd, command, static_cast<uint8_t>(values.size()),
                                      values.data());
  }
  int SmbusReadI2cBlock(int fd, uint8_t command, std::span<uint8_t> values) override {
    if (values.size() > kBlockMax) return -EINVAL;
    uint8_t block[256] = {};
    int n = i2c_smbus_read_i2c_block_data(fd, command, static_cast<uint8_t>(values.size()), block);
    if (n < 0) return n;
    if (n > static_cast<int>(values.size())) return -EPROTO;
    for (int i = 0; i < n; ++i) values[i] = block[i];
    return n;
  }
  int SmbusWriteI2cBlock(int fd, uint8_t command, std::span<const uint8_t> values) override {
    if (values.size() > kBlockMax) return -EINVAL;
    return i2c_smbus_write_i2c_block_data(fd, command, static_cast<uint8_t>(values.size()),
                                          values.data());
  }

  int Transfer(int fd, std::span<i2c_msg> messages) override {
    i2c_rdwr_ioctl_data data{};
    data.msgs = messages.data();
    data.nmsgs = static_cast<uint32_t>(messages.size());
    int n = ::ioctl(fd, I2C_RDWR, &data);
    return n < 0 ? FailWithErrno() : n;
  }

  std::string SysfsRoot() override { return "/sys"; }
};

I2cDevKernel* g_installed = nullptr;

}  // namespace

I2cDevKernel& RealI2cDevKernel() {
  static LinuxI2cDevKernel kernel;
  return kernel;
}

I2cDevKernel& CurrentI2cDevKernel() {
  return g_installed != nullptr ? *g_installed : RealI2cDevKernel();
}

void InstallI2cDevKernel(I2cDevKernel* kernel) { g_installed = kernel; }
