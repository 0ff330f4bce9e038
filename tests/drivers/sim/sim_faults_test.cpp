// Fault injection, the pending error for QueryError, latency, and the transaction history.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "adapter/ErrorCodes.h"
#include "drivers/sim/SimDriver.h"

namespace sim {
namespace {

using Kind = Transaction::Kind;

class SimFaults : public ::testing::Test {
 protected:
  SimFaults() : board(std::make_shared<Board>()), adapter(board) {
    EXPECT_EQ(adapter.OpenDevice(kAdapterName), 0);
  }
  int16_t Read() {
    int16_t w = 0;
    return adapter.SmbReadWord(reg::ChargeVoltage, w, 0x67);
  }
  int16_t Write(uint16_t v = 12000) { return adapter.SmbWriteWord(reg::ChargeVoltage, static_cast<int16_t>(v), 0x67); }
  // Statuses of n reads.
  std::vector<int16_t> Reads(int n) {
    std::vector<int16_t> out;
    for (int i = 0; i < n; ++i) out.push_back(Read());
    return out;
  }

  std::shared_ptr<Board> board;
  Adapter adapter;
};

TEST_F(SimFaults, EveryNthTransactionFails) {
  board->FailEveryNth(3, VB_TIMEOUT_ERROR);
  EXPECT_EQ(Reads(7), (std::vector<int16_t>{0, 0, 8, 0, 0, 8, 0}));
}

TEST_F(SimFaults, NextKTransactionsFailThenTheBusRecovers) {
  board->FailNext(2, VB_BUS_BUSY);
  EXPECT_EQ(Reads(4), (std::vector<int16_t>{VB_BUS_BUSY, VB_BUS_BUSY, 0, 0}));
}

TEST_F(SimFaults, SeededRateIsRepeatableAndRoughlyRight) {
  board->FailAtRate(0.25, 42, VB_LOST_SYNC);
  const auto first = Reads(2000);
  board->FailAtRate(0.25, 42, VB_LOST_SYNC);
  EXPECT_EQ(Reads(2000), first) << "the same seed gives the same failures";
  board->FailAtRate(0.25, 43, VB_LOST_SYNC);
  EXPECT_NE(Reads(2000), first) << "another seed, another pattern";

  int failed = 0;
  for (int16_t s : first) {
    ASSERT_TRUE(s == VB_OK || s == VB_LOST_SYNC);
    failed += s != VB_OK;
  }
  EXPECT_GT(failed, 400);
  EXPECT_LT(failed, 600);
}

TEST_F(SimFaults, RateOfOneFailsEverythingAndZeroNothing) {
  board->FailAtRate(1.0, 7, VB_LOST_SYNC);
  for (int16_t s : Reads(50)) EXPECT_EQ(s, VB_LOST_SYNC);
  board->FailAtRate(0.0, 7, VB_LOST_SYNC);
  for (int16_t s : Reads(50)) EXPECT_EQ(s, VB_OK);
}

TEST_F(SimFaults, ScopeLimitsWhichTransactionsCountAndFail) {
  board->FailEveryNth(2, VB_TIMEOUT_ERROR, FaultScope::Writes);
  EXPECT_EQ(Read(), VB_OK);
  EXPECT_EQ(Write(), VB_OK);   // 1st write
  EXPECT_EQ(Read(), VB_OK);
  EXPECT_EQ(Read(), VB_OK);
  EXPECT_EQ(Write(), VB_TIMEOUT_ERROR);  // 2nd write
  board->ClearFaults();

  board->FailNext(1, VB_TIMEOUT_ERROR, FaultScope::Reads);
  EXPECT_EQ(Write(), VB_OK);
  EXPECT_EQ(Read(), VB_TIMEOUT_ERROR);
  EXPECT_EQ(Read(), VB_OK);
}

TEST_F(SimFaults, FailedWritesChangeNothing) {
  board->FailNext(1, VB_TIMEOUT_ERROR);
  EXPECT_EQ(Write(12000), VB_TIMEOUT_ERROR);
  EXPECT_EQ(board->Peek(reg::ChargeVoltage), kPowerOnChargeVoltage);
  EXPECT_EQ(Write(12000), VB_OK);
  EXPECT_EQ(board->Peek(reg::ChargeVoltage), 12000);
}

TEST_F(SimFaults, FailedReadsDeliverZero) {
  board->FailNext(1, VB_TIMEOUT_ERROR);
  int16_t w = 0x1234;
  EXPECT_EQ(adapter.SmbReadWord(reg::ChargeVoltage, w, 0x67), VB_TIMEOUT_ERROR);
  EXPECT_EQ(w, 0);
}

TEST_F(SimFaults, ModesCombineAndEachKeepsItsOwnCount) {
  board->FailNext(1, VB_BUS_BUSY);
  board->FailEveryNth(2, VB_TIMEOUT_ERROR);
  // The first transaction is taken by FailNext but still counts for every-Nth.
  EXPECT_EQ(Reads(4), (std::vector<int16_t>{VB_BUS_BUSY, VB_TIMEOUT_ERROR, 0, VB_TIMEOUT_ERROR}));
}

TEST_F(SimFaults, StatusZeroOrCountZeroSwitchesAModeOff) {
  board->FailEveryNth(1, VB_OK);
  board->FailNext(5, VB_OK);
  board->FailAtRate(1.0, 1, VB_OK);
  for (int16_t s : Reads(5)) EXPECT_EQ(s, VB_OK);
  board->FailEveryNth(0, VB_TIMEOUT_ERROR);
  board->FailNext(-3, VB_TIMEOUT_ERROR);
  for (int16_t s : Reads(5)) EXPECT_EQ(s, VB_OK);
}

TEST_F(SimFaults, ClearFaultsEndsEveryMode) {
  board->FailEveryNth(1, VB_TIMEOUT_ERROR);
  board->FailNext(10, VB_TIMEOUT_ERROR);
  board->FailAtRate(1.0, 1, VB_TIMEOUT_ERROR);
  board->SetPendingErrorAfterWrite(VB_BAD_PEC);
  board->ClearFaults();
  EXPECT_EQ(Read(), VB_OK);
  EXPECT_EQ(Write(), VB_OK);
  EXPECT_EQ(adapter.QueryError(), VB_OK);
}

TEST_F(SimFaults, PendingErrorFollowsTheNextSuccessfulWriteOnce) {
  board->SetPendingErrorAfterWrite(VB_BAD_PEC);
  EXPECT_EQ(adapter.QueryError(), VB_OK) << "armed, not yet pending";
  EXPECT_EQ(Read(), VB_OK);
  EXPECT_EQ(adapter.QueryError(), VB_OK) << "a read does not leave it";
  EXPECT_EQ(Write(12000), VB_OK);
  EXPECT_EQ(board->Peek(reg::ChargeVoltage), 12000) << "the write itself went through";
  EXPECT_EQ(adapter.QueryError(), VB_BAD_PEC);
  EXPECT_EQ(adapter.QueryError(), VB_OK) << "handed out once";
  EXPECT_EQ(Write(), VB_OK);
  EXPECT_EQ(adapter.QueryError(), VB_OK) << "only one write";
}

TEST_F(SimFaults, PendingErrorWaitsForAWriteThatSucceeds) {
  board->SetPendingErrorAfterWrite(VB_BAD_PEC);
  EXPECT_EQ(adapter.SmbWriteWord(0x40, 0, 0x67), VB_T2H_NACK);
  EXPECT_EQ(adapter.QueryError(), VB_OK);
  EXPECT_EQ(Write(), VB_OK);
  EXPECT_EQ(adapter.QueryError(), VB_BAD_PEC);
}

TEST_F(SimFaults, QueryErrorIsNotATransaction) {
  board->FailEveryNth(1, VB_TIMEOUT_ERROR);
  EXPECT_EQ(adapter.QueryError(), VB_OK);
  EXPECT_EQ(board->TransactionCount(), 0u);
}

TEST_F(SimFaults, ClosedAdapterAndBadArgumentsDoNotConsumeFaults) {
  board->FailNext(1, VB_TIMEOUT_ERROR);
  int16_t w = 0;
  EXPECT_EQ(adapter.SmbReadWord(-1, w, 0x67), VB_INCORRECT_PARAM);
  adapter.DeviceClose();
  EXPECT_EQ(Read(), VB_NO_USB);
  ASSERT_EQ(adapter.OpenDevice(kAdapterName), 0);
  EXPECT_EQ(Read(), VB_TIMEOUT_ERROR);
  EXPECT_EQ(Read(), VB_OK);
}

TEST_F(SimFaults, LatencyIsAddedToEveryTransaction) {
  board->SetLatency(std::chrono::microseconds(2000));
  EXPECT_EQ(board->Latency(), std::chrono::microseconds(2000));
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Read(), VB_OK);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10));
  board->SetLatency(std::chrono::microseconds(-5));
  EXPECT_EQ(board->Latency().count(), 0);
}

