// Window layouts are designed in twips (1/1440 inch); these turn them into pixels for the
// widget's logical DPI (15 twips per pixel at 96 dpi).
#pragma once

#include <QRect>
#include <QWidget>
#include <QtMath>

namespace Twips {

inline int ToPxX(const QWidget* w, int twips) { return qRound(twips * w->logicalDpiX() / 1440.0); }
inline int ToPxY(const QWidget* w, int twips) { return qRound(twips * w->logicalDpiY() / 1440.0); }
// Left and top are rounded on their own so that neighbouring cells line up exactly.
inline QRect ToRect(const QWidget* w, int left, int top, int width, int height) {
  const int x = ToPxX(w, left);
  const int y = ToPxY(w, top);
  return QRect(x, y, ToPxX(w, left + width) - x, ToPxY(w, top + height) - y);
}

}  // namespace Twips
