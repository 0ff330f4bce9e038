// The bench instruments in the windows: "Instruments...", its window, and the readings on their
// way to the register access's observers, a recording and the journal.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QTreeWidget>

#include "foundation/Settings.h"
#include "instruments/Bench.h"
#include "instruments/ScriptedBackend.h"
#include "monitor/JournalModel.h"
#include "monitor/MonitorFixture.h"
#include "monitor/frmInstruments.h"
#include "support/ObserverLog.h"

namespace {

using monitor::frmInstruments;

class InstrumentsWindowTest : public MonitorFixture {
 protected:
  // The benches' threads read `clock` until the window stops them: the window goes first.
  ~InstrumentsWindowTest() override {
    Close();
    window.reset();
  }
  // The main window with the monitor, and a bench of scripted instruments named by labels;
  // with `absent`, none of them opens, for that reason.
  void LoadWithBench(const std::vector<std::string>& labels, const char* absent = nullptr) {
    LoadMonitored();
    std::vector<instruments::InstrumentConfig> configs;
    for (const std::string& l : labels) {
      scripts[l] = backend->Add(l);
      if (absent) {
        scripts[l]->openFails = true;
        scripts[l]->openReason = absent;
      }
      configs.push_back(*instruments::ParseInstrument("fake label=" + l).config);
    }
    monitor->SetInstrumentBackend([b = backend] { return b; });
    instruments::BenchOptions o;
    o.clock = &clock;
    o.retry = retry;
    monitor->AddBench(std::make_unique<instruments::Bench>(backend, configs, o));
  }
  void StartScan() { QTest::mouseClick(Child<QCheckBox>("ContinuousScan"), Qt::LeftButton); }
  // Scan ticks, each followed by the event loop, until done() holds.
  bool TickUntil(const std::function<bool()>& done) {
    return WaitUntil([&] {
      scan->Advance(500);
      return done();
    });
  }
  frmInstruments* Open() {
    Click("cmdInstruments");
    return monitor->InstrumentsWindow();
  }
  static QString Cell(frmInstruments* w, const char* instrument, const char* channel, int column) {
    w->Refresh();
    QTreeWidgetItem* row = w->Row(QString::fromLatin1(instrument), QString::fromLatin1(channel));
    return row ? row->text(column) : QStringLiteral("(no row)");
  }

