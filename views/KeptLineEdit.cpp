#include "views/KeptLineEdit.h"

void KeptLineEdit::changeEvent(QEvent* e) {
  // Palette, font, style, enabled state or window activation: the pictures may be stale.
  cache_.Clear();
  QLineEdit::changeEvent(e);
}

void KeptLineEdit::paintEvent(QPaintEvent* e) {
  if (!cache_.Paint()) QLineEdit::paintEvent(e);
}
