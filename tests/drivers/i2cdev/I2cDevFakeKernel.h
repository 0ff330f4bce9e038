// A fake kernel for the i2c-dev driver: a sysfs tree in a scratch directory, bus device files
// with chips behind them, injected errors, unplugging, and a record of every call.
#pragma once

#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "drivers/i2cdev/I2cDevKernel.h"

// A sysfs root laid out as the kernel does it: class/i2c-dev/i2c-N links into devices/.
class FakeSysfs {
 public:
  FakeSysfs() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvo_i2cdev_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    root_ = pattern;
    std::filesystem::create_directories(root_ / "class" / "i2c-dev");
  }
  ~FakeSysfs() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  std::string Root() const { return root_.string(); }

  // A bus of a USB bridge: usb device (idVendor, idProduct) / interface / hid device / i2c-N.
  void AddUsbBus(int n, const std::string& name, const std::string& vid = "10c4",
                 const std::string& pid = "ea90") {
    const auto usbDev = root_ / "devices/pci0000:00/0000:00:14.0/usb1" / ("1-" + std::to_string(n));
    std::filesystem::create_directories(usbDev);
    Write(usbDev / "idVendor", vid + "\n");
    Write(usbDev / "idProduct", pid + "\n");
    AddBusUnder(usbDev / ("1-" + std::to_string(n) + ":1.0") / "0003:10C4:EA90.0001", n, name);
  }
  // A motherboard bus: its PCI parent has "vendor" and "device", but no idVendor.
  void AddPciBus(int n, const std::string& name) {
    const auto pci = root_ / "devices/pci0000:00" / ("0000:00:1f." + std::to_string(n));
    std::filesystem::create_directories(pci);
    Write(pci / "vendor", "0x8086\n");
    Write(pci / "device", "0xa323\n");
    AddBusUnder(pci, n, name);
  }
  // A bus whose parent carries only some of the USB attributes.
  void AddBusWithParentFiles(int n, const std::string& name,
                             const std::vector<std::string>& parentFiles) {
    const auto parent = root_ / "devices/platform" / ("odd." + std::to_string(n));
    std::filesystem::create_directories(parent);
    for (const auto& f : parentFiles) Write(parent / f, "1234\n");
    AddBusUnder(parent, n, name);
  }
  void RemoveClassDir() { std::filesystem::remove_all(root_ / "class" / "i2c-dev"); }

 private:
  static void Write(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << text;
  }
  void AddBusUnder(const std::filesystem::path& parent, int n, const std::string& name) {
    const std::string bus = "i2c-" + std::to_string(n);
    const auto adapter = parent / bus;
    const auto classDev = adapter / "i2c-dev" / bus;
    std::filesystem::create_directories(classDev);
    Write(adapter / "name", name + "\n");
    Write(classDev / "name", name + "\n");
    std::filesystem::create_directory_symlink("../../" + bus, classDev / "device");
    std::filesystem::create_directory_symlink(
        std::filesystem::relative(classDev, root_ / "class" / "i2c-dev"),
        root_ / "class" / "i2c-dev" / bus);
  }
  std::filesystem::path root_;
};

// One device on a fake bus. SMBus word registers and a byte memory (I2C blocks, byte data,
// plain reads from the current pointer) are kept apart.
struct FakeChip {
  std::array<uint16_t, 256> words{};
  std::array<uint8_t, 256> memory{};
  std::map<uint8_t, std::vector<uint8_t>> blocks;  // SMBus block registers
  std::vector<uint8_t> sent;                       // send-byte values, in order
  uint8_t pointer = 0;
  int blockCountOverride = -1;  // makes SMBus block reads report this count
};

class FakeKernel : public I2cDevKernel {
 public:
  static constexpr unsigned long kAllFuncs =
      I2C_FUNC_I2C | I2C_FUNC_SMBUS_EMUL | I2C_FUNC_SMBUS_READ_BLOCK_DATA;

  struct Bus {
    int openErrno = 0;   // Open fails with this
    int funcsErrno = 0;  // I2C_FUNCS fails with this
    unsigned long funcs = kAllFuncs;
    bool unplugged = false;
    std::set<uint8_t> claimed;  // addresses a kernel driver holds (I2C_SLAVE gives EBUSY)
    std::map<uint8_t, FakeChip> chips;
  };
  struct Call {
    std::string op;
    int fd = -1;
    int command = -1;
    int length = -1;
  };

