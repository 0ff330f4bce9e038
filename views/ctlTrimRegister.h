// A trim or test-mode register shown bit by bit with the name of every bit. Each column, bit 15
// leftmost, reads top to bottom: the description cell lblBitLabel(i) (objectName
// "lblBitLabel<i>"), a thin colour strip lblBit(i) ("lblBit<i>", caption "B<i>") and the bit box
// txtBitVal(i) ("txtBitVal<i>"). The bit boxes behave as in every editable register view
// (views/BitBoxes.h).
//
// Geometry is kept in twips: BitWidth sets the column width, BitLabelHeight the height of the
// description cells; the control is 16 x BitWidth wide and BitLabelHeight + 300 high.
#pragma once

#include <QLabel>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>

#include "views/BitBoxes.h"

class ctlTrimRegister : public QWidget, public BitColorProperties {
  Q_OBJECT
 public:
  static constexpr int kBits = 16;
  static constexpr int kStripHeight = 15;  // twips: one pixel at 96 dpi
  static constexpr int kBoxHeight = 285;   // twips

  // Defaults: unknown colour 0xCFCFCF, bit-high red 255 green 128 blue 128, bit-low red 0
  // green 191 blue 127, all bits unknown, BitWidth 600, BitLabelHeight 240.
  explicit ctlTrimRegister(QWidget* parent = nullptr);

  // nullopt: unknown (some bit box is empty). Writing paints both labels of every column.
  std::optional<int32_t> Value() const { return boxes_->Value(); }
  void SetValue(std::optional<int32_t> v);

  // Sixteen names joined by "|", bit 15 first. A text with no "|" (or an empty one) is ignored;
  // any count of parts other than one or sixteen shows "Check bitdesc string".
  QString BitDescription() const;
  void SetBitDescription(const QString& text);

  int32_t BitWidth() const { return width_; }
  void SetBitWidth(int32_t w);
  int32_t BitLabelHeight() const { return labelHeight_; }
  void SetBitLabelHeight(int32_t h);

  // Free text for the owner: the register address as "&h" and hex digits.
  const QString& Tag() const { return tag_; }
  void SetTag(const QString& tag) { tag_ = tag; }

  QLineEdit* txtBitVal(int bit) const { return boxes_->Box(bit); }
  QLabel* lblBit(int bit) const { return strips_[bit]; }
  QLabel* lblBitLabel(int bit) const { return cells_[bit]; }

  // Design geometry in twips.
  struct TwipsRect {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const TwipsRect&) const = default;
  };
  TwipsRect BoxTwips(int bit) const { return box_[bit]; }
  TwipsRect StripTwips(int bit) const { return strip_[bit]; }
  TwipsRect CellTwips(int bit) const { return cell_[bit]; }
  int WidthTwips() const { return controlWidth_; }
  int HeightTwips() const { return controlHeight_; }

  // Whether every word of the cell's name fits its width, and the wrapped name its height.
  static bool NameFits(const QLabel* cell, const QFont& font);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 signals:
  void Change();

 private:
  void Place();
  void FitName(int bit);

  BitBoxes* boxes_;
  std::array<QLabel*, kBits> strips_{};
  std::array<QLabel*, kBits> cells_{};
  std::array<TwipsRect, kBits> box_{}, strip_{}, cell_{};
  int controlWidth_ = 0;
  int controlHeight_ = 0;
  int32_t width_ = 0;
  int32_t labelHeight_ = 0;
  QString tag_;
};
