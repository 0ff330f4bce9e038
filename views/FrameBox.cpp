#include "views/FrameBox.h"

#include <QEvent>
#include <QPaintEvent>

FrameBox::FrameBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

PictureCache::Key FrameBox::CacheKey() const {
  return {
      title(), static_cast<QRgb>(alignment()), static_cast<QRgb>(isFlat()), isEnabled(), hasFocus(),
      size()};
}

void FrameBox::changeEvent(QEvent* e) {
  // Palette, font, style, enabled state or window activation: the pictures may be stale.
  cache_.Clear();
  QGroupBox::changeEvent(e);
}

void FrameBox::paintEvent(QPaintEvent* e) {
  if (!cache_.Paint(e->rect())) QGroupBox::paintEvent(e);
}
