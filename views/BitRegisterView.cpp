#include "views/BitRegisterView.h"

#include <algorithm>

#include "views/Twips.h"

#include <QFont>
#include <QFontMetrics>

BitRegisterView::BitRegisterView(QWidget* parent, int labelRows)
    : QWidget(parent), labelRows_(labelRows) {
  QFont f = font();
  f.setPointSize(8);
  setFont(f);
  labels_.resize(static_cast<size_t>(16 * labelRows), nullptr);
  for (int i = 0; i < 16; ++i) AddLabel(i, QStringLiteral("B%1").arg(i));
  boxes_ = new BitBoxes(this, &canvas_);
  connect(boxes_, &BitBoxes::Change, this, &BitRegisterView::Change);
  for (int i = 0; i < 16; ++i) SetBitName(i, QString());
}

void BitRegisterView::SetBitName(int bit, const QString& name) {
  const QString tip = BitToolTip(bit, name);
  boxes_->Box(bit)->setToolTip(tip);
  for (int row = 0; row < labelRows_; ++row) {
    if (QLabel* l = labels_.at(static_cast<size_t>(bit + 16 * row))) l->setToolTip(tip);
  }
}

QLabel* BitRegisterView::AddLabel(int index, const QString& caption) {
  auto* l = new BitCell(caption, this);
  canvas_.Adopt(l, l->Pictures());
  l->setObjectName(QStringLiteral("lblBit%1").arg(index));
  l->setAlignment(Qt::AlignCenter);
  l->setFrameShape(QFrame::Box);
  PaintBackground(l, colors_.unknown);
  labels_.at(static_cast<size_t>(index)) = l;
  return l;
}

void BitRegisterView::SetContentSize(QSize s) {
  size_ = s;
  setFixedSize(s);
}

int BitRegisterView::BoxHeight(int designTwips) const {
  return std::max(Twips::ToPxY(this, designTwips), fontMetrics().height() + 4);
}

void BitRegisterView::SetValue(std::optional<int32_t> v) {
  boxes_->SetValue(v, [this](int bit, BitState s) {
    const int32_t c = colors_.For(s);
    for (int row = 0; row < labelRows_; ++row) PaintBackground(labels_[bit + 16 * row], c);
  });
}
