// The bench instruments as Prometheus metrics: each channel's newest reading in base units and
// whether each instrument is present. An observer beside BenchMetrics, fed on the thread that
// owns the instruments (readings and presence both); the endpoint collects on its own threads.
//
// The owner thread is the only writer. A series (instrument, channel, family) is filled in once,
// then published by a release store of the series count, so a scrape sees only complete series;
// values and flags are relaxed atomics. The owner never locks and never waits for a scrape. The
// series are bounded (kMaxSeries); what comes beyond is not exposed.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "observation/Observation.h"

namespace metrics {

// A reading's metric family and its value in the family's unit. Volts and amperes arrive as mV
// and mA; a percentage becomes a ratio, Fahrenheit Celsius, watt-hours joules. Other quantities
// keep their unit, named in the family: "korvo_instrument_frequency_hertz".
struct InstrumentFamily {
  std::string name;   // "korvo_instrument_voltage_volts"
  std::string quantity;  // "voltage"
  std::string unit;   // "volts"; empty for a unitless quantity
  double scale = 1;   // value in the family's unit = reading * scale + offset
  double offset = 0;
};
InstrumentFamily FamilyFor(std::string_view quantity, std::string_view unit);

class InstrumentMetrics : public recording::RegisterObserver {
 public:
  static constexpr std::size_t kMaxSeries = 256;

  // The instruments' labels, in order; each is down until SetUp says otherwise.
  explicit InstrumentMetrics(std::vector<std::string> instruments);

  // --- the owner thread ---
  void OnRegisterAccess(const recording::RegisterEvent&) override {}
  // Shows the reading as its channel's newest; a channel that now reads another quantity (a
  // multimeter switched over) stops showing the one before.
  void OnInstrumentReading(const recording::InstrumentReading& reading) override;
  // An absent instrument is down and its readings are no longer shown: a lab's graph shows a
  // gap, not the last value held flat. They show again as new readings arrive.
  void SetUp(std::string_view instrument, bool up);

  // --- read by the exposition, from any thread ---
  struct Series {
    std::size_t instrument = 0;  // index into Instruments()
    std::string channel;
    InstrumentFamily family;
    std::atomic<uint64_t> value{0};  // the double's bits
    std::atomic<bool> shown{false};
  };
  const std::vector<std::string>& Instruments() const { return instruments_; }
  int Up(std::size_t instrument) const { return up_[instrument].load(std::memory_order_relaxed); }
  std::size_t SeriesCount() const { return count_.load(std::memory_order_acquire); }
  const Series& SeriesAt(std::size_t i) const { return series_[i]; }
  static double Value(const Series& s) {
    return std::bit_cast<double>(s.value.load(std::memory_order_relaxed));
  }

 private:
  std::vector<std::string> instruments_;
  std::unique_ptr<std::atomic<int8_t>[]> up_;
  std::unique_ptr<Series[]> series_;
  std::atomic<std::size_t> count_{0};
};

}  // namespace metrics
