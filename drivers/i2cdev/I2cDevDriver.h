// The Linux i2c-dev driver: the adapter control contract over a USB-to-I2C/SMBus bridge that the
// kernel shows as /dev/i2c-N (CP2112, MCP2221, FT260, i2c-tiny-usb, Diolan U2C, ...).
// It reaches the kernel only through I2cDevKernel (I2cDevKernel.h).
//
// Settings, section [Adapter]:
//   Bus=           which bus to use: a device path (/dev/i2c-3), a number (3 or i2c-3) or an
//                  adapter name as sysfs gives it (CP2112 SMBus Bridge on hidraw0; a leading part
//                  of the name is enough). Empty: every USB-attached bus that can be opened.
//                  Whatever it names, only an i2c-dev character device is opened.
//   ForceAddress=1 when a kernel driver has claimed the target address, take it anyway
//                  (I2C_SLAVE_FORCE). Default 0: the transaction fails with VB_BUS_BUSY.
//   Pec=1          SMBus word reads and writes carry a packet error code, computed and checked
//                  here (PacketErrorCode) over plain I2C transfers; a mismatch is VB_BAD_PEC. Default 0:
//                  the kernel's SMBus word transfers, no PEC.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "adapter/ErrorCodes.h"
#include "adapter/ZentioDefaults.h"
#include "drivers/i2cdev/I2cDevBuses.h"
#include "drivers/i2cdev/I2cDevKernel.h"
#include "foundation/Settings.h"

std::unique_ptr<Zentio> CreateI2cDevControl(const Settings::Snapshot& settings);

// How a kernel error reads as an adapter status.
struct ErrnoStatus {
  int error;
  int16_t status;
};
std::span<const ErrnoStatus> I2cDevErrnoTable();
// The table's status for err (a positive errno); VB_UNKNOWN for any errno not in it.
int16_t StatusFromErrno(int err);

// The SMBus packet error code: CRC-8, polynomial x^8+x^2+x+1, initial value 0, over every byte
// of the frame including the address bytes.
uint8_t PacketErrorCode(std::span<const uint8_t> bytes);

// One-wire and flash are not something i2c-dev can do: they are refused (VB_INCORRECT_PARAM).
class I2cDevDriver final : public ZentioDefaults {
 public:
  I2cDevDriver(I2cDevKernel& kernel, I2cDevOptions options);
  ~I2cDevDriver() override;
  I2cDevDriver(const I2cDevDriver&) = delete;
  I2cDevDriver& operator=(const I2cDevDriver&) = delete;

  void ListFreeDevices(int32_t limit, int32_t& count, std::string& names) override;
  int16_t OpenDevice(const std::string& name) override;
  void DeviceClose() override;
  void ShowAboutBox() override;
  int16_t QueryError() override;

  int16_t SmbWriteWord(int16_t command, int16_t word, int16_t target) override;
  int16_t SmbReadWord(int16_t command, int16_t& word, int16_t target) override;
  int16_t SmbSendCommand(int16_t command, int16_t target) override;
  int16_t SmbWriteBlock(int16_t command, const std::vector<uint8_t>& bytes, int16_t count,
                        int16_t target) override;
  int16_t SmbReadBlock(int16_t command, std::vector<uint8_t>& buffer, int16_t& length,
                       int16_t target) override;
  int16_t SmbReadI2CBlock(int16_t command, std::vector<uint8_t>& buffer, int16_t& length,
                          int16_t target) override;
  int16_t SmbReadI2CBlockNoCmd(std::vector<uint8_t>& buffer, int16_t& length,
                               int16_t target) override;
  int16_t SmbWriteI2CBlock(int16_t command, const std::vector<uint8_t>& bytes, int16_t count,
                           int16_t target) override;
  int16_t SmbWriteReadI2CBlock(int16_t command, int16_t writeLength, int16_t readLength,
                               std::vector<uint8_t>& buffer, int16_t& lengthRead,
                               int16_t target) override;
  int16_t I2CBlockRead(int16_t wordAddress, std::vector<uint8_t>& buffer, int16_t size,
                       int16_t target) override;
  int16_t I2CBlockWrite(int16_t wordAddress, const std::vector<uint8_t>& bytes, int16_t size,
                        int16_t target) override;
  int16_t I2CByteOp(int32_t selector, int16_t a, int16_t b, int16_t& c) override;
  void Wait(int32_t milliseconds) override;
  int16_t GetVersion(int16_t& version, int16_t& revision) override;

  // The driver's own version, given by GetVersion.
  static constexpr int16_t kVersion = 1;
  static constexpr int16_t kRevision = 0;

 protected:
  int16_t Refuse(const Refusal&) override { return Done(VB_INCORRECT_PARAM); }

 private:
  using Candidate = I2cBusCandidate;
  // A bus that ListFreeDevices opened and queried, kept open for OpenDevice so that a bus is
  // opened once.
  struct Probed {
    Candidate bus;
    int fd = -1;
    unsigned long funcs = 0;
  };
  // Checks that the bus is an i2c-dev device (before opening anything), opens it and queries
  // its functions: the descriptor, or -1 with the reason in why.
  int OpenBus(const Candidate& bus, unsigned long& funcs, std::string& why);
  // Empty when the bus's path is an i2c-dev character device, else why it is not used.
  std::string NodeProblem(const Candidate& bus);
  int16_t Adopt(const Candidate& bus, int fd, unsigned long funcs);
  void CloseProbed();

  // Open check, functionality check and target selection ahead of a transfer: 0 or a status.
  int16_t Prepare(int16_t target, unsigned long needed);
  int16_t SelectAddress(uint8_t address);
  // A kernel result (>= 0 success, -errno failure) as a status; an unplugged adapter's file
  // descriptor is closed here and then.
  int16_t FromKernel(int result);
  int16_t Done(int16_t status) {
    lastStatus_ = status;
    return status;
  }
  // Reads count bytes at command into data, 32 at a time at consecutive commands.
  int16_t ReadI2cBlockAt(int16_t command, int32_t count, int16_t target,
                         std::array<uint8_t, 256>& data, int32_t& delivered);
  void CloseFd();
  void ForgetUnpluggedAdapter();
  // The word transfers with a packet error code (Pec=1), after Prepare.
  int16_t PecWriteWord(uint8_t command, uint16_t word);
  int16_t PecReadWord(uint8_t command, int16_t& word);

  I2cDevKernel& kernel_;
  I2cDevOptions options_;
  int fd_ = -1;
  unsigned long funcs_ = 0;
  int address_ = -1;  // the 7-bit address the fd is set to, -1 for none
  int target_ = -1;   // the 8-bit target of the transfer under way, for notes
  std::vector<Probed> probed_;
  bool unplugged_ = false;
  int16_t lastStatus_ = 0;
  std::string openLabel_;
};
