// What the simulated adapter adds to every transaction, apart from the chips on the board:
// injected faults, a pending error for QueryError after a write, latency, and the history of
// transactions that tests and the About text read.
//
// Transactions that fail (a fault, a NACK, a closed adapter) change nothing on the board.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Read: word, block and byte reads, one-wire reads. Write: word, block and byte writes, send
// command, one-wire writes. Other: write-then-read, I2C power and wire control, flash.
struct Transaction {
  enum class Kind : uint8_t { Read, Write, Other };
  Kind kind;
  uint8_t command;  // command code, register, word or byte address (low byte)
  uint16_t value;   // word read or written (first two bytes, low first, of a block)
  int16_t target;   // bus address as passed
  int16_t status;
};

enum class FaultScope { All, Reads, Writes };

const char* FaultScopeName(FaultScope scope);

// The faults as the settings give them.
struct FaultSettings {
  int everyNth = 0;   // 0: off
  double rate = 0.0;  // 0: off
  uint32_t seed = 1;
  int next = 0;        // 0: off
  int16_t status = 8;  // VB_TIMEOUT_ERROR
  FaultScope scope = FaultScope::All;
  int16_t pendingErrorAfterWrite = 0;  // 0: off
};

class Faults {
 public:
  explicit Faults(const FaultSettings& settings = {},
                  std::chrono::microseconds latency = std::chrono::microseconds(0));

  // A status of 0 or a count/rate of 0 switches the mode off. The modes combine; each counts
  // only the transactions in its scope.
  void FailEveryNth(int n, int16_t status, FaultScope scope = FaultScope::All);
  void FailAtRate(double rate, uint32_t seed, int16_t status, FaultScope scope = FaultScope::All);
  void FailNext(int k, int16_t status, FaultScope scope = FaultScope::All);
  void ClearFaults();
  // The next successful write leaves status for QueryError, once.
  void SetPendingErrorAfterWrite(int16_t status);
  void SetLatency(std::chrono::microseconds latency);

  // Waits the latency and applies the faults: 0 to go on, else the status the transaction
  // fails with.
  int16_t Begin(Transaction::Kind kind);
  // Records the transaction and returns status; a successful write arms the pending error.
  int16_t End(const Transaction& t);
  // Hands out the pending error once; 0 when there is none.
  int16_t TakeQueryError();

  // The most recent transactions, oldest first (at least the last kHistoryKept of them).
  static constexpr std::size_t kHistoryKept = 4096;
  const std::vector<Transaction>& History() const { return history_; }
  void ClearHistory();
  // Transactions since construction or the last ClearHistory (not bounded by the history).
  std::size_t TransactionCount() const { return transactionCount_; }
  // How many of the kept transactions are of kind (and, when command >= 0, of that command).
  std::size_t Count(Transaction::Kind kind, int command = -1) const;

  // "Faults: ..." and "Latency: ..." for the About text, separated by lineBreak.
  std::string Describe(const char* lineBreak) const;

 private:
  struct FaultMode {
    int16_t status = 0;
    FaultScope scope = FaultScope::All;
  };
  void UpdateFaultFlag();
  double NextRandom();
  void Record(const Transaction& t);

  bool anyFault_ = false;
  int everyNth_ = 0;
  uint64_t everyNthCount_ = 0;
  FaultMode everyNthMode_;
  double rate_ = 0.0;
  uint64_t rngState_ = 0;
  FaultMode rateMode_;
  int nextLeft_ = 0;
  FaultMode nextMode_;
  int16_t pendingArmed_ = 0;
  int16_t queryError_ = 0;
  std::chrono::microseconds latency_{0};

  std::vector<Transaction> history_;
  std::size_t transactionCount_ = 0;
};

}  // namespace sim
