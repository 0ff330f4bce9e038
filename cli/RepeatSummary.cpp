#include "cli/RepeatSummary.h"

#include <algorithm>
#include <chrono>

namespace {

std::string Grouped(uint64_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
  return digits;
}

}  // namespace

std::string RepeatSummaryText(const std::string& text, uint64_t repeats) {
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      line += ' ';
    } else {
      line += text[i];
    }
  }
  return line + " ... the same failure " + Grouped(repeats) +
         (repeats == 1 ? " more time" : " more times");
}

RepeatSummary::RepeatSummary(const recording::Clock& clock)
    : clock_(clock), next_(CurrentMessageSink()), scope_(this), lastSummary_(clock.Now()) {}

RepeatSummary::~RepeatSummary() { Flush(); }

void RepeatSummary::ShowMessage(const std::string& text) {
  Poll();
  auto it = std::find_if(seen_.begin(), seen_.end(), [&](const Seen& s) { return s.text == text; });
  if (it != seen_.end()) {
    ++it->repeats;
    return;
  }
  if (seen_.size() < kMaxTexts) seen_.push_back({text, 0});
  if (next_ != nullptr) next_->ShowMessage(text);
}

bool RepeatSummary::Confirm(const std::string& text) {
  Flush();
  return next_ == nullptr || next_->Confirm(text);
}

void RepeatSummary::Poll() {
  if (clock_.Now() - lastSummary_ >= std::chrono::seconds(1)) Flush();
}

void RepeatSummary::Flush() {
  lastSummary_ = clock_.Now();
  for (Seen& s : seen_) {
    if (s.repeats == 0) continue;
    if (next_ != nullptr) next_->ShowMessage(RepeatSummaryText(s.text, s.repeats));
    s.repeats = 0;
  }
}
