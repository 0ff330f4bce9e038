#include <gtest/gtest.h>

#include <QChartView>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>

#include "monitor/BitTimeline.h"
#include "monitor/MonitorFixture.h"
#include "monitor/frmPlot.h"

namespace {

using monitor::BitTimeline;
using monitor::frmPlot;

class PlotTest : public MonitorFixture {
 protected:
  frmPlot* OpenPlot(const std::string& args = "") {
    LoadMonitored("", args, &clock);
    Click("cmdPlot");
    return monitor->Plot();
  }
  // Read All at `seconds` after the program started.
  void ReadAllAt(double seconds) {
    clock.Advance(start +
                  std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::duration<double>(seconds)) -
                  clock.Now());
    Click("cmdReadAll");
  }
  std::size_t Lane(const frmPlot* plot, const char* name) {
    const auto& lanes = plot->Timeline()->Lanes();
    for (std::size_t i = 0; i < lanes.size(); ++i)
      if (lanes[i].name == QLatin1String(name)) return i;
    ADD_FAILURE() << "no lane " << name;
    return 0;
  }
  std::size_t ColumnAt(frmPlot* plot, double seconds) {
    const double fraction = (seconds - plot->ViewStart()) / (plot->ViewEnd() - plot->ViewStart());
    return static_cast<std::size_t>(fraction * static_cast<double>(plot->Timeline()->Columns()));
  }
  QWidget* ChartArea(frmPlot* plot) {
    return plot->findChild<QChartView*>(QStringLiteral("chartView"))->viewport();
  }

  ManualClock clock;
  const recording::MonoTime start = clock.Now();  // when the plot's time axis starts
};

TEST_F(PlotTest, AFailedReadIsAGapInTheLineNotAZero) {
  frmPlot* plot = OpenPlot();
  ReadAllAt(1);
  Board().FailNext(5, 8);
  ReadAllAt(2);
  ReadAllAt(3);
  plot->Refresh();
  const auto runs = plot->DrawnRuns(0x15);
  ASSERT_EQ(runs.size(), 2u);
  for (const auto& run : runs) {
    ASSERT_EQ(run.size(), 1u);
    EXPECT_EQ(run[0].v, 16800);
  }
  EXPECT_NEAR(runs[1][0].t, 3.0, 1e-6);
}

TEST_F(PlotTest, TheTimelineHasALaneForEveryNamedBitOfTheVariant) {
  for (const auto& [args, has, hasNot] :
       std::vector<std::tuple<std::string, std::vector<QString>, QString>>{
           {"", {"ACDET", "AC<BT", "InhibCHG", "CHGEND", "BATDP2"}, "BHOT"},
           {"rk5191", {"ACDET", "BCOLD", "BHOT", "BDET", "LEARN"}, "RSVD"}}) {
    frmPlot* plot = OpenPlot(args);
    std::vector<QString> names;
    for (const BitTimeline::Lane& l : plot->Timeline()->Lanes()) names.push_back(l.name);
    for (const QString& n : has)
      EXPECT_NE(std::find(names.begin(), names.end(), n), names.end()) << n.toStdString();
    EXPECT_EQ(std::find(names.begin(), names.end(), hasNot), names.end()) << args;
    EXPECT_EQ(names.size(), args.empty() ? 24u : 27u);
    Close();
    window.reset();
  }
}

TEST_F(PlotTest, LaneShowsTheBitsStateOverTime) {
  frmPlot* plot = OpenPlot();
  Board().Poke(RegisterTable::kStatus, 0x8000);
  ReadAllAt(10);
  Board().FailNext(1, 8);
  ReadAllAt(20);  // the status read fails
  Board().Poke(RegisterTable::kStatus, 0x0000);
  ReadAllAt(30);
  ReadAllAt(40);
  plot->Refresh();
  const std::size_t acdet = Lane(plot, "ACDET");
  for (const auto& [seconds, state] :
       std::vector<std::pair<double, BitTimeline::State>>{{5, BitTimeline::State::kUnknown},
                                                          {15, BitTimeline::State::kOne},
                                                          {25, BitTimeline::State::kUnknown},
                                                          {35, BitTimeline::State::kZero},
                                                          {45, BitTimeline::State::kNone}}) {
    // The range shows the first minute while less has passed.
    EXPECT_EQ(plot->Timeline()->StateAt(acdet, ColumnAt(plot, seconds)), state) << seconds;
  }
}

