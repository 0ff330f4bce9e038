#include "drivers/i2cdev/I2cDevDriver.h"

#include <linux/i2c.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "adapter/ErrorCodes.h"
#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"

namespace {

// Kernel errors as adapter statuses. The i2c bus drivers do not agree on errno values, so
// several map to one status; what a given bridge reports is noted where it matters.
constexpr std::array<ErrnoStatus, 12> kErrnoTable{{
    {ENXIO, VB_T2H_NACK},              // the address was not acknowledged
    {EREMOTEIO, VB_T2H_NACK},          // a NACK, as some bus drivers report it
    {ETIMEDOUT, VB_TIMEOUT_ERROR},     // the CP2112 reports an address NACK this way
    {EAGAIN, VB_BUS_BUSY},             // arbitration lost
    {EBUSY, VB_BUS_BUSY},              // bus busy, or the address is claimed by a kernel driver
    {EBADMSG, VB_BAD_PEC},             // PEC mismatch
    {EPROTO, VB_WRONG_NUM_BYTES},      // block count out of range
    {ENODEV, VB_NO_USB},               // adapter gone
    {ESHUTDOWN, VB_NO_USB},            // adapter suspended or being removed
    {EOPNOTSUPP, VB_INCORRECT_PARAM},  // transfer type not supported by the adapter
    {EINVAL, VB_INCORRECT_PARAM},      // the kernel refused the arguments
    {EIO, VB_UNKNOWN},                 // the FT260 reports a NACK this way; anything else too
}};
// Any errno not in the table reads as VB_UNKNOWN as well.

constexpr std::size_t kBlockMax = I2cDevKernel::kBlockMax;

bool InByteRange(int v) { return v >= 0 && v <= 0xFF; }

// The kernel errors with which a bridge reports that nobody acknowledged the address.
bool IsNoAnswer(int err) {
  return err == ENXIO || err == EREMOTEIO || err == ETIMEDOUT || err == EIO;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

std::span<const ErrnoStatus> I2cDevErrnoTable() { return kErrnoTable; }

int16_t StatusFromErrno(int err) {
  for (const auto& e : kErrnoTable)
    if (e.error == err) return e.status;
  return VB_UNKNOWN;
}

uint8_t PacketErrorCode(std::span<const uint8_t> bytes) {
  // Bitwise: a frame is five bytes at most, a table would buy nothing.
  uint8_t crc = 0;
  for (const uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = static_cast<uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
  }
  return crc;
}

std::unique_ptr<Zentio> CreateI2cDevControl(const Settings::Snapshot& settings) {
  return std::make_unique<I2cDevDriver>(CurrentI2cDevKernel(), I2cDevOptionsFromSettings(settings));
}

// ---------------------------------------------------------------------------------------------

I2cDevDriver::I2cDevDriver(I2cDevKernel& kernel, I2cDevOptions options)
    : kernel_(kernel), options_(std::move(options)) {}

I2cDevDriver::~I2cDevDriver() {
  CloseFd();
  CloseProbed();
}

void I2cDevDriver::CloseProbed() {
  for (const Probed& p : probed_) kernel_.Close(p.fd);
  probed_.clear();
}

void I2cDevDriver::CloseFd() {
  if (fd_ < 0) return;
  kernel_.Close(fd_);
  fd_ = -1;
  address_ = -1;
  funcs_ = 0;
  SetI2cDevOpenBus("", 0);
}

std::string I2cDevDriver::NodeProblem(const Candidate& bus) {
  unsigned fileType = 0, major = 0;
  if (int r = kernel_.Inspect(bus.devicePath, fileType, major); r < 0)
    return I2cDevOpenFailureText(bus.label, -r);
  if (fileType == S_IFCHR && major == I2cDevKernel::kI2cDevMajor) return {};
  std::string why = "Not opening " + bus.label + ": it is " + I2cDevNodeKindText(fileType, major) +
                    ", not an i2c-dev bus device.";
  if (!options_.bus.empty())
    why += " Bus= in section [Adapter] takes /dev/i2c-N, a bus number or an adapter name.";
  return why;
}

int I2cDevDriver::OpenBus(const Candidate& bus, unsigned long& funcs, std::string& why) {
  if (why = NodeProblem(bus); !why.empty()) return -1;
  const int fd = kernel_.Open(bus.devicePath);
  if (fd < 0) {
    why = I2cDevOpenFailureText(bus.label, -fd);
    return -1;
  }
  if (int r = kernel_.Functionality(fd, funcs); r < 0) {
    kernel_.Close(fd);
    why = "Cannot use " + bus.label + ": the functionality query failed (" +
          std::generic_category().message(-r) + ").";
    return -1;
  }
  return fd;
}

void I2cDevDriver::ListFreeDevices(int32_t limit, int32_t& count, std::string& names) {
  count = 0;
  names.clear();
  CloseProbed();  // a new listing looks afresh
  std::vector<std::string> notes;
  std::vector<Candidate> candidates = I2cBusCandidates(options_, kernel_.SysfsRoot(), &notes);
  ClearI2cDevDiagnostics();
  for (const Candidate& c : candidates) {
    if (count >= limit) break;
    // The bus in use by this control counts as ours, not as taken.
    if (fd_ < 0 || c.label != openLabel_) {
      unsigned long funcs = 0;
      std::string why;
      const int fd = OpenBus(c, funcs, why);
      if (fd < 0) {
        notes.push_back(why);
        continue;
      }
      probed_.push_back({c, fd, funcs});
    }
    names += (count > 0 ? "," : "") + c.listedName;
    ++count;
  }
  SetI2cDevListingNotes(std::move(notes));
}

int16_t I2cDevDriver::Adopt(const Candidate& bus, int fd, unsigned long funcs) {
  fd_ = fd;
  funcs_ = funcs;
  address_ = -1;
  lastStatus_ = VB_OK;
  openLabel_ = bus.label;
  SetI2cDevOpenBus(openLabel_, funcs_);
  return static_cast<int16_t>(bus.number >= 0 && bus.number <= 0x7FFF ? bus.number : 0);
}

int16_t I2cDevDriver::OpenDevice(const std::string& name) {
  if (unplugged_) {
    CloseProbed();
    AddI2cDevNote("The adapter was unplugged; restart the program after plugging it back in.");
    return -1;
  }
  CloseFd();
  // The listed name, or else its bus token ("i2c-3").
  const std::string token = name.substr(0, name.find(' '));
  auto pick = [&](const auto& items, auto busOf) -> std::ptrdiff_t {
    for (std::size_t i = 0; i < items.size(); ++i)
      if (busOf(items[i]).listedName == name) return static_cast<std::ptrdiff_t>(i);
    for (std::size_t i = 0; i < items.size(); ++i) {
      const std::string& listed = busOf(items[i]).listedName;
      if (!token.empty() && listed.substr(0, listed.find(' ')) == token)
        return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
  };
  // A bus the last listing opened is taken over as it is; the others are closed.
  if (const std::ptrdiff_t i =
          pick(probed_, [](const Probed& p) -> const Candidate& { return p.bus; });
      i >= 0) {
    const Probed chosen = probed_[static_cast<std::size_t>(i)];
    probed_.erase(probed_.begin() + i);
    CloseProbed();
    return Adopt(chosen.bus, chosen.fd, chosen.funcs);
  }
  CloseProbed();
  const std::vector<Candidate> candidates =
      I2cBusCandidates(options_, kernel_.SysfsRoot(), nullptr);
  const std::ptrdiff_t i =
      pick(candidates, [](const Candidate& c) -> const Candidate& { return c; });
  if (i < 0) {
    AddI2cDevNote("No bus named \"" + name + "\" is available" +
                  (options_.bus.empty()
                       ? " (only USB-attached buses are used unless Bus= in section "
                         "[Adapter] names one)."
                       : " (Bus=" + options_.bus + " in section [Adapter])."));
    return -1;
  }
  const Candidate& chosen = candidates[static_cast<std::size_t>(i)];
  unsigned long funcs = 0;
  std::string why;
  const int fd = OpenBus(chosen, funcs, why);
  if (fd < 0) {
    AddI2cDevNote(why);
    return -1;
  }
  return Adopt(chosen, fd, funcs);
}

void I2cDevDriver::DeviceClose() {
  CloseFd();
  CloseProbed();
}

void I2cDevDriver::ShowAboutBox() {
  MsgBox("Korvo i2c-dev driver " + std::to_string(kVersion) + "." + std::to_string(kRevision) +
         " for USB-to-I2C/SMBus bridges (Linux)" + kNewLine +
         I2cDevBusesAboutText(options_, kernel_.SysfsRoot()));
}

int16_t I2cDevDriver::QueryError() { return fd_ < 0 ? int16_t{VB_NO_USB} : lastStatus_; }

// ---------------------------------------------------------------------------------------------

void I2cDevDriver::ForgetUnpluggedAdapter() {
  // Close at once: the kernel cannot finish removing the adapter while we hold its device open.
  const std::string label = openLabel_;
  CloseFd();
  unplugged_ = true;
  AddI2cDevNote(label +
                " has gone (unplugged?). Every transaction now fails with VB_NO_USB; restart "
                "the program after plugging it back in.");
}

int16_t I2cDevDriver::FromKernel(int result) {
  if (result >= 0) return VB_OK;
  const int err = -result;
  if (IsNoAnswer(err) && target_ >= 0)
    AddI2cDevNote(openLabel_ + ": " + NoAnswerNote(target_) + ".");
  if (err == ENODEV || err == ESHUTDOWN) ForgetUnpluggedAdapter();
  return StatusFromErrno(err);
}

int16_t I2cDevDriver::SelectAddress(uint8_t address) {
  if (address_ == address) return VB_OK;
  int r = kernel_.SetAddress(fd_, address, false);
  if (r == -EBUSY) {
    const std::string where = openLabel_ + ": address " + Text::Byte(address) + " (8-bit " +
                              Text::Byte(address << 1) + "/" + Text::Byte((address << 1) | 1) + ")";
    if (options_.forceAddress) {
      r = kernel_.SetAddress(fd_, address, true);
      if (r >= 0)
        AddI2cDevNote(where + " is claimed by a kernel driver; used anyway (ForceAddress=1).");
    } else {
      AddI2cDevNote(where +
                    " is claimed by a kernel driver. Unbind that driver, or set ForceAddress=1 "
                    "in section [Adapter] to use it anyway.");
    }
  }
  if (r < 0) {
    address_ = -1;
    return FromKernel(r);
  }
  address_ = address;
  return VB_OK;
}

int16_t I2cDevDriver::Prepare(int16_t target, unsigned long needed) {
  if (fd_ < 0) return VB_NO_USB;
  // 8-bit convention: bit 0 is the read/write bit, the kernel wants the 7-bit address.
  if (!InByteRange(target)) return VB_INCORRECT_PARAM;
  if ((funcs_ & needed) != needed) return VB_INCORRECT_PARAM;
  target_ = target;
  return SelectAddress(static_cast<uint8_t>(target >> 1));
}

int16_t I2cDevDriver::SmbWriteWord(int16_t command, int16_t word, int16_t target) {
  if (fd_ < 0) return Done(VB_NO_USB);
  if (!InByteRange(command)) return Done(VB_INCORRECT_PARAM);
  if (options_.pec) {
    if (int16_t s = Prepare(target, I2C_FUNC_I2C); s != VB_OK) return Done(s);
    return Done(PecWriteWord(static_cast<uint8_t>(command), static_cast<uint16_t>(word)));
  }
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_WRITE_WORD_DATA); s != VB_OK) return Done(s);
  return Done(FromKernel(
      kernel_.SmbusWriteWord(fd_, static_cast<uint8_t>(command), static_cast<uint16_t>(word))));
}

int16_t I2cDevDriver::SmbReadWord(int16_t command, int16_t& word, int16_t target) {
  if (fd_ < 0) return Done(VB_NO_USB);
  if (!InByteRange(command)) return Done(VB_INCORRECT_PARAM);
  if (options_.pec) {
    if (int16_t s = Prepare(target, I2C_FUNC_I2C); s != VB_OK) return Done(s);
    return Done(PecReadWord(static_cast<uint8_t>(command), word));
  }
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_READ_WORD_DATA); s != VB_OK) return Done(s);
  const int r = kernel_.SmbusReadWord(fd_, static_cast<uint8_t>(command));
  if (r >= 0) word = static_cast<int16_t>(static_cast<uint16_t>(r));
  return Done(FromKernel(r));
}

