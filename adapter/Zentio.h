// The adapter control contract: every backend (the simulated board, Linux i2c-dev) implements
// it. The adapter link is its only caller for bus traffic; the main window holds a second
// instance only for its About box.
//
// Integer is int16_t, Long int32_t. Statuses are signed 16-bit: 0 success, otherwise an error
// code (adapter/ErrorCodes.h). Out-arguments are references. A buffer is a byte vector the
// control may resize; an implementation never reads or writes past its end, whatever sizes the
// caller passes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Zentio {
 public:
  virtual ~Zentio() = default;

  // Names of free adapters joined by ","; count is how many.
  virtual void ListFreeDevices(int32_t limit, int32_t& count, std::string& names) = 0;
  // -1 = not opened, any other value = open.
  virtual int16_t OpenDevice(const std::string& name) = 0;
  virtual void DeviceClose() = 0;
  // Shows the control's own about text (through the message interface).
  virtual void ShowAboutBox() = 0;
  // Status of the previous transaction (a pending error after a write).
  virtual int16_t QueryError() = 0;

  virtual int16_t SmbWriteWord(int16_t command, int16_t word, int16_t target) = 0;
  virtual int16_t SmbReadWord(int16_t command, int16_t& word, int16_t target) = 0;
  virtual int16_t SmbSendCommand(int16_t command, int16_t target) = 0;
  virtual int16_t SmbWriteBlock(int16_t command, const std::vector<uint8_t>& bytes, int16_t count,
                                int16_t target) = 0;
  // length receives the number of bytes placed in buffer.
  virtual int16_t SmbReadBlock(int16_t command, std::vector<uint8_t>& buffer, int16_t& length,
                               int16_t target) = 0;
  // length: bytes wanted in, bytes delivered out.
  virtual int16_t SmbReadI2CBlock(int16_t command, std::vector<uint8_t>& buffer, int16_t& length,
                                  int16_t target) = 0;
  virtual int16_t SmbReadI2CBlockNoCmd(std::vector<uint8_t>& buffer, int16_t& length,
                                       int16_t target) = 0;
  virtual int16_t SmbWriteI2CBlock(int16_t command, const std::vector<uint8_t>& bytes,
                                   int16_t count, int16_t target) = 0;
  // Writes buffer[0..writeLength] (writeLength+1 bytes), then reads readLength bytes back into
  // buffer; lengthRead receives how many.
  virtual int16_t SmbWriteReadI2CBlock(int16_t command, int16_t writeLength, int16_t readLength,
                                       std::vector<uint8_t>& buffer, int16_t& lengthRead,
                                       int16_t target) = 0;

  // Word-address I2C block transfers: size bytes at wordAddress.
  virtual int16_t I2CBlockRead(int16_t wordAddress, std::vector<uint8_t>& buffer, int16_t size,
                               int16_t target) = 0;
  virtual int16_t I2CBlockWrite(int16_t wordAddress, const std::vector<uint8_t>& bytes,
                                int16_t size, int16_t target) = 0;

  // selector 0 power: (value, 0, scratch); 1 write: (target, address, data);
  // 2 read: (target, address, data out); 3 wire control: (value, 0, scratch).
  virtual int16_t I2CByteOp(int32_t selector, int16_t a, int16_t b, int16_t& c) = 0;

  virtual int16_t OneWireRead(int32_t type, int16_t command, int16_t& word) = 0;
  virtual int16_t OneWireWrite(int32_t type, int16_t command, int16_t word) = 0;

  // Returns when the time has passed.
  virtual void Wait(int32_t milliseconds) = 0;
  virtual int16_t GetVersion(int16_t& version, int16_t& revision) = 0;

  virtual int16_t FlashFromSrec(const std::string& recordFile, const std::string& boardFile,
                                const std::string& partFile) = 0;
  virtual int16_t FlashProgram(int32_t dataStart, int32_t codeStart,
                               const std::vector<uint8_t>& dataBlock, int32_t dataSize,
                               int32_t reservedSize, const std::vector<uint8_t>& codeBlock,
                               int32_t codeSize, int16_t target) = 0;
  virtual int16_t FlashRead(int32_t dataStart, int32_t codeStart, std::vector<uint8_t>& dataBlock,
                            int32_t dataSize, std::vector<uint8_t>& codeBlock, int32_t codeSize,
                            int16_t target) = 0;
};
