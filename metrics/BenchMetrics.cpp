#include "metrics/BenchMetrics.h"

#include <string_view>

#include "adapter/ErrorCodes.h"
#include "foundation/Text.h"
#include "foundation/Version.h"

namespace metrics {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;
constexpr auto kRelaxed = std::memory_order_relaxed;

// The three DAC set points, in base units (the registers hold mV and mA).
struct SetPoint {
  uint8_t address;
  const char* name;
  const char* help;
};
constexpr SetPoint kSetPoints[] = {
    {RegisterTable::kChargeVoltage, "korvo_charge_voltage_setpoint_volts",
     "Charging voltage set point (register 0x15) as last read, in volts."},
    {RegisterTable::kChargeCurrent, "korvo_charge_current_setpoint_amperes",
     "Charge current set point (register 0x14) as last read, in amperes."},
    {RegisterTable::kInputCurrent, "korvo_input_current_setpoint_amperes",
     "Input current set point (register 0x3F) as last read, in amperes."},
};

std::string RegisterLabel(uint8_t address) { return "0x" + Text::Hex(address, 2); }

MetricFamily Family(const char* name, const char* help, MetricType type) {
  return MetricFamily{name, help, type, {}};
}

ClientMetric Gauge(double value, std::vector<ClientMetric::Label> labels = {}) {
  ClientMetric m;
  m.label = std::move(labels);
  m.gauge.value = value;
  return m;
}

ClientMetric Counter(uint64_t value, std::vector<ClientMetric::Label> labels = {}) {
  ClientMetric m;
  m.label = std::move(labels);
  m.counter.value = static_cast<double>(value);
  return m;
}

std::size_t FailureIndex(int32_t status) {
  const auto table = ErrorTable();
  for (std::size_t i = 0; i < table.size(); ++i)
    if (table[i].code == status) return i;
  return table.size();
}

// One gauge per named bit of a register; reserved bits carry no name of their own.
void AddBits(MetricFamily& family, const RegisterTable::Register& r, uint16_t value,
             RegisterTable::Variant variant) {
  for (int bit = 15; bit >= 0; --bit) {
    const std::string_view name = RegisterTable::MainBitName(r, bit, variant);
    if (name.empty() || name == "RSVD") continue;
    family.metric.push_back(Gauge((value >> bit) & 1u, {{"bit", std::string(name)}}));
  }
}

}  // namespace

BenchMetrics::BenchMetrics(BoardInfo board)
    : board_(std::move(board)),
      address_(board_.address),
      i2c_(board_.i2c),
      failures_(ErrorTable().size() + 1) {}

void BenchMetrics::OnRegisterAccess(const recording::RegisterEvent& event) {
  const auto kind = static_cast<std::size_t>(event.kind == recording::AccessKind::kWrite);
  accesses_[kind].fetch_add(1, kRelaxed);
  address_.store(event.target, kRelaxed);
  if (event.status != 0) accessFailures_[kind].fetch_add(1, kRelaxed);
  if (event.kind != recording::AccessKind::kRead) return;  // a write's word is not what the chip holds
  // A failed read leaves the register unknown, as the windows blank it.
  registers_[event.address].store(event.status == 0 ? kKnown | event.value : 0, kRelaxed);
}

void BenchMetrics::OnTransaction(const recording::TransactionEvent& event) {
  transactions_.fetch_add(1, kRelaxed);
  // The adapter answered unless it has gone.
  up_.store(event.status == VB_NO_USB ? 0 : 1, kRelaxed);
  if (event.status != 0) failures_[FailureIndex(event.status)].fetch_add(1, kRelaxed);
  const std::string_view op = event.operation;
  if (op.starts_with("I2CReadBlock") || op.starts_with("I2CWriteBlock")) {
    i2c_.store(true, kRelaxed);
  } else if (op.find("SMBusWord") != std::string_view::npos) {
    i2c_.store(false, kRelaxed);
  }
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(event.duration).count();
  const double seconds = static_cast<double>(ns) * 1e-9;
  std::size_t bucket = 0;
  while (bucket < kDurationBuckets.size() && seconds > kDurationBuckets[bucket]) ++bucket;
  durationBuckets_[bucket].fetch_add(1, kRelaxed);
  durationSumNs_.fetch_add(static_cast<uint64_t>(ns < 0 ? 0 : ns), kRelaxed);
}

