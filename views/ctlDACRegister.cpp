#include "views/ctlDACRegister.h"

#include <algorithm>

#include "views/Twips.h"

ctlDACRegister::ctlDACRegister(QWidget* parent) : BitRegisterView(parent, 1) {
  constexpr int kPitch = 480, kWidth = 495, kLabelHeight = 255, kBoxTop = 240, kBoxHeight = 285;
  const int boxTop = Twips::ToPxY(this, kBoxTop);
  const int boxHeight = BoxHeight(kBoxHeight);
  for (int i = 0; i < 16; ++i) {
    const int left = (15 - i) * kPitch;
    lblBit(i)->setGeometry(Twips::ToRect(this, left, 0, kWidth, kLabelHeight));
    const QRect col = Twips::ToRect(this, left, 0, kWidth, 0);
    txtBitVal(i)->setGeometry(col.x(), boxTop, col.width(), boxHeight);
  }
  SetContentSize(QSize(Twips::ToPxX(this, 15 * kPitch + kWidth), boxTop + boxHeight));
  SetValue(std::nullopt);
}
