#include "views/FrameBox.h"

#include <QEvent>
#include <QPaintEvent>

FrameBox::FrameBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

PictureCache::Key FrameBox::CacheKey() const {
  return {
      title(), static_cast<QRgb>(alignment()), static_cast<QRgb>(isFlat()), isEnabled(), hasFocus(),
      size()};
}

QColor FrameBox::Ground() const {
  // What lies beneath the frame is its window's background when nothing between fills its own:
  // then the picture starts as that colour, is opaque, and is copied rather than blended (a
  // scan tick repaints the frame beneath every view in it).
  const QBrush& brush = palette().brush(QPalette::Window);
  if (brush.style() != Qt::SolidPattern || !brush.isOpaque()) return Qt::transparent;
  for (const QWidget* w = parentWidget(); w; w = w->parentWidget()) {
    if (w->isWindow())
      return w->palette().brush(w->backgroundRole()) == brush ? brush.color() : Qt::transparent;
    if (w->autoFillBackground()) return Qt::transparent;
  }
  return Qt::transparent;
}

void FrameBox::changeEvent(QEvent* e) {
  // Palette, font, style, enabled state or window activation: the pictures may be stale.
  cache_.Clear();
  QGroupBox::changeEvent(e);
}

void FrameBox::paintEvent(QPaintEvent* e) {
  if (!cache_.Paint(e->rect())) QGroupBox::paintEvent(e);
}