std::vector<MetricFamily> BenchMetrics::Collect() const {
  const auto started = std::chrono::steady_clock::now();
  std::vector<MetricFamily> out;
  out.reserve(16);

  out.push_back(Family("korvo_up", "1 while the adapter answers: from its first answered transaction "
                                   "until one finds it gone (VB_NO_USB).",
                       MetricType::Gauge));
  out.back().metric.push_back(Gauge(up_.load(kRelaxed)));

  out.push_back(Family("korvo_build_info", "The Korvo version serving these metrics.",
                       MetricType::Gauge));
  out.back().metric.push_back(Gauge(1, {{"version", std::to_string(kVersionMajor) + "." +
                                                        std::to_string(kVersionMinor) + "." +
                                                        std::to_string(kVersionRevision)}}));

  out.push_back(Family("korvo_board_info",
                       "The charger watched: chip variant, adapter driver, bus mode and bus address.",
                       MetricType::Gauge));
  out.back().metric.push_back(
      Gauge(1, {{"address", "0x" + Text::Hex(static_cast<uint16_t>(address_.load(kRelaxed)) & 0xFFu, 2)},
                {"bus", i2c_.load(kRelaxed) ? "i2c" : "smbus"},
                {"driver", board_.driver},
                {"variant", board_.variant == RegisterTable::Variant::rk5191 ? "rk5191" : "rk5190"}}));

  // One load per register, so its value, bits and set point agree.
  std::array<uint32_t, 256> words{};
  for (std::size_t a = 0; a < words.size(); ++a) words[a] = registers_[a].load(kRelaxed);

  out.push_back(Family("korvo_register_value",
                       "Each register's value as last read; absent until read and after a failed read.",
                       MetricType::Gauge));
  for (std::size_t a = 0; a < words.size(); ++a) {
    if (words[a] & kKnown)
      out.back().metric.push_back(Gauge(words[a] & 0xFFFFu, {{"register", RegisterLabel(static_cast<uint8_t>(a))}}));
  }

  const struct {
    uint8_t address;
    const char* name;
    const char* help;
  } bitFamilies[] = {
      {RegisterTable::kStatus, "korvo_status_bit", "Each named bit of the status register (0x13) as last read."},
      {RegisterTable::kControl, "korvo_control_bit", "Each named bit of the control register (0x12) as last read."},
  };
  for (const auto& f : bitFamilies) {
    out.push_back(Family(f.name, f.help, MetricType::Gauge));
    if (words[f.address] & kKnown)
      AddBits(out.back(), *RegisterTable::Find(f.address), static_cast<uint16_t>(words[f.address]),
              board_.variant);
  }

  for (const SetPoint& s : kSetPoints) {
    out.push_back(Family(s.name, s.help, MetricType::Gauge));
    if (words[s.address] & kKnown)
      out.back().metric.push_back(Gauge((words[s.address] & 0xFFFFu) / 1000.0));
  }

  out.push_back(Family("korvo_register_accesses_total",
                       "Register reads (after their retries) and writes.", MetricType::Counter));
  out.back().metric.push_back(Counter(accesses_[0].load(kRelaxed), {{"kind", "read"}}));
  out.back().metric.push_back(Counter(accesses_[1].load(kRelaxed), {{"kind", "write"}}));

  out.push_back(Family("korvo_register_access_failures_total",
                       "Register reads (after their retries) and writes that failed.",
                       MetricType::Counter));
  out.back().metric.push_back(Counter(accessFailures_[0].load(kRelaxed), {{"kind", "read"}}));
  out.back().metric.push_back(Counter(accessFailures_[1].load(kRelaxed), {{"kind", "write"}}));

  out.push_back(Family("korvo_transactions_total", "Adapter transactions, every attempt counted.",
                       MetricType::Counter));
  out.back().metric.push_back(Counter(transactions_.load(kRelaxed)));

  // Every status the adapter names, from zero, so rates work from the first failure on.
  out.push_back(Family("korvo_transaction_failures_total",
                       "Adapter transactions that failed, by the adapter's status name.",
                       MetricType::Counter));
  const auto table = ErrorTable();
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i].code == 0) continue;
    out.back().metric.push_back(Counter(failures_[i].load(kRelaxed), {{"status", table[i].name}}));
  }
  if (const uint64_t unknown = failures_[table.size()].load(kRelaxed); unknown > 0)
    out.back().metric.push_back(Counter(unknown, {{"status", TranslateErrorCode(-1)}}));

  out.push_back(Family("korvo_transaction_duration_seconds",
                       "How long adapter transactions took.", MetricType::Histogram));
  {
    ClientMetric m;
    uint64_t cumulative = 0;
    for (std::size_t b = 0; b < kDurationBuckets.size(); ++b) {
      cumulative += durationBuckets_[b].load(kRelaxed);
      m.histogram.bucket.push_back({cumulative, kDurationBuckets[b]});
    }
    cumulative += durationBuckets_.back().load(kRelaxed);
    m.histogram.bucket.push_back({cumulative, std::numeric_limits<double>::infinity()});
    m.histogram.sample_count = cumulative;
    m.histogram.sample_sum = static_cast<double>(durationSumNs_.load(kRelaxed)) * 1e-9;
    out.back().metric.push_back(std::move(m));
  }

  out.push_back(Family("korvo_scrape_duration_seconds",
                       "How long collecting these metrics took (serialising aside).",
                       MetricType::Gauge));
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  out.back().metric.push_back(Gauge(took.count()));
  return out;
}

}  // namespace metrics
