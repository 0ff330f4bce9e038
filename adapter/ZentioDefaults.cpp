#include "adapter/ZentioDefaults.h"

#include <chrono>
#include <thread>

#include "adapter/ErrorCodes.h"
#include "foundation/Text.h"

namespace {
using Op = ZentioDefaults::Op;
using Direction = ZentioDefaults::Direction;

class AbsentControl final : public ZentioDefaults {
 public:
  void Wait(int32_t) override {}  // no adapter, nothing to wait for

 protected:
  int16_t Refuse(const Refusal&) override { return VB_NO_USB; }
};

}  // namespace

std::unique_ptr<Zentio> CreateAbsentControl() { return std::make_unique<AbsentControl>(); }

std::string NoAnswerNote(int target) {
  std::string note =
      "no answer at 8-bit " + Text::Byte(target) + " (7-bit " + Text::Byte(target >> 1) + ")";
  // The same number read as i2cdetect's 7-bit form, when it can be one.
  if (target >= 0 && target <= 0x7F)
    note += "; i2cdetect's " + Text::Byte(target) + " is Korvo's " + Text::Byte(target << 1);
  return note;
}

std::string_view ZentioDefaults::OpName(Op op) {
  switch (op) {
    case Op::SmbWriteWord: return "SmbWriteWord";
    case Op::SmbReadWord: return "SmbReadWord";
    case Op::SmbSendCommand: return "SmbSendCommand";
    case Op::SmbWriteBlock: return "SmbWriteBlock";
    case Op::SmbReadBlock: return "SmbReadBlock";
    case Op::SmbReadI2CBlock: return "SmbReadI2CBlock";
    case Op::SmbReadI2CBlockNoCmd: return "SmbReadI2CBlockNoCmd";
    case Op::SmbWriteI2CBlock: return "SmbWriteI2CBlock";
    case Op::SmbWriteReadI2CBlock: return "SmbWriteReadI2CBlock";
    case Op::I2CBlockRead: return "I2CBlockRead";
    case Op::I2CBlockWrite: return "I2CBlockWrite";
    case Op::I2CByteOp: return "I2CByteOp";
    case Op::OneWireRead: return "OneWireRead";
    case Op::OneWireWrite: return "OneWireWrite";
    case Op::GetVersion: return "GetVersion";
    case Op::FlashFromSrec: return "FlashFromSrec";
    case Op::FlashProgram: return "FlashProgram";
    case Op::FlashRead: return "FlashRead";
  }
  return "?";
}

void ZentioDefaults::ListFreeDevices(int32_t, int32_t& count, std::string& names) {
  count = 0;
  names.clear();
}

int16_t ZentioDefaults::OpenDevice(const std::string&) { return -1; }
void ZentioDefaults::DeviceClose() {}
void ZentioDefaults::ShowAboutBox() {}
int16_t ZentioDefaults::QueryError() { return VB_OK; }

int16_t ZentioDefaults::Refuse(const Refusal&) { return VB_INCORRECT_PARAM; }

int16_t ZentioDefaults::SmbWriteWord(int16_t command, int16_t word, int16_t target) {
  return Refuse({Op::SmbWriteWord, Direction::Write, command, word, target});
}

int16_t ZentioDefaults::SmbReadWord(int16_t command, int16_t& word, int16_t target) {
  word = 0;
  return Refuse({Op::SmbReadWord, Direction::Read, command, 0, target});
}

int16_t ZentioDefaults::SmbSendCommand(int16_t command, int16_t target) {
  return Refuse({Op::SmbSendCommand, Direction::Write, command, 0, target});
}

int16_t ZentioDefaults::SmbWriteBlock(int16_t command, const std::vector<uint8_t>&, int16_t,
                                      int16_t target) {
  return Refuse({Op::SmbWriteBlock, Direction::Write, command, 0, target});
}

