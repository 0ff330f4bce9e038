#include "metrics/MetricFamilies.h"

#include <limits>
#include <string>

namespace metrics {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

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

// "0x3F": two upper-case hex digits, as korvoctl prints addresses.
std::string Hex2(unsigned value) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return {'0', 'x', kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

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

void AddBits(MetricFamily& family, const BenchMetrics::BitNames& names, uint16_t value) {
  for (int bit = 15; bit >= 0; --bit) {
    const std::string_view name = names[static_cast<std::size_t>(bit)];
    if (name.empty()) continue;
    family.metric.push_back(Gauge((value >> bit) & 1u, {{"bit", std::string(name)}}));
  }
}

}  // namespace

void AppendInstrumentFamilies(const InstrumentMetrics& instruments, std::vector<MetricFamily>& out) {
  const std::vector<std::string>& names = instruments.Instruments();
  if (names.empty()) return;
  out.push_back(Family("korvo_instrument_up",
                       "1 while the bench instrument answers, 0 while it is absent (not found, "
                       "refusing or silent) or not yet opened.",
                       MetricType::Gauge));
  for (std::size_t i = 0; i < names.size(); ++i)
    out.back().metric.push_back(Gauge(instruments.Up(i), {{"instrument", names[i]}}));
  // One family per quantity and unit, its series gathered from wherever they came.
  const std::size_t first = out.size();
  const std::size_t n = instruments.SeriesCount();
  for (std::size_t i = 0; i < n; ++i) {
    const InstrumentMetrics::Series& s = instruments.SeriesAt(i);
    if (!s.shown.load(std::memory_order_relaxed)) continue;
    std::size_t f = first;
    while (f < out.size() && out[f].name != s.family.name) ++f;
    if (f == out.size()) {
      out.push_back(MetricFamily{s.family.name,
                                 "Bench instruments' newest reading of " + s.family.quantity +
                                     (s.family.unit.empty() ? "" : ", in " + s.family.unit) +
                                     ", by instrument and channel.",
                                 MetricType::Gauge,
                                 {}});
    }
    out[f].metric.push_back(Gauge(instruments.Value(s), {{"instrument", names[s.instrument]},
                                                         {"channel", s.channel}}));
  }
}

std::vector<MetricFamily> Families(const BenchMetrics& bench, const InstrumentMetrics* instruments) {
  const auto started = std::chrono::steady_clock::now();
  std::vector<MetricFamily> out;
  out.reserve(16);

  out.push_back(Family("korvo_up",
                       "1 while the adapter answers: from its first answered transaction until "
                       "one finds it gone (VB_NO_USB).",
                       MetricType::Gauge));
  out.back().metric.push_back(Gauge(bench.Up()));

  out.push_back(Family("korvo_build_info", "The Korvo version serving these metrics.",
                       MetricType::Gauge));
  out.back().metric.push_back(Gauge(1, {{"version", bench.Version()}}));

  out.push_back(Family("korvo_board_info",
                       "The charger watched: chip variant, adapter driver, bus mode and bus "
                       "address.",
                       MetricType::Gauge));
  out.back().metric.push_back(
      Gauge(1, {{"address", Hex2(static_cast<uint16_t>(bench.Address()) & 0xFFu)},
                {"bus", bench.I2c() ? "i2c" : "smbus"},
                {"driver", bench.Board().driver},
                {"variant", bench.Board().variant == RegisterTable::Variant::rk5191 ? "rk5191"
                                                                                    : "rk5190"}}));

  // One load per register, so its value, bits and set point agree.
  std::array<uint32_t, 256> words{};
  for (std::size_t a = 0; a < words.size(); ++a)
    words[a] = bench.RegisterWord(static_cast<uint8_t>(a));
  constexpr uint32_t kKnown = BenchMetrics::kKnown;

  out.push_back(Family("korvo_register_value",
                       "Each register's value as last read; absent until read and after a "
                       "failed read.",
                       MetricType::Gauge));
  for (std::size_t a = 0; a < words.size(); ++a) {
    if (words[a] & kKnown)
      out.back().metric.push_back(Gauge(words[a] & 0xFFFFu, {{"register", Hex2(static_cast<unsigned>(a))}}));
  }

  const struct {
    uint8_t address;
    const char* name;
    const char* help;
    const BenchMetrics::BitNames& names;
  } bitFamilies[] = {
      {RegisterTable::kStatus, "korvo_status_bit",
       "Each named bit of the status register (0x13) as last read.", bench.StatusBits()},
      {RegisterTable::kControl, "korvo_control_bit",
       "Each named bit of the control register (0x12) as last read.", bench.ControlBits()},
  };
  for (const auto& f : bitFamilies) {
    out.push_back(Family(f.name, f.help, MetricType::Gauge));
    if (words[f.address] & kKnown)
      AddBits(out.back(), f.names, static_cast<uint16_t>(words[f.address]));
  }

  for (const SetPoint& s : kSetPoints) {
    out.push_back(Family(s.name, s.help, MetricType::Gauge));
    if (words[s.address] & kKnown)
      out.back().metric.push_back(Gauge((words[s.address] & 0xFFFFu) / 1000.0));
  }

  out.push_back(Family("korvo_register_accesses_total",
                       "Register reads (after their retries) and writes.", MetricType::Counter));
  out.back().metric.push_back(Counter(bench.Accesses(false), {{"kind", "read"}}));
  out.back().metric.push_back(Counter(bench.Accesses(true), {{"kind", "write"}}));

  out.push_back(Family("korvo_register_access_failures_total",
                       "Register reads (after their retries) and writes that failed.",
                       MetricType::Counter));
  out.back().metric.push_back(Counter(bench.AccessFailures(false), {{"kind", "read"}}));
  out.back().metric.push_back(Counter(bench.AccessFailures(true), {{"kind", "write"}}));

  out.push_back(Family("korvo_transactions_total", "Adapter transactions, every attempt counted.",
                       MetricType::Counter));
  out.back().metric.push_back(Counter(bench.Transactions()));

  // Every status the adapter names, from zero, so rates work from the first failure on.
  out.push_back(Family("korvo_transaction_failures_total",
                       "Adapter transactions that failed, by the adapter's status name.",
                       MetricType::Counter));
  const auto statuses = bench.Statuses();
  for (std::size_t i = 0; i < statuses.size(); ++i) {
    if (statuses[i].code == 0) continue;
    out.back().metric.push_back(Counter(bench.Failures(i), {{"status", statuses[i].name}}));
  }
  if (const uint64_t unknown = bench.Failures(statuses.size()); unknown > 0)
    out.back().metric.push_back(Counter(unknown, {{"status", bench.UnknownStatusName()}}));

  out.push_back(Family("korvo_transaction_duration_seconds", "How long adapter transactions took.",
                       MetricType::Histogram));
  {
    ClientMetric m;
    uint64_t cumulative = 0;
    const auto& bounds = BenchMetrics::kDurationBuckets;
    for (std::size_t b = 0; b < bounds.size(); ++b) {
      cumulative += bench.DurationBucket(b);
      m.histogram.bucket.push_back({cumulative, bounds[b]});
    }
    cumulative += bench.DurationBucket(bounds.size());
    m.histogram.bucket.push_back({cumulative, std::numeric_limits<double>::infinity()});
    m.histogram.sample_count = cumulative;
    m.histogram.sample_sum = static_cast<double>(bench.DurationSumNs()) * 1e-9;
    out.back().metric.push_back(std::move(m));
  }

  if (instruments != nullptr) AppendInstrumentFamilies(*instruments, out);

  out.push_back(Family("korvo_scrape_duration_seconds",
                       "How long collecting these metrics took (serialising aside).",
                       MetricType::Gauge));
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  out.back().metric.push_back(Gauge(took.count()));
  return out;
}

}  // namespace metrics
