// What the simulated adapter adds to the transactions: injected faults, the pending error for
// QueryError, latency, and the transaction history.
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

class SimFaults : public SimRig {
 protected:
  // Statuses of a run of charging-voltage reads ('r') and writes ('w').
  std::vector<int16_t> Run(std::string_view ops) {
    std::vector<int16_t> out;
    int16_t w = 0;
    for (char op : ops)
      out.push_back(op == 'r' ? ReadAs(kChargeVoltage, w) : Write(kChargeVoltage, 12000));
    return out;
  }
  using Cases = std::tuple<std::function<void(Board&)>, std::string_view, std::vector<int16_t>>;
  void ExpectRuns(std::initializer_list<Cases> cases) {
    for (const auto& [arm, ops, statuses] : cases) {
      Attach(std::make_shared<Board>());
      arm(*board);
      EXPECT_EQ(Run(ops), statuses) << ops;
    }
  }
};

TEST_F(SimFaults, EachModeFailsTheTransactionsOfItsScope) {
  // clang-format off
  ExpectRuns({
      {[](Board& b) { b.FailEveryNth(3, VB_TIMEOUT_ERROR); }, "rrrrrrr", {0, 0, 8, 0, 0, 8, 0}},
      {[](Board& b) { b.FailNext(2, VB_BUS_BUSY); }, "rwrr", {94, 94, 0, 0}},
      {[](Board& b) { b.FailAtRate(1.0, 7, VB_LOST_SYNC); }, "rwrw", std::vector<int16_t>(4, VB_LOST_SYNC)},
      {[](Board& b) { b.FailEveryNth(2, VB_TIMEOUT_ERROR, FaultScope::Writes); }, "rwrrwr", {0, 0, 0, 0, 8, 0}},
      {[](Board& b) { b.FailNext(1, VB_TIMEOUT_ERROR, FaultScope::Reads); }, "wrr", {0, 8, 0}},
  });
  // clang-format on
}

// The first transaction is taken by FailNext but still counts for every-Nth.
TEST_F(SimFaults, ModesCombineAndCountIndependently) {
  ExpectRuns({{[](Board& b) {
                 b.FailNext(1, VB_BUS_BUSY);
                 b.FailEveryNth(2, VB_TIMEOUT_ERROR);
               },
               "rrrr",
               {94, 8, 0, 8}}});
}

TEST_F(SimFaults, ZeroOrClearFaultsSwitchesModesOff) {
  // clang-format off
  ExpectRuns({
      {[](Board& b) { b.FailEveryNth(1, VB_OK); b.FailNext(5, VB_OK); b.FailAtRate(1.0, 1, VB_OK); }, "rrr", {0, 0, 0}},
      {[](Board& b) { b.FailEveryNth(0, 8); b.FailNext(-3, 8); b.FailAtRate(0.0, 7, 8); }, "rrr", {0, 0, 0}},
      {[](Board& b) { b.FailEveryNth(1, 8); b.FailNext(10, 8); b.FailAtRate(1.0, 1, 8); b.ClearFaults(); }, "rw", {0, 0}},
  });
  // clang-format on
}

TEST_F(SimFaults, ASeededRateIsRepeatableAndRoughlyRight) {
  const auto run = [this](uint32_t seed) {
    board->FailAtRate(0.25, seed, VB_LOST_SYNC);
    return Run(std::string(2000, 'r'));
  };
  const auto first = run(42);
  EXPECT_EQ(run(42), first) << "the same seed gives the same failures";
  EXPECT_NE(run(43), first) << "another seed, another pattern";
  const auto failed = std::count(first.begin(), first.end(), VB_LOST_SYNC);
  EXPECT_EQ(failed + std::count(first.begin(), first.end(), VB_OK), 2000);
  EXPECT_GT(failed, 400);
  EXPECT_LT(failed, 600);
}

TEST_F(SimFaults, AFailureChangesNothingAndReadsZero) {
  board->FailNext(2, VB_TIMEOUT_ERROR);
  int16_t w = 0x1234;
  EXPECT_EQ(Write(kChargeVoltage, 12000), VB_TIMEOUT_ERROR);
  EXPECT_EQ(board->Peek(kChargeVoltage), kPowerOnChargeVoltage);
  EXPECT_EQ(ReadAs(kChargeVoltage, w), VB_TIMEOUT_ERROR);
  EXPECT_EQ(w, 0);
}

TEST_F(SimFaults, OnlyRealTransactionsTakeAFault) {
  board->FailNext(1, VB_TIMEOUT_ERROR);
  int16_t w = 0;
  EXPECT_EQ(adapter->SmbReadWord(-1, w, 0x67), VB_INCORRECT_PARAM) << "bad arguments";
  adapter->DeviceClose();
  EXPECT_EQ(Run("r"), std::vector<int16_t>{VB_NO_USB}) << "a closed adapter";
  ASSERT_EQ(adapter->OpenDevice(kAdapterName), 0);
  EXPECT_EQ(adapter->QueryError(), VB_OK) << "QueryError";
  EXPECT_EQ(Run("rr"), (std::vector<int16_t>{VB_TIMEOUT_ERROR, VB_OK}));
}

TEST_F(SimFaults, APendingErrorFollowsTheNextSuccessfulWriteOnce) {
  board->SetPendingErrorAfterWrite(VB_BAD_PEC);
  EXPECT_EQ(Run("r"), std::vector<int16_t>{0});
  EXPECT_EQ(Write(0x40, 0), VB_T2H_NACK);
  EXPECT_EQ(adapter->QueryError(), VB_OK)
      << "armed, not yet pending: neither a read nor a failed write leaves it";
  EXPECT_EQ(Write(kChargeVoltage, 12000), VB_OK);
  EXPECT_EQ(board->Peek(kChargeVoltage), 12000) << "the write itself went through";
  EXPECT_EQ(std::vector<int16_t>({adapter->QueryError(), adapter->QueryError(),
                                  Write(kChargeVoltage, 1), adapter->QueryError()}),
            (std::vector<int16_t>{VB_BAD_PEC, VB_OK, VB_OK, VB_OK}))
      << "handed out once, after one write only";
  EXPECT_EQ(board->TransactionCount(), 4u) << "QueryError is no transaction";
}

TEST_F(SimFaults, LatencyIsWaitedOnceByEveryTransaction) {
  std::vector<std::chrono::microseconds> waits;
  board->SetLatencySleep([&](std::chrono::microseconds d) { waits.push_back(d); });
  board->SetLatency(std::chrono::microseconds(2000));
  Run("rw");
  adapter->QueryError();
  EXPECT_EQ(waits, std::vector<std::chrono::microseconds>(2, std::chrono::microseconds(2000)));
}

TEST_F(SimFaults, TheHistoryStaysBoundedOverALongScan) {
  int16_t w = 0;
  const auto& h = board->History();
  const std::size_t total = 5 * Board::kHistoryKept + 123;
  for (std::size_t i = 0; i < total; ++i) ReadAs(static_cast<uint8_t>(0x10 + i % 10), w);
  EXPECT_EQ(board->TransactionCount(), total);
  EXPECT_GE(h.size(), Board::kHistoryKept);
  EXPECT_LT(h.size(), 2 * Board::kHistoryKept);
  EXPECT_EQ(h.back().command, 0x10 + (total - 1) % 10) << "the newest is last";
}

}  // namespace
}  // namespace sim
