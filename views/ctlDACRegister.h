// A DAC register shown bit by bit: one row of bit-number labels over the sixteen bit boxes,
// bit 15 leftmost, uniform columns.
#pragma once

#include "views/BitRegisterView.h"

class ctlDACRegister : public BitRegisterView {
  Q_OBJECT
 public:
  explicit ctlDACRegister(QWidget* parent = nullptr);
};