int16_t I2cDevDriver::PecWriteWord(uint8_t command, uint16_t word) {
  const auto address = static_cast<uint8_t>(address_);
  // The frame as the charger sees it: address (write), command, low byte, high byte, PEC.
  const std::array<uint8_t, 4> covered{static_cast<uint8_t>(address << 1), command,
                                       static_cast<uint8_t>(word & 0xFF),
                                       static_cast<uint8_t>(word >> 8)};
  std::array<uint8_t, 4> out{command, covered[2], covered[3], PacketErrorCode(covered)};
  std::array<i2c_msg, 1> messages{{{address, 0, static_cast<uint16_t>(out.size()), out.data()}}};
  const int r = kernel_.Transfer(fd_, messages);
  return FromKernel(r < 0 ? r : 0);
}

int16_t I2cDevDriver::PecReadWord(uint8_t command, int16_t& word) {
  const auto address = static_cast<uint8_t>(address_);
  uint8_t cmd = command;
  std::array<uint8_t, 3> in{};  // low byte, high byte, PEC
  std::array<i2c_msg, 2> messages{{{address, 0, 1, &cmd},
                                   {address, I2C_M_RD, static_cast<uint16_t>(in.size()), in.data()}}};
  if (const int r = kernel_.Transfer(fd_, messages); r < 0) return FromKernel(r);
  // Address (write), command, address (read), then the data: the repeated start counts.
  const std::array<uint8_t, 5> covered{static_cast<uint8_t>(address << 1), command,
                                       static_cast<uint8_t>((address << 1) | 1), in[0], in[1]};
  if (PacketErrorCode(covered) != in[2]) return VB_BAD_PEC;
  word = static_cast<int16_t>(static_cast<uint16_t>(in[0] | (in[1] << 8)));
  return VB_OK;
}

