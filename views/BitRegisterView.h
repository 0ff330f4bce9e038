// Common part of the editable register views (ctlDACRegister, ctlCtrlRegister): the sixteen
// bit boxes, the bit-number labels "B0".."B15" (objectNames "lblBit0".."lblBit15"), the three
// colours, the register address Tag and the Change signal. Subclasses add label rows and place
// the cells.
#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "views/BitBoxes.h"

class BitRegisterView : public QWidget, public BitColorProperties {
  Q_OBJECT
 public:
  // nullopt: unknown (nothing read yet or the last read failed).
  std::optional<int32_t> Value() const { return boxes_->Value(); }
  void SetValue(std::optional<int32_t> v);

  // The register address as "&h" and hex digits; callers read it at every access.
  const QString& Tag() const { return tag_; }
  void SetTag(const QString& tag) { tag_ = tag; }

  // Names bit `bit` in the tooltips of its labels and box (the number alone until named).
  void SetBitName(int bit, const QString& name);

  QLineEdit* txtBitVal(int bit) const { return boxes_->Box(bit); }
  QLabel* lblBit(int index) const { return labels_.at(index); }
  BitBoxes* Boxes() const { return boxes_; }

  QSize sizeHint() const override { return size_; }
  QSize minimumSizeHint() const override { return size_; }

 signals:
  void Change();

 protected:
  void paintEvent(QPaintEvent* e) override { canvas_.Paint(e); }
  // labelRows: 1 (bit numbers) or 2 (bit numbers, then bit names as lblBit(16 + i)).
  BitRegisterView(QWidget* parent, int labelRows);
  QLabel* AddLabel(int index, const QString& caption);
  void SetContentSize(QSize s);
  // Height of a bit box in pixels: the design height, or more when the font needs it.
  int BoxHeight(int designTwips) const;

 private:
  CellCanvas canvas_{this};
  BitBoxes* boxes_;
  std::vector<QLabel*> labels_;
  int labelRows_;
  QString tag_;
  QSize size_;
};
