#include "recording/Journal.h"

#include <algorithm>
#include <cstdio>

#include "recording/BitNames.h"
#include "recording/OutputFile.h"
#include "adapter/ErrorCodes.h"
#include "recording/Text.h"

namespace recording {

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
  e.status = event.status;
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(event.duration).count();
  e.durationUs = static_cast<uint32_t>(std::clamp<int64_t>(us, 0, UINT32_MAX));

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
  s.total = total_;
  s.dropped = Dropped();
  for (const auto& [status, count] : counts_) {
    s.byStatus.push_back({status, StatusName(status), count,
                          static_cast<double>(count) / static_cast<double>(total_)});
  }
  std::stable_sort(s.byStatus.begin(), s.byStatus.end(),
                   [](const StatusCount& a, const StatusCount& b) { return a.count > b.count; });
  const double seconds = std::chrono::duration<double>(last_ - start_.mono).count();
  s.perSecond = seconds > 0 ? static_cast<double>(total_) / seconds : 0.0;
  s.longestUs = longestUs_;
  s.longestText = longestText_;
  return s;
}

void Journal::Clear() {
  ring_.clear();
  head_ = 0;
  size_ = 0;
  total_ = 0;
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
    out += std::to_string(e.sequence);
    out += ',';
    AppendSeconds(out, start_.Since(e.time));
    out += ',';
    iso.Append(out, start_.WallAt(e.time));
    out += ',';
    AppendCsvField(out, Text(e));
    out += ',';
    if (e.target >= 0 && e.target <= 0xFF) {
      out += AddressText(static_cast<uint8_t>(e.target));
    } else if (e.target != TransactionEvent::kNoTarget) {
      out += std::to_string(e.target);
    }
    out += ',';
    out += std::to_string(e.status);
    out += ',';
    AppendCsvField(out, StatusName(e.status));
    out += ',';
    out += std::to_string(e.durationUs);
    out += kCsvLineEnd;
    if (out.size() >= (1u << 16)) {  // in pieces: the journal can be large
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
