// What one bench's charger is doing, as Prometheus metrics: an observer of the register access
// and the adapter link that a metrics endpoint collects from.
//
// The observers run on the bus thread and the endpoint collects on its own threads. Every value
// lives in a relaxed atomic, so the bus side only stores and adds (never locks, never waits for
// a scrape) and a scrape reads a consistent value of each metric. Each register's value and its
// "known" flag share one word, so a register and its bits always agree within a scrape.
//
// The exposition (Families, in the metrics module) reads these values without calling into the
// core: the names it needs (status names, bit names, version) are resolved here, at
// construction, so the module that brings the Prometheus client stays apart from the program.
//
// The instruments (readings per channel, instrument_up) are a second observer beside this one,
// InstrumentMetrics, whose families the module appends.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "adapter/ErrorCodes.h"
#include "observation/Observation.h"
#include "registers/RegisterTable.h"

namespace metrics {

// What korvo_board_info names. The bus mode and the address follow the traffic once it flows.
struct BoardInfo {
  RegisterTable::Variant variant = RegisterTable::Variant::rk5190;
  std::string driver;  // "sim", "i2cdev", ...
  bool i2c = false;
  int16_t address = 0x67;
};

class BenchMetrics : public recording::RegisterObserver, public recording::TransactionObserver {
 public:
  // Upper bounds of the transaction duration histogram, in seconds: an SMBus word at 100 kHz
  // takes about half a millisecond, a USB round trip one to a few, a timeout tens to hundreds.
  static constexpr std::array<double, 12> kDurationBuckets = {
      0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 1.0};

  explicit BenchMetrics(BoardInfo board);

  // Bus thread.
  void OnRegisterAccess(const recording::RegisterEvent& event) override;
  void OnTransaction(const recording::TransactionEvent& event) override;

  // --- read by the exposition, from any thread ---
  static constexpr uint32_t kKnown = 1u << 16;  // register word: bit 16 set once read
  using BitNames = std::array<std::string_view, 16>;  // bit i's name; empty: not exposed

  const BoardInfo& Board() const { return board_; }
  const std::string& Version() const { return version_; }
  int16_t Address() const { return address_.load(std::memory_order_relaxed); }
  bool I2c() const { return i2c_.load(std::memory_order_relaxed); }
  int Up() const { return up_.load(std::memory_order_relaxed); }
  // kKnown | value, or 0 while unknown.
  uint32_t RegisterWord(uint8_t address) const {
    return registers_[address].load(std::memory_order_relaxed);
  }
  const BitNames& StatusBits() const { return statusBits_; }
  const BitNames& ControlBits() const { return controlBits_; }
  uint64_t Accesses(bool write) const { return accesses_[write].load(std::memory_order_relaxed); }
  uint64_t AccessFailures(bool write) const {
    return accessFailures_[write].load(std::memory_order_relaxed);
  }
  uint64_t Transactions() const { return transactions_.load(std::memory_order_relaxed); }
  // The named statuses, and the failures counted for the i-th (size(): the unnamed ones).
  std::span<const ErrorName> Statuses() const { return statuses_; }
  const std::string& UnknownStatusName() const { return unknownName_; }
  uint64_t Failures(std::size_t i) const { return failures_[i].load(std::memory_order_relaxed); }
  // Transactions per duration bucket, not cumulative; the last one is +Inf.
  uint64_t DurationBucket(std::size_t i) const {
    return durationBuckets_[i].load(std::memory_order_relaxed);
  }
  uint64_t DurationSumNs() const { return durationSumNs_.load(std::memory_order_relaxed); }

 private:
  BoardInfo board_;
  std::string version_;
  BitNames statusBits_{}, controlBits_{};
  std::span<const ErrorName> statuses_;
  std::string unknownName_;
  std::atomic<int16_t> address_;
  std::atomic<bool> i2c_;
  std::atomic<int8_t> up_{0};
  std::array<std::atomic<uint32_t>, 256> registers_{};  // last read, kKnown | value; 0: unknown
  std::array<std::atomic<uint64_t>, 2> accesses_{};     // by kind: read, write
  std::array<std::atomic<uint64_t>, 2> accessFailures_{};
  std::atomic<uint64_t> transactions_{0};
  std::vector<std::atomic<uint64_t>> failures_;  // by ErrorTable index; last: not in the table
  std::array<std::atomic<uint64_t>, kDurationBuckets.size() + 1> durationBuckets_{};  // last: +Inf
  std::atomic<uint64_t> durationSumNs_{0};
};

}  // namespace metrics
