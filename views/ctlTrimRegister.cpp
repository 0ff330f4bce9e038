#include "views/ctlTrimRegister.h"

#include <QFont>
#include <QFontMetrics>
#include <algorithm>
#include <QStringList>

#include "foundation/Messages.h"
#include "views/Twips.h"

namespace {
// The colour strip over a bit box: one pixel high at 96 dpi, too low for its caption, of which
// only a sliver of glyphs would show. It keeps the caption but paints its colour alone.
class Strip : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent*) override {}  // the background fills itself (autoFillBackground)
};

constexpr qreal kNamePoints = 7.0;
// The smallest size a name shrinks to at its full width: below it, glyphs lose their shapes.
constexpr qreal kReadableNamePoints = 6.0;
// The smallest size a name shrinks to, semi-condensed, when no readable size fits (a name
// given by the settings file).
constexpr qreal kSmallestNamePoints = 5.5;
constexpr int32_t kDefaultUnknown = 0xCFCFCF;
constexpr int32_t kDefaultHi = 0x8080FF;  // red 255, green 128, blue 128
constexpr int32_t kDefaultLo = 0x7FBF00;  // red 0, green 191, blue 127
constexpr int32_t kDefaultBitWidth = 600;
constexpr int32_t kDefaultBitLabelHeight = 240;
}  // namespace

ctlTrimRegister::ctlTrimRegister(QWidget* parent) : QWidget(parent) {
  QFont f = font();
  f.setPointSize(8);
  setFont(f);
  QFont small = f;
  small.setPointSizeF(kNamePoints);

  for (int i = 0; i < kBits; ++i) {
    auto* cell = new QLabel(this);
    cell->setObjectName(QStringLiteral("lblBitLabel%1").arg(i));
    cell->setFont(small);
    cell->setWordWrap(true);
    cell->setMargin(1);  // wrapped lines keep clear of the frame
    cell->setAlignment(Qt::AlignCenter);
    cell->setFrameShape(QFrame::Box);
    cells_[i] = cell;

    auto* strip = new Strip(QStringLiteral("B%1").arg(i), this);
    strip->setObjectName(QStringLiteral("lblBit%1").arg(i));
    strips_[i] = strip;

    strip_[i].height = kStripHeight;
    box_[i].height = kBoxHeight;
  }
  boxes_ = new BitBoxes(this);
  connect(boxes_, &BitBoxes::Change, this, &ctlTrimRegister::Change);

  colors_.unknown = kDefaultUnknown;
  colors_.hi = kDefaultHi;
  colors_.lo = kDefaultLo;
  SetValue(std::nullopt);
  SetBitWidth(kDefaultBitWidth);
  SetBitLabelHeight(kDefaultBitLabelHeight);
}

void ctlTrimRegister::SetValue(std::optional<int32_t> v) {
  boxes_->SetValue(v, [this](int bit, BitState s) {
    const int32_t c = colors_.For(s);
    PaintBackground(strips_[bit], c);
    PaintBackground(cells_[bit], c);
  });
}

QString ctlTrimRegister::BitDescription() const {
  QStringList names;
  for (int i = kBits - 1; i >= 0; --i) names << cells_[i]->text();
  return names.join(QLatin1Char('|'));
}

void ctlTrimRegister::SetBitDescription(const QString& text) {
  if (text.isEmpty()) return;
  const QStringList parts = text.split(QLatin1Char('|'));
  if (parts.size() == 1) return;
  if (parts.size() != kBits) {
    MsgBox("Check bitdesc string");
    return;
  }
  for (int k = 0; k < kBits; ++k) {
    const int bit = kBits - 1 - k;
    cells_[bit]->setText(parts[k]);
    FitName(bit);
    const QString tip = BitToolTip(bit, parts[k]);
    for (QWidget* w : {static_cast<QWidget*>(cells_[bit]), static_cast<QWidget*>(strips_[bit]),
                       static_cast<QWidget*>(boxes_->Box(bit))})
      w->setToolTip(tip);
  }
}

void ctlTrimRegister::SetBitWidth(int32_t w) {
  width_ = w;
  const int left15 = box_[15].left;
  for (int i = kBits - 1; i >= 0; --i) {
    box_[i].width = strip_[i].width = cell_[i].width = w;
    if (i < 15) box_[i].left = strip_[i].left = cell_[i].left = left15 + (15 - i) * w;
  }
  controlWidth_ = box_[0].left + box_[0].width;
  Place();
}

void ctlTrimRegister::SetBitLabelHeight(int32_t h) {
  labelHeight_ = h;
  const int t = cell_[0].top + h;
  for (int i = 0; i < kBits; ++i) {
    cell_[i].height = h;
    strip_[i].top = t;
    box_[i].top = t + strip_[0].height;
  }
  controlHeight_ = box_[0].top + box_[0].height;
  Place();
}

bool ctlTrimRegister::NameFits(const QLabel* cell, const QFont& font) {
  // Measured as the label paints: on its own device, by the ink of each word (a glyph's
  // bearings can reach past its advance, as the "v" of "Bat_lowv" does).
  const QFontMetrics fm(font, cell);
  const int m = cell->margin();
  const QRect area = cell->contentsRect().adjusted(m, m, -m, -m);  // where the label lays out text
  for (const QString& word : cell->text().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    if (std::max(fm.horizontalAdvance(word), fm.boundingRect(word).width()) > area.width())
      return false;
  }
  return fm.boundingRect(area, Qt::TextWordWrap | Qt::AlignCenter, cell->text()).height() <=
         area.height();
}

void ctlTrimRegister::FitName(int bit) {
  // The cells wrap at blanks only: a word wider than its cell would be cut, so the name is
  // set a little smaller until every word fits; at each size a semi-condensed face is tried
  // before a smaller one, which keeps a long word ("Bat_lowv") at a readable size.
  QLabel* cell = cells_[bit];
  QFont f = cell->font();
  bool fits = false;
  for (qreal pt = kNamePoints; pt >= kSmallestNamePoints && !fits; pt -= 0.25) {
    f.setPointSizeF(pt);
    for (int stretch : {int(QFont::Unstretched), int(QFont::SemiCondensed)}) {
      if (pt < kReadableNamePoints && stretch == QFont::Unstretched) continue;
      f.setStretch(stretch);
      if ((fits = NameFits(cell, f))) break;
    }
  }
  if (f != cell->font()) cell->setFont(f);
}

QSize ctlTrimRegister::sizeHint() const {
  return QSize(Twips::ToPxX(this, controlWidth_), Twips::ToPxY(this, controlHeight_));
}

void ctlTrimRegister::Place() {
  auto px = [this](const TwipsRect& r) {
    return Twips::ToRect(this, r.left, r.top, r.width, r.height);
  };
  for (int i = 0; i < kBits; ++i) {
    cells_[i]->setGeometry(px(cell_[i]));
    strips_[i]->setGeometry(px(strip_[i]));
    boxes_->Box(i)->setGeometry(px(box_[i]));
    FitName(i);
  }
  setFixedSize(sizeHint());
}