TEST_F(SimFaults, WaitReallyWaits) {
  const auto start = std::chrono::steady_clock::now();
  adapter.Wait(20);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  const auto again = std::chrono::steady_clock::now();
  adapter.Wait(-1000);
  adapter.Wait(0);
  EXPECT_LT(std::chrono::steady_clock::now() - again, std::chrono::milliseconds(20));
}

TEST_F(SimFaults, HistoryRecordsEachTransaction) {
  ASSERT_EQ(Write(0x2EE0), VB_OK);
  int16_t w = 0;
  ASSERT_EQ(adapter.SmbReadWord(reg::Status, w, 0x66), VB_OK);
  ASSERT_EQ(adapter.SmbReadWord(0x40, w, 0x67), VB_T2H_NACK);
  std::vector<uint8_t> buf;
  ASSERT_EQ(adapter.I2CBlockRead(reg::InputCurrent, buf, 2, 0x67), VB_OK);
  const auto& h = board->History();
  ASSERT_EQ(h.size(), 4u);
  EXPECT_EQ(h[0].kind, Kind::Write);
  EXPECT_EQ(h[0].command, reg::ChargeVoltage);
  EXPECT_EQ(h[0].value, 0x2EE0);
  EXPECT_EQ(h[0].target, 0x67);
  EXPECT_EQ(h[0].status, VB_OK);
  EXPECT_EQ(h[1].kind, Kind::Read);
  EXPECT_EQ(h[1].value, 0x8080);
  EXPECT_EQ(h[1].target, 0x66);
  EXPECT_EQ(h[2].status, VB_T2H_NACK);
  EXPECT_EQ(h[3].command, reg::InputCurrent);
  EXPECT_EQ(h[3].value, kPowerOnInputCurrent);
  EXPECT_EQ(board->Count(Kind::Read), 3u);
  EXPECT_EQ(board->Count(Kind::Read, reg::Status), 1u);
  EXPECT_EQ(board->Count(Kind::Write, reg::ChargeVoltage), 1u);
  board->ClearHistory();
  EXPECT_TRUE(board->History().empty());
  EXPECT_EQ(board->TransactionCount(), 0u);
}

TEST_F(SimFaults, HistoryStaysBoundedOverALongScan) {
  const std::size_t total = 5 * Board::kHistoryKept + 123;
  int16_t w = 0;
  for (std::size_t i = 0; i < total; ++i) adapter.SmbReadWord(static_cast<int16_t>(0x10 + i % 10), w, 0x67);
  EXPECT_EQ(board->TransactionCount(), total);
  const auto& h = board->History();
  EXPECT_GE(h.size(), Board::kHistoryKept);
  EXPECT_LT(h.size(), 2 * Board::kHistoryKept);
  EXPECT_EQ(h.back().command, 0x10 + (total - 1) % 10) << "the newest is last";
  EXPECT_EQ(h[h.size() - 2].command, 0x10 + (total - 2) % 10);
}

}  // namespace
}  // namespace sim
