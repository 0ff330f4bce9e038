#include "RecordingMessageSink.h"

#include <QTest>
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
  if (holdOpenMs > 0) QTest::qWait(holdOpenMs);
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

size_t RecordingMessageSink::CountContaining(const std::string& part) const {
  return static_cast<size_t>(
      std::count_if(messages.begin(), messages.end(),
                    [&](const std::string& m) { return m.find(part) != std::string::npos; }));
}
