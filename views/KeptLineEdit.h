// A text entry that repaints from a few kept pictures of itself while it has neither the focus
// nor the mouse. The scan rewrites the value and hex entries of the main window on every tick,
// mostly with a text they showed a moment before, and the style's drawing of an entry costs
// more than all the bit cells of a register.
#pragma once

#include <QLineEdit>
#include <QPalette>

#include "views/BitBoxes.h"

class KeptLineEdit : public QLineEdit, private PictureCache::Owner {
  Q_OBJECT
 public:
  explicit KeptLineEdit(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  bool Cacheable() const override { return !hasFocus() && !underMouse(); }
  PictureCache::Key CacheKey() const override { return LineEditKey(*this); }

  PictureCache cache_{this, this};
  QPalette kept_;  // the palette the pictures were painted with
};
