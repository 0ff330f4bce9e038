// The transaction journal: a bounded memory of every adapter link transaction, with statistics.
// Attach it with frmUSB::Get().AddObserver(journal). It keeps the newest kCapacity entries
// (oldest dropped first) and counts what it dropped; the statistics cover every transaction
// it saw, dropped ones included.
//
// For a table model: Size() rows, At(row) with row 0 the oldest kept entry; Total() grows by
// one per transaction, so a view that remembers the Total() it last showed knows how many rows
// are new (and, through Dropped(), how many left at the top).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "observation/Clock.h"
#include "observation/Observation.h"
#include "recording/Text.h"

namespace recording {

class Sink;
class FileSink;

struct JournalEntry {
  uint64_t sequence = 0;   // 1 for the journal's first transaction
  MonoTime time{};         // when it ended
  uint16_t operation = 0;  // index into the journal's operation names
  std::string detail;
  int32_t target = TransactionEvent::kNoTarget;
  std::string targetName;  // an instrument's label; then status is 0 (present) or not (absent)
  int32_t status = 0;
  uint32_t durationUs = 0;
};

struct StatusCount {
  int32_t status;
  std::string_view name;
  uint64_t count;
  double share;  // of all transactions, 0 to 1
};

struct JournalStatistics {
  uint64_t total = 0;
  uint64_t dropped = 0;
  std::vector<StatusCount> byStatus;  // most frequent first
  double perSecond = 0;               // transactions per second since the journal started
  uint32_t longestUs = 0;
  std::string longestText;  // "WriteSMBusWord_(15,41A0)"
};

class Journal final : public TransactionObserver {
 public:
  static constexpr std::size_t kCapacity = 100000;

  explicit Journal(const Clock& clock = SystemClock(), std::size_t capacity = kCapacity);

  void OnTransaction(const TransactionEvent& event) override;

  std::size_t Size() const { return size_; }
  std::size_t Capacity() const { return capacity_; }
  const JournalEntry& At(std::size_t row) const { return ring_[(head_ + row) % ring_.size()]; }
  uint64_t Total() const { return total_; }
  uint64_t Dropped() const { return total_ - size_; }
  const TimeBase& Start() const { return start_; }

  std::string_view OperationName(const JournalEntry& e) const { return names_[e.operation]; }
  // "WriteSMBusWord_(15,41A0)", as the communication error log writes it.
  std::string Text(const JournalEntry& e) const;

  JournalStatistics Statistics() const;
  // Drops every entry and every count; the start time stays.
  void Clear();

  // The kept entries as CSV (header kJournalCsvHeader, one row per entry, oldest first).
  bool WriteCsv(Sink& sink) const;

 private:
  uint16_t Intern(std::string_view name);

  TimeBase start_;
  std::size_t capacity_;
  std::vector<JournalEntry> ring_;  // grows up to capacity_, then wraps
  std::size_t head_ = 0;            // oldest entry
  std::size_t size_ = 0;
  uint64_t total_ = 0;
  uint64_t notes_ = 0;  // instruments' rows among total_
  std::vector<std::string> names_;
  std::vector<std::pair<int32_t, uint64_t>> counts_;  // per status
  MonoTime last_{};
  uint32_t longestUs_ = 0;
  std::string longestText_;
};

// The status of an instrument's row: "present" for 0, else "absent".
inline std::string_view InstrumentStatusName(int32_t status) {
  return status == 0 ? "present" : "absent";
}

inline constexpr std::string_view kJournalCsvHeader =
    "sequence,seconds,time,transaction,target,status,status_name,duration_us";

// The statistics as text lines for a terminal:
//   1234 transactions (0 dropped), 5678.9 per second, longest 123 us: ReadSMBusWord_(13)
//     Communication OK: 1230 (99.68 %)
std::string FormatStatistics(const JournalStatistics& s);

}  // namespace recording

namespace recording {
// The journal as a CSV file written as the run goes (korvoctl's --journal): the header when it
// is created, then one row per transaction (the rows of Journal::WriteCsv), on disk whenever
// the register access flushes (a tick or a single access is complete) and at Close, so a
// hang-up or a kill loses at most the tick under way. It keeps nothing in memory: the file
// gets every transaction of the run, however many. Attach it to the link (transactions) and
// to the register access (flushes). A file that cannot be written, or is removed, fails it:
// the error handler is called once and everything after is ignored.
class JournalFile final : public TransactionObserver, public RegisterObserver {
 public:
  using ErrorHandler = std::function<void(const std::string& message)>;

  // nullptr, with message set ("Cannot create FILE: reason."), when that fails.
  static std::unique_ptr<JournalFile> Create(const std::string& path, const Clock& clock,
                                             std::string& message);
  ~JournalFile() override;

  void OnTransaction(const TransactionEvent& event) override;
  void OnRegisterAccess(const RegisterEvent&) override {}
  void OnFlush() override;
  // Writes what is pending and lets go of the file; false when writing failed, now or before.
  bool Close();

  bool Ok() const { return error_.empty(); }
  // "Writing the journal to FILE failed: reason."
  const std::string& Error() const { return error_; }
  void SetErrorHandler(ErrorHandler handler) { onError_ = std::move(handler); }

 private:
  JournalFile(std::unique_ptr<FileSink> sink, const Clock& clock);
  void Fail();

  std::unique_ptr<FileSink> sink_;
  TimeBase start_;
  IsoTimeFormatter iso_;
  std::string pending_;
  uint64_t sequence_ = 0;
  bool closed_ = false;
  std::string error_;
  ErrorHandler onError_;
};

// Writes the journal's CSV to path. false, with message set (naming the file and the reason),
// when the file cannot be created or written.
bool SaveJournalCsv(const Journal& journal, const std::string& path, std::string& message);
}  // namespace recording
