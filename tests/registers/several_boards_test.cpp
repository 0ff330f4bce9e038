// Boards of a caller's own beside the main link: each with its link, settings and messages.
#include "RegisterRig.h"
#include "drivers/sim/SimBoard.h"
#include "drivers/sim/SimDriver.h"
#include "registers/Spins.h"
#include "support/ObserverLog.h"

namespace {

// One board of its own over a scripted control.
struct OwnBoard {
  explicit OwnBoard(Settings::CommSettings comm, MessageSink* messages = nullptr)
      : link(std::make_unique<FakeZentio>(fake)), access(link, comm, messages) {}
  FakeZentio::State fake;
  frmUSB link;
  RegisterAccess access;
};

// The rig's control and sink stand for the main link's and the process-wide ones.
using SeveralBoardsTest = RegisterRig;

TEST_F(SeveralBoardsTest, EachOwnAccessReachesOnlyItsOwnLink) {
  OwnBoard a({0x66, false, true, 0});
  OwnBoard b({0x12, false, true, 0});
  int16_t v = 0;
  a.access.ReadRegister("CS: Status", 0x15, v, a.access.Comm().deviceAddress);
  b.access.WriteRegister("CS: Status", 0x14, 0x0400, b.access.Comm().deviceAddress);
  EXPECT_EQ(a.fake.calls, (std::vector<std::string>{"SmbReadWord(21,102)"}));
  EXPECT_EQ(b.fake.calls, (std::vector<std::string>{"SmbWriteWord(20,1024,18)", "QueryError()"}));
  EXPECT_FALSE(frmUSB::Loaded());
}

TEST_F(SeveralBoardsTest, AnOwnAccessKeepsItsSettingsWhateverTheProcessWideOnesSay) {
  struct Case {
    Settings::CommSettings own;
    std::vector<std::string> calls;  // one failing read, then whatever retries follow
  } cases[] = {
      {{0x66, false, true, 0}, {"SmbReadWord(21,102)"}},
      {{0x66, false, true, 2}, {"SmbReadWord(21,102)", "SmbReadWord(21,102)",
                                "SmbReadWord(21,102)"}},
      {{0x66, true, true, 0}, {"I2CBlockRead(21,2,102)"}},
  };
  modGlobals::DeviceAddress = 0x20;
  modGlobals::ReadRetryCount = 5;
  modGlobals::I2CMode = false;
  for (const Case& c : cases) {
    OwnBoard board(c.own);
    board.fake.statuses = {8, 8, 8, 8, 8, 8};
    int16_t v = 0;
    board.access.ReadRegister("CS: Status", 0x15, v, board.access.Comm().deviceAddress);
    EXPECT_EQ(board.fake.calls, c.calls) << "retries " << c.own.readRetryCount;
  }
}

TEST_F(SeveralBoardsTest, AnOwnAccessMessagesGoToItsSinkAndNowhereElse) {
  RecordingSink own;
  OwnBoard board({0x66, false, true, 0}, &own);
  board.fake.statuses = {8};
  int16_t v = 0;
  board.access.ReadRegister("CS: Status", 0x15, v, 0x66);
  EXPECT_EQ(own.messages.size(), 1u);
  EXPECT_TRUE(sink_.messages.empty());
}

TEST_F(SeveralBoardsTest, AnOwnAccessWithoutSinkStillReturnsTheStatus) {
  OwnBoard board({0x66, false, true, 0});
  board.fake.statuses = {8};
  int16_t v = 0;
  EXPECT_EQ(board.access.ReadRegister("CS: Status", 0x15, v, 0x66), 8);
  EXPECT_TRUE(sink_.messages.empty());
}

TEST_F(SeveralBoardsTest, ObserversOfOneBoardHearNothingOfAnother) {
  OwnBoard a({0x66, false, true, 0});
  OwnBoard b({0x66, false, true, 0});
  RegisterLog logA;
  TransactionLog linkLogA;
  a.access.AddObserver(logA);
  a.link.AddObserver(linkLogA);
  int16_t v = 0;
  b.access.ReadRegister("CS: Status", 0x15, v, 0x66);
  b.access.WriteRegister("CS: Status", 0x14, 0x0400, 0x66);
  EXPECT_TRUE(logA.events.empty());
  EXPECT_TRUE(linkLogA.events.empty());
}

TEST_F(SeveralBoardsTest, ABurnOnAnOwnBoardUsesItsAddressDelayAndConfirmation) {
  RecordingSink own;
  OwnBoard board({0x12, false, true, 0}, &own);
  Spins::SpinProgrammer programmer(board.access);
  EXPECT_EQ(programmer.BurnEeprom(), Spins::BurnOutcome::kComplete);
  EXPECT_EQ(board.fake.calls,
            (std::vector<std::string>{"SmbWriteWord(23,517,18)", "QueryError()", "Wait(100)",
                                      "QueryError()", "SmbWriteWord(23,513,18)", "QueryError()"}));
  EXPECT_EQ(own.messages, (std::vector<std::string>{std::string(Spins::kBurnConfirmText),
                                                    std::string(Spins::kBurnCompleteText)}));
  EXPECT_TRUE(sink_.messages.empty());
  EXPECT_TRUE(fake_.calls.empty());
}

TEST_F(SeveralBoardsTest, ADeclinedConfirmationOnAnOwnBoardWritesNothing) {
  RecordingSink own;
  own.confirmAnswer = false;
  OwnBoard board({0x66, false, true, 0}, &own);
  Spins::SpinProgrammer programmer(board.access);
  EXPECT_EQ(programmer.BurnEeprom(), Spins::BurnOutcome::kDeclined);
  EXPECT_TRUE(board.fake.calls.empty());
}

TEST_F(SeveralBoardsTest, ClosingAnOwnLinkLeavesItAndTheMainLinkInPlace) {
  frmUSB::Get();
  OwnBoard board({0x66, false, true, 0});
  board.link.CloseDevice();
  EXPECT_EQ(board.fake.closes, 1);
  EXPECT_TRUE(frmUSB::Loaded());
  EXPECT_EQ(fake_.closes, 0);
}

TEST_F(SeveralBoardsTest, TwoOwnSimulatedBoardsHoldTheirOwnRegisters) {
  Settings::SetFile(std::string());
  const Settings::Snapshot none;  // no file: the simulator's defaults
  frmUSB a(CreateOwnControl("sim", none));
  frmUSB b(CreateOwnControl("sim", none));
  ASSERT_TRUE(a.OpenFirstFreeDevice());
  ASSERT_TRUE(b.OpenFirstFreeDevice());
  const Settings::CommSettings comm{sim::kChargerAddress, false, true, 0};
  RegisterAccess ra(a, comm, nullptr);
  RegisterAccess rb(b, comm, nullptr);
  int16_t before = 0;
  ASSERT_EQ(rb.ReadRegister("CS: Status", 0x14, before, comm.deviceAddress), 0);
  ASSERT_EQ(ra.WriteRegister("CS: Status", 0x14, 0x0380, comm.deviceAddress), 0);
  int16_t inA = 0, inB = 0;
  ASSERT_EQ(ra.ReadRegister("CS: Status", 0x14, inA, comm.deviceAddress), 0);
  ASSERT_EQ(rb.ReadRegister("CS: Status", 0x14, inB, comm.deviceAddress), 0);
  EXPECT_EQ(inA, 0x0380);
  EXPECT_EQ(inB, before);
}

TEST_F(SeveralBoardsTest, AnUnknownDriverGivesNoOwnControl) {
  EXPECT_EQ(CreateOwnControl("nosuch", Settings::Snapshot()), nullptr);
}

}  // namespace
