// The live plot: the DAC set points (dashed) and the bench instruments' measured voltages and
// currents (solid, in the set point's hue) against time in seconds, voltages on the mV axis at
// the left, currents on the mA axis at the right; below them lanes of register bits and of whole
// registers as values. It draws from the sample history it is given and knows nothing of the bus.
//
// It follows the newest sample unless paused ("Pause", then "Follow"); the mouse wheel zooms the
// time axis (about the right edge while following, about the pointer while paused) and dragging
// moves it (and pauses). Time labels fall on round steps. Over the plot, the readout gives the
// time at the pointer (wall clock and since the start) and every lane's value then, and an
// event's text near a mark. A click places a cursor (two at most; a third click moves the nearer),
// dragging a cursor moves it, a right click removes the nearer; a cursor snaps to a bit's or a
// value's change within a few pixels. The cursors' readout (in the picture, so a saved image
// keeps it) gives both times, Δt and the differences of every lane.
//
// "Lanes" chooses what is shown; the choice is kept in the user's own configuration folder
// (QSettings, never the settings file). "Open..." shows a Korvo CSV recording instead of the live
// history, read-only, until "Live". The chart takes the window's palette. Repaints that new
// samples cause are coalesced: at most one per kRepaintMs.
//
// objectNames: cmdPause, cmdSaveImage, cmdOpen, cmdLive, cmdLanes, lblState, lblReadout,
// lblCursors, chartView, timeline; the lane choices are actions named "lane:<key>" (LaneKeys).
#pragma once

#include <QPointer>
#include <QSet>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "monitor/SampleHistory.h"
#include "recording/BitNames.h"

class QChart;
class QLabel;
class QLineSeries;
class QMenu;
class QPushButton;
class QTimer;
class QValueAxis;

namespace monitor {

class BitTimeline;
class PlotChartView;

class frmPlot : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRepaintMs = 100;
  static constexpr double kDefaultSpanSeconds = 60;
  static constexpr double kMinSpanSeconds = 0.5;
  // Separate line pieces per quantity; past this many gaps in view the rest are joined.
  static constexpr int kMaxRuns = 256;
  // How near (pixels) a click must be to grab a cursor, and a cursor to snap to a change.
  static constexpr double kGrabPixels = 5;
  static constexpr double kSnapPixels = 6;
  // The readout's text while the pointer is off the plot.
  static constexpr const char* kHint =
      "Mouse wheel: zoom the time axis; drag: move it; click: place a cursor";

  frmPlot(SampleHistory& history, recording::Variant variant, QWidget* owner);
  ~frmPlot() override;

  // The time range shown, in seconds since the history started.
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

  // A mark at `time` (the register access' clock) with `text` on hover: an instrument went
  // absent, for one. Kept in the live history.
  void AddEvent(recording::MonoTime time, const QString& text);

  // Shows the Korvo CSV recording at path instead of the live history; false (the message
  // shown, the plot as it was) when it cannot be read or is not a recording.
  bool OpenRecording(const QString& path);
  // Back to the live history.
  void ShowLive();
  bool Reviewing() const { return review_ != nullptr; }
  const SampleHistory& History() const { return *history_; }

  // The cursors' times, A first (seconds since the history started).
  std::vector<double> Cursors() const;
  QString CursorReadout() const;

  // The chart, the cursors' readout and the timeline as one picture, and "Save image..."
  // without the dialog.
  QImage Picture();
  bool SaveImage(const QString& path, QString& error);

  // The line pieces drawn for a register (0x15, 0x14, 0x3F), for tests.
  std::vector<std::vector<PlotPoint>> DrawnRuns(uint8_t address) const;
  // The same for an instrument channel, by caption.
  std::vector<std::vector<PlotPoint>> DrawnRuns(const QString& caption) const;
  const BitTimeline* Timeline() const { return timeline_; }

  // What the readout shows for the time t (seconds since the history started): the wall-clock
  // time, t, and each lane's value then ("?" before its first read or after a failed one).
  QString ReadoutAt(double t) const;

  // Every lane that can be chosen, by key: "line:0x15", "channel:PSU/I1", "value:0x13",
  // "bit:0x13.15".
  QStringList LaneKeys() const;
  bool LaneShown(const QString& key) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  struct Line {
    uint8_t address;  // a register's set point, or 0 for a channel
    int channel;      // into the history's channels, -1 for a register
    QString key;
    QString name;
    QString shortName;  // in the readout, before the value and its unit
    QString unit;
    QColor color;  // the hue
    bool dashed;
    QValueAxis* axis;
    std::vector<QLineSeries*> pieces;  // the first one carries the legend entry
    QColor shown = {};                 // the hue as it stands out from the chart's ground
  };

  void BuildControls();
  // The chart in the window's palette: ground, text, axes, grid and lines.
  void ApplyPalette();
  void SampleAdded();
  void SaveImageClicked();
  void OpenClicked();
  void UseHistory(SampleHistory* history);
  void SyncChannelLines();
  void RemoveChannelLines();
  void UpdateRange();
  void UpdateLanes();
  void LayOutPlotArea();
  void ShowReadout(double x, QPoint global);  // x in the chart view's coordinates
  double TimeAtX(double x) const;             // x in the chart view's coordinates
  double XAtTime(double t) const;
  QLineSeries* Piece(Line& line, std::size_t i);
  std::optional<double> LineValueAt(const Line& line, double t) const;
  std::optional<uint16_t> RegisterAt(uint8_t address, double t) const;
  const PlotEvent* EventNear(double x) const;
  double Snap(double t) const;
  void PlaceCursor(double x);
  void UpdateCursors();
  void Overlay(QPainter* p);
  void BuildLaneMenu();
  void SetLaneShown(const QString& key, bool shown);
  void LoadLaneChoice();
  void SaveLaneChoice() const;
  QString ValueText(uint16_t v) const;

  SampleHistory& live_;
  SampleHistory* history_;
  std::unique_ptr<SampleHistory> review_;
  recording::Variant variant_;
  QChart* chart_ = nullptr;
  PlotChartView* view_ = nullptr;
  BitTimeline* timeline_ = nullptr;
  QPushButton* cmdPause_ = nullptr;
  QPushButton* cmdSaveImage_ = nullptr;
  QPushButton* cmdOpen_ = nullptr;
  QPushButton* cmdLive_ = nullptr;
  QPushButton* cmdLanes_ = nullptr;
  QMenu* lanesMenu_ = nullptr;
  QLabel* lblState_ = nullptr;
  QLabel* lblReadout_ = nullptr;
  QLabel* lblCursors_ = nullptr;
  QValueAxis* axisTime_ = nullptr;
  QValueAxis* axisVoltage_ = nullptr;
  QValueAxis* axisCurrent_ = nullptr;
  std::vector<Line> lines_;
  QTimer* repaint_ = nullptr;
  double span_ = kDefaultSpanSeconds;
  double viewEnd_ = kDefaultSpanSeconds;
  bool paused_ = false;
  int refreshes_ = 0;
  // Dragging: where the press was, and the range's end then; or the cursor being moved.
  std::optional<double> dragX_;
  double dragEnd_ = 0;
  bool dragMoved_ = false;
  std::optional<std::size_t> dragCursor_;
  std::vector<double> cursors_;  // A, then B
  // The lane choice.
  QSet<QString> hidden_;  // of the lanes shown by default: lines, channels, bits
  QSet<QString> values_;  // the registers shown as a value lane
  bool hex_ = true;
  bool hideUnchanged_ = false;
};

}  // namespace monitor
