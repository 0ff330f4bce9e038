// The plot's chart as the user first sees it. Runs offscreen with the rest of the suite; ctest
// also runs it on a real X server (Xvfb, xcb, tests/support/under-xvfb.sh), where the chart
// once kept the layout of a 100x30 viewport until the window was resized.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "monitor/PlotFixture.h"

namespace {

using monitor::frmPlot;

// What is wrong with the chart's layout, or "" when nothing is: the plot area takes most of the
// width, the time labels spread along its bottom, and no two texts overlap.
std::string LayoutFault(QChart* chart) {
  std::ostringstream fault;
  const QRectF area = chart->plotArea();
  if (area.width() < 0.7 * chart->size().width())
    fault << "plot area " << area.width() << " of " << chart->size().width() << " px wide; ";
  const std::vector<ChartText> texts = TextsOf(chart);
  const std::vector<ChartText> labels = TimeLabelsOf(chart);
  const double spread =
      labels.empty() ? 0 : labels.back().at.center().x() - labels.front().at.center().x();
  if (labels.size() < 3 || spread < 0.5 * area.width())
    fault << labels.size() << " time labels over " << spread << " of " << area.width()
          << " px; ";
  // A text item's box has a few pixels of margin around the glyphs.
  const auto glyphs = [](const ChartText& t) { return t.at.adjusted(4, 4, -4, -4); };
  for (std::size_t i = 0; i < texts.size(); ++i)
    for (std::size_t j = i + 1; j < texts.size(); ++j)
      if (glyphs(texts[i]).intersects(glyphs(texts[j])))
        fault << '"' << texts[i].text.toStdString() << "\" overlaps \""
              << texts[j].text.toStdString() << "\"; ";
  return fault.str();
}

class PlotFirstLayoutTest : public PlotFixture {};

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
  QChart* chart = ChartOf(plot);
  WaitUntil([&] { return LayoutFault(chart).empty(); });
  EXPECT_EQ(LayoutFault(chart), "") << "on " << QGuiApplication::platformName().toStdString();
}

// In a larger desktop font, and in the shortest window the plot allows (what "Save image..."
// saves is the same chart).
class PlotTextsFitTest : public PlotFixture {};

TEST_F(PlotTextsFitTest, NoTextOfTheChartIsCutOffAtAnyFontOrHeight) {
  const QFont original = QApplication::font();
  for (const int points : {9, 12, 16}) {
    for (const bool shortest : {false, true}) {
      QFont font = original;
      font.setPointSize(points);
      QApplication::setFont(font);
      LoadMonitored();
      Click("cmdReadAll");
      Click("cmdPlot");
      frmPlot* plot = monitor->Plot();
      if (shortest) plot->resize(plot->width(), 1);  // held at its minimum height
      QChart* chart = ChartOf(plot);
      WaitUntil([&] { return TimeLabelsOf(chart).size() >= 3; });
      const QRectF inside = QRectF(QPointF(0, 0), chart->size());
      for (const ChartText& t : TextsOf(chart)) {
        EXPECT_TRUE(inside.contains(t.at.adjusted(2, 2, -2, -2)))
            << '"' << t.text.toStdString() << "\" at " << t.at.top() << ".." << t.at.bottom()
            << " of " << inside.height() << ", " << points << " pt"
            << (shortest ? ", shortest" : "");
      }
      Close();
      window.reset();
    }
  }
  QApplication::setFont(original);
}

}  // namespace
