// A message sink for GUI tests: records every message instead of showing a box, and can run
// code while a message is "open", as a modal box's own event loop would.
//
//   RecordingMessageSink sink;             // installs itself; the destructor restores the old one
//   sink.whileOpen = [&](const std::string& text) { ... };  // optional: runs while it is open
//   ... click something ...
//   EXPECT_EQ(sink.messages, (std::vector<std::string>{...}));
//   EXPECT_EQ(sink.maxOpenAtOnce, 1);      // never two boxes on top of each other
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "foundation/Messages.h"

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

  std::vector<std::string> messages;
  bool confirmAnswer = true;  // what Confirm answers
  std::function<void(const std::string&)> whileOpen;
  int open = 0;  // messages open right now
  int maxOpenAtOnce = 0;

 private:
  MessageSink* previous_;
};
