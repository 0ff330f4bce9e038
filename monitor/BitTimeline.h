// The lower half of the plot: one lane per named bit of the status register (0x13) and the
// control register (0x12), a bar while the bit is 1, hatched grey while it is unknown. Names
// follow the chip variant (the main window's names; reserved bits get no lane). It paints the
// pixel columns the plot hands it, aligned with the chart's plot area.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <vector>

#include "monitor/SampleHistory.h"
#include "recording/BitNames.h"

namespace monitor {

class BitTimeline : public QWidget {
  Q_OBJECT
 public:
  struct Lane {
    uint8_t address;
    int bit;
    QString name;
  };
  enum class State { kNone, kZero, kOne, kUnknown };

  BitTimeline(recording::Variant variant, QColor one, QColor unknown, QWidget* parent = nullptr);

  const std::vector<Lane>& Lanes() const { return lanes_; }
  // Columns of the status and the control register, drawn from x = left, one pixel each.
  void SetColumns(int left, std::vector<BitColumn> status, std::vector<BitColumn> control);
  // What column c of lane i shows: a bar wins over unknown, unknown over 0.
  State StateAt(std::size_t lane, std::size_t column) const;
  std::size_t Columns() const { return status_.size(); }
  // Width the lane names need at the left.
  int NameWidth() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  int RowHeight() const;
  int LaneTop(std::size_t lane) const;  // headers come before each register's lanes

  std::vector<Lane> lanes_;
  std::size_t controlFirst_ = 0;  // index of the first control lane
  QColor one_;
  QColor unknown_;
  int left_ = 0;
  std::vector<BitColumn> status_;
  std::vector<BitColumn> control_;
};

}  // namespace monitor
