// The simulated adapter as the link sees it: listing, opening, targets, commands, every
// transaction's shape, and hostile sizes (run under ASan to prove nothing strays).
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "adapter/ErrorCodes.h"
#include "drivers/sim/SimDriver.h"

namespace sim {
namespace {

class SimContract : public ::testing::Test {
 protected:
  SimContract() : board(std::make_shared<Board>()), adapter(board) {}
  void Open() { ASSERT_EQ(adapter.OpenDevice(kAdapterName), 0); }

  std::shared_ptr<Board> board;
  Adapter adapter;
};

TEST_F(SimContract, ListsOneAdapterWhoseNameOpensIt) {
  int32_t count = -1;
  std::string names = "stale";
  adapter.ListFreeDevices(16, count, names);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(names, kAdapterName);
  EXPECT_EQ(names.find(','), std::string::npos);
  EXPECT_NE(adapter.OpenDevice(names), -1);
  EXPECT_TRUE(adapter.IsOpen());
}

TEST_F(SimContract, OtherNamesDoNotOpen) {
  for (const char* name : {"", "dummy", "Tarn88", "tarn88 simulator", "Tarn88 simulator,"}) {
    EXPECT_EQ(adapter.OpenDevice(name), -1) << name;
    EXPECT_FALSE(adapter.IsOpen()) << name;
  }
}

TEST_F(SimContract, AbsentBoardListsNothingAndCannotBeOpened) {
  board->SetAbsent(true);
  int32_t count = -1;
  std::string names = "stale";
  adapter.ListFreeDevices(16, count, names);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(names, "");
  EXPECT_EQ(adapter.OpenDevice(kAdapterName), -1);
}

TEST_F(SimContract, ListingWithoutRoomListsNothing) {
  int32_t count = -1;
  std::string names;
  adapter.ListFreeDevices(0, count, names);
  EXPECT_EQ(count, 0);
  adapter.ListFreeDevices(-5, count, names);
  EXPECT_EQ(count, 0);
}

TEST_F(SimContract, UnpluggingAnOpenAdapterFailsItsTransactions) {
  Open();
  int16_t word = 0;
  EXPECT_EQ(adapter.SmbReadWord(0x15, word, 0x67), VB_OK);
  board->SetAbsent(true);
  EXPECT_EQ(adapter.SmbReadWord(0x15, word, 0x67), VB_NO_USB);
  board->SetAbsent(false);
  EXPECT_EQ(adapter.SmbReadWord(0x15, word, 0x67), VB_OK);
}

// Every status-returning operation, called with sound arguments.
struct Call {
  const char* name;
  std::function<int16_t(Zentio&)> run;
};

std::vector<Call> AllTransactions() {
  return {
      {"SmbWriteWord", [](Zentio& z) { return z.SmbWriteWord(0x15, 16800, 0x67); }},
      {"SmbReadWord", [](Zentio& z) { int16_t w; return z.SmbReadWord(0x15, w, 0x67); }},
      {"SmbSendCommand", [](Zentio& z) { return z.SmbSendCommand(0x15, 0x67); }},
      {"SmbWriteBlock", [](Zentio& z) { return z.SmbWriteBlock(0x15, {0x10, 0x41}, 2, 0x67); }},
      {"SmbReadBlock", [](Zentio& z) { std::vector<uint8_t> b(129); int16_t n; return z.SmbReadBlock(0x15, b, n, 0x67); }},
      {"SmbReadI2CBlock", [](Zentio& z) { std::vector<uint8_t> b(257); int16_t n = 2; return z.SmbReadI2CBlock(0x15, b, n, 0x67); }},
      {"SmbReadI2CBlockNoCmd", [](Zentio& z) { std::vector<uint8_t> b(257); int16_t n = 2; return z.SmbReadI2CBlockNoCmd(b, n, 0x67); }},
      {"SmbWriteI2CBlock", [](Zentio& z) { return z.SmbWriteI2CBlock(0x15, {0x10, 0x41}, 2, 0x67); }},
      {"SmbWriteReadI2CBlock", [](Zentio& z) { std::vector<uint8_t> b{0x10, 0x41}; int16_t n; return z.SmbWriteReadI2CBlock(0x15, 1, 2, b, n, 0x67); }},
      {"I2CBlockRead", [](Zentio& z) { std::vector<uint8_t> b; return z.I2CBlockRead(0x15, b, 2, 0x67); }},
      {"I2CBlockWrite", [](Zentio& z) { return z.I2CBlockWrite(0x15, {0x10, 0x41}, 2, 0x67); }},
      {"I2CByteOp power", [](Zentio& z) { int16_t s = 0; return z.I2CByteOp(0, 1, 0, s); }},
      {"I2CByteOp write", [](Zentio& z) { int16_t d = 0x3C; return z.I2CByteOp(1, 0xA0, 5, d); }},
      {"I2CByteOp read", [](Zentio& z) { int16_t d; return z.I2CByteOp(2, 0xA0, 5, d); }},
      {"I2CByteOp wire", [](Zentio& z) { int16_t s = 0; return z.I2CByteOp(3, 1, 0, s); }},
      {"GetVersion", [](Zentio& z) { int16_t v, r; return z.GetVersion(v, r); }},
  };
}

TEST_F(SimContract, EveryTransactionOnAClosedAdapterFailsWithNoUsb) {
  for (const auto& call : AllTransactions()) {
    EXPECT_EQ(call.run(adapter), VB_NO_USB) << call.name;
  }
  int16_t w = 0;
  EXPECT_EQ(adapter.OneWireRead(0, 1, w), VB_NO_USB);
  EXPECT_EQ(adapter.OneWireWrite(0, 1, 2), VB_NO_USB);
  EXPECT_EQ(adapter.FlashFromSrec("a", "b", "c"), VB_NO_USB);
  EXPECT_EQ(adapter.QueryError(), VB_NO_USB);
  EXPECT_EQ(board->Peek(reg::ChargeVoltage), kPowerOnChargeVoltage) << "nothing reached the board";
}

TEST_F(SimContract, EveryTransactionSucceedsOnAnOpenAdapter) {
  Open();
  for (const auto& call : AllTransactions()) {
    EXPECT_EQ(call.run(adapter), VB_OK) << call.name;
  }
}

TEST_F(SimContract, ClosingFailsLaterTransactions) {
  Open();
  adapter.DeviceClose();
  EXPECT_FALSE(adapter.IsOpen());
  EXPECT_EQ(adapter.SmbWriteWord(0x15, 12000, 0x67), VB_NO_USB);
  EXPECT_EQ(board->Peek(reg::ChargeVoltage), kPowerOnChargeVoltage);
}

TEST_F(SimContract, TargetsFollowTheEightBitConvention) {
  Open();
  struct Case {
    int16_t target;
    int16_t status;
  };
  const Case cases[] = {
      {0x66, VB_OK},       {0x67, VB_OK},       {0x33, VB_T2H_NACK}, {0x68, VB_T2H_NACK},
      {0x00, VB_T2H_NACK}, {0x16, VB_T2H_NACK}, {0x17, VB_T2H_NACK}, {0xFF, VB_T2H_NACK},
      {0x166, VB_T2H_NACK}, {-1, VB_T2H_NACK},  {-32768, VB_T2H_NACK}, {32767, VB_T2H_NACK},
  };
  for (const auto& c : cases) {
    int16_t w = 0;
    EXPECT_EQ(adapter.SmbReadWord(0x13, w, c.target), c.status) << "target " << c.target;
    EXPECT_EQ(adapter.SmbWriteWord(0x15, 12000, c.target), c.status) << "target " << c.target;
    std::vector<uint8_t> buf;
    EXPECT_EQ(adapter.I2CBlockRead(0x13, buf, 2, c.target), c.status) << "target " << c.target;
  }
}

TEST_F(SimContract, ChargerAcknowledgesItsRegistersOnly) {
  Open();
  for (int cmd = 0; cmd <= 0xFF; ++cmd) {
    const bool known = (cmd >= 0x10 && cmd <= 0x19) || cmd == 0x3F;
    int16_t w = 0;
    EXPECT_EQ(adapter.SmbReadWord(static_cast<int16_t>(cmd), w, 0x67), known ? VB_OK : VB_T2H_NACK) << cmd;
    EXPECT_EQ(adapter.SmbWriteWord(static_cast<int16_t>(cmd), 0, 0x67), known ? VB_OK : VB_T2H_NACK) << cmd;
  }
}

TEST_F(SimContract, CommandsThatAreNotBytesAreRefusedBeforeTheBus) {
  Open();
  for (int16_t cmd : {int16_t{-1}, int16_t{256}, int16_t{0x115}, std::numeric_limits<int16_t>::min(),
                      std::numeric_limits<int16_t>::max()}) {
    int16_t w = 0x1234;
    EXPECT_EQ(adapter.SmbReadWord(cmd, w, 0x67), VB_INCORRECT_PARAM) << cmd;
    EXPECT_EQ(adapter.SmbWriteWord(cmd, 0, 0x67), VB_INCORRECT_PARAM) << cmd;
    std::vector<uint8_t> buf;
    EXPECT_EQ(adapter.I2CBlockRead(cmd, buf, 2, 0x67), VB_INCORRECT_PARAM) << cmd;
    EXPECT_EQ(adapter.I2CBlockWrite(cmd, {1, 2}, 2, 0x67), VB_INCORRECT_PARAM) << cmd;
  }
}

TEST_F(SimContract, SmbusWordAndI2cBlockReachTheSameRegisterLowByteFirst) {
  Open();
  ASSERT_EQ(adapter.SmbWriteWord(0x15, 0x41A0, 0x67), VB_OK);  // 16800
  std::vector<uint8_t> buf;
  ASSERT_EQ(adapter.I2CBlockRead(0x15, buf, 2, 0x67), VB_OK);
  ASSERT_GE(buf.size(), 2u);
  EXPECT_EQ(buf[0], 0xA0);
  EXPECT_EQ(buf[1], 0x41);

  ASSERT_EQ(adapter.I2CBlockWrite(0x15, {0xE0, 0x2E}, 2, 0x66), VB_OK);  // 12000
  int16_t w = 0;
  ASSERT_EQ(adapter.SmbReadWord(0x15, w, 0x66), VB_OK);
  EXPECT_EQ(w, 12000);

  ASSERT_EQ(adapter.SmbWriteI2CBlock(0x14, {0x80, 0x0C}, 2, 0x67), VB_OK);
  int16_t n = 2;
  std::vector<uint8_t> big(257, 0xEE);
  ASSERT_EQ(adapter.SmbReadI2CBlock(0x14, big, n, 0x67), VB_OK);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(big[0], 0x80);
  EXPECT_EQ(big[1], 0x0C);
  EXPECT_EQ(big[2], 0xEE) << "only the bytes read are placed";
}

TEST_F(SimContract, NegativeWordsCarryBitFifteen) {
  Open();
  board->Poke(reg::TR0, 0x8001);
  int16_t w = 0;
  ASSERT_EQ(adapter.SmbReadWord(0x10, w, 0x67), VB_OK);
  EXPECT_EQ(w, static_cast<int16_t>(0x8001));
}

TEST_F(SimContract, ChargerTakesWholeRegistersOnly) {
  Open();
  std::vector<uint8_t> buf;
  for (int16_t size : {1, 3, 4, 256}) {
    EXPECT_EQ(adapter.I2CBlockRead(0x15, buf, size, 0x67), VB_WRONG_NUM_BYTES) << size;
    std::vector<uint8_t> bytes(static_cast<std::size_t>(size), 0);
    EXPECT_EQ(adapter.I2CBlockWrite(0x15, bytes, size, 0x67), VB_WRONG_NUM_BYTES) << size;
  }
  EXPECT_EQ(adapter.I2CBlockWrite(0x15, {}, 0, 0x67), VB_WRONG_NUM_BYTES);
  EXPECT_EQ(board->Peek(reg::ChargeVoltage), kPowerOnChargeVoltage);
  // An unknown register is not acknowledged whatever the size.
  EXPECT_EQ(adapter.I2CBlockRead(0x20, buf, 3, 0x67), VB_T2H_NACK);
  int16_t d = 0;
  EXPECT_EQ(adapter.I2CByteOp(2, 0x67, 0x15, d), VB_WRONG_NUM_BYTES);
}

TEST_F(SimContract, ReadWithoutCommandContinuesAtTheLastRegister) {
  Open();
  int16_t w = 0;
  ASSERT_EQ(adapter.SmbReadWord(0x3F, w, 0x67), VB_OK);
  std::vector<uint8_t> buf(2);
  int16_t n = 2;
  ASSERT_EQ(adapter.SmbReadI2CBlockNoCmd(buf, n, 0x67), VB_OK);
  EXPECT_EQ(buf[0] | (buf[1] << 8), kPowerOnInputCurrent);
  ASSERT_EQ(adapter.SmbSendCommand(0x15, 0x67), VB_OK);
  ASSERT_EQ(adapter.SmbReadI2CBlockNoCmd(buf, n, 0x67), VB_OK);
  EXPECT_EQ(buf[0] | (buf[1] << 8), kPowerOnChargeVoltage);
  EXPECT_EQ(adapter.SmbSendCommand(0x40, 0x67), VB_T2H_NACK);
}

TEST_F(SimContract, SmbusBlockReadOfARegisterGivesTwoBytes) {
  Open();
  std::vector<uint8_t> buf;  // too short: the control grows it
  int16_t n = -1;
  ASSERT_EQ(adapter.SmbReadBlock(0x15, buf, n, 0x67), VB_OK);
  ASSERT_EQ(n, 2);
  ASSERT_GE(buf.size(), 2u);
  EXPECT_EQ(buf[0] | (buf[1] << 8), kPowerOnChargeVoltage);
  EXPECT_EQ(adapter.SmbWriteBlock(0x15, {0xE0, 0x2E}, 2, 0x67), VB_OK);
  EXPECT_EQ(board->Peek(reg::ChargeVoltage), 12000);
  EXPECT_EQ(adapter.SmbReadBlock(0x30, buf, n, 0x67), VB_T2H_NACK);
  EXPECT_EQ(n, 0);
}

TEST_F(SimContract, WriteThenReadWritesTheRegisterAndReadsItBack) {
  Open();
  std::vector<uint8_t> buf{0xFF, 0xFF};  // elements 0..1: two data bytes
  int16_t n = -1;
  ASSERT_EQ(adapter.SmbWriteReadI2CBlock(0x14, 1, 2, buf, n, 0x67), VB_OK);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(buf[0] | (buf[1] << 8), kCurrentMask) << "what the charger kept";
  std::vector<uint8_t> other{0x00, 0x10};
  EXPECT_EQ(adapter.SmbWriteReadI2CBlock(0x14, 1, 3, other, n, 0x67), VB_WRONG_NUM_BYTES);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(board->Peek(reg::ChargeCurrent), kCurrentMask) << "a refused size writes nothing";
}

TEST_F(SimContract, EepromDeviceAnswersByteAndBlockTransfers) {
  Open();
  int16_t d = 0x3C;
  ASSERT_EQ(adapter.I2CByteOp(1, 0xA0, 5, d), VB_OK);
  int16_t r = 0;
  ASSERT_EQ(adapter.I2CByteOp(2, 0xA1, 5, r), VB_OK);
  EXPECT_EQ(r, 0x3C);
  EXPECT_EQ(board->PeekEepromDevice(5), 0x3C);
  ASSERT_EQ(adapter.I2CByteOp(2, 0xA0, 6, r), VB_OK);
  EXPECT_EQ(r, 0xFF) << "erased";

  // A sequential write across the end wraps to address 0.
  ASSERT_EQ(adapter.I2CBlockWrite(0xFE, {1, 2, 3, 4}, 4, 0xA0), VB_OK);
  std::vector<uint8_t> buf;
  ASSERT_EQ(adapter.I2CBlockRead(0xFE, buf, 4, 0xA0), VB_OK);
  EXPECT_EQ(buf, (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(board->PeekEepromDevice(0), 3);

  // Word transactions move two bytes, low first; the no-command read continues after them.
  ASSERT_EQ(adapter.SmbWriteWord(0x10, 0x2211, 0xA0), VB_OK);
  int16_t w = 0;
  ASSERT_EQ(adapter.SmbReadWord(0x10, w, 0xA0), VB_OK);
  EXPECT_EQ(w, 0x2211);
  ASSERT_EQ(adapter.I2CBlockWrite(0x12, {0x33}, 1, 0xA0), VB_OK);
  ASSERT_EQ(adapter.SmbSendCommand(0x12, 0xA0), VB_OK);
  int16_t n = 1;
  ASSERT_EQ(adapter.SmbReadI2CBlockNoCmd(buf, n, 0xA0), VB_OK);
  EXPECT_EQ(buf[0], 0x33);

  // Byte data that is not a byte is refused.
  int16_t tooBig = 0x100;
  EXPECT_EQ(adapter.I2CByteOp(1, 0xA0, 5, tooBig), VB_INCORRECT_PARAM);
  int16_t neg = 0;
  EXPECT_EQ(adapter.I2CByteOp(2, 0xA0, -1, neg), VB_INCORRECT_PARAM);
  int16_t any = 0;
  EXPECT_EQ(adapter.I2CByteOp(4, 0, 0, any), VB_INCORRECT_PARAM);
  EXPECT_EQ(adapter.I2CByteOp(-1, 0, 0, any), VB_INCORRECT_PARAM);
}

TEST_F(SimContract, NoOneWireDeviceAndNothingToFlash) {
  Open();
  int16_t w = 0x55;
  EXPECT_EQ(adapter.OneWireRead(1, 0x08, w), VB_T2H_NACK);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(adapter.OneWireWrite(1, 0x08, 0x1234), VB_T2H_NACK);
  std::vector<uint8_t> data(16), code(16);
  EXPECT_EQ(adapter.FlashFromSrec("/nonexistent/file.s19", "", ""), VB_INCORRECT_PARAM);
  EXPECT_EQ(adapter.FlashProgram(0, 0, data, 16, 0, code, 16, 0x17), VB_INCORRECT_PARAM);
  EXPECT_EQ(adapter.FlashRead(0, 0, data, 16, code, 16, 0x17), VB_INCORRECT_PARAM);
}

TEST_F(SimContract, VersionIsOurOwn) {
  int16_t v = -1, r = -1;
  EXPECT_EQ(adapter.GetVersion(v, r), VB_NO_USB);
  Open();
  ASSERT_EQ(adapter.GetVersion(v, r), VB_OK);
  EXPECT_EQ(v, kAdapterVersion);
  EXPECT_EQ(r, kAdapterRevision);
}

TEST_F(SimContract, FailedReadsLeaveBuffersAlone) {
  Open();
  std::vector<uint8_t> buf{9, 9};
  EXPECT_EQ(adapter.I2CBlockRead(0x13, buf, 2, 0x20), VB_T2H_NACK);
  EXPECT_EQ(buf, (std::vector<uint8_t>{9, 9}));
  int16_t n = 2;
  EXPECT_EQ(adapter.SmbReadI2CBlock(0x13, buf, n, 0x20), VB_T2H_NACK);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(buf, (std::vector<uint8_t>{9, 9}));
}

// --- hostile sizes: statuses are checked, and ASan checks that no byte past an end is touched ---

TEST_F(SimContract, HostileSizesOnReadsAreRefusedOrServedWithinTheBuffer) {
  Open();
  const int16_t sizes[] = {std::numeric_limits<int16_t>::min(), -1, 0, 257, 1000,
                           std::numeric_limits<int16_t>::max()};
  for (int16_t size : sizes) {
    std::vector<uint8_t> empty;
    EXPECT_EQ(adapter.I2CBlockRead(0x00, empty, size, 0xA0), VB_INCORRECT_PARAM) << size;
    EXPECT_TRUE(empty.empty());
    int16_t n = size;
    EXPECT_EQ(adapter.SmbReadI2CBlock(0x00, empty, n, 0xA0), VB_INCORRECT_PARAM) << size;
    EXPECT_EQ(n, 0);
    n = size;
    EXPECT_EQ(adapter.SmbReadI2CBlockNoCmd(empty, n, 0xA0), VB_INCORRECT_PARAM) << size;
    n = size;
    std::vector<uint8_t> one{1};
    EXPECT_EQ(adapter.SmbWriteReadI2CBlock(0x00, 0, size, one, n, 0xA0), VB_INCORRECT_PARAM) << size;
  }
  // Legal sizes larger than the buffer grow it.
  for (int16_t size : {int16_t{1}, int16_t{2}, int16_t{100}, int16_t{256}}) {
    std::vector<uint8_t> small(1);
    ASSERT_EQ(adapter.I2CBlockRead(0x00, small, size, 0xA0), VB_OK) << size;
    EXPECT_GE(small.size(), static_cast<std::size_t>(size));
    std::vector<uint8_t> none;
    int16_t n = size;
    ASSERT_EQ(adapter.SmbReadI2CBlock(0x00, none, n, 0xA0), VB_OK) << size;
    EXPECT_EQ(n, size);
    EXPECT_GE(none.size(), static_cast<std::size_t>(size));
  }
}

TEST_F(SimContract, HostileCountsOnWritesNeverReadPastTheBytes) {
  Open();
  const std::vector<uint8_t> two{1, 2};
  const int16_t counts[] = {std::numeric_limits<int16_t>::min(), -1, 3, 256, 257,
                            std::numeric_limits<int16_t>::max()};
  for (int16_t count : counts) {
    EXPECT_EQ(adapter.SmbWriteBlock(0x15, two, count, 0x67), VB_INCORRECT_PARAM) << count;
    EXPECT_EQ(adapter.SmbWriteI2CBlock(0x15, two, count, 0x67), VB_INCORRECT_PARAM) << count;
    EXPECT_EQ(adapter.I2CBlockWrite(0x15, two, count, 0x67), VB_INCORRECT_PARAM) << count;
    EXPECT_EQ(adapter.SmbWriteBlock(0x00, two, count, 0xA0), VB_INCORRECT_PARAM) << count;
    EXPECT_EQ(adapter.I2CBlockWrite(0x00, two, count, 0xA0), VB_INCORRECT_PARAM) << count;
  }
  const std::vector<uint8_t> empty;
  EXPECT_EQ(adapter.I2CBlockWrite(0x15, empty, 2, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(adapter.SmbWriteI2CBlock(0x15, empty, 1, 0x67), VB_INCORRECT_PARAM);
  // Write-read: writeLength+1 bytes must be in the buffer.
  for (int16_t wl : {int16_t{-1}, int16_t{2}, int16_t{256}, std::numeric_limits<int16_t>::max(),
                     std::numeric_limits<int16_t>::min()}) {
    std::vector<uint8_t> buf{1, 2};
    int16_t n = 7;
    EXPECT_EQ(adapter.SmbWriteReadI2CBlock(0x15, wl, 2, buf, n, 0x67), VB_INCORRECT_PARAM) << wl;
    EXPECT_EQ(n, 0);
  }
  std::vector<uint8_t> none;
  int16_t n = 0;
  EXPECT_EQ(adapter.SmbWriteReadI2CBlock(0x15, 0, 2, none, n, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(board->Peek(reg::ChargeVoltage), kPowerOnChargeVoltage) << "nothing refused was written";
}

TEST_F(SimContract, FullSizeTransfersFitExactly) {
  Open();
  std::vector<uint8_t> data(256);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(adapter.I2CBlockWrite(0x00, data, 256, 0xA0), VB_OK);
  std::vector<uint8_t> back(256);
  ASSERT_EQ(adapter.I2CBlockRead(0x00, back, 256, 0xA0), VB_OK);
  EXPECT_EQ(back, data);
  // SMBus block: the EEPROM byte at the command address is the count; the reply grows the buffer.
  ASSERT_EQ(adapter.SmbWriteBlock(0x40, std::vector<uint8_t>(255, 0x5A), 255, 0xA0), VB_OK);
  std::vector<uint8_t> reply(3);
  int16_t n = 0;
  ASSERT_EQ(adapter.SmbReadBlock(0x40, reply, n, 0xA0), VB_OK);
  EXPECT_EQ(n, 255);
  ASSERT_GE(reply.size(), 255u);
  EXPECT_EQ(reply[254], 0x5A);
  // Write-read of 256 bytes out and 256 back.
  std::vector<uint8_t> wr(256, 0x11);
  ASSERT_EQ(adapter.SmbWriteReadI2CBlock(0x00, 255, 256, wr, n, 0xA0), VB_OK);
  EXPECT_EQ(n, 256);
}

}  // namespace
}  // namespace sim
