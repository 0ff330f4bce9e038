// The simulated adapter as the link sees it: listing, opening, targets, commands, every
// transaction's shape, every size a caller may pass (run under ASan to prove nothing strays); and
// the faults it injects, the pending error for QueryError, latency, and the transaction history.
#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
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
  EXPECT_EQ(std::string(kAdapterName).find(','), std::string::npos);
  for (const char* name : {"", "dummy", "Tarn88", "tarn88 simulator", "Tarn88 simulator,"})
    EXPECT_EQ(fresh.OpenDevice(name), -1) << name;
  EXPECT_FALSE(fresh.IsOpen());
  EXPECT_EQ(fresh.OpenDevice(kAdapterName), 0);
  EXPECT_EQ(List(fresh, 0) + List(fresh, -5), "0:0:");
  board->SetAbsent(true);  // the setting that makes the adapter absent
  EXPECT_EQ(List(fresh), "0:");
  EXPECT_EQ(Adapter(board).OpenDevice(kAdapterName), -1);
}

// Every status-returning operation, called with sound arguments, and its status while open.
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

TEST_F(SimContract, EveryTransactionWorksWhileOpenAndFailsWithNoUsbOnceClosedOrUnplugged) {
  for (const auto& [name, run, status] : kTransactions) EXPECT_EQ(run(*adapter), status) << name;
  board->Poke(kChargeVoltage, 12000);
  for (bool unplug : {false, true}) {
    unplug ? board->SetAbsent(true) : adapter->DeviceClose();
    for (const auto& [name, run, status] : kTransactions) EXPECT_EQ(run(*adapter), VB_NO_USB) << name;
    EXPECT_EQ(adapter->QueryError(), VB_NO_USB);
    EXPECT_EQ(board->Peek(kChargeVoltage), 12000) << "nothing reached the board";
    ASSERT_EQ(adapter->OpenDevice(kAdapterName), unplug ? -1 : 0);
  }
  board->SetAbsent(false);  // plugged in again
  EXPECT_EQ(Read(kChargeVoltage), 12000);
}

TEST_F(SimContract, TargetsFollowTheEightBitConventionAndTheChargerItsRegisters) {
  int16_t w = 0, n = 0;
  for (int16_t t : {0x66, 0x67, 0x33, 0x68, 0x00, 0x16, 0xFF, 0x166, -1, -32768, 32767}) {
    const int16_t status = t == 0x66 || t == 0x67 ? VB_OK : VB_T2H_NACK;
    std::vector<uint8_t> buf{9, 9}, other{9, 9};
    EXPECT_THAT((std::vector<int16_t>{adapter->SmbReadWord(0x13, w, t), adapter->SmbWriteWord(0x15, 12000, t),
                                      adapter->I2CBlockRead(0x13, buf, 2, t), adapter->SmbReadI2CBlock(0x13, other, n = 2, t)}),
                Each(status)) << t;
    EXPECT_EQ(n, status == VB_OK ? 2 : 0);
    EXPECT_EQ((buf == std::vector<uint8_t>{9, 9} && other == buf), status != VB_OK) << "a failed read leaves the buffer alone";
  }
  std::vector<uint8_t> buf;
  for (int cmd = 0; cmd <= 0xFF; ++cmd) {
    const int16_t status = (cmd >= 0x10 && cmd <= 0x19) || cmd == 0x3F ? VB_OK : VB_T2H_NACK;
    EXPECT_THAT((std::vector<int16_t>{ReadAs(static_cast<uint8_t>(cmd), w), Write(static_cast<uint8_t>(cmd), 0)}), Each(status)) << cmd;
  }
  EXPECT_EQ(adapter->SmbSendCommand(0x40, 0x67), VB_T2H_NACK);
  for (int16_t cmd : {-1, 256, -32768})  // not a byte: refused
    EXPECT_THAT((std::vector<int16_t>{adapter->SmbReadWord(cmd, w, 0x67), adapter->SmbWriteWord(cmd, 0, 0x67),
                                      adapter->I2CBlockRead(cmd, buf, 2, 0x67), adapter->I2CBlockWrite(cmd, {1, 2}, 2, 0x67)}),
                Each(VB_INCORRECT_PARAM)) << cmd;
}

