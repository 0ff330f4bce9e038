#include <gtest/gtest.h>

#include "RegisterRig.h"

namespace {

class RegisterAccessTest : public RegisterRig {
 protected:
  int Attempts(const std::string& op) const {
    int n = 0;
    for (const auto& c : fake_.calls) n += c.rfind(op, 0) == 0;
    return n;
  }
};

TEST_F(RegisterAccessTest, RetriesAReadUpToReadRetryCountMoreTimes) {
  struct Case {
    int16_t retries;
    std::deque<int16_t> statuses;
    int expectedAttempts;
    int32_t expectedResult;
    std::size_t messages;
  } cases[] = {
      {0, {8}, 1, 8, 1},
      {0, {}, 1, 0, 0},
      {3, {8, 0}, 2, 0, 0},  // fails once, then succeeds: no message
      {3, {8, 8, 8, 0}, 4, 0, 0},
      {3, {8, 8, 8, 772}, 4, 772, 1},  // only the last error is reported
  };
  for (bool i2c : {false, true}) {
    for (const auto& c : cases) {
      fake_.calls.clear();
      fake_.statuses = c.statuses;
      sink_.messages.clear();
      modGlobals::I2CMode = i2c;
      modGlobals::ReadRetryCount = c.retries;
      int16_t value = 0;
      EXPECT_EQ(regs_.ReadRegister("CS: Status", 0x13, value, 103), c.expectedResult);
      EXPECT_EQ(Attempts(i2c ? "I2CBlockRead" : "SmbReadWord"), c.expectedAttempts);
      EXPECT_EQ(sink_.messages.size(), c.messages);
    }
  }
}

TEST_F(RegisterAccessTest, ReadDeliversTheSuccessfulAttemptsValue) {
  fake_.words[0x15] = 16800;
  fake_.statuses = {8};
  modGlobals::ReadRetryCount = 1;
  int16_t value = 0;
  EXPECT_EQ(regs_.ReadRegister("CS: Status", 0x15, value, 103), 0);
  EXPECT_EQ(value, 16800);
  EXPECT_EQ(fake_.calls.back(), "SmbReadWord(21,103)");
}

TEST_F(RegisterAccessTest, I2CReadTakesTheLowByteFirst) {
  modGlobals::I2CMode = true;
  struct Case {
    std::vector<uint8_t> bytes;
    int16_t expected;
  } cases[] = {{{0x34, 0x12}, 0x1234}, {{0xFF, 0xFF}, -1}, {{0x00, 0x80}, -32768}};
  for (const auto& c : cases) {
    fake_.block = c.bytes;
    int16_t value = 0;
    EXPECT_EQ(regs_.ReadRegister("CS: Status", 0x14, value, 103), 0);
    EXPECT_EQ(value, c.expected);
  }
  EXPECT_EQ(fake_.calls.back(), "I2CBlockRead(20,2,103)");
}

TEST_F(RegisterAccessTest, FailedI2CReadLeavesZero) {
  modGlobals::I2CMode = true;
  fake_.statuses = {8};
  int16_t value = 77;
  EXPECT_EQ(regs_.ReadRegister("CS: Status", 0x14, value, 103), 8);
  EXPECT_EQ(value, 0);
}

TEST_F(RegisterAccessTest, WriteGoesOutOnceInEitherMode) {
  EXPECT_EQ(regs_.WriteRegister("CS: Status", 0x15, 16800, 0x66), 0);
  EXPECT_EQ(fake_.calls.front(), "SmbWriteWord(21,16800,102)");

  modGlobals::I2CMode = true;
  fake_.calls.clear();
  EXPECT_EQ(regs_.WriteRegister("CS: Status", 0x12, -32768, 103), 0);
  EXPECT_EQ(fake_.calls.front(), "I2CBlockWrite(18,2,103)");
  EXPECT_EQ(fake_.lastWritten, (std::vector<uint8_t>{0x00, 0x80}));

  fake_.calls.clear();
  fake_.statuses = {8};
  modGlobals::ReadRetryCount = 5;  // writes are never retried
  EXPECT_EQ(regs_.WriteRegister("CS: Status", 0x12, 1, 103), 8);
  EXPECT_EQ(Attempts("I2CBlockWrite"), 1);
  EXPECT_EQ(sink_.messages.size(), 1u);
}

TEST_F(RegisterAccessTest, FailureMessages) {
  struct Case {
    bool write;
    std::string name;
    uint8_t address;
    int16_t status;
    std::string expected;
  } cases[] = {
      {false, "CS: Status", 0x13, 8,
       "Error reading register CS: Status(0x13).\r\nError description : VB_TIMEOUT_ERROR"},
      {false, "x", 0x08, 4, "Error reading register x(0x8).\r\nError description : Unknown Error"},
      {true, "CS: Status", 0x15, 94,
       "Error Writing register CS: Status(0x15).\r\nError description : VB_BUS_BUSY"},
  };
  for (const auto& c : cases) {
    sink_.messages.clear();
    fake_.statuses = {c.status};
    int16_t v = 0;
    if (c.write) {
      regs_.WriteRegister(c.name, c.address, 1, 103);
    } else {
      regs_.ReadRegister(c.name, c.address, v, 103);
    }
    ASSERT_EQ(sink_.messages.size(), 1u);
    EXPECT_EQ(sink_.messages[0], c.expected);
  }
}

}  // namespace
