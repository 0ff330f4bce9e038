// The GUI with --metrics: the windows put the same transactions on the bus in the same order and
// show the same messages, while the endpoint serves what they read.
#include <gtest/gtest.h>

#include <tuple>

#include "Exposition.h"
#include "Loopback.h"
#include "adapter/frmUSB.h"
#include "metrics/BenchEndpoint.h"
#include "support/gui/MainWindowFixture.h"

namespace {

// Every bus transaction, without its timing.
std::vector<std::tuple<int, int, int, int, int>> Traffic(const sim::Board& board) {
  std::vector<std::tuple<int, int, int, int, int>> t;
  for (const sim::Transaction& x : board.History())
    t.emplace_back(static_cast<int>(x.kind), x.command, x.value, x.target, x.status);
  return t;
}

class MetricsTrafficTest : public MainWindowFixture {
 protected:
  void SetUp() override {
    Load();
    Board().FailEveryNth(4, VB_TIMEOUT_ERROR, sim::FaultScope::Reads);
  }
};

TEST_F(MetricsTrafficTest, ReadAllPutsTheSameTrafficOnTheBusWithMetricsOn) {
  Click("cmdReadAll");
  const auto plainTraffic = Traffic(Board());
  const std::vector<std::string> plainMessages = sink.messages;
  ASSERT_EQ(plainTraffic.size(), 5u);
  ASSERT_FALSE(plainMessages.empty());

  sim::Board::ResetShared();
  Board().FailEveryNth(4, VB_TIMEOUT_ERROR, sim::FaultScope::Reads);
  sink.Clear();
  const uint16_t port = loopback::FreePort();
  std::string error;
  auto endpoint = metrics::BenchEndpoint::Start(std::to_string(port), {}, error);
  ASSERT_TRUE(endpoint) << error;
  endpoint->Attach(window->Registers(), frmUSB::Get());
  ASSERT_EQ(loopback::Get(port).status, 200);  // scraped before, and after
  Click("cmdReadAll");
  const auto scrape = loopback::Get(port);
  endpoint->Detach();

  EXPECT_EQ(Traffic(Board()), plainTraffic);
  EXPECT_EQ(sink.messages, plainMessages);
  ASSERT_EQ(scrape.status, 200);
  const auto p = exposition::Parse(scrape.body);
  EXPECT_EQ(p.Value("korvo_register_value", {{"register", "0x15"}}),
            Child<QLineEdit>("txtVoltDAC")->text().toDouble());
  EXPECT_EQ(p.Value("korvo_transaction_failures_total", {{"status", "VB_TIMEOUT_ERROR"}}), 1);
}

}  // namespace
