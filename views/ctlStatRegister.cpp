#include "views/ctlStatRegister.h"

#include <QFont>
#include <QFontMetrics>
#include <algorithm>
#include <utility>

#include "registers/RegisterTable.h"
#include "foundation/Utils.h"
#include "views/Twips.h"

namespace {
const RegisterTable::Register& Status() { return *RegisterTable::Find(RegisterTable::kStatus); }

QString NameOf(int bit, RegisterTable::Variant variant = RegisterTable::Variant::rk5190) {
  const std::string_view n = RegisterTable::MainBitName(Status(), bit, variant);
  return QString::fromLatin1(n.data(), static_cast<qsizetype>(n.size()));
}
}  // namespace

ctlStatRegister::ctlStatRegister(QWidget* parent) : QWidget(parent) {
  QFont f = font();
  f.setPointSize(8);
  setFont(f);
  const QFontMetrics fm(f);
  const int rowHeight = std::max(Twips::ToPxY(this, 255), fm.height() + 4);
  const int minWidth = Twips::ToPxX(this, 495);
  auto make = [this](const QString& name, const QString& caption) {
    auto* l = new BitCell(caption, this);
    canvas_.Adopt(l, l->Pictures());
    l->setObjectName(name);
    l->setAlignment(Qt::AlignCenter);
    l->setFrameShape(QFrame::Box);
    l->setTextFormat(Qt::PlainText);  // "AC<BT" is a name, not markup
    return l;
  };
  std::array<int, 16> widths{};
  for (int i = 0; i < 16; ++i) {
    // Sized for both variants' names, so a rename never clips.
    const int w = std::max(fm.horizontalAdvance(NameOf(i)),
                           fm.horizontalAdvance(NameOf(i, RegisterTable::Variant::rk5191)));
    widths[i] = std::max(minWidth, w + 10);
  }
  int x = 0;
  for (int i = 15; i >= 0; --i) {
    numbers_[i] = make(QStringLiteral("BitLabel%1").arg(i), QStringLiteral("B%1").arg(i));
    names_[i] = make(QStringLiteral("lblBit%1").arg(i), NameOf(i));
    values_[i] = make(QStringLiteral("lblBit%1").arg(i + 16), QStringLiteral("-"));
    // Fixed sizes: a cell whose caption changes (every value cell on a scan tick) would
    // otherwise ask its parent for a new layout each time, though the view has none.
    const QSize cell(widths[i], rowHeight);
    for (auto [c, row] : {std::pair{numbers_[i], 0}, {names_[i], 1}, {values_[i], 2}}) {
      c->setFixedSize(cell);
      c->move(x, row * rowHeight);
    }
    x += widths[i];
    SetBitName(i, NameOf(i));
  }
  size_ = QSize(x, 3 * rowHeight);
  setFixedSize(size_);
  SetValue(std::nullopt);
}

void ctlStatRegister::SetValue(std::optional<int32_t> v) {
  for (int i = 0; i < 16; ++i) {
    BitState s = BitState::Unknown;
    if (v) s = Utils::IsBitSet(*v, static_cast<int16_t>(i)) ? BitState::High : BitState::Low;
    const int32_t c = colors_.For(s);
    PaintBackground(numbers_[i], c);
    PaintBackground(names_[i], c);
    PaintBackground(values_[i], c);
    const QString caption = s == BitState::Unknown ? QStringLiteral("-")
                            : s == BitState::High  ? QStringLiteral("1")
                                                   : QStringLiteral("0");
    values_[i]->SetCaption(caption);
  }
}

void ctlStatRegister::Makerk5191() {
  for (int bit = 0; bit < 16; ++bit) {
    const QString name = NameOf(bit, RegisterTable::Variant::rk5191);
    if (name != NameOf(bit)) SetBitName(bit, name);
  }
}

void ctlStatRegister::SetBitName(int bit, const QString& name) {
  names_[bit]->SetCaption(name);
  const QString tip = BitToolTip(bit, name);
  for (BitCell* cell : {numbers_[bit], names_[bit], values_[bit]}) cell->setToolTip(tip);
}
