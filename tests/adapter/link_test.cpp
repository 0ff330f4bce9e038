#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <tuple>

#include "LinkRig.h"
#include "support/RecordingSink.h"

namespace fs = std::filesystem;

namespace {

class LinkTest : public LinkRig {};

TEST_F(LinkTest, CreatedOnFirstCallAndGoneAfterCloseDevice) {
  EXPECT_FALSE(frmUSB::Loaded());
  Link();
  Link();
  EXPECT_EQ(created_, 1);
  Link().CloseDevice();
  EXPECT_FALSE(frmUSB::Loaded());
  EXPECT_EQ(fake_.closes, 1);
  Link();  // a later call makes a new link with a fresh (closed) control
  EXPECT_EQ(created_, 2);
}

TEST_F(LinkTest, OpenFirstFreeDeviceOpensTheFirstListedName) {
  // The names listed and their count, OpenDevice's result (only -1 is failure), the answer,
  // the open made.
  const std::tuple<std::string, int32_t, int16_t, bool, std::string> cases[] = {
      {"A,B", 2, 0, true, "OpenDevice(A)"}, {"A", 1, 0, true, "OpenDevice(A)"},
      {"A", 1, 5, true, "OpenDevice(A)"},   {"A", 1, -1, false, "OpenDevice(A)"},
      {"", 0, 0, false, ""}};
  for (const auto& [names, count, openResult, expected, opened] : cases) {
    fake_ = {};
    fake_.listNames = names;
    fake_.listCount = count;
    fake_.openResult = openResult;
    RecordingSink sink;
    ScopedSink scope(&sink);
    EXPECT_EQ(Link().OpenFirstFreeDevice(), expected) << names;
    EXPECT_TRUE(sink.messages.empty());
    if (opened.empty())
      EXPECT_EQ(fake_.calls, std::vector<std::string>{"ListFreeDevices(16)"});
    else
      EXPECT_EQ(fake_.calls.back(), opened);
  }
}

TEST_F(LinkTest, OpenFirstUsedDeviceWarnsOnlyOnFailure) {
  RecordingSink sink;
  ScopedSink scope(&sink);
  fake_.openResult = 5;
  EXPECT_TRUE(Link().OpenFirstUsedDevice());
  EXPECT_EQ(fake_.calls.back(), "OpenDevice(dummy)");
  EXPECT_TRUE(sink.messages.empty());
  fake_.openResult = -1;
  EXPECT_FALSE(Link().OpenFirstUsedDevice());
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0],
            "Could not open device!Make sure that this plugin is started from Qorra. Or you may "
            "have started Qorra by ignoring errors!");
}

TEST_F(LinkTest, LogLineIsLocalDateTimeThenNameAndDetail) {
  Link().EnableErrorLog();
  fake_.statuses = {772, 2};
  int16_t w = 0;
  Link().ReadSMBusWord_(0x13, w, 103);
  Link().ReadSMBusWord_(0x14, w, 103);
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);  // in order, CR LF ended
  EXPECT_TRUE(
      std::regex_match(lines[0], std::regex(R"(\S+ \S+  VB_T2H_NACK - ReadSMBusWord_\(13\)\r)")))
      << lines[0];
  EXPECT_EQ(Tail(lines[1]), "  VB_NO_USB - ReadSMBusWord_(14)\r");
}

// Appended, never truncated; silent when off or for status 0.
TEST_F(LinkTest, LogAppendsOnlyWhileOnAndForFailures) {
  dir_.Write("CommErr.log", "earlier\r\n");
  Link().LogError(8, "x");  // logging is off at first
  Link().EnableErrorLog();
  Link().LogError(0, "ignored");
  Link().LogError(8, "kept");
  Link().DisableErrorLog();
  Link().LogError(8, "dropped");
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "earlier\r");
  EXPECT_EQ(Tail(lines[1]), "  VB_TIMEOUT_ERROR - kept\r");
}

TEST_F(LinkTest, UnwritableLogIsSkipped) {
  Link().EnableErrorLog();
  fs::create_directories(LogPath());  // a directory where the file should be
  Link().LogError(8, "skipped");
  EXPECT_TRUE(fs::is_directory(LogPath()));
}

