#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "shell/Messages.h"
#include "shell/Paths.h"
#include "shell/Version.h"

namespace {

class Recorder : public MessageSink {
 public:
  void ShowMessage(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

class Refuser : public Recorder {
 public:
  bool Confirm(const std::string& text) override {
    asked.push_back(text);
    return false;
  }
  std::vector<std::string> asked;
};

class SinkGuard {
 public:
  ~SinkGuard() { SetMessageSink(nullptr); }
};

TEST(Messages, WithoutSinkMessagesAreDroppedAndConfirmGoesOn) {
  SinkGuard guard;
  SetMessageSink(nullptr);
  EXPECT_EQ(CurrentMessageSink(), nullptr);
  MsgBox("dropped");
  EXPECT_TRUE(MsgBoxConfirm("go on?"));
}

TEST(Messages, SinkReceivesEveryMessageInOrder) {
  SinkGuard guard;
  Recorder rec;
  SetMessageSink(&rec);
  EXPECT_EQ(CurrentMessageSink(), &rec);
  MsgBox("one");
  MsgBox(std::string("two") + kNewLine + "lines");
  // An OK-only sink shows the question and goes on.
  EXPECT_TRUE(MsgBoxConfirm("three"));
  EXPECT_EQ(rec.shown, (std::vector<std::string>{"one", "two\r\nlines", "three"}));
  SetMessageSink(nullptr);
  MsgBox("four");
  EXPECT_EQ(rec.shown.size(), 3u);
}

TEST(Messages, ConfirmAnswerComesFromTheSink) {
  SinkGuard guard;
  Refuser ref;
  SetMessageSink(&ref);
  EXPECT_FALSE(MsgBoxConfirm("burn?"));
  EXPECT_EQ(ref.asked, (std::vector<std::string>{"burn?"}));
  EXPECT_TRUE(ref.shown.empty());
}

TEST(Paths, ProgramDirAndBaseNameNameThisExecutable) {
  const std::string dir = Paths::ProgramDir();
  const std::string base = Paths::ProgramBaseName();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.front(), '/');
  EXPECT_NE(dir.back(), '/');
  EXPECT_FALSE(base.empty());
  EXPECT_EQ(base.find('/'), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir + "/" + base)) << dir << " " << base;
  EXPECT_EQ(std::filesystem::canonical("/proc/self/exe"), std::filesystem::canonical(dir + "/" + base));
}

TEST(Paths, OverrideForTests) {
  const std::string real = Paths::ProgramDir();
  Paths::SetProgramDirForTesting("/tmp/somewhere");
  EXPECT_EQ(Paths::ProgramDir(), "/tmp/somewhere");
  Paths::SetProgramDirForTesting("");
  EXPECT_EQ(Paths::ProgramDir(), real);
}

TEST(Paths, Join) {
  EXPECT_EQ(Paths::Join("/a/b", "c.ini"), "/a/b/c.ini");
  EXPECT_EQ(Paths::Join("/a/b/", "c.ini"), "/a/b/c.ini");
  EXPECT_EQ(Paths::Join("/", "c.ini"), "/c.ini");
  EXPECT_EQ(Paths::Join("", "c.ini"), "c.ini");
}

TEST(Version, Text) { EXPECT_EQ(VersionText(), "Version 2.0.10"); }

}  // namespace
