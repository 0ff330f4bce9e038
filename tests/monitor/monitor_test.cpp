#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <cstdio>

#include "adapter/frmUSB.h"
#include "monitor/MonitorFixture.h"
#include "monitor/frmJournal.h"
#include "monitor/frmPlot.h"
#include "panels/frmSpins.h"
#include "recording/Recorder.h"

namespace {

using Kind = sim::Transaction::Kind;

class MonitorTest : public MonitorFixture {
 protected:
  QString Caption(const char* button) { return Child<QPushButton>(button)->text(); }
  void StartRecordingTo(const QString& path) {
    dialogs.answer = path;
    Click("cmdRecord");
  }
};

TEST_F(MonitorTest, ButtonsFollowAboutInTheBottomRow) {
  LoadMonitored();
  std::vector<QString> row;
  QLayout* root = window->layout();
  QLayout* layout = root->itemAt(root->count() - 1)->layout();
  ASSERT_NE(layout, nullptr);
  for (int i = 0; i < layout->count(); ++i)
    if (QWidget* w = layout->itemAt(i)->widget()) row.push_back(w->objectName());
  EXPECT_EQ(row, (std::vector<QString>{"cmdLegend", "cmdAbout", "cmdRecord", "cmdPlot",
                                       "cmdJournal", "lblRecording", "LblVer"}));
  std::vector<QString> captions = {Caption("cmdRecord"), Caption("cmdPlot"), Caption("cmdJournal")};
  EXPECT_EQ(captions, (std::vector<QString>{"Record...", "Plot...", "Journal..."}));
}

TEST_F(MonitorTest, ButtonsComeLastInTabOrder) {
  LoadMonitored();
  std::vector<QString> chain;
  for (QWidget* w = window->nextInFocusChain(); w != window.get(); w = w->nextInFocusChain())
    if (w->focusPolicy() & Qt::TabFocus) chain.push_back(w->objectName());
  ASSERT_GE(chain.size(), 3u);
  EXPECT_EQ(std::vector<QString>(chain.end() - 3, chain.end()),
            (std::vector<QString>{"cmdRecord", "cmdPlot", "cmdJournal"}));
}

TEST_F(MonitorTest, RecordSuggestsADatedCsvOrAVcd) {
  LoadMonitored();
  dialogs.answer.reset();
  Click("cmdRecord");
  ASSERT_EQ(dialogs.asked.size(), 1u);
  EXPECT_TRUE(QRegularExpression(QStringLiteral("/korvo-\\d{8}-\\d{6}\\.csv$"))
                  .match(dialogs.asked[0].suggested)
                  .hasMatch())
      << dialogs.asked[0].suggested.toStdString();
  EXPECT_EQ(dialogs.asked[0].filters.join(';'), "CSV (*.csv);Value change dump (*.vcd)");
  EXPECT_FALSE(monitor->Recording());
}

TEST_F(MonitorTest, RecordReadsStopWhileRecording) {
  LoadMonitored();
  StartRecordingTo(TempPath("run.csv"));
  ASSERT_TRUE(monitor->Recording());
  EXPECT_EQ(Caption("cmdRecord"), "Stop");
  Click("cmdRecord");
  EXPECT_FALSE(monitor->Recording());
  EXPECT_EQ(Caption("cmdRecord"), "Record...");
}

TEST_F(MonitorTest, LabelShowsElapsedTimeAndSamplesWhileRecording) {
  ManualClock clock;
  LoadMonitored("", "", &clock);
  StartRecordingTo(TempPath("run.csv"));
  Click("cmdReadAll");
  clock.Advance(std::chrono::seconds(3725));
  monitor->UpdateRecordingLabel();
  EXPECT_EQ(Child<QLabel>("lblRecording")->text(), "1:02:05, 5 samples");
  Click("cmdRecord");
  EXPECT_EQ(Child<QLabel>("lblRecording")->text(), "");
}

TEST_F(MonitorTest, ClosingTheMainWindowCompletesTheRecording) {
  LoadMonitored();
  StartRecordingTo(TempPath("run.vcd"));
  Click("cmdReadAll");
  Close();
  EXPECT_FALSE(monitor->Recording());
  const QByteArray vcd = ReadFile(TempPath("run.vcd"));
  EXPECT_TRUE(vcd.contains("$enddefinitions $end"));
  EXPECT_TRUE(vcd.contains("0x15.")) << vcd.left(200).toStdString();
  EXPECT_TRUE(vcd.endsWith('\n'));
}

// Which files are refused, and why, is the recorder's own rule; here only that the refusal shows.
TEST_F(MonitorTest, ARefusedFileShowsOneMessage) {
  LoadMonitored();
  StartRecordingTo(TempPath("missing/run.csv"));
  EXPECT_FALSE(monitor->Recording());
  ASSERT_EQ(sink.Count(), 1u);
  EXPECT_NE(sink.messages[0].find("Cannot create " + TempPath("missing/run.csv").toStdString()),
            std::string::npos);
}

TEST_F(MonitorTest, DiskFullStopsTheRecordingWithOneMessage) {
  LoadMonitored();
  const QString path = TempPath("full.csv");
  StartRecordingTo(path);
  // The file may grow by one Read All and a little: the second one fills the "disk".
  Click("cmdReadAll");
  const rlim_t limit = static_cast<rlim_t>(ReadFile(path).size() + 200);
  void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = limit;
  setrlimit(RLIMIT_FSIZE, &small);
  for (int i = 0; i < 3; ++i) {
    Click("cmdReadAll");
    QCoreApplication::processEvents();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, previous);
  ASSERT_EQ(sink.Count(), 1u);
  EXPECT_EQ(sink.messages[0], "Recording to " + path.toStdString() + " stopped: File too large.");
  EXPECT_FALSE(monitor->Recording());
}

TEST_F(MonitorTest, ARemovedFileStopsTheRecordingWithOneMessage) {
  LoadMonitored();
  const QString path = TempPath("gone.csv");
  StartRecordingTo(path);
  QFile::remove(path);
  monitor->UpdateRecordingLabel();
  monitor->UpdateRecordingLabel();
  EXPECT_EQ(sink.messages, std::vector<std::string>{"Recording to " + path.toStdString() +
                                                    " stopped: the file was removed."});
  EXPECT_FALSE(monitor->Recording());
}

TEST_F(MonitorTest, ScanGoesOnAfterTheRecordingStops) {
  LoadMonitored();
  StartRecordingTo(TempPath("gone.csv"));
  QFile::remove(TempPath("gone.csv"));
  monitor->UpdateRecordingLabel();
  ASSERT_FALSE(monitor->Recording());
  Board().ClearHistory();
  window->Panel()->Timer1_Timer();
  EXPECT_EQ(Board().History().size(), 5u);
  EXPECT_EQ(sink.Count(), 1u);
}

TEST_F(MonitorTest, PlotAndJournalAreOneModelessWindowEach) {
  LoadMonitored();
  for (const char* button : {"cmdPlot", "cmdJournal"}) {
    Click(button);
    Click(button);
  }
  const auto plots = window->findChildren<monitor::frmPlot*>();
  const auto journals = window->findChildren<monitor::frmJournal*>();
  ASSERT_EQ(plots.size(), 1);
  ASSERT_EQ(journals.size(), 1);
  EXPECT_TRUE(plots[0]->isVisible() && journals[0]->isVisible());
  EXPECT_FALSE(plots[0]->isModal() || journals[0]->isModal());
}

TEST_F(MonitorTest, PlotAndJournalCloseWithTheMainWindow) {
  LoadMonitored();
  Click("cmdPlot");
  Click("cmdJournal");
  Close();
  EXPECT_FALSE(monitor->Plot()->isVisible() || monitor->JournalWindow()->isVisible());
}

// --- recording, plot and journal only observe ---

struct Observed {
  std::vector<std::string> traffic;
  std::vector<std::string> messages;
};

class ObservationTest : public MonitorTest {
 protected:
  // Read All, Write All, three scan ticks and a spin, with every fifth transaction failing.
  Observed Run(bool monitored) {
    const std::string ini =
        "[Settings]\nShowTrimRegisters=1\n[SpinCustom 1]\n0x10=1234\n0x15=41A0\n";
    if (monitored) {
      LoadMonitored(ini);
      StartRecordingTo(TempPath("observed.csv"));
      monitor->ShowPlot();
      monitor->ShowJournal();
    } else {
      Load(ini);
    }
    Board().ClearHistory();
    sink.Clear();
    Board().FailEveryNth(5, 8);
    // Lets the plot's coalesced repaint run between the operations.
    auto settle = [&] {
      if (monitored) {
        EXPECT_TRUE(WaitUntil([&] { return !monitor->Plot()->RepaintTimer()->isActive(); }));
      }
    };
    Click("cmdReadAll");
    settle();
    Type("txtVoltDAC", "12000");
    Click("cmdWriteAll");
    settle();
    for (int i = 0; i < 3; ++i) window->Panel()->Timer1_Timer();
    settle();
    {
      frmSpins spins(window->Registers());
      spins.cmdWriteTrim(5)->click();
    }
    settle();
    Observed o;
    for (const sim::Transaction& t : Board().History()) {
      char buf[48];
      std::snprintf(buf, sizeof buf, "%d:%02X=%04X@%02X/%d", static_cast<int>(t.kind), t.command,
                    t.value, t.target, t.status);
      o.traffic.push_back(buf);
    }
    o.messages = sink.messages;
    EXPECT_EQ(monitor != nullptr && monitor->Recording(), monitored);
    Close();
    window.reset();
    frmUSB::Get().CloseDevice();
    sim::Board::ResetShared();
    return o;
  }
};

TEST_F(ObservationTest, MonitorLeavesTrafficAndMessagesUnchanged) {
  const Observed plain = Run(false);
  const Observed observed = Run(true);
  EXPECT_GT(plain.traffic.size(), 30u);
  EXPECT_GT(plain.messages.size(), 3u);
  EXPECT_EQ(observed.traffic, plain.traffic);
  EXPECT_EQ(observed.messages, plain.messages);
}

}  // namespace