  StillClock clock;
  std::chrono::milliseconds retry = std::chrono::hours(1);
  std::shared_ptr<ScriptedBackend> backend = std::make_shared<ScriptedBackend>();
  std::map<std::string, std::shared_ptr<Script>> scripts;
};

TEST_F(InstrumentsWindowTest, TheButtonMovesNothingElseInTheMainWindow) {
  LoadMonitored();
  QApplication::processEvents();
  auto geometry = [&] {
    window->layout()->activate();
    std::vector<QRect> g{QRect(QPoint(), window->minimumSizeHint())};
    for (QWidget* w : window->findChildren<QWidget*>())
      if (w->isVisible() && w->objectName() != "cmdInstruments") g.push_back(w->geometry());
    return g;
  };
  const std::vector<QRect> with = geometry();
  Child<QPushButton>("cmdInstruments")->hide();
  EXPECT_EQ(geometry(), with);
}

TEST_F(InstrumentsWindowTest, ListsAnInstrumentsChannelsWithValueAndUnit) {
  LoadWithBench({"PSU"});
  frmInstruments* w = Open();
  StartScan();
  ASSERT_TRUE(TickUntil([&] { return Cell(w, "PSU", "I1", frmInstruments::kState) == "2048"; }));
  EXPECT_EQ(Cell(w, "PSU", "I1", frmInstruments::kUnit), "mA");
  EXPECT_EQ(Cell(w, "PSU", "V1", frmInstruments::kState), "15200");
  EXPECT_EQ(Cell(w, "PSU", "V1", frmInstruments::kUnit), "mV");
  EXPECT_EQ(Cell(w, "PSU", "", frmInstruments::kState), "reading: Vendor Model 1 [S/N: S1]");
  EXPECT_TRUE(w->isVisible());
}

TEST_F(InstrumentsWindowTest, AnAbsentInstrumentShowsItsReason) {
  LoadWithBench({"Load"}, "no device found");
  frmInstruments* w = Open();
  ASSERT_TRUE(WaitUntil(
      [&] { return Cell(w, "Load", "", frmInstruments::kState) == "absent: no device found"; }));
}

TEST_F(InstrumentsWindowTest, AnAbsentInstrumentIsAJournalRowWithItAsTarget) {
  LoadWithBench({"Load"}, "no device found");
  monitor::JournalModel model(monitor->Journal());
  ASSERT_TRUE(WaitUntil([&] {
    model.Sync();
    return model.rowCount() > 0;
  }));
  auto cell = [&](int column) { return model.index(0, column).data().toString(); };
  EXPECT_EQ(cell(monitor::JournalModel::kTransaction), "Instrument absent(no device found)");
  EXPECT_EQ(cell(monitor::JournalModel::kTarget), "Load");
  EXPECT_EQ(cell(monitor::JournalModel::kStatus), "absent");
  EXPECT_TRUE(sink.messages.empty());  // no box in the middle of a scan
}

TEST_F(InstrumentsWindowTest, AnInstrumentGoingAndComingBackAreJournalRows) {
  retry = std::chrono::milliseconds(0);
  LoadWithBench({"PSU"});
  scripts["PSU"]->answers.push_back(Script::Answer::kFail);
  StartScan();
  monitor::JournalModel model(monitor->Journal());
  std::vector<QString> rows;  // the instrument's rows: transaction, target, status
  ASSERT_TRUE(TickUntil([&] {
    model.Sync();
    rows.clear();
    for (int r = 0; r < model.rowCount(); ++r) {
      auto cell = [&](int c) { return model.index(r, c).data().toString(); };
      if (cell(monitor::JournalModel::kTarget) == "PSU")
        rows.push_back(cell(monitor::JournalModel::kTransaction) + " " +
                       cell(monitor::JournalModel::kStatus));
    }
    return rows.size() >= 2;
  }));
  EXPECT_EQ(rows, (std::vector<QString>{"Instrument absent(connection reset) absent",
                                        "Instrument present(Vendor Model 1 [S/N: S1]) present"}));
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(InstrumentsWindowTest, ABadEntryIsRefusedWithTheEntryAndReason) {
  LoadWithBench({"PSU"});
  frmInstruments* w = Open();
  const char* entries[] = {"scpi-pps:conn", "demo label=", "demo colour=red", ":x"};
  for (const char* entry : entries) {
    sink.Clear();
    w->findChild<QLineEdit*>(QStringLiteral("txtInstrument"))->setText(QString::fromLatin1(entry));
    QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("cmdAddInstrument")),
                      Qt::LeftButton);
    ASSERT_EQ(sink.Count(), 1u) << entry;
    const std::string expected =
        "The instrument was not added: " + instruments::ParseInstrument(entry).error + ".";
    EXPECT_EQ(sink.messages[0], expected);
    EXPECT_NE(sink.messages[0].find(std::string("'") + entry + "'"), std::string::npos);
  }
  EXPECT_EQ(monitor->InstrumentStates().size(), 1u);
}

TEST_F(InstrumentsWindowTest, AnAddedInstrumentIsListedWithTheLineThatKeepsIt) {
  LoadWithBench({"PSU"});
  scripts["GEN"] = backend->Add("GEN");
  frmInstruments* w = Open();
  w->findChild<QLineEdit*>(QStringLiteral("txtInstrument"))
      ->setText(QStringLiteral("fake:conn=x label=GEN channels=V1"));
  QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("cmdAddInstrument")), Qt::LeftButton);
  EXPECT_TRUE(sink.messages.empty());
  EXPECT_TRUE(w->findChild<QLabel*>(QStringLiteral("lblKeep"))
                  ->text()
                  .endsWith("[Instruments] section of " + QString::fromStdString(Settings::File()) +
                            ":\nGEN=fake:conn=x channels=V1"));
  StartScan();
  ASSERT_TRUE(
      TickUntil([&] { return Cell(w, "GEN", "", frmInstruments::kState).startsWith("reading"); }));
}

