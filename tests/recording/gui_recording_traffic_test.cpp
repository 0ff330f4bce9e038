// Recording only watches: with a recorder and the journal attached, the windows' operations put
// the same bytes on the bus in the same order and show the same messages, and every access
// carries its caller's name.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <fstream>
#include <sstream>

#include "adapter/frmUSB.h"
#include "panels/frmSpins.h"
#include "panels/frmTrim.h"
#include "recording/Journal.h"
#include "recording/Recorder.h"
#include "support/ObserverLog.h"
#include "support/gui/MainWindowFixture.h"

namespace {

// Everything the board saw, field by field.
std::vector<std::string> Traffic(const sim::Board& board) {
  std::vector<std::string> t;
  for (const sim::Transaction& x : board.History()) {
    std::ostringstream s;
    s << int(x.kind) << ' ' << int(x.command) << ' ' << x.value << ' ' << x.target << ' '
      << x.status;
    t.push_back(s.str());
  }
  return t;
}

class RecordingTrafficTest : public MainWindowFixture {
 protected:
  void SetUp() override {
    Load("[SpinCustom 1]\n0x10=1234\n0x15=3A98\n");
    // One failing read, so a failure message is part of what must stay the same.
    Board().FailEveryNth(7, VB_TIMEOUT_ERROR, sim::FaultScope::Reads);
  }

 public:
  void ReadAll() { Click("cmdReadAll"); }
  void WriteAll() {
    Type("txtCtrlRegisterHex", "0050");
    Type("txtVoltDAC", "12000");
    Type("txtCurrDAC", "1024");
    Type("txtIpCurrDAC", "2048");
    Click("cmdWriteAll");
  }
  void ScanTick() { window->Panel()->Timer1_Timer(); }
  void TrimWrite() {
    frmTrim trim(window->Registers());
    trim.txtHexVal(0)->setText(QStringLiteral("4A52"));
    trim.cmdWrite_Click(0);
  }
  void Spin() { frmSpins(window->Registers()).cmdWriteTrim_Click(5); }
  void Burn() { frmSpins(window->Registers()).cmdEEBurn_Click(); }
  void Everything() {
    ReadAll();
    WriteAll();
    ScanTick();
    TrimWrite();
    Spin();
    Burn();
  }
};

TEST_F(RecordingTrafficTest, TheBusTrafficAndMessagesAreTheSameWithRecordingOn) {
  Everything();
  const std::vector<std::string> plainTraffic = Traffic(Board());
  const std::vector<std::string> plainMessages = sink.messages;
  ASSERT_GT(plainTraffic.size(), 20u);
  ASSERT_FALSE(plainMessages.empty());

  sim::Board::ResetShared();  // a fresh board, as at the first run
  Board().FailEveryNth(7, VB_TIMEOUT_ERROR, sim::FaultScope::Reads);
  sink.Clear();
  std::string message;
  auto csv = recording::Recorder::Open(dir.filePath("run.csv").toStdString(), {}, message);
  auto vcd = recording::Recorder::Open(dir.filePath("run.vcd").toStdString(), {}, message);
  ASSERT_TRUE(csv && vcd) << message;
  recording::Journal journal;
  window->Registers().AddObserver(*csv);
  window->Registers().AddObserver(*vcd);
  frmUSB::Get().AddObserver(journal);
  Everything();
  frmUSB::Get().RemoveObserver(journal);

  EXPECT_EQ(Traffic(Board()), plainTraffic);
  EXPECT_EQ(sink.messages, plainMessages);
  window->Registers().RemoveObserver(*csv);
  window->Registers().RemoveObserver(*vcd);
}

TEST_F(RecordingTrafficTest, EveryWindowAccessNamesItsCaller) {
  Board().ClearFaults();
  RegisterLog log;
  window->Registers().AddObserver(log);
  const struct {
    void (RecordingTrafficTest::*operation)();
    std::vector<std::string> sources;
  } cases[] = {
      {&RecordingTrafficTest::WriteAll, {"write", "verify read-back"}},
      {&RecordingTrafficTest::ScanTick, {"scan tick"}},
      {&RecordingTrafficTest::TrimWrite, {"write", "verify read-back"}},
  };
  for (const auto& c : cases) {
    log.events.clear();
    (this->*c.operation)();
    std::vector<std::string> sources;  // in order, each once
    for (const auto& e : log.events) {
      const std::string name(recording::SourceName(e.source));
      if (sources.empty() || sources.back() != name) sources.push_back(name);
    }
    EXPECT_EQ(sources, c.sources);
  }
  window->Registers().RemoveObserver(log);
}

}  // namespace
