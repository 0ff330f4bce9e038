#include "metrics/BenchMetrics.h"

#include "foundation/Version.h"

namespace metrics {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// The main window's names of a register's bits; reserved bits carry no name of their own.
BenchMetrics::BitNames NamedBits(uint8_t address, RegisterTable::Variant variant) {
  BenchMetrics::BitNames names{};
  const RegisterTable::Register* r = RegisterTable::Find(address);
  for (int bit = 0; bit < 16 && r != nullptr; ++bit) {
    const std::string_view name = RegisterTable::MainBitName(*r, bit, variant);
    if (name != "RSVD") names[static_cast<std::size_t>(bit)] = name;
  }
  return names;
}

std::size_t FailureIndex(std::span<const ErrorName> table, int32_t status) {
  for (std::size_t i = 0; i < table.size(); ++i)
    if (table[i].code == status) return i;
  return table.size();
}

}  // namespace

BenchMetrics::BenchMetrics(BoardInfo board)
    : board_(std::move(board)),
      version_(std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
               std::to_string(kVersionRevision)),
      statusBits_(NamedBits(RegisterTable::kStatus, board_.variant)),
      controlBits_(NamedBits(RegisterTable::kControl, board_.variant)),
      statuses_(ErrorTable()),
      unknownName_(TranslateErrorCode(-1)),
      address_(board_.address),
      i2c_(board_.i2c),
      failures_(statuses_.size() + 1) {}

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
  if (event.status != 0) failures_[FailureIndex(statuses_, event.status)].fetch_add(1, kRelaxed);
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

}  // namespace metrics
