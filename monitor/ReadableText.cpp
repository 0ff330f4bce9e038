#include "monitor/ReadableText.h"

#include <QPalette>
#include <QStyleOptionViewItem>

#include "views/BitBoxes.h"

namespace monitor {

namespace {

double Contrast(const QColor& a, const QColor& b) {
  return ContrastRatio(BgrFromColor(a), BgrFromColor(b));
}

}  // namespace

QColor ReadableOn(const QColor& text, const QColor& ground) {
  if (Contrast(text, ground) >= kReadableContrast) return text;
  return ColorFromBgr(ContrastingTextColor(BgrFromColor(ground)));
}

QColor FailureColourOn(const QColor& ground) {
  const QColor dark(0xC0, 0x00, 0x00), light(0xFF, 0x80, 0x80);
  return ReadableOn(Contrast(dark, ground) >= Contrast(light, ground) ? dark : light, ground);
}

void MakeReadable(QStyleOptionViewItem& option) {
  const bool selected = option.state & QStyle::State_Selected;
  for (const QPalette::ColorGroup group :
       {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    QPalette& p = option.palette;
    if (selected) {
      p.setColor(group, QPalette::HighlightedText,
                 ReadableOn(p.color(group, QPalette::HighlightedText),
                            p.color(group, QPalette::Highlight)));
    } else {
      const QColor ground = option.backgroundBrush.style() != Qt::NoBrush
                                ? option.backgroundBrush.color()
                            : option.features & QStyleOptionViewItem::Alternate
                                ? p.color(group, QPalette::AlternateBase)
                                : p.color(group, QPalette::Base);
      p.setColor(group, QPalette::Text, ReadableOn(p.color(group, QPalette::Text), ground));
    }
  }
}

void ReadableItemDelegate::initStyleOption(QStyleOptionViewItem* option,
                                           const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  MakeReadable(*option);
}

}  // namespace monitor
