// The plot under the light and a dark application palette: its texts are read from the colours
// the chart, the timeline and the labels actually carry.
#include <gtest/gtest.h>

#include <QAbstractAxis>
#include <QLegend>
#include <QLineSeries>
#include <algorithm>
#include <memory>
#include <sstream>

#include "monitor/PlotFixture.h"
#include "support/gui/DarkTheme.h"
#include "views/BitBoxes.h"

namespace {

using monitor::frmPlot;

double Contrast(const QColor& a, const QColor& b) {
  return ContrastRatio(BgrFromColor(a), BgrFromColor(b));
}

// The colours a brush paints: its colour, or every stop of its gradient.
std::vector<QColor> ColoursOf(const QBrush& brush) {
  if (!brush.gradient()) return {brush.color()};
  std::vector<QColor> colours;
  for (const auto& stop : brush.gradient()->stops()) colours.push_back(stop.second);
  return colours;
}

// The lowest contrast of a colour against what a brush paints.
double Contrast(const QColor& a, const QBrush& b) {
  double lowest = 21;
  for (const QColor& c : ColoursOf(b)) lowest = std::min(lowest, Contrast(a, c));
  return lowest;
}

// The highest, for what should blend in.
double MostContrast(const QColor& a, const QBrush& b) {
  double highest = 1;
  for (const QColor& c : ColoursOf(b)) highest = std::max(highest, Contrast(a, c));
  return highest;
}

// Light; dark from the start; dark chosen while the plot is open (a desktop theme changed).
enum class Theme { kLight, kDarkBeforeOpening, kDarkWhileOpen };

class PlotPaletteTest : public PlotFixture, public ::testing::WithParamInterface<Theme> {
 protected:
  // Opens the plot after a Read All under the theme; `dark` keeps the dark palette on.
  frmPlot* OpenUnderTheme() {
    if (GetParam() == Theme::kDarkBeforeOpening) dark = std::make_unique<DarkTheme>();
    LoadMonitored();
    Click("cmdReadAll");
    frmPlot* plot = OpenPlot();
    if (GetParam() == Theme::kDarkWhileOpen) dark = std::make_unique<DarkTheme>();
    QCoreApplication::processEvents();
    plot->Refresh();
    return plot;
  }
  // The window goes before the palette it was opened under.
  void TearDown() override {
    Close();
    window.reset();
  }

  std::unique_ptr<DarkTheme> dark;
};

// Every text with its colour and the colour behind it, and their contrast, "" when all reach
// 4.5:1.
std::string LowContrastTexts(frmPlot* plot, QChart* chart) {
  std::ostringstream low;
  auto check = [&](const std::string& what, const QColor& text, const QBrush& ground) {
    const double ratio = Contrast(text, ground);
    if (ratio < 4.5)
      low << what << " " << text.name().toStdString() << " on "
          << ColoursOf(ground)[0].name().toStdString() << ": " << ratio << ":1; ";
  };
  const QBrush ground = chart->backgroundBrush();
  for (QAbstractAxis* axis : chart->axes()) {
    const std::string name = axis->titleText().toStdString();
    check(name + " labels", axis->labelsBrush().color(), ground);
    check(name + " title", axis->titleBrush().color(), ground);
  }
  const QLegend* legend = chart->legend();
  check("legend", legend->labelColor(),
        legend->isBackgroundVisible() ? legend->brush() : ground);
  const monitor::BitTimeline* timeline = plot->Timeline();
  check("bit names", timeline->palette().color(QPalette::Text),
        timeline->palette().color(QPalette::Base));
  for (const QLabel* label : plot->findChildren<QLabel*>()) {
    if (!label->isVisibleTo(plot) || label->text().isEmpty()) continue;
    const QPalette::ColorGroup group = label->isEnabled() ? QPalette::Active : QPalette::Disabled;
    check('"' + label->text().toStdString() + '"',
          label->palette().color(group, label->foregroundRole()),
          plot->palette().color(group, plot->backgroundRole()));
  }
  return low.str();
}

TEST_P(PlotPaletteTest, EveryTextReadsAtLeastFourAndAHalfToOne) {
  frmPlot* plot = OpenUnderTheme();
  EXPECT_EQ(LowContrastTexts(plot, ChartOf(plot)), "");
}

TEST_P(PlotPaletteTest, ChartGroundIsThePalettesBase) {
  frmPlot* plot = OpenUnderTheme();
  const QColor base = QApplication::palette().color(QPalette::Base);
  EXPECT_LT(MostContrast(base, ChartOf(plot)->backgroundBrush()), 1.2);
}

TEST_P(PlotPaletteTest, GridLinesAreFaintButVisibleOnTheChart) {
  QChart* chart = ChartOf(OpenUnderTheme());
  for (QAbstractAxis* axis : chart->axes()) {
    if (!axis->isGridLineVisible()) continue;
    const QColor grid = axis->gridLinePen().color();
    EXPECT_LT(MostContrast(grid, chart->backgroundBrush()), 2.0) << axis->titleText().toStdString();
    EXPECT_GT(Contrast(grid, chart->backgroundBrush()), 1.1) << axis->titleText().toStdString();
  }
}

TEST_P(PlotPaletteTest, EveryLineStandsOutThreeToOneFromTheChart) {
  QChart* chart = ChartOf(OpenUnderTheme());
  for (QAbstractSeries* s : chart->series()) {
    const QColor line = static_cast<QLineSeries*>(s)->pen().color();
    EXPECT_GE(Contrast(line, chart->backgroundBrush()), 3.0) << s->name().toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(Themes, PlotPaletteTest,
                         ::testing::Values(Theme::kLight, Theme::kDarkBeforeOpening,
                                           Theme::kDarkWhileOpen),
                         [](const auto& p) {
                           return std::string(p.param == Theme::kLight ? "Light"
                                              : p.param == Theme::kDarkBeforeOpening
                                                  ? "DarkBeforeOpening"
                                                  : "DarkWhileOpen");
                         });

}  // namespace