int16_t I2cDevDriver::SmbSendCommand(int16_t command, int16_t target) {
  if (fd_ < 0) return Done(VB_NO_USB);
  if (!InByteRange(command)) return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_WRITE_BYTE); s != VB_OK) return Done(s);
  return Done(FromKernel(kernel_.SmbusSendByte(fd_, static_cast<uint8_t>(command))));
}

int16_t I2cDevDriver::SmbWriteBlock(int16_t command, const std::vector<uint8_t>& bytes,
                                    int16_t count, int16_t target) {
  if (fd_ < 0) return Done(VB_NO_USB);
  if (!InByteRange(command) || count < 0 || static_cast<std::size_t>(count) > kBlockMax ||
      static_cast<std::size_t>(count) > bytes.size())
    return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_WRITE_BLOCK_DATA); s != VB_OK) return Done(s);
  return Done(FromKernel(kernel_.SmbusWriteBlock(fd_, static_cast<uint8_t>(command),
                                                 std::span<const uint8_t>(bytes.data(), count))));
}

int16_t I2cDevDriver::SmbReadBlock(int16_t command, std::vector<uint8_t>& buffer, int16_t& length,
                                   int16_t target) {
  length = 0;
  if (fd_ < 0) return Done(VB_NO_USB);
  if (!InByteRange(command)) return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_READ_BLOCK_DATA); s != VB_OK) return Done(s);
  std::array<uint8_t, kBlockMax> block{};
  const int r = kernel_.SmbusReadBlock(fd_, static_cast<uint8_t>(command), block);
  if (r < 0) return Done(FromKernel(r));
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(r), kBlockMax);
  if (buffer.size() < n) buffer.resize(n);
  std::copy_n(block.begin(), n, buffer.begin());
  length = static_cast<int16_t>(n);
  return Done(VB_OK);
}

