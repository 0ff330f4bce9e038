#include "adapter/ZentioDefaults.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "adapter/ErrorCodes.h"

namespace {

using Op = ZentioDefaults::Op;
using Direction = ZentioDefaults::Direction;

// Out-values start as 0x55 so that clearing them shows.
struct Outs {
  int16_t word = 0x55;
  int16_t length = 0x55;
  int16_t version = 0x55;
  int16_t revision = 0x55;
  std::vector<uint8_t> buffer = std::vector<uint8_t>(4, 0x55);
};

struct Call {
  const char* name;
  std::function<int16_t(Zentio&, Outs&)> run;
  Op op;
  Direction direction;
  int32_t command, value;
  int16_t target;
};

const std::vector<uint8_t> kBytes = {1, 2, 3, 4};

const std::vector<Call>& Calls() {
  static const std::vector<Call> calls = {
      {"SmbWriteWord", [](Zentio& z, Outs&) { return z.SmbWriteWord(0x15, 0x41A0, 0x66); },
       Op::SmbWriteWord, Direction::Write, 0x15, 0x41A0, 0x66},
      {"SmbReadWord", [](Zentio& z, Outs& o) { return z.SmbReadWord(0x13, o.word, 0x66); },
       Op::SmbReadWord, Direction::Read, 0x13, 0, 0x66},
      {"SmbSendCommand", [](Zentio& z, Outs&) { return z.SmbSendCommand(0x10, 0x66); },
       Op::SmbSendCommand, Direction::Write, 0x10, 0, 0x66},
      {"SmbWriteBlock", [](Zentio& z, Outs&) { return z.SmbWriteBlock(0x20, kBytes, 4, 0xA0); },
       Op::SmbWriteBlock, Direction::Write, 0x20, 0, 0xA0},
      {"SmbReadBlock",
       [](Zentio& z, Outs& o) { return z.SmbReadBlock(0x20, o.buffer, o.length, 0xA0); },
       Op::SmbReadBlock, Direction::Read, 0x20, 0, 0xA0},
      {"SmbReadI2CBlock",
       [](Zentio& z, Outs& o) {
         o.length = 2;
         return z.SmbReadI2CBlock(0x15, o.buffer, o.length, 0x66);
       },
       Op::SmbReadI2CBlock, Direction::Read, 0x15, 0, 0x66},
      {"SmbReadI2CBlockNoCmd",
       [](Zentio& z, Outs& o) {
         o.length = 2;
         return z.SmbReadI2CBlockNoCmd(o.buffer, o.length, 0x66);
       },
       Op::SmbReadI2CBlockNoCmd, Direction::Read, 0, 0, 0x66},
      {"SmbWriteI2CBlock",
       [](Zentio& z, Outs&) { return z.SmbWriteI2CBlock(0x15, kBytes, 2, 0x66); },
       Op::SmbWriteI2CBlock, Direction::Write, 0x15, 0, 0x66},
      {"SmbWriteReadI2CBlock",
       [](Zentio& z, Outs& o) {
         return z.SmbWriteReadI2CBlock(0x00, 0, 2, o.buffer, o.length, 0xA0);
       },
       Op::SmbWriteReadI2CBlock, Direction::Other, 0x00, 0, 0xA0},
      {"I2CBlockRead", [](Zentio& z, Outs& o) { return z.I2CBlockRead(0x15, o.buffer, 2, 0x66); },
       Op::I2CBlockRead, Direction::Read, 0x15, 0, 0x66},
      {"I2CBlockWrite", [](Zentio& z, Outs&) { return z.I2CBlockWrite(0x15, kBytes, 2, 0x66); },
       Op::I2CBlockWrite, Direction::Write, 0x15, 0, 0x66},
      {"I2CByteOp power", [](Zentio& z, Outs& o) { return z.I2CByteOp(0, 1, 0, o.word); },
       Op::I2CByteOp, Direction::Other, 0, 1, 0},
      {"I2CByteOp write",
       [](Zentio& z, Outs& o) {
         o.word = 0x5A;
         return z.I2CByteOp(1, 0xA0, 0x07, o.word);
       },
       Op::I2CByteOp, Direction::Write, 0x07, 0x5A, 0xA0},
      {"I2CByteOp read", [](Zentio& z, Outs& o) { return z.I2CByteOp(2, 0xA0, 0x07, o.word); },
       Op::I2CByteOp, Direction::Read, 0x07, 0, 0xA0},
      {"OneWireRead", [](Zentio& z, Outs& o) { return z.OneWireRead(1, 0x08, o.word); },
       Op::OneWireRead, Direction::Read, 0x08, 0, 0},
      {"OneWireWrite", [](Zentio& z, Outs&) { return z.OneWireWrite(1, 0x08, 0x1234); },
       Op::OneWireWrite, Direction::Write, 0x08, 0x1234, 0},
      {"GetVersion", [](Zentio& z, Outs& o) { return z.GetVersion(o.version, o.revision); },
       Op::GetVersion, Direction::Other, 0, 0, 0},
      {"FlashFromSrec", [](Zentio& z, Outs&) { return z.FlashFromSrec("a.s19", "", ""); },
       Op::FlashFromSrec, Direction::Other, 0, 0, 0},
      {"FlashProgram",
       [](Zentio& z, Outs&) { return z.FlashProgram(0, 0, kBytes, 4, 0, kBytes, 4, 0x16); },
       Op::FlashProgram, Direction::Other, 0, 0, 0x16},
      {"FlashRead",
       [](Zentio& z, Outs& o) { return z.FlashRead(0, 0, o.buffer, 4, o.buffer, 4, 0x16); },
       Op::FlashRead, Direction::Other, 0, 0, 0x16},
  };
  return calls;
}

class Plain final : public ZentioDefaults {};

class Recording final : public ZentioDefaults {
 public:
  std::vector<Refusal> seen;

