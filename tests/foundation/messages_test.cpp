#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/Messages.h"
#include "support/RecordingSink.h"

namespace {

// Overrides only ShowMessage, so Confirm keeps the base's OK-only behaviour.
struct OkOnlySink : MessageSink {
  void ShowMessage(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

TEST(Messages, GoToTheInnermostScopedSinkInOrder) {
  ScopedMessageSink none(nullptr);
  MsgBox("no sink: dropped");
  EXPECT_TRUE(MsgBoxConfirm("no sink: go on"));
  OkOnlySink outer;
  RecordingSink inner;
  inner.confirmAnswer = false;
  {
    ScopedMessageSink useOuter(&outer);
    {
      ScopedMessageSink useInner(&inner);
      MsgBox("one");
      EXPECT_FALSE(MsgBoxConfirm("burn?")) << "the answer comes from the sink";
    }
    MsgBox(std::string("two") + kNewLine + "lines");
    EXPECT_TRUE(MsgBoxConfirm("three")) << "an OK-only sink shows the question and goes on";
  }
  EXPECT_EQ(CurrentMessageSink(), nullptr);
  MsgBox("dropped again");
  EXPECT_EQ(inner.messages, (std::vector<std::string>{"one", "burn?"}));
  EXPECT_EQ(outer.shown, (std::vector<std::string>{"two\r\nlines", "three"}));
}

}  // namespace
