// During watch a failing register fails on every tick; each failure message would go to stderr
// again (a flaky bench writes megabytes of them). Messages pass through this sink to the one
// that was current: the first of each text at once, its repeats only counted and summarised
// ("... the same failure 1,234 more times") at most once a second, and when it ends.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Messages.h"
#include "observation/Clock.h"

class RepeatSummary final : public MessageSink {
 public:
  // Installs itself as the message sink until destroyed; the clock times the summaries.
  explicit RepeatSummary(const recording::Clock& clock);
  ~RepeatSummary() override;
  RepeatSummary(const RepeatSummary&) = delete;
  RepeatSummary& operator=(const RepeatSummary&) = delete;

  void ShowMessage(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  // Summarises the repeats counted when a second has passed since the last summary.
  void Poll();
  // Summarises the repeats counted now (at the end, or before a message that must follow them).
  void Flush();

 private:
  struct Seen {
    std::string text;
    uint64_t repeats = 0;  // since the last summary
  };
  static constexpr std::size_t kMaxTexts = 64;  // beyond: passed through, not counted

  const recording::Clock& clock_;
  MessageSink* next_;
  ScopedMessageSink scope_;
  std::vector<Seen> seen_;
  recording::MonoTime lastSummary_;
};

// "... the same failure 1,234 more times" after the message's text on one line.
std::string RepeatSummaryText(const std::string& text, uint64_t repeats);
