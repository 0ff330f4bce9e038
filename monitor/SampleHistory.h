// What the plot shows: every read of the five main registers since the program started, kept
// in memory per register, bounded (the oldest reads go first). Attach it with
// RegisterAccess::AddObserver: it sees the reads of every window, scans included. Writes are
// not kept: a write says what was sent, the next read what the chip holds.
//
// Also the two views the plot draws from a stretch of it, whatever its length, in about one
// point per pixel column: the lines of a DAC register, broken where a read failed, and the
// state of each bit of a register per column.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
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

// One register's reads, oldest first, in a ring of fixed capacity.
class SampleSeries {
 public:
  explicit SampleSeries(std::size_t capacity) : capacity_(capacity) {}

  void Append(const Sample& s);
  std::size_t Size() const { return size_; }
  std::size_t Capacity() const { return capacity_; }
  const Sample& At(std::size_t i) const { return ring_[(head_ + i) % ring_.size()]; }
  const Sample& Newest() const { return At(size_ - 1); }
  // The first sample at or after us (Size() when there is none). Times never go backwards.
  std::size_t LowerBound(int64_t us) const;
  uint64_t Dropped() const { return total_ - size_; }

 private:
  std::size_t capacity_;
  std::vector<Sample> ring_;  // grows up to capacity_, then wraps
  std::size_t head_ = 0;
  std::size_t size_ = 0;
  uint64_t total_ = 0;
};

class SampleHistory final : public recording::RegisterObserver {
 public:
  // Per register: 109 minutes of a 50 ms scan (at least the last hour at that period).
  static constexpr std::size_t kCapacity = std::size_t{1} << 17;
  // The main window's registers, in the scan's order.
  static constexpr std::array<uint8_t, 5> kRegisters = {
      RegisterTable::kStatus, RegisterTable::kControl, RegisterTable::kChargeVoltage,
      RegisterTable::kInputCurrent, RegisterTable::kChargeCurrent};

  explicit SampleHistory(const recording::Clock& clock, std::size_t capacity = kCapacity);

  void OnRegisterAccess(const recording::RegisterEvent& e) override;

  // nullptr for a register that is not kept.
  const SampleSeries* Series(uint8_t address) const;
  const recording::TimeBase& Start() const { return start_; }
  // The newest read of any register, or 0 before the first.
  int64_t NewestUs() const { return newestUs_; }
  // Called after every sample kept (the plot schedules a repaint there). One listener.
  void SetOnChange(std::function<void()> onChange) { onChange_ = std::move(onChange); }

 private:
  static int IndexOf(uint8_t address);  // into kRegisters, -1 when not kept

  recording::TimeBase start_;
  std::vector<SampleSeries> series_;  // by index into kRegisters
  int64_t newestUs_ = 0;
  std::function<void()> onChange_;
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
std::vector<std::vector<PlotPoint>> LineRuns(const SampleSeries& series, double t0, double t1,
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

}  // namespace monitor
