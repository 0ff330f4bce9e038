// The plot's chart as the user first sees it. Runs offscreen with the rest of the suite; ctest
// also runs it on a real X server (Xvfb, xcb, tests/support/under-xvfb.sh), where the chart
// once kept the layout of a 100x30 viewport until the window was resized.
#include <gtest/gtest.h>

#include <QChart>
#include <QChartView>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "monitor/MonitorFixture.h"
#include "monitor/frmPlot.h"

namespace {

using monitor::frmPlot;

struct Text {
  QString text;
  QRectF at;  // in the chart's coordinates
};

std::vector<Text> TextsOf(QChart* chart) {
  std::vector<Text> texts;
  for (QGraphicsItem* item : chart->scene()->items()) {
    auto* t = dynamic_cast<QGraphicsTextItem*>(item);
    if (!t || !t->isVisible() || t->toPlainText().isEmpty()) continue;
    texts.push_back({t->toPlainText(), chart->mapFromScene(t->sceneBoundingRect()).boundingRect()});
  }
  return texts;
}

// What is wrong with the chart's layout, or "" when nothing is: the plot area takes most of the
// width, the time labels spread along its bottom, and no two texts overlap.
std::string LayoutFault(QChart* chart) {
  std::ostringstream fault;
  const QRectF area = chart->plotArea();
  if (area.width() < 0.7 * chart->size().width())
    fault << "plot area " << area.width() << " of " << chart->size().width() << " px wide; ";
  const std::vector<Text> texts = TextsOf(chart);
  double first = area.right(), last = area.left();
  int below = 0;
  for (const Text& t : texts) {
    const double x = t.at.center().x();
    if (t.at.top() >= area.bottom() - 2 && x >= area.left() - 1 && x <= area.right() + 1 &&
        t.at.height() < 40) {
      ++below;
      first = std::min(first, x);
      last = std::max(last, x);
    }
  }
  if (below < 3 || last - first < 0.5 * area.width())
    fault << below << " time labels over " << std::max(0.0, last - first) << " of "
          << area.width() << " px; ";
  // A text item's box has a few pixels of margin around the glyphs.
  const auto glyphs = [](const Text& t) { return t.at.adjusted(4, 4, -4, -4); };
  for (std::size_t i = 0; i < texts.size(); ++i)
    for (std::size_t j = i + 1; j < texts.size(); ++j)
      if (glyphs(texts[i]).intersects(glyphs(texts[j])))
        fault << '"' << texts[i].text.toStdString() << "\" overlaps \""
              << texts[j].text.toStdString() << "\"; ";
  return fault.str();
}

class PlotFirstLayoutTest : public MonitorFixture {};

TEST_F(PlotFirstLayoutTest, PlotOpenedAfterReadsLaysOutItsChartAtOnce) {
  if (std::getenv("KORVO_NO_XVFB")) GTEST_SKIP() << "xvfb-run is absent";
  // As a user: Read All, then "Plot...".
  LoadMonitored();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  Click("cmdReadAll");
  Click("cmdPlot");
  frmPlot* plot = monitor->Plot();
  ASSERT_TRUE(plot);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(plot));
  QChart* chart = plot->findChild<QChartView*>(QStringLiteral("chartView"))->chart();
  WaitUntil([&] { return LayoutFault(chart).empty(); });
  EXPECT_EQ(LayoutFault(chart), "") << "on " << QGuiApplication::platformName().toStdString();
}

}  // namespace
