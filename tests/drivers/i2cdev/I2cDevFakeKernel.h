// A fake kernel for the i2c-dev driver: a sysfs tree in a scratch directory, bus device files
// with chips behind them, injected errors, unplugging, and a record of every call; and a rig
// that sets up the usual bench with them.
#pragma once

#include <linux/i2c.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "drivers/i2cdev/I2cDevDriver.h"
#include "drivers/i2cdev/I2cDevKernel.h"
#include "support/TempDir.h"

// A sysfs root laid out as the kernel does it: class/i2c-dev/i2c-N leads into devices/.
class FakeSysfs {
 public:
  std::string Root() const { return dir_.Path(); }

  // A bus of a USB bridge: usb device (idVendor, idProduct) / interface / hid device / i2c-N.
  void AddUsbBus(int n, const std::string& name, const std::string& vid = "10c4",
                 const std::string& pid = "ea90") {
    const std::string usb = "devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(n);
    AddBus(n, name, usb + "/1-" + std::to_string(n) + ":1.0/0003:10C4:EA90.0001",
           {{usb + "/idVendor", vid}, {usb + "/idProduct", pid}});
  }
  // A motherboard bus: its PCI parent has "vendor" and "device", but no idVendor.
  void AddPciBus(int n, const std::string& name) {
    const std::string pci = "devices/pci0000:00/0000:00:1f." + std::to_string(n);
    AddBus(n, name, pci, {{pci + "/vendor", "0x8086"}, {pci + "/device", "0xa323"}});
  }
  // class/i2c-dev/i2c-N with its name, its device being the adapter i2c-N under parent, which
  // holds the given files (paths relative to the root).
  void AddBus(int n, const std::string& name, const std::string& parent,
              std::map<std::string, std::string> files) {
    const std::string bus = "i2c-" + std::to_string(n);
    files["class/i2c-dev/" + bus + "/name"] = name;
    std::filesystem::create_directories(root_ / parent / bus);
    for (const auto& [path, text] : files) {
      std::filesystem::create_directories((root_ / path).parent_path());
      std::ofstream(root_ / path) << text << "\n";
    }
    std::filesystem::create_directory_symlink(root_ / parent / bus,
                                              root_ / "class/i2c-dev" / bus / "device");
  }

 private:
  TempDir dir_{"korvo_i2cdev"};
  const std::filesystem::path root_{dir_.Path()};
};

// One device on a fake bus. SMBus word registers and a byte memory (I2C blocks, byte data,
// plain reads from the current pointer) are kept apart.
struct FakeChip {
  std::array<uint16_t, 256> words{};
  std::array<uint8_t, 256> memory{};
  std::map<uint8_t, std::vector<uint8_t>> blocks;  // SMBus block registers
  uint8_t pointer = 0;
  // A charger speaking SMBus words with a packet error code over plain I2C transfers: a write
  // of command, low, high, PEC; a write of the command then a read of low, high, PEC.
  bool pecWords = false;
  int corruptNextPecReads = 0;  // that many reads answer with a wrong PEC
  int pecWritesRefused = 0;     // writes whose PEC did not match: NACKed, nothing stored
};

class FakeKernel : public I2cDevKernel {
 public:
  static constexpr unsigned long kAllFuncs =
      I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL | I2C_FUNC_SMBUS_READ_BLOCK_DATA;

  struct Bus {
    int openErrno = 0, funcsErrno = 0;                  // Open or I2C_FUNCS fails with these
    unsigned fileType = S_IFCHR, major = kI2cDevMajor;  // what the path is
    unsigned long funcs = kAllFuncs;
    bool unplugged = false;     // its device file is gone and open descriptors get ENODEV
    std::set<uint8_t> claimed;  // addresses a kernel driver holds (I2C_SLAVE gives EBUSY)
    std::map<uint8_t, FakeChip> chips;
  };
  struct Call {
    std::string op;
    int command = -1, length = -1;
  };

  explicit FakeKernel(std::string sysfsRoot) : root_(std::move(sysfsRoot)) {}

  Bus& AddBus(int n) { return buses["/dev/i2c-" + std::to_string(n)]; }
  FakeChip& Chip(int n, uint8_t address7) { return AddBus(n).chips[address7]; }
  int OpenFds() const { return static_cast<int>(fds_.size()); }
  int Count(const std::string& op) const {
    return static_cast<int>(
        std::count_if(calls.begin(), calls.end(), [&](auto& c) { return c.op == op; }));
  }

  std::map<std::string, Bus> buses;
  std::deque<int> failNext;  // transfers (not open, funcs or address) fail with these, in turn
  std::vector<Call> calls;
  std::vector<std::string> openedPaths;
  int callsAfterClose = 0;  // calls on a descriptor that was never open or already closed

