// A label that reports a left click (the bus-mode label of the main window).
#pragma once

#include <QLabel>
#include <QMouseEvent>

class ClickableLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton) {
      e->accept();
      return;
    }
    QLabel::mousePressEvent(e);
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) {
      e->accept();
      emit clicked();
      return;
    }
    QLabel::mouseReleaseEvent(e);
  }
};