int16_t I2cDevDriver::ReadI2cBlockAt(int16_t command, int32_t count, int16_t target,
                                     std::array<uint8_t, 256>& data, int32_t& delivered) {
  delivered = 0;
  if (fd_ < 0) return VB_NO_USB;
  // Longer reads go as 32-byte transfers at consecutive addresses, which must stay within the
  // one-byte address range (so at most 256 bytes).
  if (!InByteRange(command) || count < 1) return VB_INCORRECT_PARAM;
  if (static_cast<std::size_t>(count) > kBlockMax && command + count > 0x100)
    return VB_INCORRECT_PARAM;
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_READ_I2C_BLOCK); s != VB_OK) return s;
  while (delivered < count) {
    const int32_t n = std::min<int32_t>(kBlockMax, count - delivered);
    const int r = kernel_.SmbusReadI2cBlock(fd_, static_cast<uint8_t>(command + delivered),
                                            std::span<uint8_t>(data.data() + delivered, n));
    if (r < 0) return FromKernel(r);
    delivered += std::min<int32_t>(r, n);
    if (r < n) break;
  }
  return VB_OK;
}

int16_t I2cDevDriver::SmbReadI2CBlock(int16_t command, std::vector<uint8_t>& buffer,
                                      int16_t& length, int16_t target) {
  const int16_t wanted = length;
  length = 0;
  std::array<uint8_t, 256> data{};
  int32_t delivered = 0;
  const int16_t s = ReadI2cBlockAt(command, wanted, target, data, delivered);
  if (s != VB_OK) return Done(s);
  if (buffer.size() < static_cast<std::size_t>(delivered)) buffer.resize(delivered);
  std::copy_n(data.begin(), delivered, buffer.begin());
  length = static_cast<int16_t>(delivered);
  return Done(VB_OK);
}

