#include "monitor/SampleHistory.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "adapter/ErrorCodes.h"
#include "recording/BitNames.h"

namespace monitor {

SampleHistory::SampleHistory(const recording::Clock& clock, std::size_t capacity)
    : SampleHistory(recording::TimeBase::Start(clock), capacity) {}

SampleHistory::SampleHistory(recording::TimeBase start, std::size_t capacity)
    : start_(start), capacity_(capacity) {
  series_.reserve(kRegisters.size());
  for (std::size_t i = 0; i < kRegisters.size(); ++i) series_.emplace_back(capacity);
}

int SampleHistory::IndexOf(uint8_t address) {
  for (std::size_t i = 0; i < kRegisters.size(); ++i)
    if (kRegisters[i] == address) return static_cast<int>(i);
  return -1;
}

const SampleSeries* SampleHistory::Series(uint8_t address) const {
  const int i = IndexOf(address);
  return i < 0 ? nullptr : &series_[static_cast<std::size_t>(i)];
}

uint16_t SampleHistory::ChangedBits(uint8_t address) const {
  const int i = IndexOf(address);
  return i < 0 ? 0 : changed_[static_cast<std::size_t>(i)];
}

void SampleHistory::OnRegisterAccess(const recording::RegisterEvent& e) {
  // A clock never runs backwards, but a sample must not sort before its predecessor either.
  const int64_t us = std::max(start_.Since(e.time).count(), newestUs_);
  NoticeEvents(e, us);
  if (e.kind != recording::AccessKind::kRead) return;
  const int index = IndexOf(e.address);
  if (index < 0) return;
  const auto i = static_cast<std::size_t>(index);
  series_[i].Append({us, e.value, e.status == 0});
  if (e.status == 0) {
    if (!firstGood_[i]) firstGood_[i] = e.value;
    changed_[i] |= static_cast<uint16_t>(*firstGood_[i] ^ e.value);
  }
  newestUs_ = us;
  if (onChange_) onChange_();
}

void SampleHistory::OnInstrumentReading(const recording::InstrumentReading& r) {
  auto c = std::find_if(channels_.begin(), channels_.end(), [&](const InstrumentChannel& x) {
    return x.instrument == r.instrument && x.channel == r.channel;
  });
  if (c == channels_.end()) {
    if (channels_.size() >= kMaxChannels) return;
    channels_.push_back({std::string(r.instrument), std::string(r.channel), std::string(r.caption),
                         std::string(r.quantity), std::string(r.unit), ReadingSeries(capacity_),
                         r.value, r.value});
    c = std::prev(channels_.end());
  }
  int64_t us = start_.Since(r.time).count();
  if (c->series.Size() > 0) us = std::max(us, c->series.Newest().us);
  c->series.Append({us, r.value, true});
  c->lo = std::min(c->lo, r.value);
  c->hi = std::max(c->hi, r.value);
  newestUs_ = std::max(newestUs_, us);
  if (onChange_) onChange_();
}

void SampleHistory::AddEvent(recording::MonoTime time, std::string text) {
  Event(std::max<int64_t>(start_.Since(time).count(), 0), std::move(text));
  if (onChange_) onChange_();
}

void SampleHistory::Event(int64_t us, std::string text) {
  if (events_.size() >= kMaxEvents) {
    events_.pop_front();
    if (failing_ && *failing_ == 0)
      failing_.reset();
    else if (failing_)
      --*failing_;
  }
  // In time order, even when told late; the failures' mark keeps pointing at itself.
  auto at = events_.end();
  while (at != events_.begin() && std::prev(at)->us > us) --at;
  const auto index = static_cast<std::size_t>(at - events_.begin());
  if (failing_ && index <= *failing_) ++*failing_;
  events_.insert(at, {us, std::move(text)});
}

void SampleHistory::NoticeEvents(const recording::RegisterEvent& e, int64_t us) {
  using recording::AccessSource;
  // A spin or a burn: one mark where its accesses begin.
  if ((e.source == AccessSource::kSpin || e.source == AccessSource::kBurn) &&
      lastSource_ != e.source) {
    Event(us, e.source == AccessSource::kSpin ? "Spin preset applied" : "EEPROM burn");
  }
  lastSource_ = e.source;

  // The scan paused: its ticks came far apart, more than three periods and a second.
  if (e.source == AccessSource::kScanTick && e.kind == recording::AccessKind::kRead &&
      e.address == kRegisters.front()) {
    if (lastTickUs_) {
      const int64_t gap = us - *lastTickUs_;
      if (tickPeriodUs_ && gap > 3 * *tickPeriodUs_ && gap > 1'000'000) {
        char text[64];
        std::snprintf(text, sizeof text, "Scan paused for %.1f s",
                      static_cast<double>(gap) / 1e6);
        Event(*lastTickUs_ + *tickPeriodUs_, text);
      } else {
        tickPeriodUs_ = gap;
      }
    }
    lastTickUs_ = us;
  }

  // A failed read: one mark for a stretch of failures, counting them.
  if (e.kind != recording::AccessKind::kRead) return;
  if (e.status == 0) {
    failing_.reset();
    return;
  }
  const std::string first = "Read of " + recording::AddressText(e.address) + " failed: " +
                            std::string(StatusName(e.status));
  if (!failing_) {
    Event(us, first);
    failing_ = events_.size() - 1;
    failures_ = 1;
    return;
  }
  ++failures_;
  std::string& text = events_[*failing_].text;
  const std::size_t more = text.find(" (");
  if (more != std::string::npos) text.resize(more);
  text += " (" + std::to_string(failures_) + " failed reads until the next good one)";
}

namespace {

int64_t ToUs(double seconds) { return static_cast<int64_t>(std::floor(seconds * 1e6)); }

}  // namespace

template <typename S>
std::vector<std::vector<PlotPoint>> LineRuns(const Ring<S>& series, double t0, double t1,
                                             int columns) {
  std::vector<std::vector<PlotPoint>> runs;
  if (series.Size() == 0 || columns <= 0 || !(t1 > t0)) return runs;
  std::size_t first = series.LowerBound(ToUs(t0));
  if (first > 0) --first;
  const std::size_t end = std::min(series.Size(), series.LowerBound(ToUs(t1)) + 1);

  std::vector<PlotPoint> run;
  auto point = [&](std::size_t i) {
    const auto& s = series.At(i);
    return PlotPoint{static_cast<double>(s.us) / 1e6, static_cast<double>(s.value)};
  };
  auto closeRun = [&] {
    if (!run.empty()) runs.push_back(std::move(run));
    run.clear();
  };

  if (end - first <= 2 * static_cast<std::size_t>(columns)) {
    for (std::size_t i = first; i < end; ++i) {
      if (series.At(i).ok) {
        run.push_back(point(i));
      } else {
        closeRun();
      }
    }
    closeRun();
    return runs;
  }

  // Dense: per column, the lowest and highest point of each stretch between failures.
  const double columnSeconds = (t1 - t0) / columns;
  long stretchColumn = 0;
  std::size_t low = 0, high = 0;
  bool stretch = false;
  auto flush = [&] {
    if (!stretch) return;
    run.push_back(point(std::min(low, high)));
    if (low != high) run.push_back(point(std::max(low, high)));
    stretch = false;
  };
  for (std::size_t i = first; i < end; ++i) {
    const auto& s = series.At(i);
    if (!s.ok) {
      flush();
      closeRun();
      continue;
    }
    const double t = static_cast<double>(s.us) / 1e6;
    const long column = std::clamp(static_cast<long>(std::floor((t - t0) / columnSeconds)), -1L,
                                   static_cast<long>(columns));
    if (!stretch || column != stretchColumn) {
      flush();
      stretch = true;
      stretchColumn = column;
      low = high = i;
      continue;
    }
    if (s.value < series.At(low).value) low = i;
    if (s.value > series.At(high).value) high = i;
  }
  flush();
  closeRun();
  return runs;
}

template std::vector<std::vector<PlotPoint>> LineRuns(const SampleSeries&, double, double, int);
template std::vector<std::vector<PlotPoint>> LineRuns(const ReadingSeries&, double, double, int);

std::vector<BitColumn> BitColumns(const SampleSeries* series, double t0, double t1, int columns,
                                  int64_t nowUs) {
  std::vector<BitColumn> out(static_cast<std::size_t>(std::max(columns, 0)));
  if (columns <= 0 || !(t1 > t0)) return out;
  const double columnSeconds = (t1 - t0) / columns;
  const std::size_t size = series ? series->Size() : 0;

  // The state in force at the start of the first column: the last read before it.
  std::size_t next = size ? series->LowerBound(ToUs(t0)) : 0;
  std::optional<uint16_t> held;  // nullopt: unknown
  if (next > 0) {
    const Sample& s = series->At(next - 1);
    if (s.ok) held = s.value;
  }
  auto apply = [](BitColumn& c, const std::optional<uint16_t>& v) {
    if (v) {
      c.ones |= *v;
      c.zeros |= static_cast<uint16_t>(~*v);
    } else {
      c.unknown = true;
    }
  };
  for (int c = 0; c < columns; ++c) {
    const int64_t from = ToUs(t0 + columnSeconds * c);
    if (from > nowUs) break;  // the future: nothing known, nothing drawn
    const int64_t to = ToUs(t0 + columnSeconds * (c + 1));
    BitColumn& column = out[static_cast<std::size_t>(c)];
    // A read exactly at the column's start is its state there.
    while (next < size && series->At(next).us <= from) {
      const Sample& s = series->At(next++);
      held = s.ok ? std::optional<uint16_t>(s.value) : std::nullopt;
    }
    apply(column, held);
    while (next < size && series->At(next).us < to) {
      const Sample& s = series->At(next++);
      held = s.ok ? std::optional<uint16_t>(s.value) : std::nullopt;
      apply(column, held);
    }
  }
  return out;
}

std::vector<ValueColumn> ValueColumns(const SampleSeries* series, double t0, double t1,
                                      int columns, int64_t nowUs) {
  using Kind = ValueColumn::Kind;
  std::vector<ValueColumn> out(static_cast<std::size_t>(std::max(columns, 0)));
  if (columns <= 0 || !(t1 > t0)) return out;
  const double columnSeconds = (t1 - t0) / columns;
  const std::size_t size = series ? series->Size() : 0;
  std::size_t next = size ? series->LowerBound(ToUs(t0)) : 0;
  std::optional<uint16_t> held;
  if (next > 0 && series->At(next - 1).ok) held = series->At(next - 1).value;
  for (int c = 0; c < columns; ++c) {
    const int64_t from = ToUs(t0 + columnSeconds * c);
    if (from > nowUs) break;
    const int64_t to = ToUs(t0 + columnSeconds * (c + 1));
    while (next < size && series->At(next).us <= from) {
      const Sample& s = series->At(next++);
      held = s.ok ? std::optional<uint16_t>(s.value) : std::nullopt;
    }
    const std::optional<uint16_t> start = held;
    bool changed = false;
    while (next < size && series->At(next).us < to) {
      const Sample& s = series->At(next++);
      held = s.ok ? std::optional<uint16_t>(s.value) : std::nullopt;
      changed = changed || held != start;
    }
    ValueColumn& column = out[static_cast<std::size_t>(c)];
    if (changed) {
      column = {Kind::kChange, held.value_or(0)};
    } else if (start) {
      column = {Kind::kValue, *start};
    } else {
      column.kind = Kind::kUnknown;
    }
  }
  return out;
}

}  // namespace monitor