  explicit FakeKernel(std::string sysfsRoot = "/nonexistent-sysfs") : root_(std::move(sysfsRoot)) {}

  Bus& AddBus(int n) { return buses["/dev/i2c-" + std::to_string(n)]; }
  FakeChip& Chip(int n, uint8_t address7) { return AddBus(n).chips[address7]; }
  // The adapter disappears: its device file is gone and open descriptors get ENODEV.
  void Unplug(int n) { AddBus(n).unplugged = true; }
  // Every transfer (not open, funcs or address) fails with these errnos, one per call.
  std::deque<int> failNext;

  int OpenFds() const { return static_cast<int>(fds_.size()); }
  // While a descriptor of an unplugged bus is open, the kernel cannot finish the removal.
  bool RemovalStalled() const {
    for (const auto& [fd, st] : fds_)
      if (buses.at(st.path).unplugged) return true;
    return false;
  }
  int CallsAfterClose() const { return callsAfterClose_; }
  int Count(const std::string& op) const {
    int n = 0;
    for (const auto& c : calls) n += c.op == op;
    return n;
  }

  std::map<std::string, Bus> buses;
  std::vector<Call> calls;
  std::vector<std::string> openedPaths;  // every Open, in order
  std::vector<std::pair<int, bool>>
      addressesSet;  // (7-bit address, force) that took  // (7-bit address, force)

  int Open(const std::string& path) override {
    calls.push_back({"Open", -1, -1, -1});
    openedPaths.push_back(path);
    auto it = buses.find(path);
    if (it == buses.end() || it->second.unplugged) return -ENOENT;
    if (it->second.openErrno != 0) return -it->second.openErrno;
    const int fd = nextFd_++;
    fds_[fd] = {path, -1};
    return fd;
  }
  void Close(int fd) override {
    calls.push_back({"Close", fd, -1, -1});
    if (fds_.erase(fd) == 0) ++callsAfterClose_;
  }
  int Functionality(int fd, unsigned long& funcs) override {
    calls.push_back({"Funcs", fd, -1, -1});
    Bus* b = BusOf(fd);
    if (b == nullptr) return -EBADF;
    if (b->unplugged) return -ENODEV;
    if (b->funcsErrno != 0) return -b->funcsErrno;
    funcs = b->funcs;
    return 0;
  }
  int SetAddress(int fd, uint8_t address, bool force) override {
    calls.push_back({force ? "SetAddressForce" : "SetAddress", fd, address, -1});
    Bus* b = BusOf(fd);
    if (b == nullptr) return -EBADF;
    if (b->unplugged) return -ENODEV;
    if (address > 0x7F) return -EINVAL;
    if (!force && b->claimed.count(address) != 0) return -EBUSY;
    addressesSet.emplace_back(address, force);
    fds_[fd].address = address;
    return 0;
  }