// ClearErrorLog deletes the file and leaves logging on or off as it found it.
TEST_F(LinkTest, ClearErrorLogKeepsLoggingAsItWas) {
  for (const bool on : {false, true}) {
    on ? Link().EnableErrorLog() : Link().DisableErrorLog();
    dir_.Write("CommErr.log", "old\r\n");
    Link().ClearErrorLog();
    EXPECT_FALSE(fs::exists(LogPath())) << on;
    EXPECT_EQ(Link().LogPath().empty(), !on);
    Link().ClearErrorLog();  // no file: nothing happens
  }
}

// Only a write whose own status is 0 asks for a pending error, which is logged before the write.
TEST_F(LinkTest, OnlySuccessfulWritesAskForAPendingError) {
  int16_t w = 0;
  std::vector<uint8_t> b(2);
  Link().ReadSMBusWord_(0x13, w, 103);
  Link().I2CReadBlock_(0x13, 2, b, 103);
  fake_.statuses = {7, 7};
  Link().WriteSMBusWord_(0x12, 1, 103);
  Link().I2CWriteBlock(0x12, 2, b, 103);
  EXPECT_EQ(fake_.queries, 0);

  Link().EnableErrorLog();
  fake_.queryErrors = {3};
  EXPECT_EQ(Link().WriteSMBusWord_(0x12, 0x1234, 103), 3);
  EXPECT_EQ(fake_.queries, 1);
  const auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Tail(lines[0]), "  VB_BAD_PEC - CheckForError()\r");
  EXPECT_EQ(Tail(lines[1]), "  VB_BAD_PEC - WriteSMBusWord_(12,1234)\r");
}

// Whatever sizes a caller passes, no copy goes past a buffer's end (checked under ASan).
TEST_F(LinkTest, HostileSizesStayInsideTheBuffers) {
  fake_.block.assign(300, 0xAB);
  fake_.resizeBlockBuffer = false;
  std::vector<uint8_t> small(1, 0);
  EXPECT_EQ(Link().ReadSMBusBlock_(0x20, small, 103), 0);
  EXPECT_EQ(small.size(), 1u);
  EXPECT_EQ(small[0], 0xAB);
  std::vector<uint8_t> empty;
  Link().ReadSMBusBlock_(0x20, empty, 103);
  EXPECT_TRUE(empty.empty());
  std::string s;
  Link().ReadSMBusBlock(0x20, s, 103);
  EXPECT_EQ(s.size(), 2u * 129);
  int16_t n = 32000;
  s.clear();
  Link().ReadI2CBlockOnSMB(0x20, n, s, 103);
  EXPECT_EQ(s.size(), 2u * 257);

  fake_.block = {1, 2};
  std::vector<uint8_t> two(2);
  for (int16_t size : {int16_t{-5}, int16_t{0}, int16_t{2}, int16_t{1000}, int16_t{32767}}) {
    EXPECT_EQ(Link().I2CReadBlock_(0x10, size, two, 103), 0);
    EXPECT_EQ(two.size(), 2u);
  }
  std::vector<uint8_t> three{1, 2, 3};
  for (int16_t writeLen : {int16_t{-1}, int16_t{2}, int16_t{300}, int16_t{-32768}}) {
    int16_t w = writeLen, r = 4;
    Link().WriteReadI2CBlockOnSMB(0x30, w, r, three, s, 103);
    EXPECT_EQ(fake_.lastWritten.size(), 257u);
  }
}

TEST_F(LinkTest, DelayReturnsThePendingErrorAfterWaiting) {
  EXPECT_EQ(Link().Delay(100), 0);
  EXPECT_EQ(fake_.calls, (std::vector<std::string>{"Wait(100)", "QueryError()"}));
  Link().EnableErrorLog();
  fake_.queryErrors = {94};
  EXPECT_EQ(Link().Delay(100), 94);
  EXPECT_EQ(Tail(LogLines().back()), "  VB_BUS_BUSY - Delay(64)\r");
}

}  // namespace
