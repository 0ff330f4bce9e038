#include "views/ctlStatRegister.h"

#include <QFont>
#include <QFontMetrics>
#include <algorithm>

#include "shell/Utils.h"
#include "views/Twips.h"

namespace {
// Indexed by bit.
constexpr const char* kNames[16] = {"InhibCHG", "CHGOFF", "NoVreg", "NoIreg", "NoDPM",  "CHGOC",
                                    "BAT2SYS",  "AC2SYS", "TSHUT",  "RSVD",   "RSVD",   "BDEPL",
                                    "VOR",      "AC<BT",  "RSVD",   "ACDET"};
// The rk5191 names of the renamed bits; columns are sized for both so a rename never clips.
constexpr const char* kNames5191[16] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        nullptr, nullptr, nullptr, "BCOLD", "BHOT",  nullptr,
                                        nullptr, nullptr, "BDET",  nullptr};
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
    l->setObjectName(name);
    l->setAlignment(Qt::AlignCenter);
    l->setFrameShape(QFrame::Box);
    l->setTextFormat(Qt::PlainText);  // "AC<BT" is a name, not markup
    return l;
  };
  std::array<int, 16> widths{};
  for (int i = 0; i < 16; ++i) {
    int w = fm.horizontalAdvance(QString::fromLatin1(kNames[i]));
    if (kNames5191[i]) w = std::max(w, fm.horizontalAdvance(QString::fromLatin1(kNames5191[i])));
    widths[i] = std::max(minWidth, w + 10);
  }
  int x = 0;
  for (int i = 15; i >= 0; --i) {
    numbers_[i] = make(QStringLiteral("BitLabel%1").arg(i), QStringLiteral("B%1").arg(i));
    names_[i] = make(QStringLiteral("lblBit%1").arg(i), QString::fromLatin1(kNames[i]));
    values_[i] = make(QStringLiteral("lblBit%1").arg(i + 16), QStringLiteral("-"));
    numbers_[i]->setGeometry(x, 0, widths[i], rowHeight);
    names_[i]->setGeometry(x, rowHeight, widths[i], rowHeight);
    values_[i]->setGeometry(x, 2 * rowHeight, widths[i], rowHeight);
    x += widths[i];
    SetBitName(i, QString::fromLatin1(kNames[i]));
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
    if (values_[i]->text() != caption) values_[i]->setText(caption);
  }
}

void ctlStatRegister::Makerk5191() {
  for (int bit : {14, 10, 9}) SetBitName(bit, QString::fromLatin1(kNames5191[bit]));
}

void ctlStatRegister::SetBitName(int bit, const QString& name) {
  names_[bit]->setText(name);
  const QString tip = BitToolTip(bit, name);
  for (QLabel* cell : {numbers_[bit], names_[bit], values_[bit]}) cell->setToolTip(tip);
}
