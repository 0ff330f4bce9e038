// The read-only status register display: per bit a number cell BitLabel(i) ("BitLabel0"..),
// a name cell lblBit(i) and a value cell lblBit(i + 16) ("-", "1" or "0"), all three painted
// with the bit's colour. Bit 15 is the leftmost column.
#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>

#include "views/BitBoxes.h"

class ctlStatRegister : public QWidget, public BitColorProperties {
  Q_OBJECT
 public:
  explicit ctlStatRegister(QWidget* parent = nullptr);

  void SetValue(std::optional<int32_t> v);

  // Renames bits 14, 10 and 9 for the rk5191; there is no way back.
  void Makerk5191();

  const QString& Tag() const { return tag_; }
  void SetTag(const QString& tag) { tag_ = tag; }

  QLabel* BitLabel(int bit) const { return numbers_[bit]; }
  QLabel* lblBit(int index) const { return index < 16 ? names_[index] : values_[index - 16]; }

  QSize sizeHint() const override { return size_; }
  QSize minimumSizeHint() const override { return size_; }

 protected:
  void paintEvent(QPaintEvent* e) override { canvas_.Paint(e); }

 private:
  CellCanvas canvas_{this};
  std::array<BitCell*, 16> numbers_{};
  std::array<BitCell*, 16> names_{};
  std::array<BitCell*, 16> values_{};
  void SetBitName(int bit, const QString& name);
  QString tag_;
  QSize size_;
};
