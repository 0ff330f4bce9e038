#include <gtest/gtest.h>

#include <QDateTime>
#include <QImage>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>

#include "monitor/PlotFixture.h"

namespace {

using monitor::BitTimeline;
using monitor::frmPlot;

class PlotTest : public PlotFixture {
 protected:
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
    const std::vector<QString> names = LaneNames(plot);
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
  ClickButton(plot, "cmdPause");
  ReadAllAt(200);
  plot->Refresh();
  EXPECT_TRUE(plot->Paused());
  EXPECT_NEAR(plot->ViewEnd(), 100, 1e-3);
  ClickButton(plot, "cmdPause");
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
  const double end = plot->ViewEnd();
  Drag(plot);
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
  ClickButton(plot, "cmdSaveImage");
  ASSERT_EQ(dialogs.asked.size(), 1u);
  EXPECT_TRUE(dialogs.asked[0].suggested.endsWith(QStringLiteral(".png")));
  QImage image;
  ASSERT_TRUE(image.load(TempPath("plot.png"), "PNG"));
  EXPECT_GT(image.height(), 300);
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(PlotTest, WhilePausedTheButtonSaysFollowAndTheStateShows) {
  const std::vector<std::pair<const char*, std::function<void(frmPlot*)>>> pausers = {
      {"Pause clicked", [](frmPlot* plot) { ClickButton(plot, "cmdPause"); }},
      {"dragged", [](frmPlot* plot) { Drag(plot); }},
  };
  for (const auto& [how, pause] : pausers) {
    frmPlot* plot = OpenPlot();
    ReadAllAt(120);
    plot->Refresh();
    EXPECT_EQ(Text(plot, "cmdPause"), "Pause") << how;
    pause(plot);
    ASSERT_TRUE(plot->Paused()) << how;
    EXPECT_EQ(Text(plot, "cmdPause"), "Follow") << how;
    EXPECT_EQ(Text(plot, "lblState"), "Paused") << how;
    ClickButton(plot, "cmdPause");
    EXPECT_FALSE(plot->Paused()) << how;
    EXPECT_EQ(Text(plot, "cmdPause"), "Pause") << how;
    EXPECT_EQ(Text(plot, "lblState"), "") << how;
    Close();
    window.reset();
  }
}

TEST_F(PlotTest, TimeLabelsFallOnRoundStepsAtEveryZoom) {
  frmPlot* plot = OpenPlot();
  ReadAllAt(100);
  // Zoom factors from the last view, and whether to drag it by an odd amount first.
  for (const auto& [factor, drag] : std::vector<std::pair<double, bool>>{
           {1, false}, {0.8, false}, {0.8 * 0.8 * 0.8, false}, {0.8, true}, {0.3, true},
           {0.01, false}, {300, true}}) {
    if (drag) Drag(plot);
    plot->Zoom(factor);
    QCoreApplication::processEvents();
    const auto labels = TimeLabelsOf(ChartOf(plot));
    const std::string view = std::to_string(plot->ViewStart()) + ".." +
                             std::to_string(plot->ViewEnd());
    ASSERT_GE(labels.size(), 3u) << view;
    std::vector<double> values;
    for (const ChartText& l : labels) values.push_back(l.text.toDouble());
    const double step = values[1] - values[0];
    const double power = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    const double mantissa = step / power;
    EXPECT_TRUE(std::abs(mantissa - 1) < 1e-6 || std::abs(mantissa - 2) < 1e-6 ||
                std::abs(mantissa - 5) < 1e-6)
        << "step " << step << " in " << view;
    for (std::size_t i = 0; i < values.size(); ++i) {
      EXPECT_NEAR(values[i] / step, std::round(values[i] / step), 1e-6)
          << labels[i].text.toStdString() << " in " << view;
      if (i > 0) {
        EXPECT_NEAR(values[i] - values[i - 1], step, 1e-6) << view;
      }
    }
  }
}

TEST_F(PlotTest, ReadoutGivesTheWallClockTimeAtThePointer) {
  frmPlot* plot = OpenPlot();
  // The history's wall-clock start; a later change of the system clock does not move it.
  const QDateTime wallStart = QDateTime::fromMSecsSinceEpoch(
      std::chrono::duration_cast<std::chrono::milliseconds>(clock.WallNow().time_since_epoch())
          .count());
  ReadAllAt(10);
  clock.SetWall(clock.WallNow() + std::chrono::hours(5));
  Board().Poke(RegisterTable::kChargeVoltage, 12000);
  ReadAllAt(20);
  plot->Refresh();
  for (const auto& [t, voltage] : std::vector<std::pair<double, const char*>>{
           {12.5, "16800 mV"}, {25.25, "12000 mV"}}) {
    Hover(plot, t);
    const QString readout = Text(plot, "lblReadout");
    const QString wall =
        wallStart.addMSecs(static_cast<qint64>(t * 1000)).toString(QStringLiteral("HH:mm:ss"));
    EXPECT_TRUE(readout.contains(wall)) << readout.toStdString() << " lacks " << wall.toStdString();
    EXPECT_TRUE(readout.contains(QLatin1String(voltage)))
        << readout.toStdString() << " lacks " << voltage;
  }
}

}  // namespace
