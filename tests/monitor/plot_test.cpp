#include <gtest/gtest.h>

#include <QChartView>
#include <QImage>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QWheelEvent>

#include "monitor/MonitorFixture.h"
#include "monitor/frmPlot.h"

namespace {

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
  ReadAllAt(1);
  dialogs.answer = TempPath("plot.png");
  QTest::mouseClick(plot->findChild<QPushButton*>(QStringLiteral("cmdSaveImage")), Qt::LeftButton);
  QImage image;
  ASSERT_TRUE(image.load(TempPath("plot.png"), "PNG"));
  EXPECT_TRUE(sink.messages.empty());
}

}  // namespace
