// A message sink for GUI tests: records every message instead of showing a box, and can keep
// each message "open" for a while, running the event loop meanwhile, the way a modal box's
// own event loop does (timers keep firing, nested handlers can run).
//
//   RecordingMessageSink sink;             // installs itself; the destructor restores the old one
//   sink.holdOpenMs = 50;                  // optional: each message stays open 50 ms
//   sink.whileOpen = [&](const std::string& text) { ... };  // optional: runs while it is open
//   ... click something ...
//   EXPECT_EQ(sink.messages, (std::vector<std::string>{...}));
//   EXPECT_EQ(sink.maxOpenAtOnce, 1);      // never two boxes on top of each other
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "shell/base/Messages.h"

class RecordingMessageSink : public MessageSink {
 public:
  RecordingMessageSink();
  ~RecordingMessageSink() override;
  RecordingMessageSink(const RecordingMessageSink&) = delete;
  RecordingMessageSink& operator=(const RecordingMessageSink&) = delete;

  void ShowMessage(const std::string& text) override;
  bool Confirm(const std::string& text) override;

  void Clear();
  size_t Count() const { return messages.size(); }
  // Messages that contain part.
  size_t CountContaining(const std::string& part) const;

  std::vector<std::string> messages;
  bool confirmAnswer = true;  // what Confirm answers
  int holdOpenMs = 0;         // how long each message stays open, event loop running
  std::function<void(const std::string&)> whileOpen;
  int open = 0;  // messages open right now
  int maxOpenAtOnce = 0;

 private:
  MessageSink* previous_;
};