 protected:
  int16_t Refuse(const Refusal& r) override {
    seen.push_back(r);
    return VB_T2H_NACK;
  }
};

TEST(ZentioDefaults, RefusalClearsWhatTheOperationDelivers) {
  struct Case {
    const char* name;
    int16_t Outs::*field;
  } const cases[] = {
      {"SmbReadWord", &Outs::word},
      {"SmbReadBlock", &Outs::length},
      {"SmbReadI2CBlock", &Outs::length},
      {"SmbReadI2CBlockNoCmd", &Outs::length},
      {"SmbWriteReadI2CBlock", &Outs::length},
      {"I2CByteOp read", &Outs::word},
      {"OneWireRead", &Outs::word},
      {"GetVersion", &Outs::version},
      {"GetVersion", &Outs::revision},
  };
  for (const Case& k : cases) {
    for (const Call& c : Calls()) {
      if (std::string(c.name) != k.name) continue;
      Plain z;
      Outs o;
      c.run(z, o);
      EXPECT_EQ(o.*k.field, 0) << k.name;
    }
  }
}

TEST(ZentioDefaults, RefusalLeavesTheCallersBufferAlone) {
  for (const Call& c : Calls()) {
    Plain z;
    Outs o;
    c.run(z, o);
    EXPECT_EQ(o.buffer, std::vector<uint8_t>(4, 0x55)) << c.name;
  }
}

TEST(ZentioDefaults, RefusedByteWriteKeepsItsData) {
  Plain z;
  int16_t data = 0x5A;
  z.I2CByteOp(1, 0xA0, 0x07, data);
  EXPECT_EQ(data, 0x5A);
}

TEST(ZentioDefaults, BackendRefuseSeesTheTransactionAndDecidesTheStatus) {
  for (const Call& c : Calls()) {
    Recording z;
    Outs o;
    EXPECT_EQ(c.run(z, o), VB_T2H_NACK) << c.name;
    ASSERT_EQ(z.seen.size(), 1u) << c.name;
    const ZentioDefaults::Refusal& r = z.seen.front();
    EXPECT_EQ(r.op, c.op) << c.name;
    EXPECT_EQ(r.direction, c.direction) << c.name;
    EXPECT_EQ(r.command, c.command) << c.name;
    EXPECT_EQ(r.value, c.value) << c.name;
    EXPECT_EQ(r.target, c.target) << c.name;
  }
}

TEST(AbsentControl, RefusesEveryTransactionWithNoUsb) {
  for (const Call& c : Calls()) {
    const std::unique_ptr<Zentio> absent = CreateAbsentControl();
    Outs o;
    EXPECT_EQ(c.run(*absent, o), VB_NO_USB) << c.name;
  }
}

TEST(NoAnswerNote, NamesBothAddressForms) {
  const std::pair<int, const char*> cases[] = {
      {0x33, "no answer at 8-bit 0x33 (7-bit 0x19); i2cdetect's 0x33 is Korvo's 0x66"},
      {0xA0, "no answer at 8-bit 0xA0 (7-bit 0x50)"},  // no 7-bit address
  };
  for (const auto& [target, note] : cases) EXPECT_EQ(NoAnswerNote(target), note) << target;
}

}  // namespace
