// The plot's chart view, with what the plot draws over the chart: cursors and event marks.
#pragma once

#include <QChartView>
#include <functional>

namespace monitor {

class PlotChartView : public QChartView {
 public:
  using QChartView::QChartView;
  // Paints over the chart, in the chart's coordinates.
  std::function<void(QPainter*)> overlay;

 protected:
  void drawForeground(QPainter* painter, const QRectF& rect) override {
    QChartView::drawForeground(painter, rect);
    if (overlay) overlay(painter);
  }
};

}  // namespace monitor
