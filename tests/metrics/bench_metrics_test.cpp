#include <gtest/gtest.h>

#include <prometheus/text_serializer.h>

#include <atomic>
#include <thread>

#include "Exposition.h"
#include "adapter/ErrorCodes.h"
#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"
#include "metrics/BenchMetrics.h"
#include "metrics/MetricFamilies.h"
#include "registers/RegisterAccess.h"
#include "support/FakeZentio.h"
#include "support/RecordingSink.h"

namespace {

using recording::AccessKind;
using recording::AccessSource;
using Labels = std::map<std::string, std::string>;

recording::RegisterEvent Read(uint8_t address, uint16_t value, int32_t status = 0) {
  return {{}, AccessSource::kScanTick, AccessKind::kRead, address, value, status, 0x67};
}

recording::TransactionEvent Transaction(int32_t status, std::chrono::nanoseconds duration = {},
                                        std::string_view operation = "ReadSMBusWord_") {
  return {{}, operation, "13", 0x67, status, duration};
}

std::string Text(const metrics::BenchMetrics& m) {
  return prometheus::TextSerializer().Serialize(metrics::Families(m));
}

exposition::Parsed Scrape(const metrics::BenchMetrics& m) {
  exposition::Parsed p = exposition::Parse(Text(m));
  EXPECT_EQ(p.error, "");
  return p;
}

TEST(BenchMetricsTest, EveryFamilyHasHelpTypeAndAValidName) {
  metrics::BenchMetrics m({});
  m.OnRegisterAccess(Read(0x13, 0x0081));
  m.OnRegisterAccess(Read(0x12, 0x0100));
  m.OnTransaction(Transaction(8, std::chrono::milliseconds(3)));
  const auto p = Scrape(m);
  ASSERT_GE(p.families.size(), 14u);
  for (const auto& [name, f] : p.families) {
    EXPECT_TRUE(name.rfind("korvo_", 0) == 0) << name;
    EXPECT_FALSE(f.help.empty()) << name;
    EXPECT_FALSE(f.type.empty()) << name;
  }
}

TEST(BenchMetricsTest, CountersEndInTotalAndOthersDoNot) {
  metrics::BenchMetrics m({});
  for (const auto& [name, f] : Scrape(m).families) {
    const bool total = name.size() > 6 && name.compare(name.size() - 6, 6, "_total") == 0;
    EXPECT_EQ(total, f.type == "counter") << name;
  }
}

TEST(BenchMetricsTest, TheListedFamiliesHaveTheirTypes) {
  const std::map<std::string, std::string> expected = {
      {"korvo_up", "gauge"},
      {"korvo_build_info", "gauge"},
      {"korvo_board_info", "gauge"},
      {"korvo_register_value", "gauge"},
      {"korvo_status_bit", "gauge"},
      {"korvo_control_bit", "gauge"},
      {"korvo_charge_voltage_setpoint_volts", "gauge"},
      {"korvo_charge_current_setpoint_amperes", "gauge"},
      {"korvo_input_current_setpoint_amperes", "gauge"},
      {"korvo_register_accesses_total", "counter"},
      {"korvo_register_access_failures_total", "counter"},
      {"korvo_transactions_total", "counter"},
      {"korvo_transaction_failures_total", "counter"},
      {"korvo_transaction_duration_seconds", "histogram"},
      {"korvo_scrape_duration_seconds", "gauge"},
  };
  metrics::BenchMetrics m({});
  const auto p = Scrape(m);
  for (const auto& [name, type] : expected) {
    ASSERT_TRUE(p.families.count(name)) << name;
    EXPECT_EQ(p.families.at(name).type, type) << name;
  }
}

TEST(BenchMetricsTest, ARegisterIsAbsentUntilReadThenHoldsTheLastRead) {
  metrics::BenchMetrics m({});
  EXPECT_EQ(Scrape(m).Count("korvo_register_value"), 0u);
  m.OnRegisterAccess(Read(0x15, 16800));
  m.OnRegisterAccess(Read(0x15, 12000));
  m.OnRegisterAccess(Read(0x3F, 0xFFFF));
  const auto p = Scrape(m);
  EXPECT_EQ(p.Value("korvo_register_value", {{"register", "0x15"}}), 12000);
  EXPECT_EQ(p.Value("korvo_register_value", {{"register", "0x3F"}}), 65535);
  EXPECT_EQ(p.Count("korvo_register_value"), 2u);
}

TEST(BenchMetricsTest, AFailedReadMakesTheRegisterUnknown) {
  metrics::BenchMetrics m({});
  m.OnRegisterAccess(Read(0x13, 0x0001));
  m.OnRegisterAccess(Read(0x13, 0x0000, VB_TIMEOUT_ERROR));
  const auto p = Scrape(m);
  EXPECT_FALSE(p.Value("korvo_register_value", {{"register", "0x13"}}));
  EXPECT_EQ(p.Count("korvo_status_bit"), 0u);
}

TEST(BenchMetricsTest, AWriteLeavesTheValueToTheNextRead) {
  metrics::BenchMetrics m({});
  m.OnRegisterAccess(Read(0x12, 0x0100));
  m.OnRegisterAccess({{}, AccessSource::kWrite, AccessKind::kWrite, 0x12, 0x0050, 0, 0x67});
  EXPECT_EQ(Scrape(m).Value("korvo_register_value", {{"register", "0x12"}}), 0x0100);
}

TEST(BenchMetricsTest, StatusAndControlBitsFollowTheirRegisters) {
  struct Case {
    RegisterTable::Variant variant;
    uint8_t address;
    uint16_t value;
    std::string family, bit;
    double expected;
  } cases[] = {
      {RegisterTable::Variant::rk5190, 0x13, 0x8000, "korvo_status_bit", "ACDET", 1},
      {RegisterTable::Variant::rk5190, 0x13, 0x7FFF, "korvo_status_bit", "ACDET", 0},
      {RegisterTable::Variant::rk5191, 0x13, 0x4000, "korvo_status_bit", "BDET", 1},
      {RegisterTable::Variant::rk5190, 0x12, 0x0010, "korvo_control_bit", "LEARN", 1},
      {RegisterTable::Variant::rk5190, 0x12, 0xFFEF, "korvo_control_bit", "LEARN", 0},
  };
  for (const Case& c : cases) {
    metrics::BoardInfo board;
    board.variant = c.variant;
    metrics::BenchMetrics m(board);
    m.OnRegisterAccess(Read(c.address, c.value));
    EXPECT_EQ(Scrape(m).Value(c.family, {{"bit", c.bit}}), c.expected) << c.bit;
  }
}

TEST(BenchMetricsTest, ReservedBitsAreNotExposed) {
  metrics::BenchMetrics m({});
  m.OnRegisterAccess(Read(0x13, 0));
  m.OnRegisterAccess(Read(0x12, 0));
  const auto p = Scrape(m);
  EXPECT_EQ(p.Count("korvo_status_bit"), 13u);
  EXPECT_EQ(p.Count("korvo_control_bit"), 11u);
  EXPECT_FALSE(p.Value("korvo_status_bit", {{"bit", "RSVD"}}));
}

TEST(BenchMetricsTest, SetPointsAreInVoltsAndAmperes) {
  metrics::BenchMetrics m({});
  m.OnRegisterAccess(Read(0x15, 16800));
  m.OnRegisterAccess(Read(0x14, 2048));
  m.OnRegisterAccess(Read(0x3F, 3968));
  const auto p = Scrape(m);
  EXPECT_DOUBLE_EQ(*p.Value("korvo_charge_voltage_setpoint_volts"), 16.8);
  EXPECT_DOUBLE_EQ(*p.Value("korvo_charge_current_setpoint_amperes"), 2.048);
  EXPECT_DOUBLE_EQ(*p.Value("korvo_input_current_setpoint_amperes"), 3.968);
}

TEST(BenchMetricsTest, FailuresCountByTheAdapterStatusName) {
  metrics::BenchMetrics m({});
  m.OnTransaction(Transaction(0));
  m.OnTransaction(Transaction(VB_TIMEOUT_ERROR));
  m.OnTransaction(Transaction(VB_TIMEOUT_ERROR));
  m.OnTransaction(Transaction(VB_T2H_NACK));
  m.OnTransaction(Transaction(4));  // no name of its own
  const auto p = Scrape(m);
  EXPECT_EQ(p.Value("korvo_transactions_total"), 5);
  EXPECT_EQ(p.Value("korvo_transaction_failures_total", {{"status", "VB_TIMEOUT_ERROR"}}), 2);
  EXPECT_EQ(p.Value("korvo_transaction_failures_total", {{"status", "VB_T2H_NACK"}}), 1);
  EXPECT_EQ(p.Value("korvo_transaction_failures_total", {{"status", "Unknown Error"}}), 1);
  EXPECT_EQ(p.Value("korvo_transaction_failures_total", {{"status", "VB_BUS_BUSY"}}), 0);
  EXPECT_FALSE(p.Value("korvo_transaction_failures_total", {{"status", "Communication OK"}}));
}

TEST(BenchMetricsTest, DurationBucketsAreCumulativeInSeconds) {
  metrics::BenchMetrics m({});
  using std::chrono::microseconds;
  for (auto d : {microseconds(50), microseconds(800), microseconds(800), microseconds(3000000)})
    m.OnTransaction(Transaction(0, d));
  const auto p = Scrape(m);
  const std::string b = "korvo_transaction_duration_seconds_bucket";
  EXPECT_EQ(p.Value(b, {{"le", "0.0001"}}), 1);
  EXPECT_EQ(p.Value(b, {{"le", "0.001"}}), 3);
  EXPECT_EQ(p.Value(b, {{"le", "1"}}), 3);
  EXPECT_EQ(p.Value(b, {{"le", "+Inf"}}), 4);
  EXPECT_EQ(p.Value("korvo_transaction_duration_seconds_count"), 4);
  EXPECT_NEAR(*p.Value("korvo_transaction_duration_seconds_sum"), 3.00165, 1e-9);
}

TEST(BenchMetricsTest, UpIsOneWhileTheAdapterAnswers) {
  metrics::BenchMetrics m({});
  EXPECT_EQ(Scrape(m).Value("korvo_up"), 0);
  m.OnTransaction(Transaction(VB_TIMEOUT_ERROR));  // answered, with a failure
  EXPECT_EQ(Scrape(m).Value("korvo_up"), 1);
  m.OnTransaction(Transaction(VB_NO_USB));
  EXPECT_EQ(Scrape(m).Value("korvo_up"), 0);
  m.OnTransaction(Transaction(0));
  EXPECT_EQ(Scrape(m).Value("korvo_up"), 1);
}

TEST(BenchMetricsTest, BoardInfoFollowsTheBusModeAndAddress) {
  metrics::BoardInfo board;
  board.driver = "sim";
  metrics::BenchMetrics m(board);
  const Labels smbus = {{"variant", "rk5190"}, {"driver", "sim"}, {"bus", "smbus"},
                        {"address", "0x67"}};
  EXPECT_EQ(Scrape(m).Value("korvo_board_info", smbus), 1);
  m.OnTransaction(Transaction(0, {}, "I2CReadBlock_"));
  auto ev = Read(0x13, 0);
  ev.target = 0x6B;
  m.OnRegisterAccess(ev);
  const Labels i2c = {{"variant", "rk5190"}, {"driver", "sim"}, {"bus", "i2c"},
                      {"address", "0x6B"}};
  EXPECT_EQ(Scrape(m).Value("korvo_board_info", i2c), 1);
}

TEST(BenchMetricsTest, LabelValuesAreEscaped) {
  metrics::BoardInfo board;
  board.driver = "a\"b\\c\nd";
  metrics::BenchMetrics m(board);
  const std::string text = Text(m);
  EXPECT_NE(text.find(R"(driver="a\"b\\c\nd")"), std::string::npos);
  const auto p = exposition::Parse(text);
  EXPECT_EQ(p.error, "");
  EXPECT_EQ(p.Value("korvo_board_info", {{"variant", "rk5190"}, {"driver", board.driver},
                                         {"bus", "smbus"}, {"address", "0x67"}}),
            1);
}

TEST(BenchMetricsTest, BuildInfoNamesTheVersion) {
  metrics::BenchMetrics m({});
  EXPECT_EQ(Scrape(m).Value("korvo_build_info", {{"version", "2.0.10"}}), 1);
}

TEST(BenchMetricsTest, AScrapeDuringReadsSeesEachRegisterWhole) {
  metrics::BenchMetrics m({});
  std::atomic<bool> stop{false};
  // The bus thread flips the status register between all zeros and all ones.
  std::thread bus([&] {
    for (uint32_t i = 0; !stop.load(); ++i) m.OnRegisterAccess(Read(0x13, i % 2 ? 0xFFFF : 0));
  });
  int mixed = 0;
  for (int scrape = 0; scrape < 300; ++scrape) {
    const auto p = exposition::Parse(Text(m));
    const auto value = p.Value("korvo_register_value", {{"register", "0x13"}});
    if (!value) continue;
    for (const auto& s : p.families.at("korvo_status_bit").samples)
      mixed += s.value != (*value != 0 ? 1 : 0);
  }
  stop = true;
  bus.join();
  EXPECT_EQ(mixed, 0);
}

// The real register access and link, with retries and failures, against what they returned.
class BenchMetricsOnTheCoreTest : public ::testing::Test {
 protected:
  BenchMetricsOnTheCoreTest() {
    Settings::ResetToDefaults();
    frmUSB::SetControlFactory([this] { return std::make_unique<FakeZentio>(fake_); });
    regs_.AddObserver(metrics_);
    frmUSB::Get().AddObserver(metrics_);
  }
  ~BenchMetricsOnTheCoreTest() override {
    if (frmUSB::Loaded()) frmUSB::Get().CloseDevice();
    frmUSB::SetControlFactory(&CreateSelectedControl);
    Settings::ResetToDefaults();
  }
  FakeZentio::State fake_;
  RecordingSink sink_;
  ScopedSink scope_{&sink_};
  RegisterAccess regs_;
  metrics::BenchMetrics metrics_{{}};
};

TEST_F(BenchMetricsOnTheCoreTest, ValuesAndCountsEqualWhatTheAccessReturned) {
  modGlobals::ReadRetryCount = 2;
  fake_.words = {{0x13, 0x8100}, {0x12, 0x0110}, {0x15, 16800}, {0x14, 1024}, {0x3F, 2048}};
  fake_.statuses = {0, 0, VB_TIMEOUT_ERROR, 0, 0, 0};  // 0x15 succeeds on its second attempt
  std::map<uint8_t, int16_t> got;
  int failedReads = 0;
  for (uint8_t a : {0x13, 0x12, 0x15, 0x14, 0x3F}) {
    int16_t v = 0;
    if (regs_.ReadRegister("CS: Status", a, v, 103) == 0) got[a] = v;
  }
  fake_.statuses = {VB_T2H_NACK, VB_T2H_NACK, VB_T2H_NACK};
  int16_t v = 0;
  failedReads += regs_.ReadRegister("CS: Status", 0x14, v, 103) != 0;
  got.erase(0x14);

  const auto p = Scrape(metrics_);
  for (const auto& [a, value] : got) {
    EXPECT_EQ(p.Value("korvo_register_value", {{"register", "0x" + Text::Hex(a, 2)}}),
              static_cast<uint16_t>(value));
  }
  EXPECT_FALSE(p.Value("korvo_register_value", {{"register", "0x14"}}));
  EXPECT_EQ(p.Value("korvo_status_bit", {{"bit", "TSHUT"}}), 1);
  EXPECT_EQ(p.Value("korvo_register_accesses_total", {{"kind", "read"}}), 6);
  EXPECT_EQ(p.Value("korvo_register_access_failures_total", {{"kind", "read"}}), failedReads);
  EXPECT_EQ(p.Value("korvo_transactions_total"), 5 + 1 + 3);
  EXPECT_EQ(p.Value("korvo_transaction_failures_total", {{"status", "VB_TIMEOUT_ERROR"}}), 1);
  EXPECT_EQ(p.Value("korvo_transaction_failures_total", {{"status", "VB_T2H_NACK"}}), 3);
  EXPECT_EQ(p.Value("korvo_transaction_duration_seconds_count"), 9);
}

}  // namespace
