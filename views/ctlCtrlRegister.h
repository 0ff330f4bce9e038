// The control register shown bit by bit: bit numbers, bit names (lblBit(16 + i)) and the
// sixteen bit boxes, in columns sized to the names.
#pragma once

#include "views/BitRegisterView.h"

class ctlCtrlRegister : public BitRegisterView {
  Q_OBJECT
 public:
  explicit ctlCtrlRegister(QWidget* parent = nullptr);
};
