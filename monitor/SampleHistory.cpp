#include "monitor/SampleHistory.h"

#include <algorithm>
#include <cmath>

namespace monitor {

void SampleSeries::Append(const Sample& s) {
  ++total_;
  if (ring_.size() < capacity_) {
    ring_.push_back(s);
    ++size_;
    return;
  }
  ring_[head_] = s;
  head_ = (head_ + 1) % ring_.size();
}

std::size_t SampleSeries::LowerBound(int64_t us) const {
  std::size_t lo = 0, hi = size_;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (At(mid).us < us) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

SampleHistory::SampleHistory(const recording::Clock& clock, std::size_t capacity)
    : start_(recording::TimeBase::Start(clock)) {
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

void SampleHistory::OnRegisterAccess(const recording::RegisterEvent& e) {
  if (e.kind != recording::AccessKind::kRead) return;
  const int index = IndexOf(e.address);
  if (index < 0) return;
  // A clock never runs backwards, but a sample must not sort before its predecessor either.
  const int64_t us = std::max(start_.Since(e.time).count(), newestUs_);
  series_[static_cast<std::size_t>(index)].Append({us, e.value, e.status == 0});
  newestUs_ = us;
  if (onChange_) onChange_();
}

namespace {

int64_t ToUs(double seconds) { return static_cast<int64_t>(std::floor(seconds * 1e6)); }

}  // namespace

std::vector<std::vector<PlotPoint>> LineRuns(const SampleSeries& series, double t0, double t1,
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

}  // namespace monitor