TEST_F(SimContract, WordsAndTwoByteBlocksReachTheSameRegisterLowByteFirstAndOtherSizesAreRefused) {
  ASSERT_EQ(Write(0x15, 0x41A0), VB_OK);  // 16800
  std::vector<uint8_t> buf;
  ASSERT_EQ(adapter->I2CBlockRead(0x15, buf, 2, 0x67), VB_OK);
  EXPECT_EQ(buf, (std::vector<uint8_t>{0xA0, 0x41}));
  ASSERT_EQ(adapter->I2CBlockWrite(0x15, {0xE0, 0x2E}, 2, 0x66), VB_OK);  // 12000
  EXPECT_EQ(Read(0x15), 12000);
  ASSERT_EQ(adapter->SmbWriteBlock(0x14, {0x80, 0x0C}, 2, 0x67), VB_OK);  // an SMBus block too
  int16_t n = 2;
  buf.assign(257, 0xEE);
  ASSERT_EQ(adapter->SmbReadI2CBlock(0x14, buf, n, 0x67), VB_OK);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 3), (std::vector<uint8_t>{0x80, 0x0C, 0xEE}));
  board->Poke(kTrim0, 0x8001);
  EXPECT_EQ(ReadAs(kTrim0, n), VB_OK);
  EXPECT_EQ(n, static_cast<int16_t>(0x8001)) << "bit 15 makes a negative word";
  // The charger takes whole registers only.
  for (int16_t size : {0, 1, 3, 4, 256}) {
    if (size > 0) { EXPECT_EQ(adapter->I2CBlockRead(0x15, buf, size, 0x67), VB_WRONG_NUM_BYTES) << size; }
    EXPECT_EQ(adapter->I2CBlockWrite(0x15, std::vector<uint8_t>(size), size, 0x67), VB_WRONG_NUM_BYTES) << size;
  }
  EXPECT_EQ(adapter->I2CByteOp(2, 0x67, 0x15, n), VB_WRONG_NUM_BYTES);
  // Write-then-read: a refused size writes nothing; a sound one reads back what the charger kept.
  std::vector<uint8_t> wr{0x00, 0x10};
  EXPECT_EQ(adapter->SmbWriteReadI2CBlock(0x14, 1, 3, wr, n, 0x67), VB_WRONG_NUM_BYTES);
  EXPECT_EQ(std::pair(board->Peek(kChargeCurrent), board->Peek(kChargeVoltage)), (std::pair<uint16_t, uint16_t>(3200, 12000)));
  wr = {0xFF, 0xFF};  // elements 0..1: two data bytes
  ASSERT_EQ(adapter->SmbWriteReadI2CBlock(0x14, 1, 2, wr, n, 0x67), VB_OK);
  EXPECT_EQ(wr[0] | (wr[1] << 8), kCurrentMask);
  // A read without command continues at the register last selected or read.
  const auto noCommand = [&] { EXPECT_EQ(adapter->SmbReadI2CBlockNoCmd(wr, n = 2, 0x67), VB_OK); return wr[0] | (wr[1] << 8); };
  ASSERT_EQ(adapter->SmbSendCommand(0x3F, 0x67), VB_OK);
  EXPECT_EQ(noCommand(), kPowerOnInputCurrent);
  ASSERT_EQ(ReadAs(0x15, n), VB_OK);
  EXPECT_EQ(noCommand(), 12000);
}

TEST_F(SimContract, TheEepromDeviceAnswersByteTransfersThatBlocksSee) {
  int16_t d = 0x3C;
  ASSERT_EQ(adapter->I2CByteOp(1, 0xA0, 5, d), VB_OK);
  d = 0;
  ASSERT_EQ(adapter->I2CByteOp(2, 0xA1, 5, d), VB_OK);
  EXPECT_EQ(d, 0x3C);
  std::vector<uint8_t> buf;  // a block reads what the bytes wrote; sequential transfers wrap
  ASSERT_EQ(adapter->I2CBlockRead(0xFF, buf, 7, 0xA0), VB_OK);
  EXPECT_EQ(buf[6], 0x3C);
  int16_t big = 0x100;  // byte data or address that is not a byte; no such operation
  EXPECT_THAT((std::vector<int16_t>{adapter->I2CByteOp(1, 0xA0, 5, big), adapter->I2CByteOp(2, 0xA0, -1, d),
                                    adapter->I2CByteOp(4, 0xA0, 5, d), adapter->I2CByteOp(-1, 0xA0, 5, d)}),
              Each(VB_INCORRECT_PARAM));
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
      const auto fits = [&](int most) { return size >= 0 && size <= most && static_cast<std::size_t>(size) <= bs; };
      std::vector<uint8_t> buf(bs, 0xAB);
      EXPECT_EQ(adapter->I2CBlockRead(0x00, buf, sz, 0xA0), expect(readable));
      EXPECT_EQ(buf.size(), std::max(bs, static_cast<std::size_t>(readable ? size : 0))) << "grown, never shrunk";
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
        const bool ok = fits(255) && static_cast<std::size_t>(size) < bs && readLength >= 1 && readLength <= 256;
        EXPECT_EQ(adapter->SmbWriteReadI2CBlock(0x00, sz, readLength, wr, n, 0xA0), expect(ok)) << readLength;
        EXPECT_EQ(n, ok ? readLength : 0);
        EXPECT_LE(static_cast<std::size_t>(n), wr.size());
      }
    }
  }
}

