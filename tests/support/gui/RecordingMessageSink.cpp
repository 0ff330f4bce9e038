#include "RecordingMessageSink.h"

#include <algorithm>

RecordingMessageSink::RecordingMessageSink() : previous_(CurrentMessageSink()) {
  SetMessageSink(this);
}

RecordingMessageSink::~RecordingMessageSink() { SetMessageSink(previous_); }

void RecordingMessageSink::ShowMessage(const std::string& text) {
  messages.push_back(text);
  ++open;
  maxOpenAtOnce = std::max(maxOpenAtOnce, open);
  if (whileOpen) whileOpen(text);
  --open;
}

bool RecordingMessageSink::Confirm(const std::string& text) {
  ShowMessage(text);
  return confirmAnswer;
}

void RecordingMessageSink::Clear() {
  messages.clear();
  maxOpenAtOnce = 0;
}
