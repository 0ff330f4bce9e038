#include "views/ctlCtrlRegister.h"

#include <QFontMetrics>

#include "views/Twips.h"

namespace {
struct Column {
  const char* name;
  int left;
  int width;
};
// Indexed by bit.
constexpr Column kColumns[16] = {
    {"CHGEND", 9240, 735}, {"RSVD", 8745, 495},   {"RST", 8250, 495},    {"IOUTBT", 7515, 735},
    {"LEARN", 6900, 615},  {"PWM500", 6165, 735}, {"ACOCEN", 5430, 735}, {"ACOC0", 4815, 615},
    {"ACOC1", 4200, 615},  {"BATDP0", 3495, 700}, {"BATDP1", 2790, 700}, {"BATDP2", 2085, 700},
    {"RSVD", 1485, 600},   {"RSVD", 990, 495},    {"RSVD", 495, 495},    {"RSVD", 0, 495},
};
}  // namespace

ctlCtrlRegister::ctlCtrlRegister(QWidget* parent) : BitRegisterView(parent, 2) {
  constexpr int kLabelHeight = 255, kNameTop = 240, kBoxTop = 480, kBoxHeight = 285;
  for (int i = 0; i < 16; ++i) {
    AddLabel(16 + i, QString::fromLatin1(kColumns[i].name));
    SetBitName(i, QString::fromLatin1(kColumns[i].name));
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