  int SmbusReadWord(int fd, uint8_t command) override {
    FakeChip* c = nullptr;
    if (int e = Begin("ReadWord", fd, command, 2, c); e != 0) return e;
    return c->words[command];
  }
  int SmbusWriteWord(int fd, uint8_t command, uint16_t word) override {
    FakeChip* c = nullptr;
    if (int e = Begin("WriteWord", fd, command, 2, c); e != 0) return e;
    c->words[command] = word;
    return 0;
  }
  int SmbusSendByte(int fd, uint8_t value) override {
    FakeChip* c = nullptr;
    if (int e = Begin("SendByte", fd, value, 0, c); e != 0) return e;
    c->sent.push_back(value);
    c->pointer = value;
    return 0;
  }
  int SmbusReadByteData(int fd, uint8_t command) override {
    FakeChip* c = nullptr;
    if (int e = Begin("ReadByteData", fd, command, 1, c); e != 0) return e;
    return c->memory[command];
  }
  int SmbusWriteByteData(int fd, uint8_t command, uint8_t value) override {
    FakeChip* c = nullptr;
    if (int e = Begin("WriteByteData", fd, command, 1, c); e != 0) return e;
    c->memory[command] = value;
    return 0;
  }
  int SmbusReadBlock(int fd, uint8_t command, std::span<uint8_t, kBlockMax> values) override {
    FakeChip* c = nullptr;
    if (int e = Begin("ReadBlock", fd, command, -1, c); e != 0) return e;
    const auto& data = c->blocks[command];
    const int n =
        c->blockCountOverride >= 0 ? c->blockCountOverride : static_cast<int>(data.size());
    if (n > static_cast<int>(kBlockMax)) return -EPROTO;  // as the kernel checks the count byte
    for (int i = 0; i < n; ++i) values[i] = i < static_cast<int>(data.size()) ? data[i] : 0;
    return n;
  }
  int SmbusWriteBlock(int fd, uint8_t command, std::span<const uint8_t> values) override {
    FakeChip* c = nullptr;
    if (int e = Begin("WriteBlock", fd, command, static_cast<int>(values.size()), c); e != 0)
      return e;
    if (values.size() > kBlockMax) return -EINVAL;
    c->blocks[command].assign(values.begin(), values.end());
    return 0;
  }
  int SmbusReadI2cBlock(int fd, uint8_t command, std::span<uint8_t> values) override {
    FakeChip* c = nullptr;
    if (int e = Begin("ReadI2cBlock", fd, command, static_cast<int>(values.size()), c); e != 0)
      return e;
    if (values.size() > kBlockMax) return -EINVAL;
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = c->memory[(command + i) & 0xFF];
    return static_cast<int>(values.size());
  }
  int SmbusWriteI2cBlock(int fd, uint8_t command, std::span<const uint8_t> values) override {
    FakeChip* c = nullptr;
    if (int e = Begin("WriteI2cBlock", fd, command, static_cast<int>(values.size()), c); e != 0)
      return e;
    if (values.size() > kBlockMax) return -EINVAL;
    for (std::size_t i = 0; i < values.size(); ++i) c->memory[(command + i) & 0xFF] = values[i];
    return 0;
  }
  int Transfer(int fd, std::span<i2c_msg> messages) override {
    int total = 0;
    for (const auto& m : messages) total += m.len;
    FakeChip* c = nullptr;
    if (int e = Begin("Transfer", fd, -1, total, c); e != 0) return e;
    transfers.emplace_back();
    for (auto& m : messages) {
      if (m.addr != fds_[fd].address) return -EINVAL;
      transfers.back().push_back({m.flags, std::vector<uint8_t>(m.buf, m.buf + m.len)});
      if ((m.flags & I2C_M_RD) != 0) {
        for (int i = 0; i < m.len; ++i) m.buf[i] = c->memory[c->pointer++];
      } else if (m.len > 0) {
        c->pointer = m.buf[0];
        for (int i = 1; i < m.len; ++i) c->memory[c->pointer++] = m.buf[i];
        c->pointer = m.buf[0];
      }
    }
    return static_cast<int>(messages.size());
  }
  // Each I2C_RDWR as its messages: (flags, bytes written or the buffer handed in for a read).
  std::vector<std::vector<std::pair<uint16_t, std::vector<uint8_t>>>> transfers;

  std::string SysfsRoot() override { return root_; }

 private:
  struct FdState {
    std::string path;
    int address = -1;
  };
  Bus* BusOf(int fd) {
    auto it = fds_.find(fd);
    if (it == fds_.end()) {
      ++callsAfterClose_;
      return nullptr;
    }
    return &buses[it->second.path];
  }
  // Common checks of a transfer: 0, or the -errno the call returns.
  int Begin(const char* op, int fd, int command, int length, FakeChip*& chip) {
    calls.push_back({op, fd, command, length});
    Bus* b = BusOf(fd);
    if (b == nullptr) return -EBADF;
    if (b->unplugged) return -ENODEV;
    if (!failNext.empty()) {
      const int e = failNext.front();
      failNext.pop_front();
      if (e != 0) return -e;
    }
    const int address = fds_[fd].address;
    if (address < 0) return -EINVAL;
    auto it = b->chips.find(static_cast<uint8_t>(address));
    if (it == b->chips.end()) return -ENXIO;  // nobody acknowledges the address
    chip = &it->second;
    return 0;
  }

  std::string root_;
  std::map<int, FdState> fds_;
  int nextFd_ = 100;
  int callsAfterClose_ = 0;
};

// Installs a fake kernel for the scope of a test.
class ScopedI2cDevKernel {
 public:
  explicit ScopedI2cDevKernel(I2cDevKernel* k) { InstallI2cDevKernel(k); }
  ~ScopedI2cDevKernel() { InstallI2cDevKernel(nullptr); }
  ScopedI2cDevKernel(const ScopedI2cDevKernel&) = delete;
  ScopedI2cDevKernel& operator=(const ScopedI2cDevKernel&) = delete;
};
