// The texts the plot's chart shows, read from its scene as drawn, in the chart's coordinates.
#pragma once

#include <QChart>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <algorithm>
#include <vector>

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
