// The simulated evaluation board's entry in the driver list: a Zentio control that speaks to
// the board of SimBoard.h instead of a USB adapter.
//
// The adapter is listed as "Tarn88 simulator" (not at all while the board is absent) and
// opens under that name only; every transaction on a closed (or unplugged) adapter fails with
// VB_NO_USB. Argument checks come first and fail with VB_INCORRECT_PARAM without touching the
// bus: a command, word or byte address outside 0..255, a count or size below 0 (below 1 for
// reads), above 256 (255 for SMBus blocks) or beyond the bytes passed.
// Reads grow a buffer that is too short; nothing is read or written past a buffer's end.
// Then each transaction goes through the board's faults and latency and reaches the device at
// the target: the charger takes whole registers only (2 bytes, low byte first; other sizes fail
// with VB_WRONG_NUM_BYTES), the EEPROM device takes any byte count but not the SMBus block
// protocol; a missing device or an unknown command gives VB_T2H_NACK (a missing device also
// leaves a note with the address in both forms). There is no one-wire device (VB_T2H_NACK) and
// nothing to flash (VB_INCORRECT_PARAM); Wait sleeps as every backend does.
#pragma once

#include <memory>

#include "adapter/ZentioDefaults.h"
#include "drivers/sim/SimBoard.h"

namespace sim {

class Adapter final : public ZentioDefaults {
 public:
  // Follows Board::Shared(), also across ResetShared.
  Adapter();
  // Always this board.
  explicit Adapter(std::shared_ptr<Board> board);

  // The board this control talks to now.
  Board& CurrentBoard();
  bool IsOpen() const { return open_; }

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
  int16_t GetVersion(int16_t& version, int16_t& revision) override;

 protected:
  // One-wire (no device answers) and flash (nothing to program), gated and recorded like every
  // other transaction.
  int16_t Refuse(const Refusal& refusal) override;

 private:
  bool Connected(const Board& b) const { return open_ && b.Present(); }
  int16_t Gate(Board& b, Transaction::Kind kind, bool argsOk) const;

  std::shared_ptr<Board> board_;
  bool followShared_;
  uint64_t generation_ = 0;
  bool open_ = false;
};

}  // namespace sim

// A control on the shared board, built from these settings when there is none yet.
std::unique_ptr<Zentio> CreateSimControl(const Settings::Snapshot& settings);
std::unique_ptr<Zentio> CreateSimControl();
// A control on a simulated board of its own, built from settings' [Simulator] section.
std::unique_ptr<Zentio> CreateOwnSimControl(const Settings::Snapshot& settings);
// Why the simulated adapter is not listed or does not open (absent, a bad scenario or EEPROM
// file), and the board's notes (addresses nobody answered at, burns not saved); one per line.
std::string SimDiagnostics();
