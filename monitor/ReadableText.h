// Text colours that stay readable whatever the palette: at least 4.5:1 (the WCAG AA contrast
// for text) against the ground they are painted on. A dark desktop theme changes the grounds; a
// colour fixed for a light one (a red failure row, white on the selection) must follow.
#pragma once

#include <QColor>
#include <QStyledItemDelegate>

class QStyleOptionViewItem;

namespace monitor {

inline constexpr double kReadableContrast = 4.5;

// `text` where it reaches kReadableContrast on `ground`, else black or white, whichever does.
QColor ReadableOn(const QColor& text, const QColor& ground);
// The red of a failure: a dark red on a light ground, a light one on a dark ground.
QColor FailureColourOn(const QColor& ground);
// Makes the text colours of an item view cell (its own or the palette's, and the selection's)
// readable on the ground the style paints the cell on.
void MakeReadable(QStyleOptionViewItem& option);

// An item delegate whose cells' texts are readable (MakeReadable).
class ReadableItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

}  // namespace monitor
