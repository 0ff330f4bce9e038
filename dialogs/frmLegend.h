// What the bit colours of the register views mean: three swatches (Label3(0..2), objectNames
// "Label30".."Label32") and two check boxes that show a selected and an unselected box.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>

class QLabel;

class frmLegend : public QWidget {
  Q_OBJECT
 public:
  explicit frmLegend(QWidget* owner = nullptr);

  // Each reads and paints its swatch at once.
  int32_t BitHiColor() const;
  void SetBitHiColor(int32_t c);
  int32_t BitLoColor() const;
  void SetBitLoColor(int32_t c);
  int32_t BitUnknownColor() const;
  void SetBitUnknownColor(int32_t c);

  QLabel* Label3(int i) const { return swatches_[i]; }

 protected:
  // Escape closes it, as it would a dialog.
  void keyPressEvent(QKeyEvent* e) override;

 private:
  std::array<QLabel*, 3> swatches_{};
};
