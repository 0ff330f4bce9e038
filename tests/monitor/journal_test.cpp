#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>

#include "monitor/JournalModel.h"
#include "monitor/MonitorFixture.h"
#include "monitor/frmJournal.h"

namespace {

using monitor::JournalModel;

class JournalTest : public MonitorFixture {
 protected:
  monitor::frmJournal* OpenJournal() {
    LoadMonitored();
    Click("cmdJournal");
    return monitor->JournalWindow();
  }
  static QString Cell(const JournalModel* m, int row, int column) {
    return m->data(m->index(row, column)).toString();
  }
  // The newest transaction is a row of the table, wholly inside its viewport.
  bool NewestRowShown(monitor::frmJournal* w) {
    const QTableView* t = w->Table();
    const int rows = t->model()->rowCount();
    if (rows == 0 || static_cast<std::size_t>(rows) != monitor->Journal().Size()) return false;
    return t->viewport()->rect().contains(t->visualRect(t->model()->index(rows - 1, 0)));
  }
  void ScanTicks(int ticks) { scan->Advance(ticks * window->Panel()->Timer1()->Period()); }
  // Opened forty ticks into a scan, once it shows the newest row.
  monitor::frmJournal* OpenDuringAScan() {
    LoadMonitored();
    QTest::mouseClick(Child<QCheckBox>("ContinuousScan"), Qt::LeftButton);
    ScanTicks(40);
    Click("cmdJournal");
    EXPECT_TRUE(WaitUntil([&] { return NewestRowShown(monitor->JournalWindow()); }));
    return monitor->JournalWindow();
  }
};

TEST_F(JournalTest, NewestTransactionIsTheBottomRow) {
  monitor::frmJournal* w = OpenJournal();
  Click("cmdReadAll");
  w->Refresh();
  const JournalModel* m = w->Model();
  ASSERT_EQ(static_cast<std::size_t>(m->rowCount()), monitor->Journal().Size());
  ASSERT_GE(m->rowCount(), 5);
  const int last = m->rowCount() - 1;
  const std::vector<QString> row = {Cell(m, last, JournalModel::kTransaction),
                                    Cell(m, last, JournalModel::kTarget),
                                    Cell(m, last, JournalModel::kStatus)};
  EXPECT_EQ(row, (std::vector<QString>{"ReadSMBusWord_(14)", "0x67", "Communication OK"}));
}

TEST_F(JournalTest, FailuresOnlyShowsTheFailedTransactions) {
  monitor::frmJournal* w = OpenJournal();
  Board().FailNext(2, 8);
  Click("cmdReadAll");
  Click("cmdReadAll");
  QTest::mouseClick(w->findChild<QCheckBox*>(QStringLiteral("chkFailuresOnly")), Qt::LeftButton);
  Board().FailNext(1, 8);
  Click("cmdReadAll");
  w->Refresh();
  const JournalModel* m = w->Model();
  ASSERT_EQ(m->rowCount(), 3);
  for (int r = 0; r < 3; ++r) EXPECT_EQ(Cell(m, r, JournalModel::kStatus), "VB_TIMEOUT_ERROR") << r;
}

TEST_F(JournalTest, OpenedDuringAScanItShowsAndFollowsTheNewestRow) {
  monitor::frmJournal* w = OpenDuringAScan();
  for (int round = 0; round < 3; ++round) {
    ScanTicks(5);
    EXPECT_TRUE(WaitUntil([&] { return NewestRowShown(w); })) << round;
  }
}

TEST_F(JournalTest, ScrolledAwayItStaysAndBackAtTheBottomItFollows) {
  monitor::frmJournal* w = OpenDuringAScan();
  QScrollBar* bar = w->Table()->verticalScrollBar();
  bar->triggerAction(QAbstractSlider::SliderPageStepSub);
  const uint64_t top = w->Model()->Entry(w->Table()->rowAt(0)).sequence;
  ScanTicks(5);
  w->Refresh();
  QApplication::processEvents();
  EXPECT_EQ(w->Model()->Entry(w->Table()->rowAt(0)).sequence, top);
  EXPECT_FALSE(NewestRowShown(w));
  bar->triggerAction(QAbstractSlider::SliderToMaximum);
  ScanTicks(5);
  EXPECT_TRUE(WaitUntil([&] { return NewestRowShown(w); }));
}

TEST_F(JournalTest, EntriesTheJournalDropsLeaveAtTheTop) {
  recording::Journal journal(recording::SystemClock(), 10);
  JournalModel model(journal);
  auto feed = [&](int n, int32_t status) {
    for (int i = 0; i < n; ++i)
      journal.OnTransaction({recording::SystemClock().Now(), "ReadSMBusWord_", "13", 0x66, status,
                             std::chrono::microseconds(5)});
  };
  feed(6, 0);
  model.Sync();
  feed(9, 8);
  model.Sync();
  EXPECT_EQ(model.rowCount(), 10);
  EXPECT_EQ(model.Entry(0).sequence, 6u);
  EXPECT_EQ(model.Entry(9).sequence, 15u);
  model.SetFailuresOnly(true);
  feed(2, 8);
  model.Sync();
  EXPECT_EQ(model.rowCount(), 10);
  EXPECT_EQ(model.Entry(0).sequence, 8u);
}

TEST_F(JournalTest, SaveWritesTheJournalAsCsv) {
  monitor::frmJournal* w = OpenJournal();
  Click("cmdReadAll");
  dialogs.answer = TempPath("journal.csv");
  QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("cmdSave")), Qt::LeftButton);
  const QList<QByteArray> lines = ReadFile(TempPath("journal.csv")).split('\n');
  ASSERT_GE(lines.size(), 6);
  EXPECT_EQ(lines[0].trimmed().toStdString(), recording::kJournalCsvHeader);
  EXPECT_TRUE(sink.messages.empty());
}

