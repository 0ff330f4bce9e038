// What every backend of the adapter contract does the same way, written once. A backend
// derives from ZentioDefaults and overrides only the operations it really performs; every
// transaction it leaves alone is refused: the out-values the operation delivers are cleared
// (lengths, words read, versions; a caller's buffer is never touched) and the status comes
// from Refuse, the one place where a backend says how it refuses (and records the refusal,
// if it keeps a history).
//
// Without overrides: no adapter is listed and none opens, closing and the About box do
// nothing, there is no pending error, Wait sleeps, and every transaction is refused with
// VB_INCORRECT_PARAM.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "adapter/Zentio.h"

class ZentioDefaults : public Zentio {
 public:
  // The transactions of the contract, for Refuse.
  enum class Op : uint8_t {
    SmbWriteWord,
    SmbReadWord,
    SmbSendCommand,
    SmbWriteBlock,
    SmbReadBlock,
    SmbReadI2CBlock,
    SmbReadI2CBlockNoCmd,
    SmbWriteI2CBlock,
    SmbWriteReadI2CBlock,
    I2CBlockRead,
    I2CBlockWrite,
    I2CByteOp,
    OneWireRead,
    OneWireWrite,
    GetVersion,
    FlashFromSrec,
    FlashProgram,
    FlashRead,
  };
  // Read: delivers data. Write: sends data. Other: both or neither (write-then-read, byte
  // operations other than read and write, version, flash).
  enum class Direction : uint8_t { Read, Write, Other };

  struct Refusal {
    Op op;
    Direction direction;
    int32_t command;  // command, word or byte address, one-wire command; 0 where there is none
    int32_t value;    // the word or byte written; 0 where there is none
    int16_t target;   // bus address as passed; 0 where the operation takes none
  };

  static std::string_view OpName(Op op);

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
  int16_t OneWireRead(int32_t type, int16_t command, int16_t& word) override;
  int16_t OneWireWrite(int32_t type, int16_t command, int16_t word) override;
  void Wait(int32_t milliseconds) override;
  int16_t GetVersion(int16_t& version, int16_t& revision) override;
  int16_t FlashFromSrec(const std::string& recordFile, const std::string& boardFile,
                        const std::string& partFile) override;
  int16_t FlashProgram(int32_t dataStart, int32_t codeStart, const std::vector<uint8_t>& dataBlock,
                       int32_t dataSize, int32_t reservedSize,
                       const std::vector<uint8_t>& codeBlock, int32_t codeSize,
                       int16_t target) override;
  int16_t FlashRead(int32_t dataStart, int32_t codeStart, std::vector<uint8_t>& dataBlock,
                    int32_t dataSize, std::vector<uint8_t>& codeBlock, int32_t codeSize,
                    int16_t target) override;

 protected:
  // The status of a transaction this backend does not perform; its out-values are already
  // cleared. VB_INCORRECT_PARAM unless the backend says otherwise.
  virtual int16_t Refuse(const Refusal& refusal);
};

// What the link hosts when no driver is installed or the chosen one is unknown: no adapter is
// listed, none opens, waits return at once and every transaction fails with VB_NO_USB.
std::unique_ptr<Zentio> CreateAbsentControl();

// The note after a transfer that nobody acknowledged at target (8-bit form, as Korvo takes
// it): the address in both forms, since i2c-tools and i2cdetect show the 7-bit one. Every
// backend that tells why a transfer failed words it this way.
std::string NoAnswerNote(int target);
