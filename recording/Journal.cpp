#include "recording/Journal.h"

#include <algorithm>
#include <cstdio>

#include "recording/BitNames.h"
#include "recording/OutputFile.h"
#include "adapter/ErrorCodes.h"
#include "recording/Recorder.h"
#include "recording/Text.h"

namespace recording {

namespace {

uint32_t DurationUs(std::chrono::nanoseconds d) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(d).count();
  return static_cast<uint32_t>(std::clamp<int64_t>(us, 0, UINT32_MAX));
}

// One row of kJournalCsvHeader.
void AppendRow(std::string& out, IsoTimeFormatter& iso, const TimeBase& start, uint64_t sequence,
               MonoTime time, std::string_view operation, std::string_view detail, int32_t target,
               std::string_view targetName, int32_t status, uint32_t durationUs) {
  out += std::to_string(sequence);
  out += ',';
  AppendSeconds(out, start.Since(time));
  out += ',';
  iso.Append(out, start.WallAt(time));
  out += ',';
  std::string text(operation);
  text += '(';
  text += detail;
  text += ')';
  AppendCsvField(out, text);
  out += ',';
  if (!targetName.empty()) {
    AppendCsvField(out, targetName);
  } else if (target >= 0 && target <= 0xFF) {
    out += AddressText(static_cast<uint8_t>(target));
  } else if (target != TransactionEvent::kNoTarget) {
    out += std::to_string(target);
  }
  out += ',';
  out += std::to_string(status);
  out += ',';
  AppendCsvField(out, targetName.empty() ? StatusName(status) : InstrumentStatusName(status));
  out += ',';
  out += std::to_string(durationUs);
  out += kCsvLineEnd;
}

constexpr std::size_t kPiece = 1u << 16;  // written in pieces: a journal can be large

}  // namespace

Journal::Journal(const Clock& clock, std::size_t capacity)
    : start_(TimeBase::Start(clock)),
      capacity_(std::max<std::size_t>(capacity, 1)),
      last_(start_.mono) {}

uint16_t Journal::Intern(std::string_view name) {
  for (std::size_t i = 0; i < names_.size(); ++i)
    if (names_[i] == name) return static_cast<uint16_t>(i);
  names_.emplace_back(name);
  return static_cast<uint16_t>(names_.size() - 1);
}

void Journal::OnTransaction(const TransactionEvent& event) {
  std::size_t slot;
  if (ring_.size() < capacity_) {  // still filling: head_ is 0
    ring_.emplace_back();
    slot = size_++;
  } else {
    slot = head_;  // the oldest goes
    head_ = (head_ + 1) % ring_.size();
  }
  JournalEntry& e = ring_[slot];
  e.sequence = ++total_;
  e.time = event.time;
  e.operation = Intern(event.operation);
  e.detail.assign(event.detail);  // reuses the slot's buffer: no allocation once warm
  e.target = event.target;
  e.targetName.assign(event.targetName);
  e.status = event.status;
  e.durationUs = DurationUs(event.duration);
  // An instrument's row is no adapter transaction: the link's statistics leave it out.
  if (!event.targetName.empty()) {
    ++notes_;
    return;
  }

  auto it = std::find_if(counts_.begin(), counts_.end(),
                         [&](const auto& c) { return c.first == event.status; });
  if (it == counts_.end())
    counts_.emplace_back(event.status, 1);
  else
    ++it->second;
  if (event.time > last_) last_ = event.time;
  if (total_ == 1 || e.durationUs > longestUs_) {
    longestUs_ = e.durationUs;
    longestText_ = Text(e);
  }
}

std::string Journal::Text(const JournalEntry& e) const {
  std::string s(names_[e.operation]);
  s += '(';
  s += e.detail;
  s += ')';
  return s;
}

JournalStatistics Journal::Statistics() const {
  JournalStatistics s;
  s.total = total_ - notes_;
  s.dropped = Dropped();
  for (const auto& [status, count] : counts_) {
    s.byStatus.push_back({status, StatusName(status), count,
                          static_cast<double>(count) / static_cast<double>(s.total)});
  }
  std::stable_sort(s.byStatus.begin(), s.byStatus.end(),
                   [](const StatusCount& a, const StatusCount& b) { return a.count > b.count; });
  const double seconds = std::chrono::duration<double>(last_ - start_.mono).count();
  s.perSecond = seconds > 0 ? static_cast<double>(s.total) / seconds : 0.0;
  s.longestUs = longestUs_;
  s.longestText = longestText_;
  return s;
}