TEST_F(PlotTest, ItFollowsTheNewestSampleUnlessPaused) {
  frmPlot* plot = OpenPlot();
  ReadAllAt(100);
  plot->Refresh();
  EXPECT_NEAR(plot->ViewEnd(), 100, 1e-3);
  QTest::mouseClick(plot->findChild<QPushButton*>(QStringLiteral("cmdPause")), Qt::LeftButton);
  ReadAllAt(200);
  plot->Refresh();
  EXPECT_TRUE(plot->Paused());
  EXPECT_NEAR(plot->ViewEnd(), 100, 1e-3);
  QTest::mouseClick(plot->findChild<QPushButton*>(QStringLiteral("cmdPause")), Qt::LeftButton);
  EXPECT_NEAR(plot->ViewEnd(), 200, 1e-3);
}

TEST_F(PlotTest, WheelZoomsAboutTheNewestSampleWhileFollowing) {
  frmPlot* plot = OpenPlot();
  ReadAllAt(120);
  plot->Refresh();
  QWidget* area = ChartArea(plot);
  const QPointF middle(area->width() / 2.0, area->height() / 2.0);
  QWheelEvent wheel(middle, area->mapToGlobal(middle), QPoint(), QPoint(0, 120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(area, &wheel);
  EXPECT_NEAR(plot->ViewEnd() - plot->ViewStart(), 60 * 0.8, 1e-6);
  EXPECT_NEAR(plot->ViewEnd(), 120, 1e-3);
}

TEST_F(PlotTest, DraggingMovesTheTimeAxisAndPauses) {
  frmPlot* plot = OpenPlot();
  ReadAllAt(120);
  plot->Refresh();
  QWidget* area = ChartArea(plot);
  const QPointF middle(area->width() / 2.0, area->height() / 2.0);
  const double end = plot->ViewEnd();
  QMouseEvent press(QEvent::MouseButtonPress, middle, area->mapToGlobal(middle), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  const QPointF right = middle + QPointF(100, 0);
  QMouseEvent move(QEvent::MouseMove, right, area->mapToGlobal(right), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, right, area->mapToGlobal(right), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(area, &press);
  QApplication::sendEvent(area, &move);
  QApplication::sendEvent(area, &release);
  EXPECT_TRUE(plot->Paused());
  EXPECT_LT(plot->ViewEnd(), end - 1);  // dragged to the right: earlier times come into view
}

TEST_F(PlotTest, SamplesWithinATenthOfASecondShareOneRepaint) {
  frmPlot* plot = OpenPlot();
  QTimer* repaint = plot->RepaintTimer();
  ASSERT_TRUE(WaitUntil([&] { return !repaint->isActive(); }));
  EXPECT_EQ(repaint->interval(), 100);
  repaint->setInterval(3600 * 1000);  // falls due only when the test says so
  const int before = plot->RefreshCount();
  for (int i = 0; i < 60; ++i) {
    ReadAllAt(i * 0.01);
    QCoreApplication::processEvents();
  }
  EXPECT_TRUE(repaint->isActive());
  EXPECT_EQ(plot->RefreshCount(), before);
  repaint->setInterval(0);
  ASSERT_TRUE(WaitUntil([&] { return !repaint->isActive(); }));
  EXPECT_EQ(plot->RefreshCount(), before + 1);
}

TEST_F(PlotTest, SaveImageWritesAPng) {
  frmPlot* plot = OpenPlot();
  // The picture is as large as the window; on this small test screen the window opens shrunk
  // beside the main window, so it is given the size it asks for on a larger one.
  plot->resize(900, 760);
  ReadAllAt(1);
  dialogs.answer = TempPath("plot.png");
  QTest::mouseClick(plot->findChild<QPushButton*>(QStringLiteral("cmdSaveImage")), Qt::LeftButton);
  ASSERT_EQ(dialogs.asked.size(), 1u);
  EXPECT_TRUE(dialogs.asked[0].suggested.endsWith(QStringLiteral(".png")));
  QImage image;
  ASSERT_TRUE(image.load(TempPath("plot.png"), "PNG"));
  EXPECT_GT(image.height(), 300);
  EXPECT_TRUE(sink.messages.empty());
}

}  // namespace