// --- faults, the pending error, latency and the history ---

using Kind = Transaction::Kind;

class SimFaults : public SimRig {
 protected:
  // Statuses of a run of charging-voltage reads ('r') and writes ('w').
  std::vector<int16_t> Run(std::string_view ops) {
    std::vector<int16_t> out;
    int16_t w = 0;
    for (char op : ops) out.push_back(op == 'r' ? ReadAs(kChargeVoltage, w) : Write(kChargeVoltage, 12000));
    return out;
  }
};

TEST_F(SimFaults, EachModeFailsTheTransactionsOfItsScopeAndTheyCombine) {
  const std::tuple<std::function<void(Board&)>, std::string_view, std::vector<int16_t>> cases[] = {
      {[](Board& b) { b.FailEveryNth(3, VB_TIMEOUT_ERROR); }, "rrrrrrr", {0, 0, 8, 0, 0, 8, 0}},
      {[](Board& b) { b.FailNext(2, VB_BUS_BUSY); }, "rwrr", {94, 94, 0, 0}},
      {[](Board& b) { b.FailAtRate(1.0, 7, VB_LOST_SYNC); }, "rwrw", std::vector<int16_t>(4, VB_LOST_SYNC)},
      {[](Board& b) { b.FailEveryNth(2, VB_TIMEOUT_ERROR, FaultScope::Writes); }, "rwrrwr", {0, 0, 0, 0, 8, 0}},
      {[](Board& b) { b.FailNext(1, VB_TIMEOUT_ERROR, FaultScope::Reads); }, "wrr", {0, 8, 0}},
      // The first transaction is taken by FailNext but still counts for every-Nth.
      {[](Board& b) { b.FailNext(1, VB_BUS_BUSY); b.FailEveryNth(2, VB_TIMEOUT_ERROR); }, "rrrr", {94, 8, 0, 8}},
      // A status of 0 or a count or rate of 0 switches a mode off; so does ClearFaults.
      {[](Board& b) { b.FailEveryNth(1, VB_OK); b.FailNext(5, VB_OK); b.FailAtRate(1.0, 1, VB_OK); }, "rrr", {0, 0, 0}},
      {[](Board& b) { b.FailEveryNth(0, 8); b.FailNext(-3, 8); b.FailAtRate(0.0, 7, 8); }, "rrr", {0, 0, 0}},
      {[](Board& b) { b.FailEveryNth(1, 8); b.FailNext(10, 8); b.FailAtRate(1.0, 1, 8); b.ClearFaults(); }, "rw", {0, 0}},
  };
  for (const auto& [arm, ops, statuses] : cases) {
    Attach(std::make_shared<Board>());
    arm(*board);
    EXPECT_EQ(Run(ops), statuses) << ops;
  }
}

TEST_F(SimFaults, ASeededRateIsRepeatableAndRoughlyRight) {
  const auto run = [this](uint32_t seed) { board->FailAtRate(0.25, seed, VB_LOST_SYNC); return Run(std::string(2000, 'r')); };
  const auto first = run(42);
  EXPECT_EQ(run(42), first) << "the same seed gives the same failures";
  EXPECT_NE(run(43), first) << "another seed, another pattern";
  const auto failed = std::count(first.begin(), first.end(), VB_LOST_SYNC);
  EXPECT_EQ(failed + std::count(first.begin(), first.end(), VB_OK), 2000);
  EXPECT_GT(failed, 400);
  EXPECT_LT(failed, 600);
}

