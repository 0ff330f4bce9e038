#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include "instruments/SrRecorder.h"
#include "monitor/MonitorFixture.h"
#include "monitor/frmJournal.h"
#include "monitor/frmPlot.h"
#include "panels/frmSpins.h"
#include "recording/Recorder.h"

namespace {

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
                                       "cmdJournal", "lblRecording", "cmdInstruments", "LblVer"}));
  std::vector<QString> captions = {Caption("cmdRecord"), Caption("cmdPlot"), Caption("cmdJournal"),
                                   Caption("cmdInstruments")};
  EXPECT_EQ(captions,
            (std::vector<QString>{"Record...", "Plot...", "Journal...", "Instruments..."}));
}

TEST_F(MonitorTest, ButtonsComeLastInTabOrder) {
  LoadMonitored();
  std::vector<QString> chain;
  for (QWidget* w = window->nextInFocusChain(); w != window.get(); w = w->nextInFocusChain())
    if (w->focusPolicy() & Qt::TabFocus) chain.push_back(w->objectName());
  ASSERT_GE(chain.size(), 4u);
  EXPECT_EQ(std::vector<QString>(chain.end() - 4, chain.end()),
            (std::vector<QString>{"cmdRecord", "cmdPlot", "cmdJournal", "cmdInstruments"}));
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
  EXPECT_EQ(dialogs.asked[0].filters.join(';'),
            "CSV (*.csv);Value change dump (*.vcd);Sigrok session (*.sr)");
  EXPECT_FALSE(monitor->Recording());
}

TEST_F(MonitorTest, RecordOffersAVcdTimeStepThatFollowsTheScanPeriod) {
  LoadMonitored();
  const std::pair<const char*, QString> cases[] = {
      {"500", "1 ms"}, {"10", "100 \u00B5s"}, {"2000", "10 ms"}, {"30000", "100 ms"}};
  for (const auto& [period, step] : cases) {
    Type("ScanPeriod", period);
    window->Panel()->Timer2_Timer();  // the period settles
    dialogs.answer.reset();
    Click("cmdRecord");
    const std::shared_ptr<monitor::FileChoice> choice = dialogs.asked.back().choice;
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->label, "VCD time step:");
    EXPECT_EQ(choice->items.join(' '), "1 \u00B5s 10 \u00B5s 100 \u00B5s 1 ms 10 ms 100 ms 1 s");
    EXPECT_EQ(choice->items.value(choice->selected), step) << period;
  }
}

TEST_F(MonitorTest, RecordWritesTheVcdTimeStepPicked) {
  LoadMonitored();
  const std::pair<std::optional<int>, std::string> cases[] = {
      {std::nullopt, "$timescale 1 ms $end"},  // the default 500 ms scan
      {1, "$timescale 10 us $end"}};
  for (const auto& [pick, header] : cases) {
    dialogs.pick = pick;
    StartRecordingTo(TempPath("run.vcd"));
    ASSERT_TRUE(monitor->Recording());
    Click("cmdRecord");
    EXPECT_TRUE(ReadFile(TempPath("run.vcd")).contains(QByteArray::fromStdString(header)))
        << header;
  }
}

TEST_F(MonitorTest, RecordWritesASigrokSessionAtTheScanPeriod) {
  instruments::InstallSrRecordings();
  LoadMonitored();
  StartRecordingTo(TempPath("run.sr"));
  ASSERT_TRUE(monitor->Recording());
  Click("cmdReadAll");
  Click("cmdRecord");
  QProcess cli;
  cli.start(QStringLiteral("sigrok-cli"), {QStringLiteral("-i"), TempPath("run.sr"),
                                           QStringLiteral("--show")});
  ASSERT_TRUE(cli.waitForFinished(60000));
  const QString shown = QString::fromUtf8(cli.readAllStandardOutput());
  EXPECT_TRUE(shown.contains(QStringLiteral("Samplerate: 2\n"))) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QStringLiteral("- 0x13.ACDET: logic"))) << shown.toStdString();
}

TEST_F(MonitorTest, QtsFileDialogShowsTheChoiceAndKeepsThePick) {
  LoadMonitored();
  const monitor::ScopedFileDialogs qt(nullptr);
  monitor::FileRequest request;
  request.caption = QStringLiteral("Record");
  request.suggested = TempPath("run.vcd");
  request.filters = {QStringLiteral("Value change dump (*.vcd)")};
  request.choice = std::make_shared<monitor::FileChoice>(
      monitor::FileChoice{QStringLiteral("VCD time step:"), {"1 ms", "10 ms", "100 ms"}, 1});
  QString shown;
  QTimer poll;  // until the dialog is up: then pick, and accept
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    poll.stop();
    if (auto* combo = dialog->findChild<QComboBox*>(QStringLiteral("fileChoice"))) {
      for (auto* label : dialog->findChildren<QLabel*>())
        if (label->buddy() == combo) shown = label->text() + " " + combo->currentText();
      combo->setCurrentIndex(2);
    }
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, as its Save button
  });
  poll.start(10);
  EXPECT_EQ(monitor::AskForFile(window.get(), request), TempPath("run.vcd"));
  EXPECT_EQ(shown, "VCD time step: 10 ms");
  EXPECT_EQ(request.choice->selected, 2);
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
    EXPECT_EQ(monitor != nullptr && monitor->Recording(), monitored);
    return ObserveAndClose();
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
