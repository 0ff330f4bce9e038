// What the simulated adapter adds to the transactions: injected faults.
#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "SimRig.h"
#include "drivers/sim/SimFaults.h"

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
};

TEST_F(SimFaults, EachModeFailsTheTransactionsOfItsScope) {
  // clang-format off
  const std::tuple<std::function<void(Board&)>, std::string_view, std::vector<int16_t>> cases[] = {
      {[](Board& b) { b.FailEveryNth(3, VB_TIMEOUT_ERROR); }, "rrrrrrr", {0, 0, 8, 0, 0, 8, 0}},
      {[](Board& b) { b.FailNext(2, VB_BUS_BUSY); }, "rwrr", {94, 94, 0, 0}},
      {[](Board& b) { b.FailAtRate(1.0, 7, VB_LOST_SYNC); }, "rwrw", std::vector<int16_t>(4, VB_LOST_SYNC)},
      {[](Board& b) { b.FailEveryNth(2, VB_TIMEOUT_ERROR, FaultScope::Writes); }, "rwrrwr", {0, 0, 0, 0, 8, 0}},
      {[](Board& b) { b.FailNext(1, VB_TIMEOUT_ERROR, FaultScope::Reads); }, "wrr", {0, 8, 0}},
  };
  // clang-format on
  for (const auto& [arm, ops, statuses] : cases) {
    Attach(std::make_shared<Board>());
    arm(*board);
    EXPECT_EQ(Run(ops), statuses) << ops;
  }
}

// The notes name the every-Nth mode with its English ordinal, teens included.
TEST(SimFaultsDescribe, EveryNthIsNamedByItsOrdinal) {
  const std::pair<int, const char*> cases[] = {
      {1, "1st"},   {2, "2nd"},   {3, "3rd"},   {4, "4th"},   {11, "11th"},  {12, "12th"},
      {13, "13th"}, {21, "21st"}, {22, "22nd"}, {23, "23rd"}, {111, "111th"}, {113, "113th"}};
  for (const auto& [n, ordinal] : cases) {
    Faults f;
    f.FailEveryNth(n, VB_TIMEOUT_ERROR);
    EXPECT_THAT(f.Describe("\n"),
                ::testing::HasSubstr(std::string("every ") + ordinal + " transaction fails"));
  }
}

}  // namespace
}  // namespace sim