TEST_F(SimFaults, FailuresChangeNothingAndDeliverZeroAndOnlyRealTransactionsConsumeThem) {
  board->FailNext(2, VB_TIMEOUT_ERROR);
  int16_t w = 0x1234;
  EXPECT_EQ(adapter->SmbReadWord(-1, w, 0x67), VB_INCORRECT_PARAM) << "bad arguments take no fault";
  adapter->DeviceClose();
  EXPECT_EQ(Run("r"), std::vector<int16_t>{VB_NO_USB}) << "nor does a closed adapter";
  ASSERT_EQ(adapter->OpenDevice(kAdapterName), 0);
  EXPECT_EQ(adapter->QueryError(), VB_OK) << "nor QueryError";
  EXPECT_EQ(Write(kChargeVoltage, 12000), VB_TIMEOUT_ERROR);
  EXPECT_EQ(board->Peek(kChargeVoltage), kPowerOnChargeVoltage);
  EXPECT_EQ(ReadAs(kChargeVoltage, w), VB_TIMEOUT_ERROR);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(Run("w"), std::vector<int16_t>{VB_OK});
}

TEST_F(SimFaults, APendingErrorFollowsTheNextSuccessfulWriteOnce) {
  board->SetPendingErrorAfterWrite(VB_BAD_PEC);
  EXPECT_EQ(Run("r"), std::vector<int16_t>{0});
  EXPECT_EQ(Write(0x40, 0), VB_T2H_NACK);
  EXPECT_EQ(adapter->QueryError(), VB_OK) << "armed, not yet pending: neither a read nor a failed write leaves it";
  EXPECT_EQ(Write(kChargeVoltage, 12000), VB_OK);
  EXPECT_EQ(board->Peek(kChargeVoltage), 12000) << "the write itself went through";
  EXPECT_EQ(std::vector<int16_t>({adapter->QueryError(), adapter->QueryError(), Write(kChargeVoltage, 1), adapter->QueryError()}),
            (std::vector<int16_t>{VB_BAD_PEC, VB_OK, VB_OK, VB_OK})) << "handed out once, after one write only";
  EXPECT_EQ(board->TransactionCount(), 4u) << "QueryError is no transaction";
}

TEST_F(SimFaults, LatencyIsAddedToEveryTransactionAndWaitReallyWaits) {
  using std::chrono::steady_clock, std::chrono::milliseconds;
  board->SetLatency(std::chrono::microseconds(2000));
  auto start = steady_clock::now();
  Run("rrrrr");
  EXPECT_GE(steady_clock::now() - start, milliseconds(10));
  start = steady_clock::now();
  adapter->Wait(20);
  EXPECT_GE(steady_clock::now() - start, milliseconds(20));
  adapter->Wait(-1000);
  adapter->Wait(0);
  EXPECT_LT(steady_clock::now() - start, milliseconds(40)) << "no wait for 0 or less";
}

TEST_F(SimFaults, TheHistoryRecordsEachTransactionAndStaysBoundedOverALongScan) {
  int16_t w = 0;
  ASSERT_EQ(adapter->SmbReadWord(0x40, w, 0x66), VB_T2H_NACK);
  ASSERT_EQ(Write(kChargeVoltage, 0x2EE0), VB_OK);
  const auto& h = board->History();
  const auto fields = [](const Transaction& t) { return std::tuple(t.kind, int{t.command}, int{t.value}, int{t.target}, int{t.status}); };
  EXPECT_EQ(fields(h.at(0)), std::tuple(Kind::Read, 0x40, 0, 0x66, VB_T2H_NACK));
  EXPECT_EQ(fields(h.at(1)), std::tuple(Kind::Write, kChargeVoltage, 0x2EE0, 0x67, VB_OK));
  board->ClearHistory();
  EXPECT_EQ(h.size() + board->TransactionCount(), 0u);

  const std::size_t total = 5 * Board::kHistoryKept + 123;
  for (std::size_t i = 0; i < total; ++i) ReadAs(static_cast<uint8_t>(0x10 + i % 10), w);
  EXPECT_EQ(board->TransactionCount(), total);
  EXPECT_GE(h.size(), Board::kHistoryKept);
  EXPECT_LT(h.size(), 2 * Board::kHistoryKept);
  EXPECT_EQ(h.back().command, 0x10 + (total - 1) % 10) << "the newest is last";
}

}  // namespace
}  // namespace sim
