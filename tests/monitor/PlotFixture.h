// The plot opened from a monitored main window on a clock the test moves, the mouse on its
// chart as a user moves it, and the texts the chart shows.
#pragma once

#include <QAction>
#include <QChart>
#include <QChartView>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <algorithm>
#include <vector>

#include "monitor/BitTimeline.h"
#include "monitor/MonitorFixture.h"
#include "monitor/frmPlot.h"

// The texts the plot's chart shows, read from its scene as drawn, in the chart's coordinates.
struct ChartText {
  QString text;
  QRectF at;
};

inline std::vector<ChartText> TextsOf(QChart* chart) {
  std::vector<ChartText> texts;
  for (QGraphicsItem* item : chart->scene()->items()) {
    auto* t = dynamic_cast<QGraphicsTextItem*>(item);
    if (!t || !t->isVisible() || t->toPlainText().isEmpty()) continue;
    texts.push_back({t->toPlainText(), chart->mapFromScene(t->sceneBoundingRect()).boundingRect()});
  }
  return texts;
}

// The labels of the time axis: one line of texts just below the plot area, left to right.
inline std::vector<ChartText> TimeLabelsOf(QChart* chart) {
  const QRectF area = chart->plotArea();
  std::vector<ChartText> labels;
  for (const ChartText& t : TextsOf(chart)) {
    const double x = t.at.center().x();
    if (t.at.top() >= area.bottom() - 2 && t.at.top() <= area.bottom() + 12 &&
        x >= area.left() - 1 && x <= area.right() + 1)
      labels.push_back(t);
  }
  std::sort(labels.begin(), labels.end(),
            [](const ChartText& a, const ChartText& b) { return a.at.left() < b.at.left(); });
  return labels;
}

class PlotFixture : public MonitorFixture {
 protected:
  monitor::frmPlot* OpenPlot(const std::string& args = "") {
    if (!window) LoadMonitored("", args, &clock);
    Click("cmdPlot");
    monitor::frmPlot* plot = monitor->Plot();
    plot->Refresh();
    return plot;
  }
  // Moves the clock to `seconds` after the plot's time axis starts.
  void At(double seconds) {
    using namespace std::chrono;
    clock.Advance(start + duration_cast<nanoseconds>(duration<double>(seconds)) - clock.Now());
  }
  void ReadAllAt(double seconds) {
    At(seconds);
    Click("cmdReadAll");
  }
  void Measure(double seconds, double mA) {
    At(seconds);
    window->Registers().NotifyInstrumentReading(
        {clock.Now(), "PSU", "I1", "PSU CH1 current", "current", "mA", mA});
  }
  static QChartView* ViewOf(monitor::frmPlot* plot) {
    return plot->findChild<QChartView*>(QStringLiteral("chartView"));
  }
  static QWidget* ChartArea(monitor::frmPlot* plot) { return ViewOf(plot)->viewport(); }
  static QChart* ChartOf(monitor::frmPlot* plot) { return ViewOf(plot)->chart(); }
  // Where the time t (seconds) lies on the chart, halfway up.
  static QPointF PointAt(monitor::frmPlot* plot, double t) {
    const QRectF area = ChartOf(plot)->plotArea();
    return {area.left() + (t - plot->ViewStart()) / (plot->ViewEnd() - plot->ViewStart()) * area.width(),
            area.center().y()};
  }
  static void Mouse(monitor::frmPlot* plot, QEvent::Type type, QPointF at, Qt::MouseButton button,
                    Qt::MouseButtons held) {
    QWidget* area = ChartArea(plot);
    QMouseEvent e(type, at, area->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(area, &e);
  }
  static void ClickAt(monitor::frmPlot* plot, QPointF at) {
    Mouse(plot, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    Mouse(plot, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
  }
  static void Drag(monitor::frmPlot* plot, QPointF from, QPointF to) {
    Mouse(plot, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    Mouse(plot, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    Mouse(plot, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
  }
  // Drags the chart 100 px to the right from its middle.
  static void Drag(monitor::frmPlot* plot) {
    const QPointF from(ChartArea(plot)->width() / 2.0, ChartArea(plot)->height() / 2.0);
    Drag(plot, from, from + QPointF(100, 0));
  }
  // Moves the pointer, no button held, over the time t (seconds).
  static void Hover(monitor::frmPlot* plot, double t) {
    Mouse(plot, QEvent::MouseMove, PointAt(plot, t), Qt::NoButton, Qt::NoButton);
  }
  static void ClickButton(monitor::frmPlot* plot, const char* name) {
    QTest::mouseClick(plot->findChild<QPushButton*>(QLatin1String(name)), Qt::LeftButton);
  }
  static void Choose(monitor::frmPlot* plot, const QString& key, bool on) {
    QAction* a = plot->findChild<QAction*>(QStringLiteral("lane:") + key);
    ASSERT_NE(a, nullptr) << key.toStdString();
    a->setChecked(on);
  }
  static std::vector<QString> LaneNames(monitor::frmPlot* plot) {
    std::vector<QString> names;
    for (const monitor::BitTimeline::Lane& l : plot->Timeline()->Lanes()) names.push_back(l.name);
    return names;
  }
  // A button's caption, or a label's text while it shows.
  static QString Text(monitor::frmPlot* plot, const char* name) {
    if (auto* b = plot->findChild<QPushButton*>(QLatin1String(name))) return b->text();
    if (auto* l = plot->findChild<QLabel*>(QLatin1String(name)))
      return l->isVisibleTo(plot) ? l->text() : QString();
    ADD_FAILURE() << "no " << name;
    return {};
  }

  ManualClock clock;
  const recording::MonoTime start = clock.Now();  // when the plot's time axis starts
};
