#include "drivers/sim/SimFaults.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "adapter/ErrorCodes.h"

namespace sim {

namespace {

bool InScope(FaultScope scope, Transaction::Kind kind) {
  switch (scope) {
    case FaultScope::All: return true;
    case FaultScope::Reads: return kind == Transaction::Kind::Read;
    case FaultScope::Writes: return kind == Transaction::Kind::Write;
  }
  return false;
}

uint64_t SplitMix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::string Ordinal(int n) {
  const int tens = n % 100;
  const char* suffix = (tens >= 11 && tens <= 13) ? "th"
                       : n % 10 == 1              ? "st"
                       : n % 10 == 2              ? "nd"
                       : n % 10 == 3              ? "rd"
                                                  : "th";
  return std::to_string(n) + suffix;
}

std::string StatusText(int16_t status) {
  return std::to_string(status) + " " + TranslateErrorCode(status);
}

}  // namespace

const char* FaultScopeName(FaultScope scope) {
  switch (scope) {
    case FaultScope::All: return "All";
    case FaultScope::Reads: return "Reads";
    case FaultScope::Writes: return "Writes";
  }
  return "All";
}

Faults::Faults(const FaultSettings& f, std::chrono::microseconds latency) {
  history_.reserve(2 * kHistoryKept);
  FailEveryNth(f.everyNth, f.status, f.scope);
  FailAtRate(f.rate, f.seed, f.status, f.scope);
  FailNext(f.next, f.status, f.scope);
  SetPendingErrorAfterWrite(f.pendingErrorAfterWrite);
  SetLatency(latency);
}

void Faults::UpdateFaultFlag() {
  anyFault_ = (everyNth_ > 0 && everyNthMode_.status != 0) ||
              (rate_ > 0.0 && rateMode_.status != 0) || (nextLeft_ > 0 && nextMode_.status != 0);
}

void Faults::FailEveryNth(int n, int16_t status, FaultScope scope) {
  everyNth_ = status != 0 ? std::max(0, n) : 0;
  everyNthCount_ = 0;
  everyNthMode_ = {status, scope};
  UpdateFaultFlag();
}

void Faults::FailAtRate(double rate, uint32_t seed, int16_t status, FaultScope scope) {
  rate_ = (status != 0 && rate > 0.0) ? std::min(rate, 1.0) : 0.0;
  rngState_ = seed;
  rateMode_ = {status, scope};
  UpdateFaultFlag();
}

void Faults::FailNext(int k, int16_t status, FaultScope scope) {
  nextLeft_ = status != 0 ? std::max(0, k) : 0;
  nextMode_ = {status, scope};
  UpdateFaultFlag();
}

void Faults::ClearFaults() {
  FailEveryNth(0, 0);
  FailAtRate(0.0, 1, 0);
  FailNext(0, 0);
  pendingArmed_ = 0;
  queryError_ = 0;
}

void Faults::SetPendingErrorAfterWrite(int16_t status) { pendingArmed_ = status; }

void Faults::SetLatency(std::chrono::microseconds latency) {
  latency_ = std::max(latency, std::chrono::microseconds(0));
}

double Faults::NextRandom() { return static_cast<double>(SplitMix64(rngState_) >> 11) * 0x1.0p-53; }

int16_t Faults::Begin(Transaction::Kind kind) {
  if (latency_.count() > 0) std::this_thread::sleep_for(latency_);
  if (!anyFault_) return VB_OK;
  // Every mode counts each transaction in its scope, so one mode's pattern does not depend on
  // whether another fired.
  int16_t status = VB_OK;
  if (nextLeft_ > 0 && InScope(nextMode_.scope, kind)) {
    --nextLeft_;
    status = nextMode_.status;
  }
  if (everyNth_ > 0 && InScope(everyNthMode_.scope, kind)) {
    if (++everyNthCount_ % static_cast<uint64_t>(everyNth_) == 0 && status == VB_OK)
      status = everyNthMode_.status;
  }
  if (rate_ > 0.0 && InScope(rateMode_.scope, kind)) {
    if (NextRandom() < rate_ && status == VB_OK) status = rateMode_.status;
  }
  if (nextLeft_ == 0) UpdateFaultFlag();
  return status;
}

int16_t Faults::End(const Transaction& t) {
  Record(t);
  if (t.kind == Transaction::Kind::Write && t.status == VB_OK && pendingArmed_ != 0) {
    queryError_ = pendingArmed_;
    pendingArmed_ = 0;
  }
  return t.status;
}

int16_t Faults::TakeQueryError() {
  const int16_t e = queryError_;
  queryError_ = 0;
  return e;
}

void Faults::Record(const Transaction& t) {
  ++transactionCount_;
  // Drop the older half in one go: amortised constant time, and the capacity reserved up
  // front is never exceeded, so recording never allocates.
  if (history_.size() == 2 * kHistoryKept)
    history_.erase(history_.begin(), history_.begin() + static_cast<std::ptrdiff_t>(kHistoryKept));
  history_.push_back(t);
}

void Faults::ClearHistory() {
  history_.clear();
  transactionCount_ = 0;
}

std::size_t Faults::Count(Transaction::Kind kind, int command) const {
  return static_cast<std::size_t>(
      std::count_if(history_.begin(), history_.end(), [&](const Transaction& t) {
        return t.kind == kind && (command < 0 || t.command == command);
      }));
}

std::string Faults::Describe(const char* nl) const {
  std::string faults;
  auto add = [&](const std::string& what, const FaultMode& m) {
    if (!faults.empty()) faults += "; ";
    faults += what + " fails with " + StatusText(m.status);
    if (m.scope != FaultScope::All)
      faults += std::string(" (") + FaultScopeName(m.scope) + " only)";
  };
  if (everyNth_ > 0) add("every " + Ordinal(everyNth_) + " transaction", everyNthMode_);
  if (rate_ > 0.0) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", rate_);
    add(std::string("a share of ") + rate + " of transactions (seeded)", rateMode_);
  }
  if (nextLeft_ > 0) add("the next " + std::to_string(nextLeft_) + " transaction(s)", nextMode_);
  if (pendingArmed_ != 0) {
    if (!faults.empty()) faults += "; ";
    faults += "the next write leaves " + StatusText(pendingArmed_) + " pending";
  }
  return "Faults: " + (faults.empty() ? std::string("none") : faults) + nl +
         "Latency: " + std::to_string(latency_.count()) + " us per transaction";
}

}  // namespace sim
