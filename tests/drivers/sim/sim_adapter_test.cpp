// The simulated adapter as the link sees it: listing, opening, targets, commands, every
// transaction's shape, every size a caller may pass (run under ASan to prove nothing strays).
#include <algorithm>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "SimRig.h"

namespace sim {
namespace {

class SimContract : public SimRig {};
using ::testing::Each;

std::string List(Adapter& a, int32_t limit = 16) {
  int32_t count = -1;
  std::string names = "stale";
  a.ListFreeDevices(limit, count, names);
  return std::to_string(count) + ":" + names;
}

TEST_F(SimContract, ListsOneAdapterWhoseNameAloneOpensIt) {
  Adapter fresh(board);
  EXPECT_EQ(List(fresh), std::string("1:") + kAdapterName);
  for (const char* name : {"", "dummy", "Tarn88", "tarn88 simulator", "Tarn88 simulator,"})
    EXPECT_EQ(fresh.OpenDevice(name), -1) << name;
  EXPECT_FALSE(fresh.IsOpen());
  EXPECT_EQ(fresh.OpenDevice(kAdapterName), 0);
  EXPECT_EQ(List(fresh, 0) + List(fresh, -5), "0:0:");
}

TEST_F(SimContract, AnAbsentBoardListsAndOpensNothing) {
  board->SetAbsent(true);  // the setting that makes the adapter absent
  EXPECT_EQ(List(*adapter), "0:");
  EXPECT_EQ(Adapter(board).OpenDevice(kAdapterName), -1);
}

// Every status-returning operation, called with sound arguments, and its status while open.
// clang-format off
const std::tuple<const char*, std::function<int16_t(Zentio&)>, int16_t> kTransactions[] = {
    {"SmbWriteWord", [](Zentio& z) { return z.SmbWriteWord(0x15, 16800, 0x67); }, VB_OK},
    {"SmbReadWord", [](Zentio& z) { int16_t w; return z.SmbReadWord(0x15, w, 0x67); }, VB_OK},
    {"SmbSendCommand", [](Zentio& z) { return z.SmbSendCommand(0x15, 0x67); }, VB_OK},
    {"SmbWriteBlock", [](Zentio& z) { return z.SmbWriteBlock(0x15, {0x10, 0x41}, 2, 0x67); }, VB_OK},
    {"SmbReadBlock", [](Zentio& z) { std::vector<uint8_t> b; int16_t n; return z.SmbReadBlock(0x15, b, n, 0x67); }, VB_OK},
    {"SmbReadI2CBlock", [](Zentio& z) { std::vector<uint8_t> b; int16_t n = 2; return z.SmbReadI2CBlock(0x15, b, n, 0x67); }, VB_OK},
    {"SmbReadI2CBlockNoCmd", [](Zentio& z) { std::vector<uint8_t> b; int16_t n = 2; return z.SmbReadI2CBlockNoCmd(b, n, 0x67); }, VB_OK},
    {"SmbWriteI2CBlock", [](Zentio& z) { return z.SmbWriteI2CBlock(0x15, {0x10, 0x41}, 2, 0x67); }, VB_OK},
    {"SmbWriteReadI2CBlock", [](Zentio& z) { std::vector<uint8_t> b{0x10, 0x41}; int16_t n; return z.SmbWriteReadI2CBlock(0x15, 1, 2, b, n, 0x67); }, VB_OK},
    {"I2CBlockRead", [](Zentio& z) { std::vector<uint8_t> b; return z.I2CBlockRead(0x15, b, 2, 0x67); }, VB_OK},
    {"I2CBlockWrite", [](Zentio& z) { return z.I2CBlockWrite(0x15, {0x10, 0x41}, 2, 0x67); }, VB_OK},
    {"I2CByteOp power", [](Zentio& z) { int16_t s = 0; return z.I2CByteOp(0, 1, 0, s); }, VB_OK},
    {"I2CByteOp write", [](Zentio& z) { int16_t d = 0x3C; return z.I2CByteOp(1, 0xA0, 5, d); }, VB_OK},
    {"I2CByteOp read", [](Zentio& z) { int16_t d; return z.I2CByteOp(2, 0xA0, 5, d); }, VB_OK},
    {"I2CByteOp wire", [](Zentio& z) { int16_t s = 0; return z.I2CByteOp(3, 1, 0, s); }, VB_OK},
    {"GetVersion", [](Zentio& z) { int16_t v, r; return z.GetVersion(v, r); }, VB_OK},
    // No one-wire device, and nothing to flash.
    {"OneWireRead", [](Zentio& z) { int16_t w = 0x55; int16_t s = z.OneWireRead(1, 8, w); return w == 0 ? s : -1; }, VB_T2H_NACK},
    {"OneWireWrite", [](Zentio& z) { return z.OneWireWrite(1, 0x08, 0x1234); }, VB_T2H_NACK},
    {"FlashFromSrec", [](Zentio& z) { return z.FlashFromSrec("/nonexistent/file.s19", "", ""); }, VB_INCORRECT_PARAM},
    {"FlashProgram", [](Zentio& z) { std::vector<uint8_t> d(16); return z.FlashProgram(0, 0, d, 16, 0, d, 16, 0x17); }, VB_INCORRECT_PARAM},
    {"FlashRead", [](Zentio& z) { std::vector<uint8_t> d(16); return z.FlashRead(0, 0, d, 16, d, 16, 0x17); }, VB_INCORRECT_PARAM},
};
// clang-format on

TEST_F(SimContract, EveryTransactionWorksWhileOpen) {
  for (const auto& [name, run, status] : kTransactions) EXPECT_EQ(run(*adapter), status) << name;
}

TEST_F(SimContract, ClosedOrUnpluggedGivesNoUsbAndTouchesNothing) {
  board->Poke(kChargeVoltage, 12000);
  for (bool unplug : {false, true}) {
    unplug ? board->SetAbsent(true) : adapter->DeviceClose();
    for (const auto& [name, run, status] : kTransactions)
      EXPECT_EQ(run(*adapter), VB_NO_USB) << name;
    EXPECT_EQ(adapter->QueryError(), VB_NO_USB);
    EXPECT_EQ(board->Peek(kChargeVoltage), 12000) << "nothing reached the board";
    ASSERT_EQ(adapter->OpenDevice(kAdapterName), unplug ? -1 : 0);
  }
  board->SetAbsent(false);  // plugged in again
  EXPECT_EQ(Read(kChargeVoltage), 12000);
}

TEST_F(SimContract, OnlyTheChargersTwoAddressesAnswer) {
  int16_t w = 0, n = 0;
  for (int16_t t : {0x66, 0x67, 0x33, 0x68, 0x00, 0x16, 0xFF, 0x166, -1, -32768, 32767}) {
    const int16_t status = t == 0x66 || t == 0x67 ? VB_OK : VB_T2H_NACK;
    std::vector<uint8_t> buf{9, 9}, other{9, 9};
    EXPECT_THAT((std::vector<int16_t>{adapter->SmbReadWord(0x13, w, t),
                                      adapter->SmbWriteWord(0x15, 12000, t),
                                      adapter->I2CBlockRead(0x13, buf, 2, t),
                                      adapter->SmbReadI2CBlock(0x13, other, n = 2, t)}),
                Each(status))
        << t;
    EXPECT_EQ(n, status == VB_OK ? 2 : 0);
    EXPECT_EQ((buf == std::vector<uint8_t>{9, 9} && other == buf), status != VB_OK)
        << "a failed read leaves the buffer alone";
  }
}

TEST_F(SimContract, OnlyTheChargersRegistersAnswer) {
  int16_t w = 0;
  for (int cmd = 0; cmd <= 0xFF; ++cmd) {
    const int16_t status = (cmd >= 0x10 && cmd <= 0x19) || cmd == 0x3F ? VB_OK : VB_T2H_NACK;
    EXPECT_THAT((std::vector<int16_t>{ReadAs(static_cast<uint8_t>(cmd), w),
                                      Write(static_cast<uint8_t>(cmd), 0)}),
                Each(status))
        << cmd;
  }
  EXPECT_EQ(adapter->SmbSendCommand(0x40, 0x67), VB_T2H_NACK);
}

TEST_F(SimContract, WordsAndTwoByteBlocksReachTheSameRegister) {
  ASSERT_EQ(Write(0x15, 0x41A0), VB_OK);  // 16800
  std::vector<uint8_t> buf;
  ASSERT_EQ(adapter->I2CBlockRead(0x15, buf, 2, 0x67), VB_OK);
  EXPECT_EQ(buf, (std::vector<uint8_t>{0xA0, 0x41})) << "low byte first";
  ASSERT_EQ(adapter->I2CBlockWrite(0x15, {0xE0, 0x2E}, 2, 0x66), VB_OK);  // 12000
  EXPECT_EQ(Read(0x15), 12000);
}

TEST_F(SimContract, TheChargerTakesWholeRegistersOnly) {
  std::vector<uint8_t> buf;
  int16_t n = 0;
  for (int16_t size : {0, 1, 3, 4, 256}) {
    if (size > 0) {
      EXPECT_EQ(adapter->I2CBlockRead(0x15, buf, size, 0x67), VB_WRONG_NUM_BYTES) << size;
    }
    EXPECT_EQ(adapter->I2CBlockWrite(0x15, std::vector<uint8_t>(size), size, 0x67),
              VB_WRONG_NUM_BYTES)
        << size;
  }
  EXPECT_EQ(adapter->I2CByteOp(2, 0x67, 0x15, n), VB_WRONG_NUM_BYTES);
  std::vector<uint8_t> wr{0x00, 0x10};
  EXPECT_EQ(adapter->SmbWriteReadI2CBlock(0x14, 1, 3, wr, n, 0x67), VB_WRONG_NUM_BYTES);
  EXPECT_EQ(board->Peek(kChargeCurrent), kPowerOnChargeCurrent) << "a refused size writes nothing";
}

TEST_F(SimContract, WriteThenReadReturnsWhatTheChargerKept) {
  std::vector<uint8_t> wr{0xFF, 0xFF};  // elements 0..1: two data bytes
  int16_t n = 0;
  ASSERT_EQ(adapter->SmbWriteReadI2CBlock(0x14, 1, 2, wr, n, 0x67), VB_OK);
  EXPECT_EQ(wr[0] | (wr[1] << 8), kCurrentMask);
}

// Every size a caller may pass, to the EEPROM device (which takes any byte count): served within
// the buffers, or refused with nothing delivered. ASan checks that no byte past an end is touched.
TEST_F(SimContract, EverySizeIsServedWithinTheBuffersOrRefused) {
  const auto expect = [](bool ok) { return ok ? VB_OK : VB_INCORRECT_PARAM; };
  for (int size : {-32768, -1, 0, 1, 2, 100, 255, 256, 257, 1000, 32767}) {
    for (std::size_t bs : {0, 1, 2, 255, 256, 300}) {
      SCOPED_TRACE(std::to_string(size) + " with " + std::to_string(bs) + " bytes");
      const auto sz = static_cast<int16_t>(size);
      const bool readable = size >= 1 && size <= 256;
      const auto fits = [&](int most) {
        return size >= 0 && size <= most && static_cast<std::size_t>(size) <= bs;
      };
      std::vector<uint8_t> buf(bs, 0xAB);
      EXPECT_EQ(adapter->I2CBlockRead(0x00, buf, sz, 0xA0), expect(readable));
      EXPECT_EQ(buf.size(), std::max(bs, static_cast<std::size_t>(readable ? size : 0)))
          << "grown, never shrunk";
      int16_t n = sz;
      EXPECT_EQ(adapter->SmbReadI2CBlock(0x00, buf, n, 0xA0), expect(readable));
      EXPECT_EQ(n, readable ? size : 0);
      n = sz;
      EXPECT_EQ(adapter->SmbReadI2CBlockNoCmd(buf, n, 0xA0), expect(readable));
      EXPECT_EQ(n, readable ? size : 0);
      EXPECT_EQ(adapter->SmbReadBlock(0x00, buf, n, 0xA0), VB_OK);
      EXPECT_LE(static_cast<std::size_t>(n), buf.size());
      const std::vector<uint8_t> bytes(bs, 0xCD);
      EXPECT_EQ(adapter->I2CBlockWrite(0x00, bytes, sz, 0xA0), expect(fits(256)));
      EXPECT_EQ(adapter->SmbWriteI2CBlock(0x00, bytes, sz, 0xA0), expect(fits(256)));
      EXPECT_EQ(adapter->SmbWriteBlock(0x00, bytes, sz, 0xA0), expect(fits(255)));
      // Write-then-read sends elements 0 to writeLength.
      for (int16_t readLength : {-1, 0, 1, 256, 257}) {
        std::vector<uint8_t> wr(bs, 0x11);
        n = 7;
        const bool ok = fits(255) && static_cast<std::size_t>(size) < bs && readLength >= 1 &&
                        readLength <= 256;
        EXPECT_EQ(adapter->SmbWriteReadI2CBlock(0x00, sz, readLength, wr, n, 0xA0), expect(ok))
            << readLength;
        EXPECT_EQ(n, ok ? readLength : 0);
        EXPECT_LE(static_cast<std::size_t>(n), wr.size());
      }
    }
  }
}

}  // namespace
}  // namespace sim
