// Shows a window that may be hidden or behind others, in front and with the focus: what a second
// click on the button that opened a non-modal window does.
#pragma once

#include <QWidget>

inline void BringForward(QWidget& window) {
  window.show();
  window.raise();
  window.activateWindow();
}
