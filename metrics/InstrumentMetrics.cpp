#include "metrics/InstrumentMetrics.h"

#include <cstdio>
#include <cstdlib>

namespace metrics {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// Lower case letters, digits and single underscores: a part of a metric name.
std::string NamePart(std::string_view text) {
  std::string out;
  for (char c : text) {
    const char l = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if ((l >= 'a' && l <= 'z') || (l >= '0' && l <= '9')) {
      out += l;
    } else if (!out.empty() && out.back() != '_') {
      out += '_';
    }
  }
  while (!out.empty() && out.back() == '_') out.pop_back();
  return out;
}

struct UnitRow {
  std::string_view symbol;  // as the instrument layer names it
  std::string_view name;    // in the metric's name
  double scale, offset;
};
// Prometheus' base units where there is one (volts, amperes, joules, celsius, ratio, grams).
constexpr UnitRow kUnits[] = {
    {"mV", "volts", 1e-3, 0},     {"V", "volts", 1, 0},
    {"mA", "amperes", 1e-3, 0},   {"A", "amperes", 1, 0},
    {"W", "watts", 1, 0},         {"VA", "voltamperes", 1, 0},
    {"Wh", "joules", 3600, 0},    {"Ohm", "ohms", 1, 0},
    {"F", "farads", 1, 0},        {"H", "henries", 1, 0},
    {"S", "siemens", 1, 0},       {"Hz", "hertz", 1, 0},
    {"s", "seconds", 1, 0},       {"%", "ratio", 1e-2, 0},
    {"degC", "celsius", 1, 0},    {"degF", "celsius", 5.0 / 9.0, -32 * 5.0 / 9.0},
    {"K", "kelvin", 1, 0},        {"g", "grams", 1, 0},
    {"dBm", "dbm", 1, 0},         {"dBV", "dbv", 1, 0},
};

// The seven significant digits a single-precision reading holds, as korvoctl prints it: 15.2 V
// arrives as 15199.9998 mV and is exposed as 15.2, not 15.19999980926514.
double SevenDigits(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.7g", v);
  return std::strtod(buf, nullptr);
}

}  // namespace

InstrumentFamily FamilyFor(std::string_view quantity, std::string_view unit) {
  InstrumentFamily f;
  f.unit = NamePart(unit);
  for (const UnitRow& row : kUnits) {
    if (row.symbol == unit) {
      f.unit = row.name;
      f.scale = row.scale;
      f.offset = row.offset;
      break;
    }
  }
  std::string q = NamePart(quantity);
  if (q.empty()) q = "reading";
  f.quantity = quantity.empty() ? "reading" : std::string(quantity);
  f.name = "korvo_instrument_" + q;
  if (!f.unit.empty()) f.name += "_" + f.unit;
  return f;
}

InstrumentMetrics::InstrumentMetrics(std::vector<std::string> instruments)
    : instruments_(std::move(instruments)),
      up_(new std::atomic<int8_t>[instruments_.size()]),
      series_(new Series[kMaxSeries]) {
  for (std::size_t i = 0; i < instruments_.size(); ++i) up_[i].store(0, kRelaxed);
}

void InstrumentMetrics::OnInstrumentReading(const recording::InstrumentReading& reading) {
  std::size_t instrument = 0;
  while (instrument < instruments_.size() && instruments_[instrument] != reading.instrument)
    ++instrument;
  if (instrument == instruments_.size()) return;  // not one of ours
  const InstrumentFamily family = FamilyFor(reading.quantity, reading.unit);
  const std::size_t n = count_.load(kRelaxed);  // the only writer
  Series* found = nullptr;
  for (std::size_t i = 0; i < n; ++i) {
    Series& s = series_[i];
    if (s.instrument != instrument || s.channel != reading.channel) continue;
    if (s.family.name == family.name)
      found = &s;
    else
      s.shown.store(false, kRelaxed);
  }
  const double value = SevenDigits(reading.value * family.scale + family.offset);
  if (found == nullptr) {
    if (n == kMaxSeries) return;
    found = &series_[n];
    found->instrument = instrument;
    found->channel = std::string(reading.channel);
    found->family = family;
    found->value.store(std::bit_cast<uint64_t>(value), kRelaxed);
    found->shown.store(true, kRelaxed);
    count_.store(n + 1, std::memory_order_release);
    return;
  }
  found->value.store(std::bit_cast<uint64_t>(value), kRelaxed);
  found->shown.store(true, kRelaxed);
}

void InstrumentMetrics::SetUp(std::string_view instrument, bool up) {
  for (std::size_t i = 0; i < instruments_.size(); ++i) {
    if (instruments_[i] != instrument) continue;
    up_[i].store(up ? 1 : 0, kRelaxed);
    if (up) continue;
    const std::size_t n = count_.load(kRelaxed);
    for (std::size_t s = 0; s < n; ++s)
      if (series_[s].instrument == i) series_[s].shown.store(false, kRelaxed);
  }
}

}  // namespace metrics
