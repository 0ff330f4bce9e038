// The bench monitor of the main window: "Record..." records every register access of every
// window (scans included) to a CSV or VCD file, with a label showing the elapsed time and the
// samples; "Plot..." and "Journal..." open the live plot and the transaction journal, one
// non-modal window each, owned by the main window.
//
// The main window hands it the register access and places its controls; the monitor owns the
// sample history (observing the register access), the transaction journal (observing the
// adapter link) and the recorder. The windows get the history or the journal, not the bus.
//
// A recording that cannot go on (disk full, file removed) stops with one message naming the
// file and the reason; everything else goes on. Closing the main window ends the recording
// with a complete file.
//
// objectNames: cmdRecord, cmdPlot, cmdJournal, lblRecording.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "monitor/SampleHistory.h"
#include "recording/BitNames.h"
#include "recording/Journal.h"
#include "recording/Recorder.h"

class QLabel;
class QPushButton;
class QTimer;
class QWidget;
class RegisterAccess;

namespace monitor {

class frmJournal;
class frmPlot;

class Monitor : public QObject {
  Q_OBJECT
 public:
  struct Options {
    recording::Variant variant = recording::Variant::rk5190;
    // How often the recording label changes (and the file is checked) while recording.
    int labelMs = 250;
  };

  // The variant the command line selects.
  static Options OptionsFromCommandLine();

  Monitor(QWidget& mainWindow, RegisterAccess& access, Options options);
  ~Monitor() override;

  // "Record...", "Plot...", "Journal..." and the recording label, for the main window's bottom
  // row in this order. Created after the main window's own controls, so last in tab order.
  std::vector<QWidget*> Controls() const;

  // --- recording ---
  // "Record...": asks for a file and starts; "Stop": stops.
  void RecordClicked();
  // false when it did not start (a message said why). timescale: a VCD's time step; by
  // default it follows the scan period.
  bool StartRecording(const QString& path,
                      std::optional<std::chrono::nanoseconds> timescale = std::nullopt);
  // The main window's scan period in ms, which a VCD's default time step follows (500 until set).
  void SetScanPeriod(std::function<int()> periodMs) { scanPeriodMs_ = std::move(periodMs); }
  void StopRecording();
  bool Recording() const { return recorder_ != nullptr; }
  const recording::Recorder* CurrentRecorder() const { return recorder_.get(); }
  // Updates the label and stops the recording if its file has gone (the label timer calls it).
  void UpdateRecordingLabel();

  // --- windows ---
  frmPlot* ShowPlot();
  frmJournal* ShowJournal();
  frmPlot* Plot() const;  // nullptr until opened
  frmJournal* JournalWindow() const;

  SampleHistory& History() { return history_; }
  const recording::Journal& Journal() const { return journal_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class JournalFeed;

  // The VCD time steps offered, shortest first, and the one the scan period makes.
  static std::vector<std::chrono::nanoseconds> VcdSteps();
  std::chrono::nanoseconds DefaultVcdStep() const;
  void RecordingFailed(const recording::Recorder* which, const std::string& message);
  void DropRecorder();

  QWidget& main_;
  RegisterAccess& access_;
  Options options_;
  SampleHistory history_;
  recording::Journal journal_;
  std::unique_ptr<JournalFeed> feed_;
  std::unique_ptr<recording::Recorder> recorder_;
  QPushButton* cmdRecord_ = nullptr;
  QPushButton* cmdPlot_ = nullptr;
  QPushButton* cmdJournal_ = nullptr;
  QLabel* lblRecording_ = nullptr;
  QTimer* labelTimer_ = nullptr;
  QPointer<frmPlot> plot_;
  QPointer<frmJournal> journalWindow_;
  std::function<int()> scanPeriodMs_;
};

}  // namespace monitor