  int Inspect(const std::string& path, unsigned& fileType, unsigned& major) override {
    calls.push_back({"Inspect"});
    auto it = buses.find(path);
    if (it == buses.end() || it->second.unplugged) return -ENOENT;
    fileType = it->second.fileType;
    major = it->second.major;
    return 0;
  }
  int Open(const std::string& path) override {
    calls.push_back({"Open"});
    openedPaths.push_back(path);
    auto it = buses.find(path);
    if (it == buses.end() || it->second.unplugged) return -ENOENT;
    if (it->second.openErrno != 0) return -it->second.openErrno;
    fds_[nextFd_] = {path, -1};
    return nextFd_++;
  }
  void Close(int fd) override {
    calls.push_back({"Close"});
    if (fds_.erase(fd) == 0) ++callsAfterClose;
  }
  int Functionality(int fd, unsigned long& funcs) override {
    calls.push_back({"Funcs"});
    Bus* b = BusOf(fd);
    if (int e = Gone(b)) return e;
    if (b->funcsErrno != 0) return -b->funcsErrno;
    funcs = b->funcs;
    return 0;
  }
  int SetAddress(int fd, uint8_t address, bool force) override {
    calls.push_back({force ? "SetAddressForce" : "SetAddress", address});
    Bus* b = BusOf(fd);
    if (int e = Gone(b)) return e;
    if (address > 0x7F) return -EINVAL;
    if (!force && b->claimed.count(address) != 0) return -EBUSY;
    fds_[fd].second = address;
    return 0;
  }

  int SmbusReadWord(int fd, uint8_t cmd) override {
    return Do("ReadWord", fd, cmd, 2, [&](FakeChip& c) { return int{c.words[cmd]}; });
  }
  int SmbusWriteWord(int fd, uint8_t cmd, uint16_t word) override {
    return Do("WriteWord", fd, cmd, 2, [&](FakeChip& c) { return c.words[cmd] = word, 0; });
  }
  int SmbusSendByte(int fd, uint8_t value) override {
    return Do("SendByte", fd, value, 0, [&](FakeChip& c) { return c.pointer = value, 0; });
  }
  int SmbusReadByteData(int fd, uint8_t cmd) override {
    return Do("ReadByteData", fd, cmd, 1, [&](FakeChip& c) { return int{c.memory[cmd]}; });
  }
  int SmbusWriteByteData(int fd, uint8_t cmd, uint8_t value) override {
    return Do("WriteByteData", fd, cmd, 1, [&](FakeChip& c) { return c.memory[cmd] = value, 0; });
  }
  int SmbusReadBlock(int fd, uint8_t cmd, std::span<uint8_t, kBlockMax> values) override {
    return Do("ReadBlock", fd, cmd, -1, [&](FakeChip& c) {
      const auto& data = c.blocks[cmd];
      if (data.size() > kBlockMax) return -EPROTO;  // as the kernel checks the count byte
      std::copy(data.begin(), data.end(), values.begin());
      return static_cast<int>(data.size());
    });
  }
  int SmbusWriteBlock(int fd, uint8_t cmd, std::span<const uint8_t> values) override {
    return Do("WriteBlock", fd, cmd, static_cast<int>(values.size()),
              [&](FakeChip& c) { return c.blocks[cmd].assign(values.begin(), values.end()), 0; });
  }
  int SmbusReadI2cBlock(int fd, uint8_t cmd, std::span<uint8_t> values) override {
    return Do("ReadI2cBlock", fd, cmd, static_cast<int>(values.size()), [&](FakeChip& c) {
      for (std::size_t i = 0; i < values.size(); ++i) values[i] = c.memory[(cmd + i) & 0xFF];
      return static_cast<int>(values.size());
    });
  }
  int SmbusWriteI2cBlock(int fd, uint8_t cmd, std::span<const uint8_t> values) override {
    return Do("WriteI2cBlock", fd, cmd, static_cast<int>(values.size()), [&](FakeChip& c) {
      for (std::size_t i = 0; i < values.size(); ++i) c.memory[(cmd + i) & 0xFF] = values[i];
      return 0;
    });
  }
  // The messages in order: a write sets the chip's pointer and stores the bytes after the first,
  // a read continues at the pointer. length records the bytes of all messages together.
  int Transfer(int fd, std::span<i2c_msg> messages) override {
    int total = 0;
    for (const auto& m : messages) total += m.len;
    return Do("Transfer", fd, -1, total, [&](FakeChip& c) {
      if (c.pecWords) return PecWordTransfer(c, static_cast<uint8_t>(fds_[fd].second), messages);
      for (auto& m : messages) {
        if (m.addr != fds_[fd].second) return -EINVAL;
        if ((m.flags & I2C_M_RD) != 0) {
          for (int i = 0; i < m.len; ++i) m.buf[i] = c.memory[c.pointer++];
        } else if (m.len > 0) {
          c.pointer = m.buf[0];
          for (int i = 1; i < m.len; ++i) c.memory[c.pointer++] = m.buf[i];
          c.pointer = m.buf[0];
        }
      }
      return static_cast<int>(messages.size());
    });
  }
  std::string SysfsRoot() override { return root_; }

