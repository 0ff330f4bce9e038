// The bench monitor of the main window: "Record..." records every register access of every
// window (scans included) to a CSV or VCD file, with a label showing the elapsed time and the
// samples; "Plot..." and "Journal..." open the live plot and the transaction journal, one
// non-modal window each, owned by the main window.
//
// The main window hands it the register access and places its controls; the monitor owns the
// sample history (observing the register access), the transaction journal (observing the
// adapter link) and the recorder. The windows get the history or the journal, not the bus.
//
// "Instruments..." lists the bench instruments (read once per scan tick, off the window's
// thread) and lets the user add one for this run. Their readings reach the register access's
// observers on this thread; an instrument going absent or coming back is a journal row with
// the instrument as its target, never a modal message in the middle of a scan.
//
// A recording that cannot go on (disk full, file removed) stops with one message naming the
// file and the reason; everything else goes on. Closing the main window ends the recording
// with a complete file.
//
// objectNames: cmdRecord, cmdPlot, cmdJournal, lblRecording, cmdInstruments.
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

#include "instruments/Bench.h"
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

class frmInstruments;
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

  // "Record...", "Plot...", "Journal...", the recording label and "Instruments...", for the main
  // window's bottom row in this order. Created after the main window's own controls, so last
  // in tab order.
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

  frmInstruments* ShowInstruments();
  frmInstruments* InstrumentsWindow() const;

  // --- bench instruments ---
  using BackendMaker = std::function<std::shared_ptr<instruments::Backend>()>;
  // Where the instrument library comes from the first time one is added for this run: a run
  // whose settings name no instrument loads nothing of it before.
  void SetInstrumentBackend(BackendMaker make) { makeBackend_ = std::move(make); }
  // Reads the bench's instruments from now on (starting it), once per scan tick.
  void AddBench(std::unique_ptr<instruments::Bench> bench);
  // Adds an instrument for this run from its entry text ("demo label=GEN"). Empty when it was
  // added, else why not ("invalid instrument 'x': ...").
  std::string AddInstrument(const std::string& entry);
  // The [Instruments] line that keeps an added instrument: "PSU=scpi-pps:conn=... channels=I1".
  static std::string SettingsLine(const instruments::InstrumentConfig& config);
  const std::vector<instruments::InstrumentConfig>& AddedInstruments() const { return added_; }
  std::vector<instruments::InstrumentState> InstrumentStates() const;
  std::vector<instruments::LatestReading> LatestReadings() const;
  // A disabled channel's readings stay out of recordings, the plot and the journal.
  void SetChannelEnabled(const std::string& instrument, const std::string& channel, bool on);
  bool ChannelEnabled(const std::string& instrument, const std::string& channel) const;
  bool HasInstruments() const { return !benches_.empty(); }
  // Each scan tick: asks every instrument for a reading and hands on what has arrived.
  void OnScanTick();
  // Hands the readings that arrived to the register access's observers, and the instruments'
  // comings and goings to the journal. Runs on its own every kDeliverMs while there is a bench.
  void DeliverReadings();
  static constexpr int kDeliverMs = 200;
  // Told whenever an instrument's presence is looked at (the metrics endpoint's "up").
  void FollowPresence(std::function<void(const std::string& label, bool present)> f) {
    presence_ = std::move(f);
  }
  QTimer* DeliverTimer() const { return deliverTimer_; }

  SampleHistory& History() { return history_; }
  const recording::Journal& Journal() const { return journal_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class JournalFeed;
  class ReadingRelay;

  // The VCD time steps offered, shortest first, and the one the scan period makes.
  static std::vector<std::chrono::nanoseconds> VcdSteps();
  std::chrono::nanoseconds DefaultVcdStep() const;
  void RecordingFailed(const recording::Recorder* which, const std::string& message);
  void DropRecorder();
  void InstrumentEvent(recording::MonoTime time, const std::string& label, bool present,
                       const std::string& detail, const std::string& text);

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
  QPushButton* cmdInstruments_ = nullptr;
  QLabel* lblRecording_ = nullptr;
  QTimer* labelTimer_ = nullptr;
  QPointer<frmPlot> plot_;
  QPointer<frmJournal> journalWindow_;
  QPointer<frmInstruments> instrumentsWindow_;
  std::function<int()> scanPeriodMs_;

  BackendMaker makeBackend_;
  std::shared_ptr<instruments::Backend> backend_;  // made on the first instrument added
  std::vector<std::unique_ptr<instruments::Bench>> benches_;
  std::vector<instruments::InstrumentConfig> added_;
  std::vector<std::pair<std::string, std::string>> disabled_;  // instrument, channel
  std::function<void(const std::string&, bool)> presence_;
  std::unique_ptr<ReadingRelay> relay_;
  QTimer* deliverTimer_ = nullptr;
  int idleDeliveries_ = 0;  // deliveries since the last scan tick
};

}  // namespace monitor