TEST_F(InstrumentsWindowTest, ADisabledChannelsReadingsNoLongerReachObservers) {
  LoadWithBench({"PSU"});
  RegisterLog log;
  window->Registers().AddObserver(log);
  frmInstruments* w = Open();
  StartScan();
  ASSERT_TRUE(TickUntil([&] { return Cell(w, "PSU", "I1", frmInstruments::kState) == "2048"; }));
  w->Row(QStringLiteral("PSU"), QStringLiteral("I1"))
      ->setCheckState(frmInstruments::kName, Qt::Unchecked);
  // Readings already taken by the instrument may still be on their way: from the next ones on.
  const auto delivered = [&] { return monitor->LatestReadings().size(); };
  ASSERT_EQ(delivered(), 2u);
  log.lines.clear();
  const int reads = scripts["PSU"]->reads + 2;
  ASSERT_TRUE(TickUntil([&] { return scripts["PSU"]->reads > reads; }));
  monitor->DeliverReadings();
  std::vector<std::string> measured;
  for (const std::string& l : log.lines)
    if (l.rfind("measure ", 0) == 0) measured.push_back(l);
  ASSERT_FALSE(measured.empty());
  for (const std::string& m : measured) EXPECT_EQ(m.find("current"), std::string::npos) << m;
  window->Registers().RemoveObserver(log);
}

TEST_F(InstrumentsWindowTest, ReadingsReachARecordingStartedWithRecord) {
  LoadWithBench({"PSU"});
  dialogs.answer = TempPath("bench.csv");
  Click("cmdRecord");
  ASSERT_TRUE(monitor->Recording());
  StartScan();
  ASSERT_TRUE(TickUntil([&] { return monitor->LatestReadings().size() == 2; }));
  Click("cmdRecord");
  const QByteArray csv = ReadFile(TempPath("bench.csv"));
  EXPECT_TRUE(csv.contains("measure")) << csv.toStdString();
  EXPECT_TRUE(csv.contains(",2048,")) << csv.toStdString();
  EXPECT_TRUE(csv.contains(",15200,")) << csv.toStdString();
}

// --- the instruments only observe ---

class InstrumentsObservationTest : public InstrumentsWindowTest {
 protected:
  // Read All, Write All and three scan ticks with every fifth transaction failing; with the
  // instruments, two of them are read beside it and their window is open.
  Observed Run(bool instruments) {
    if (instruments) {
      LoadWithBench({"PSU", "Load"});
      Open();
    } else {
      LoadMonitored();
    }
    Board().ClearHistory();
    sink.Clear();
    Board().FailEveryNth(5, 8);
    Click("cmdReadAll");
    Type("txtVoltDAC", "12000");
    Click("cmdWriteAll");
    StartScan();
    for (int i = 0; i < 3; ++i) {
      scan->Advance(500);
      QCoreApplication::processEvents();
    }
    StartScan();  // stopped again
    if (instruments) {
      EXPECT_TRUE(WaitUntil([&] { return monitor->LatestReadings().size() == 4; }));
    }
    return ObserveAndClose();
  }
};

TEST_F(InstrumentsObservationTest, InstrumentsLeaveTrafficAndMessagesUnchanged) {
  const Observed plain = Run(false);
  const Observed observed = Run(true);
  EXPECT_GT(plain.traffic.size(), 20u);
  EXPECT_GT(plain.messages.size(), 3u);
  EXPECT_EQ(observed.traffic, plain.traffic);
  EXPECT_EQ(observed.messages, plain.messages);
}

}  // namespace
