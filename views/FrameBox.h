// A group box frame around register views that repaints from a kept picture of itself. Every
// scan tick repaints the areas of the views and entries inside it, and the frame beneath them
// with them: its title text and style drawing cost more than the views' own painting.
#pragma once

#include <QGroupBox>
#include <QString>

#include "views/BitBoxes.h"

class FrameBox : public QGroupBox, private PictureCache::Owner {
  Q_OBJECT
 public:
  explicit FrameBox(const QString& title, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  // A checkable frame changes its look under the mouse: it paints for real.
  bool Cacheable() const override { return !isCheckable(); }
  PictureCache::Key CacheKey() const override;
  QColor Ground() const override;

  PictureCache cache_{this, this};
};