void Journal::Clear() {
  ring_.clear();
  head_ = 0;
  size_ = 0;
  total_ = 0;
  notes_ = 0;
  counts_.clear();
  last_ = start_.mono;
  longestUs_ = 0;
  longestText_.clear();
}

bool Journal::WriteCsv(Sink& sink) const {
  std::string out;
  out += kJournalCsvHeader;
  out += kCsvLineEnd;
  IsoTimeFormatter iso;
  for (std::size_t row = 0; row < size_; ++row) {
    const JournalEntry& e = At(row);
    AppendRow(out, iso, start_, e.sequence, e.time, names_[e.operation], e.detail, e.target,
              e.targetName, e.status, e.durationUs);
    if (out.size() >= kPiece) {
      if (!sink.Write(out)) return false;
      out.clear();
    }
  }
  return sink.Write(out);
}

std::string FormatStatistics(const JournalStatistics& s) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%llu transactions (%llu dropped), %.1f per second, longest %u us",
                static_cast<unsigned long long>(s.total),
                static_cast<unsigned long long>(s.dropped), s.perSecond, s.longestUs);
  std::string text = buf;
  if (!s.longestText.empty()) text += ": " + s.longestText;
  text += '\n';
  for (const StatusCount& c : s.byStatus) {
    std::snprintf(buf, sizeof buf, " (%.2f %%)\n", c.share * 100.0);
    text += "  " + std::string(c.name) + ": " + std::to_string(c.count) + buf;
  }
  return text;
}

}  // namespace recording

namespace recording {
bool SaveJournalCsv(const Journal& journal, const std::string& path, std::string& message) {
  std::string reason;
  std::unique_ptr<FileSink> sink = FileSink::Create(path, reason);
  if (!sink) {
    message = "Cannot create " + path + ": " + reason + ".";
    return false;
  }
  const bool written = journal.WriteCsv(*sink);
  const bool closed = sink->Close();
  if (!written || !closed) {
    message = "Writing the journal to " + path + " failed: " + sink->Error() + ".";
    return false;
  }
  return true;
}
}  // namespace recording

namespace recording {

std::unique_ptr<JournalFile> JournalFile::Create(const std::string& path, const Clock& clock,
                                                 std::string& message) {
  std::string reason;
  std::unique_ptr<FileSink> sink = FileSink::Create(path, reason);
  if (!sink) {
    message = CannotCreateText(path, reason);
    return nullptr;
  }
  sink->NoticeRemoval();
  std::unique_ptr<JournalFile> j(new JournalFile(std::move(sink), clock));
  j->OnFlush();  // the header: even a run without a transaction leaves a valid file
  if (!j->Ok()) {
    message = j->Error();
    return nullptr;
  }
  return j;
}

JournalFile::JournalFile(std::unique_ptr<FileSink> sink, const Clock& clock)
    : sink_(std::move(sink)), start_(TimeBase::Start(clock)) {
  pending_ += kJournalCsvHeader;
  pending_ += kCsvLineEnd;
}

JournalFile::~JournalFile() { Close(); }

void JournalFile::OnTransaction(const TransactionEvent& event) {
  if (!Ok() || closed_) return;
  AppendRow(pending_, iso_, start_, ++sequence_, event.time, event.operation, event.detail,
            event.target, event.targetName, event.status, DurationUs(event.duration));
  if (pending_.size() >= kPiece) OnFlush();  // a long run of transactions outside a tick
}

void JournalFile::OnFlush() {
  if (!Ok() || closed_) return;
  if (pending_.empty() ? !sink_->Check() : !sink_->Write(pending_)) {
    Fail();
    return;
  }
  pending_.clear();
}

bool JournalFile::Close() {
  if (closed_) return Ok();
  OnFlush();
  closed_ = true;
  if (Ok() && !sink_->Close()) Fail();
  return Ok();
}

void JournalFile::Fail() {
  pending_.clear();
  error_ = "Writing the journal to " + sink_->Name() + " failed: " + sink_->Error() + ".";
  if (onError_) onError_(error_);
}

}  // namespace recording
