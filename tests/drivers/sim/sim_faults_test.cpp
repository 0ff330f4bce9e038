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

TEST_F(SimFaults, AFailureChangesNothingAndReadsZero) {
  board->FailNext(2, VB_TIMEOUT_ERROR);
  int16_t w = 0x1234;
  EXPECT_EQ(Write(kChargeVoltage, 12000), VB_TIMEOUT_ERROR);
  EXPECT_EQ(board->Peek(kChargeVoltage), kPowerOnChargeVoltage);
  EXPECT_EQ(ReadAs(kChargeVoltage, w), VB_TIMEOUT_ERROR);
  EXPECT_EQ(w, 0);
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

}  // namespace
}  // namespace sim