int16_t ZentioDefaults::SmbReadBlock(int16_t command, std::vector<uint8_t>&, int16_t& length,
                                     int16_t target) {
  length = 0;
  return Refuse({Op::SmbReadBlock, Direction::Read, command, 0, target});
}

int16_t ZentioDefaults::SmbReadI2CBlock(int16_t command, std::vector<uint8_t>&, int16_t& length,
                                        int16_t target) {
  length = 0;
  return Refuse({Op::SmbReadI2CBlock, Direction::Read, command, 0, target});
}

int16_t ZentioDefaults::SmbReadI2CBlockNoCmd(std::vector<uint8_t>&, int16_t& length,
                                             int16_t target) {
  length = 0;
  return Refuse({Op::SmbReadI2CBlockNoCmd, Direction::Read, 0, 0, target});
}

int16_t ZentioDefaults::SmbWriteI2CBlock(int16_t command, const std::vector<uint8_t>&, int16_t,
                                         int16_t target) {
  return Refuse({Op::SmbWriteI2CBlock, Direction::Write, command, 0, target});
}

int16_t ZentioDefaults::SmbWriteReadI2CBlock(int16_t command, int16_t, int16_t,
                                             std::vector<uint8_t>&, int16_t& lengthRead,
                                             int16_t target) {
  lengthRead = 0;
  return Refuse({Op::SmbWriteReadI2CBlock, Direction::Other, command, 0, target});
}

int16_t ZentioDefaults::I2CBlockRead(int16_t wordAddress, std::vector<uint8_t>&, int16_t,
                                     int16_t target) {
  return Refuse({Op::I2CBlockRead, Direction::Read, wordAddress, 0, target});
}

int16_t ZentioDefaults::I2CBlockWrite(int16_t wordAddress, const std::vector<uint8_t>&, int16_t,
                                      int16_t target) {
  return Refuse({Op::I2CBlockWrite, Direction::Write, wordAddress, 0, target});
}

// selector 1 writes c to address b of target a, 2 reads it into c; 0 and 3 switch the
// adapter's power and wires with value a.
int16_t ZentioDefaults::I2CByteOp(int32_t selector, int16_t a, int16_t b, int16_t& c) {
  switch (selector) {
    case 1: return Refuse({Op::I2CByteOp, Direction::Write, b, c, a});
    case 2: c = 0; return Refuse({Op::I2CByteOp, Direction::Read, b, 0, a});
    default: return Refuse({Op::I2CByteOp, Direction::Other, 0, a, 0});
  }
}

int16_t ZentioDefaults::OneWireRead(int32_t, int16_t command, int16_t& word) {
  word = 0;
  return Refuse({Op::OneWireRead, Direction::Read, command, 0, 0});
}

int16_t ZentioDefaults::OneWireWrite(int32_t, int16_t command, int16_t word) {
  return Refuse({Op::OneWireWrite, Direction::Write, command, word, 0});
}

void ZentioDefaults::Wait(int32_t milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int16_t ZentioDefaults::GetVersion(int16_t& version, int16_t& revision) {
  version = 0;
  revision = 0;
  return Refuse({Op::GetVersion, Direction::Other, 0, 0, 0});
}

int16_t ZentioDefaults::FlashFromSrec(const std::string&, const std::string&, const std::string&) {
  return Refuse({Op::FlashFromSrec, Direction::Other, 0, 0, 0});
}

int16_t ZentioDefaults::FlashProgram(int32_t, int32_t, const std::vector<uint8_t>&, int32_t,
                                     int32_t, const std::vector<uint8_t>&, int32_t,
                                     int16_t target) {
  return Refuse({Op::FlashProgram, Direction::Other, 0, 0, target});
}

int16_t ZentioDefaults::FlashRead(int32_t, int32_t, std::vector<uint8_t>&, int32_t,
                                  std::vector<uint8_t>&, int32_t, int16_t target) {
  return Refuse({Op::FlashRead, Direction::Other, 0, 0, target});
}