// A journal on a clock the test moves: quiet stretches and reads at a steady rate.
class JournalRateTest : public ::testing::Test {
 protected:
  void Quiet(double seconds) {
    clock.Advance(std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(seconds)));
  }
  void Reads(int perSecond, int seconds) {
    for (int i = 0; i < perSecond * seconds; ++i) {
      clock.Advance(std::chrono::nanoseconds(std::chrono::seconds(1)) / perSecond);
      journal->OnTransaction(
          {clock.Now(), "ReadSMBusWord_", "13", 0x67, 0, std::chrono::microseconds(5)});
    }
  }
  QString Statistics(monitor::frmJournal& w) {
    return w.findChild<QLabel*>(QStringLiteral("lblStatistics"))->text();
  }

  ManualClock clock;
  std::unique_ptr<recording::Journal> journal;
};

TEST_F(JournalRateTest, TheRateOfTheLastTenSecondsStandsBesideTheAverage) {
  struct Case {
    const char* what;
    std::size_t capacity;
    double quietBefore;
    int perSecond, seconds;
    double quietAfter;
    const char* rates;
  };
  const Case cases[] = {
      {"a scan begun late", recording::Journal::kCapacity, 100, 10, 20, 0,
       "1.7 per second since start, 10.0 in the last 10 s"},
      {"a journal younger than the window", recording::Journal::kCapacity, 0, 10, 4, 0,
       "10.0 per second since start, 10.0 in the last 10 s"},
      {"a scan stopped 5 s ago", recording::Journal::kCapacity, 0, 10, 20, 5,
       "10.0 per second since start, 5.0 in the last 10 s"},
      {"a scan stopped 15 s ago", recording::Journal::kCapacity, 0, 10, 20, 15,
       "10.0 per second since start, 0.0 in the last 10 s"},
      {"a journal keeping 3 s", 30, 0, 10, 20, 0,
       "10.0 per second since start, 10.0 in the last 10 s"},
  };
  for (const Case& c : cases) {
    journal = std::make_unique<recording::Journal>(clock, c.capacity);
    monitor::frmJournal w(*journal, clock, recording::Variant::rk5190, nullptr);
    Quiet(c.quietBefore);
    Reads(c.perSecond, c.seconds);
    Quiet(c.quietAfter);
    w.Refresh();
    EXPECT_TRUE(Statistics(w).contains(QString::fromLatin1(c.rates)))
        << c.what << ": " << Statistics(w).toStdString();
  }
}

TEST_F(JournalRateTest, TheRecentRateFallsWhileNothingHappens) {
  journal = std::make_unique<recording::Journal>(clock);
  monitor::frmJournal w(*journal, clock, recording::Variant::rk5190, nullptr);
  Reads(10, 20);
  w.show();
  ASSERT_TRUE(Statistics(w).contains(QStringLiteral(" 10.0 in the last 10 s")));
  Quiet(15);
  w.RateTimer()->setInterval(0);  // the next tick falls due now
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Statistics(w).contains(QStringLiteral(" 0.0 in the last 10 s")); }, 20000))
      << Statistics(w).toStdString();
}

}  // namespace
