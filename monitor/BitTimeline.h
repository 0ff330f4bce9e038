// The lower half of the plot: lanes of register bits (a bar while the bit is 1, hatched grey while
// it is unknown) and of whole registers shown as a value (hex or decimal, the value written in
// its stretch, a cross where it changes), under a header per register. The plot chooses the lanes
// (by default every named bit of the status register (0x13) and the control register (0x12), in
// the chip variant's names) and hands over the pixel columns, aligned with its plot area. It
// also draws the cursors the plot places.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <map>
#include <vector>

#include "monitor/SampleHistory.h"
#include "recording/BitNames.h"

namespace monitor {

class BitTimeline : public QWidget {
  Q_OBJECT
 public:
  struct Lane {
    uint8_t address;
    int bit;  // -1: the whole register as a value
    QString name;
    bool hex = true;  // a value lane: hex, else decimal
  };
  enum class State { kNone, kZero, kOne, kUnknown };

  BitTimeline(recording::Variant variant, QColor one, QColor unknown, QWidget* parent = nullptr);

  // Every named bit of the status and control registers, bit 15 first: the lanes by default.
  static std::vector<Lane> NamedBits(recording::Variant variant);

  const std::vector<Lane>& Lanes() const { return lanes_; }
  void SetLanes(std::vector<Lane> lanes);
  // Each register's columns, drawn from x = left, one pixel each.
  void SetColumns(int left, std::map<uint8_t, std::vector<BitColumn>> bits,
                  std::map<uint8_t, std::vector<ValueColumn>> values, std::size_t columns);
  // Cursors at these x (pixels, as the chart's), drawn across every lane.
  void SetCursors(std::vector<double> xs);
  // What column c of lane i shows: a bar wins over unknown, unknown over 0.
  State StateAt(std::size_t lane, std::size_t column) const;
  // What column c of a value lane shows.
  ValueColumn ValueAt(std::size_t lane, std::size_t column) const;
  std::size_t Columns() const { return columns_; }
  // Width the lane names need at the left.
  int NameWidth() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  int RowHeight() const;
  int LaneTop(std::size_t lane) const;  // headers come before each register's lanes
  void Relayout();

  recording::Variant variant_;
  std::vector<Lane> lanes_;
  std::vector<int> rows_;  // the row of each lane, headers counted
  int rowCount_ = 0;
  QColor one_;
  QColor unknown_;
  int left_ = 0;
  std::size_t columns_ = 0;
  std::map<uint8_t, std::vector<BitColumn>> bits_;
  std::map<uint8_t, std::vector<ValueColumn>> values_;
  std::vector<double> cursors_;
};

}  // namespace monitor
