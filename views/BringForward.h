// Shows a window that may be hidden or behind others, in front and with the focus: what a second
// click on the button that opened a non-modal window does. The first time, the window is placed
// beside its owner and on the screen (views/WindowPlacement.h).
#pragma once

#include <QWidget>

#include "views/WindowPlacement.h"

inline void BringForward(QWidget& window) {
  WindowPlacement::PlaceOnFirstShow(window);
  window.show();
  window.raise();
  window.activateWindow();
}