int16_t I2cDevDriver::SmbReadI2CBlockNoCmd(std::vector<uint8_t>& buffer, int16_t& length,
                                           int16_t target) {
  const int16_t wanted = length;
  length = 0;
  if (fd_ < 0) return Done(VB_NO_USB);
  if (wanted < 1 || static_cast<std::size_t>(wanted) > kBlockMax) return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_I2C); s != VB_OK) return Done(s);
  std::array<uint8_t, kBlockMax> block{};
  i2c_msg msg{};
  msg.addr = static_cast<uint16_t>(address_);
  msg.flags = I2C_M_RD;
  msg.len = static_cast<uint16_t>(wanted);
  msg.buf = block.data();
  const int r = kernel_.Transfer(fd_, std::span<i2c_msg>(&msg, 1));
  if (r < 0) return Done(FromKernel(r));
  if (buffer.size() < static_cast<std::size_t>(wanted)) buffer.resize(wanted);
  std::copy_n(block.begin(), wanted, buffer.begin());
  length = wanted;
  return Done(VB_OK);
}

int16_t I2cDevDriver::SmbWriteI2CBlock(int16_t command, const std::vector<uint8_t>& bytes,
                                       int16_t count, int16_t target) {
  if (fd_ < 0) return Done(VB_NO_USB);
  if (!InByteRange(command) || count < 0 || static_cast<std::size_t>(count) > kBlockMax ||
      static_cast<std::size_t>(count) > bytes.size())
    return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_WRITE_I2C_BLOCK); s != VB_OK) return Done(s);
  return Done(FromKernel(kernel_.SmbusWriteI2cBlock(
      fd_, static_cast<uint8_t>(command), std::span<const uint8_t>(bytes.data(), count))));
}

int16_t I2cDevDriver::SmbWriteReadI2CBlock(int16_t command, int16_t writeLength, int16_t readLength,
                                           std::vector<uint8_t>& buffer, int16_t& lengthRead,
                                           int16_t target) {
  lengthRead = 0;
  if (fd_ < 0) return Done(VB_NO_USB);
  // The contract writes buffer elements 0 to writeLength, that is writeLength + 1 bytes.
  const int writeCount = writeLength + 1;
  if (!InByteRange(command) || writeLength < 0 ||
      static_cast<std::size_t>(writeCount) > kBlockMax ||
      static_cast<std::size_t>(writeCount) > buffer.size() || readLength < 1 ||
      static_cast<std::size_t>(readLength) > kBlockMax)
    return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_I2C); s != VB_OK) return Done(s);
  std::array<uint8_t, kBlockMax + 1> out{};
  std::array<uint8_t, kBlockMax> in{};
  out[0] = static_cast<uint8_t>(command);
  std::copy_n(buffer.begin(), writeCount, out.begin() + 1);
  std::array<i2c_msg, 2> msgs{};
  msgs[0].addr = static_cast<uint16_t>(address_);
  msgs[0].flags = 0;
  msgs[0].len = static_cast<uint16_t>(writeCount + 1);
  msgs[0].buf = out.data();
  msgs[1].addr = static_cast<uint16_t>(address_);
  msgs[1].flags = I2C_M_RD;
  msgs[1].len = static_cast<uint16_t>(readLength);
  msgs[1].buf = in.data();
  const int r = kernel_.Transfer(fd_, msgs);
  if (r < 0) return Done(FromKernel(r));
  if (buffer.size() < static_cast<std::size_t>(readLength)) buffer.resize(readLength);
  std::copy_n(in.begin(), readLength, buffer.begin());
  lengthRead = readLength;
  return Done(VB_OK);
}

