// The live plot: the charging voltage (mV, left axis) and the charge and input currents (mA,
// right axis) against time in seconds, and below them a timeline of the named status and
// control bits, one lane per bit. It draws from the sample history it is given and knows
// nothing of the bus.
//
// It follows the newest sample unless paused ("Pause", then "Follow"); the mouse wheel zooms the
// time axis (about the right edge while following, about the pointer while paused) and dragging
// moves it (and pauses). Time labels fall on round steps. Over the plot, the readout gives the
// wall-clock time at the pointer and the values then. The chart takes the window's palette.
// Repaints that new samples cause are coalesced: at most one per kRepaintMs.
//
// objectNames: cmdPause, cmdSaveImage, lblState, lblReadout, chartView, timeline.
#pragma once

#include <QPointer>
#include <QWidget>
#include <optional>
#include <vector>

#include "monitor/SampleHistory.h"
#include "recording/BitNames.h"

class QChart;
class QLabel;
class QChartView;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

namespace monitor {

class BitTimeline;

class frmPlot : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRepaintMs = 100;
  static constexpr double kDefaultSpanSeconds = 60;
  static constexpr double kMinSpanSeconds = 0.5;
  // Separate line pieces per quantity; past this many gaps in view the rest are joined.
  static constexpr int kMaxRuns = 256;
  // The readout's text while the pointer is off the plot.
  static constexpr const char* kHint = "Mouse wheel: zoom the time axis; drag: move it";

  frmPlot(SampleHistory& history, recording::Variant variant, QWidget* owner);
  ~frmPlot() override;

  // The time range shown, in seconds since the program started.
  double ViewStart() const { return viewEnd_ - span_; }
  double ViewEnd() const { return viewEnd_; }
  bool Paused() const { return paused_; }
  void SetPaused(bool paused);
  // Zooms by factor (below 1: in) about the time at (or the right edge while following).
  void Zoom(double factor, std::optional<double> at = std::nullopt);
  // Moves the range by seconds (positive: later) and pauses.
  void Pan(double seconds);

  // Draws what the history holds now (the coalescing timer calls it).
  void Refresh();
  int RefreshCount() const { return refreshes_; }
  QTimer* RepaintTimer() const { return repaint_; }

  // The chart and the timeline as one picture, and "Save image..." without the dialog.
  QImage Picture();
  bool SaveImage(const QString& path, QString& error);

  // The line pieces drawn for a register (0x15, 0x14, 0x3F), for tests.
  std::vector<std::vector<PlotPoint>> DrawnRuns(uint8_t address) const;
  const BitTimeline* Timeline() const { return timeline_; }

  // What the readout shows for the time t (seconds since the history started): the wall-clock
  // time, t, and each line's value then ("?" before its first read or after a failed one).
  QString ReadoutAt(double t) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  struct Line {
    uint8_t address;
    QString name;
    QString shortName;  // in the readout, before the value and its unit
    QColor color;  // the hue
    QValueAxis* axis;
    std::vector<QLineSeries*> pieces;  // the first one carries the legend entry
    QColor shown = {};                 // the hue as it stands out from the chart's ground
  };

  void BuildControls();
  // The chart in the window's palette: ground, text, axes, grid and lines.
  void ApplyPalette();
  void SampleAdded();
  void SaveImageClicked();
  void UpdateRange();
  void LayOutPlotArea();
  void ShowReadout(double x);  // x in the chart view's coordinates
  double TimeAtX(double x) const;  // x in the chart view's coordinates
  QLineSeries* Piece(Line& line, std::size_t i);
  std::optional<double> ValueAt(uint8_t address, double t) const;

  SampleHistory& history_;
  recording::Variant variant_;
  QChart* chart_ = nullptr;
  QChartView* view_ = nullptr;
  BitTimeline* timeline_ = nullptr;
  QPushButton* cmdPause_ = nullptr;
  QPushButton* cmdSaveImage_ = nullptr;
  QLabel* lblState_ = nullptr;
  QLabel* lblReadout_ = nullptr;
  QValueAxis* axisTime_ = nullptr;
  QValueAxis* axisVoltage_ = nullptr;
  QValueAxis* axisCurrent_ = nullptr;
  std::vector<Line> lines_;
  QTimer* repaint_ = nullptr;
  double span_ = kDefaultSpanSeconds;
  double viewEnd_ = kDefaultSpanSeconds;
  bool paused_ = false;
  int refreshes_ = 0;
  // Dragging: where the press was, and the range's end then.
  std::optional<double> dragX_;
  double dragEnd_ = 0;
};

}  // namespace monitor
