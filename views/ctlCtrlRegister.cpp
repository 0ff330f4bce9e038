#include "views/ctlCtrlRegister.h"

#include <QFontMetrics>

#include "registers/RegisterTable.h"
#include "views/Twips.h"

namespace {
// Where each bit's column sits; the names come from the register table.
struct Column {
  int left;
  int width;
};
// Indexed by bit.
constexpr Column kColumns[16] = {
    {9240, 735}, {8745, 495}, {8250, 495}, {7515, 735}, {6900, 615}, {6165, 735},
    {5430, 735}, {4815, 615}, {4200, 615}, {3495, 700}, {2790, 700}, {2085, 700},
    {1485, 600}, {990, 495},  {495, 495},  {0, 495},
};
}  // namespace

ctlCtrlRegister::ctlCtrlRegister(QWidget* parent) : BitRegisterView(parent, 2) {
  constexpr int kLabelHeight = 255, kNameTop = 240, kBoxTop = 480, kBoxHeight = 285;
  const RegisterTable::Register& control = *RegisterTable::Find(RegisterTable::kControl);
  for (int i = 0; i < 16; ++i) {
    const std::string_view n = RegisterTable::MainBitName(control, i);
    const QString name = QString::fromLatin1(n.data(), static_cast<qsizetype>(n.size()));
    AddLabel(16 + i, name);
    SetBitName(i, name);
  }
  const int boxTop = Twips::ToPxY(this, kBoxTop);
  const int boxHeight = BoxHeight(kBoxHeight);
  int right = 0;
  for (int i = 0; i < 16; ++i) {
    const Column& c = kColumns[i];
    lblBit(i)->setGeometry(Twips::ToRect(this, c.left, 0, c.width, kLabelHeight));
    lblBit(16 + i)->setGeometry(Twips::ToRect(this, c.left, kNameTop, c.width, kLabelHeight));
    const QRect col = Twips::ToRect(this, c.left, 0, c.width, 0);
    txtBitVal(i)->setGeometry(col.x(), boxTop, col.width(), boxHeight);
    right = std::max(right, col.right() + 1);
  }
  // The names were sized for a narrower font: shrink the name row until every name fits.
  QFont nameFont = font();
  for (qreal pt = nameFont.pointSizeF(); pt > 5.0; pt -= 0.5) {
    nameFont.setPointSizeF(pt);
    const QFontMetrics fm(nameFont);
    bool fits = true;
    for (int i = 0; i < 16; ++i) {
      const QLabel* l = lblBit(16 + i);
      if (fm.horizontalAdvance(l->text()) > l->contentsRect().width() - 2) fits = false;
    }
    if (fits) break;
  }
  for (int i = 0; i < 16; ++i) lblBit(16 + i)->setFont(nameFont);
  SetContentSize(QSize(right, boxTop + boxHeight));
  SetValue(std::nullopt);
}