int16_t I2cDevDriver::I2CBlockRead(int16_t wordAddress, std::vector<uint8_t>& buffer, int16_t size,
                                   int16_t target) {
  std::array<uint8_t, 256> data{};
  int32_t delivered = 0;
  int16_t s = ReadI2cBlockAt(wordAddress, size, target, data, delivered);
  if (s == VB_OK && delivered < size) s = VB_WRONG_NUM_BYTES;
  if (s != VB_OK) return Done(s);
  if (buffer.size() < static_cast<std::size_t>(size)) buffer.resize(size);
  std::copy_n(data.begin(), size, buffer.begin());
  return Done(VB_OK);
}

int16_t I2cDevDriver::I2CBlockWrite(int16_t wordAddress, const std::vector<uint8_t>& bytes,
                                    int16_t size, int16_t target) {
  if (fd_ < 0) return Done(VB_NO_USB);
  // Writes above 32 bytes are refused rather than split: an EEPROM needs its write cycle time
  // between pages and would NACK a second transfer sent straight after the first.
  if (!InByteRange(wordAddress) || size < 0 || static_cast<std::size_t>(size) > kBlockMax ||
      static_cast<std::size_t>(size) > bytes.size())
    return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_WRITE_I2C_BLOCK); s != VB_OK) return Done(s);
  return Done(FromKernel(kernel_.SmbusWriteI2cBlock(fd_, static_cast<uint8_t>(wordAddress),
                                                    std::span<const uint8_t>(bytes.data(), size))));
}

int16_t I2cDevDriver::I2CByteOp(int32_t selector, int16_t a, int16_t b, int16_t& c) {
  if (fd_ < 0) return Done(VB_NO_USB);
  switch (selector) {
    case 1: {  // write: target a, address b, data c
      if (!InByteRange(b) || !InByteRange(c)) return Done(VB_INCORRECT_PARAM);
      if (int16_t s = Prepare(a, I2C_FUNC_SMBUS_WRITE_BYTE_DATA); s != VB_OK) return Done(s);
      return Done(FromKernel(
          kernel_.SmbusWriteByteData(fd_, static_cast<uint8_t>(b), static_cast<uint8_t>(c))));
    }
    case 2: {  // read: target a, address b, data out c
      if (!InByteRange(b)) return Done(VB_INCORRECT_PARAM);
      if (int16_t s = Prepare(a, I2C_FUNC_SMBUS_READ_BYTE_DATA); s != VB_OK) return Done(s);
      const int r = kernel_.SmbusReadByteData(fd_, static_cast<uint8_t>(b));
      if (r >= 0) c = static_cast<int16_t>(r & 0xFF);
      return Done(FromKernel(r));
    }
    default:
      // Bus power (0) and wire control (3) are not something i2c-dev can do.
      return Done(VB_INCORRECT_PARAM);
  }
}

void I2cDevDriver::Wait(int32_t milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  // A wait is a transaction that cannot fail: QueryError after it reports no old failure again.
  lastStatus_ = VB_OK;
}

int16_t I2cDevDriver::GetVersion(int16_t& version, int16_t& revision) {
  if (fd_ < 0) return Done(VB_NO_USB);
  version = kVersion;
  revision = kRevision;
  return Done(VB_OK);
}
