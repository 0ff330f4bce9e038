#include "views/KeptLineEdit.h"

#include <QEvent>
#include <QPaintEvent>

namespace {

// Whether two palettes differ at most in the entry's ground and text, which are in the key.
bool SameButBaseAndText(QPalette a, QPalette b) {
  for (QPalette* p : {&a, &b}) {
    p->setBrush(QPalette::Base, Qt::white);
    p->setBrush(QPalette::Text, Qt::black);
  }
  return a == b;
}

}  // namespace

KeptLineEdit::KeptLineEdit(QWidget* parent) : QLineEdit(parent), kept_(palette()) {
  // A picture of a new look is rendered as soon as the text changes, ahead of the repaint: a
  // picture rendered after the repaint would show the next tick's text instead.
  connect(this, &QLineEdit::textChanged, this, [this] { cache_.Prepare(); });
  connect(this, &QLineEdit::selectionChanged, this, [this] { cache_.Prepare(); });
}

void KeptLineEdit::changeEvent(QEvent* e) {
  // Font, style, enabled state, window activation or other colours: the pictures may be stale.
  // An entry that turns red while out of range and back keeps both looks.
  if (e->type() != QEvent::PaletteChange || !SameButBaseAndText(palette(), kept_)) cache_.Clear();
  kept_ = palette();
  QLineEdit::changeEvent(e);
}

void KeptLineEdit::paintEvent(QPaintEvent* e) {
  if (!cache_.Paint(e->rect())) QLineEdit::paintEvent(e);
}