 private:
  static int PecWordTransfer(FakeChip& c, uint8_t address, std::span<i2c_msg> m) {
    const auto w = static_cast<uint8_t>(address << 1);
    if (m.size() == 1 && (m[0].flags & I2C_M_RD) == 0 && m[0].len == 4) {
      const uint8_t* b = m[0].buf;
      const std::array<uint8_t, 4> covered{w, b[0], b[1], b[2]};
      if (PacketErrorCode(covered) != b[3]) return ++c.pecWritesRefused, -EREMOTEIO;
      c.words[b[0]] = static_cast<uint16_t>(b[1] | (b[2] << 8));
      return 1;
    }
    if (m.size() == 2 && m[0].len == 1 && (m[1].flags & I2C_M_RD) != 0 && m[1].len == 3) {
      const uint8_t cmd = m[0].buf[0];
      uint8_t* out = m[1].buf;
      out[0] = static_cast<uint8_t>(c.words[cmd] & 0xFF);
      out[1] = static_cast<uint8_t>(c.words[cmd] >> 8);
      const std::array<uint8_t, 5> covered{w, cmd, static_cast<uint8_t>(w | 1), out[0], out[1]};
      out[2] = PacketErrorCode(covered);
      if (c.corruptNextPecReads > 0) --c.corruptNextPecReads, out[2] ^= 0x5A;
      return 2;
    }
    return -EINVAL;
  }
  Bus* BusOf(int fd) {
    auto it = fds_.find(fd);
    if (it != fds_.end()) return &buses[it->second.first];
    ++callsAfterClose;
    return nullptr;
  }
  static int Gone(const Bus* b) { return b == nullptr ? -EBADF : b->unplugged ? -ENODEV : 0; }
  // Common checks of a transfer, then transfer(chip): its result, or the -errno of a check.
  template <class F>
  int Do(const char* op, int fd, int command, int length, F&& transfer) {
    calls.push_back({op, command, length});
    Bus* b = BusOf(fd);
    if (int e = Gone(b)) return e;
    if (!failNext.empty()) {
      const int injected = failNext.front();
      failNext.pop_front();
      if (injected != 0) return -injected;
    }
    const int address = fds_[fd].second;
    if (address < 0) return -EINVAL;
    auto it = b->chips.find(static_cast<uint8_t>(address));
    return it == b->chips.end() ? -ENXIO : transfer(it->second);  // ENXIO: nobody acknowledges
  }

  std::string root_;
  std::map<int, std::pair<std::string, int>> fds_;  // the bus path and the 7-bit address (-1: none)
  int nextFd_ = 100;
};

// The usual bench: a CP2112 bridge (i2c-3) carrying a charger at 7-bit 0x33 (unless left out),
// and a motherboard SMBus (i2c-0) that must stay untouched.
struct I2cDevRig {
  static constexpr int kUsbBus = 3, kPciBus = 0;
  static constexpr const char* kUsbName = "i2c-3 CP2112 SMBus Bridge on hidraw0";

  explicit I2cDevRig(bool withBridge = true) : kernel(sysfs.Root()) {
    ClearI2cDevDiagnostics();
    sysfs.AddPciBus(kPciBus, "SMBus I801 adapter at efa0");
    kernel.AddBus(kPciBus);
    if (!withBridge) return;
    sysfs.AddUsbBus(kUsbBus, "CP2112 SMBus Bridge on hidraw0");
    kernel.Chip(kUsbBus, 0x33);
  }
  std::unique_ptr<I2cDevDriver> Driver(I2cDevOptions options = {}) {
    return std::make_unique<I2cDevDriver>(kernel, std::move(options));
  }
  // A driver with the CP2112 bus open.
  std::unique_ptr<I2cDevDriver> Opened(I2cDevOptions options = {}) {
    auto d = Driver(std::move(options));
    return d->OpenDevice(kUsbName) == -1 ? nullptr : std::move(d);
  }
  FakeChip& Charger() { return kernel.Chip(kUsbBus, 0x33); }
  FakeKernel::Bus& UsbBus() { return kernel.AddBus(kUsbBus); }

  FakeSysfs sysfs;
  FakeKernel kernel;
};
