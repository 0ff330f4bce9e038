// What the plot shows: every read of the five main registers and every instrument reading since
// the program started, kept in memory per register and channel, bounded (the oldest go first),
// and the moments worth a mark (events). Attach it with
// RegisterAccess::AddObserver: it sees the reads of every window, scans included. Writes are
// not kept: a write says what was sent, the next read what the chip holds.
//
// Also the two views the plot draws from a stretch of it, whatever its length, in about one
// point per pixel column: the lines of a DAC register, broken where a read failed, and the
// state of each bit of a register per column.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "observation/Clock.h"
#include "observation/Observation.h"
#include "registers/RegisterTable.h"

namespace monitor {

struct Sample {
  int64_t us = 0;      // since the history started
  uint16_t value = 0;  // meaningful only when ok
  bool ok = false;     // false: the read failed
};

// One reading of an instrument channel.
struct Reading {
  int64_t us = 0;
  double value = 0;
  bool ok = true;
};

// One register's reads (or one channel's readings), oldest first, in a ring of fixed capacity.
template <typename S>
class Ring {
 public:
  explicit Ring(std::size_t capacity) : capacity_(capacity) {}

  void Append(const S& s) {
    ++total_;
    if (ring_.size() < capacity_) {
      ring_.push_back(s);
      ++size_;
      return;
    }
    ring_[head_] = s;
    head_ = (head_ + 1) % ring_.size();
  }
  std::size_t Size() const { return size_; }
  std::size_t Capacity() const { return capacity_; }
  const S& At(std::size_t i) const { return ring_[(head_ + i) % ring_.size()]; }
  const S& Newest() const { return At(size_ - 1); }
  // The first sample at or after us (Size() when there is none). Times never go backwards.
  std::size_t LowerBound(int64_t us) const {
    std::size_t lo = 0, hi = size_;
    while (lo < hi) {
      const std::size_t mid = lo + (hi - lo) / 2;
      if (At(mid).us < us)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo;
  }
  // The last sample at or before us, or nullptr.
  const S* AtOrBefore(int64_t us) const {
    const std::size_t after = LowerBound(us + 1);
    return after == 0 ? nullptr : &At(after - 1);
  }
  uint64_t Dropped() const { return total_ - size_; }

 private:
  std::size_t capacity_;
  std::vector<S> ring_;  // grows up to capacity_, then wraps
  std::size_t head_ = 0;
  std::size_t size_ = 0;
  uint64_t total_ = 0;
};

using SampleSeries = Ring<Sample>;
using ReadingSeries = Ring<Reading>;

// A bench instrument's channel as the plot knows it: its readings and what they are.
struct InstrumentChannel {
  std::string instrument;  // "PSU"
  std::string channel;     // "I1" (a recording read back: the caption)
  std::string caption;     // "PSU CH1 current"
  std::string quantity;    // "current", "voltage", ...
  std::string unit;        // "mA", "mV", ...
  ReadingSeries series;
  double lo = 0, hi = 0;  // over every reading kept: it changed when they differ
};

// A moment worth a mark on the plot: the scan paused, a read failed, a spin or a burn ran, an
// instrument went absent.
struct PlotEvent {
  int64_t us = 0;
  std::string text;
};

class SampleHistory final : public recording::RegisterObserver {
 public:
  // Per register: 109 minutes of a 50 ms scan (at least the last hour at that period).
  static constexpr std::size_t kCapacity = std::size_t{1} << 17;
  static constexpr std::size_t kMaxEvents = 10000;
  static constexpr std::size_t kMaxChannels = 64;
  // The main window's registers, in the scan's order.
  static constexpr std::array<uint8_t, 5> kRegisters = {
      RegisterTable::kStatus, RegisterTable::kControl, RegisterTable::kChargeVoltage,
      RegisterTable::kInputCurrent, RegisterTable::kChargeCurrent};

  explicit SampleHistory(const recording::Clock& clock, std::size_t capacity = kCapacity);
  // A history whose 0 s is `start` (a recording read back).
  explicit SampleHistory(recording::TimeBase start, std::size_t capacity = kCapacity);

  void OnRegisterAccess(const recording::RegisterEvent& e) override;
  void OnInstrumentReading(const recording::InstrumentReading& r) override;
  // A mark at `time` with `text` (an instrument went absent, for one).
  void AddEvent(recording::MonoTime time, std::string text);

  // nullptr for a register that is not kept.
  const SampleSeries* Series(uint8_t address) const;
  // The bits of a register that took both values among the reads kept (good reads only).
  uint16_t ChangedBits(uint8_t address) const;
  // Every instrument channel seen, in the order of their first reading.
  const std::deque<InstrumentChannel>& Channels() const { return channels_; }
  const std::deque<PlotEvent>& Events() const { return events_; }
  const recording::TimeBase& Start() const { return start_; }
  // The newest read of any register, or 0 before the first.
  int64_t NewestUs() const { return newestUs_; }
  // Called after every sample kept (the plot schedules a repaint there). One listener.
  void SetOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

 private:
  static int IndexOf(uint8_t address);  // into kRegisters, -1 when not kept
  void Event(int64_t us, std::string text);
  void NoticeEvents(const recording::RegisterEvent& e, int64_t us);

  recording::TimeBase start_;
  std::size_t capacity_;
  std::vector<SampleSeries> series_;  // by index into kRegisters
  std::array<std::optional<uint16_t>, kRegisters.size()> firstGood_{};
  std::array<uint16_t, kRegisters.size()> changed_{};
  std::deque<InstrumentChannel> channels_;
  std::deque<PlotEvent> events_;
  int64_t newestUs_ = 0;
  std::function<void()> onChange_;
  // What the events are told from.
  std::optional<int64_t> lastTickUs_;  // the last scan tick's first read
  std::optional<int64_t> tickPeriodUs_;
  std::optional<std::size_t> failing_;  // the event of the failed reads since the last good one
  int failures_ = 0;
  std::optional<recording::AccessSource> lastSource_;
};

// --- what the plot draws ---

struct PlotPoint {
  double t;  // seconds since the history started
  double v;
};

// The line of a register from t0 to t1 (seconds) over `columns` pixel columns: runs of good
// reads, a new run after each failed read. Where the reads are denser than the columns, each
// stretch between failures within a column keeps only its lowest and highest point, in time
// order, so the shape survives and the size stays near two points per column. The last read
// before t0 and the first after t1 are included so the line reaches the edges.
template <typename S>
std::vector<std::vector<PlotPoint>> LineRuns(const Ring<S>& series, double t0, double t1,
                                             int columns);

// One pixel column of a register's bits: which bits were 1 in it, which were 0, and whether
// the value was unknown for part of it (before the first read, or after a failed read until
// the next good one). A read's value holds until the next read; nothing is known after
// `nowUs`, the newest read of the history, so columns beyond it are empty.
struct BitColumn {
  uint16_t ones = 0;
  uint16_t zeros = 0;
  bool unknown = false;
};
std::vector<BitColumn> BitColumns(const SampleSeries* series, double t0, double t1, int columns,
                                  int64_t nowUs);

// One pixel column of a register shown as a value: the value held all through it, a change
// within it, unknown, or nothing (the future).
struct ValueColumn {
  enum class Kind : uint8_t { kNone, kUnknown, kValue, kChange };
  Kind kind = Kind::kNone;
  uint16_t value = 0;  // kValue: the value; kChange: the value it ends with, when known
  bool operator==(const ValueColumn&) const = default;
};
std::vector<ValueColumn> ValueColumns(const SampleSeries* series, double t0, double t1,
                                      int columns, int64_t nowUs);

}  // namespace monitor
