// Records every message the core shows, instead of a modal box; answers confirmations.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "foundation/Messages.h"

class RecordingSink : public MessageSink {
 public:
  void ShowMessage(const std::string& text) override {
    messages.push_back(text);
    if (onShow) onShow(text);
  }
  bool Confirm(const std::string& text) override {
    ShowMessage(text);
    return confirmAnswer;
  }
  std::vector<std::string> messages;
  bool confirmAnswer = true;
  std::function<void(const std::string&)> onShow;
};

using ScopedSink = ScopedMessageSink;
