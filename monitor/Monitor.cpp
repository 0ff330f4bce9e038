#include "monitor/Monitor.h"

#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>

#include "adapter/frmUSB.h"
#include "foundation/CommandLine.h"
#include "foundation/Messages.h"
#include "monitor/FileDialogs.h"
#include "monitor/frmInstruments.h"
#include "monitor/frmJournal.h"
#include "monitor/frmPlot.h"
#include "registers/RegisterAccess.h"
#include "views/BringForward.h"

namespace monitor {

// Feeds the journal and tells its window, if open, that there is something new.
class Monitor::JournalFeed final : public recording::TransactionObserver {
 public:
  explicit JournalFeed(Monitor& monitor) : monitor_(monitor) {}
  void OnTransaction(const recording::TransactionEvent& event) override {
    monitor_.journal_.OnTransaction(event);
    if (monitor_.journalWindow_) monitor_.journalWindow_->ScheduleRefresh();
  }

 private:
  Monitor& monitor_;
};

// Hands the bench's readings to the register access (and so to every one of its observers),
// leaving out the channels the user disabled.
class Monitor::ReadingRelay final : public recording::RegisterObserver {
 public:
  explicit ReadingRelay(Monitor& monitor) : monitor_(monitor) {}
  void OnRegisterAccess(const recording::RegisterEvent&) override {}
  void OnInstrumentReading(const recording::InstrumentReading& r) override {
    if (!monitor_.disabled_.empty() &&
        !monitor_.ChannelEnabled(std::string(r.instrument), std::string(r.channel)))
      return;
    monitor_.access_.NotifyInstrumentReading(r);
  }

 private:
  Monitor& monitor_;
};

namespace {

// The bench names an instrument's comings and goings as messages; the windows show them as
// journal rows and in the instruments window instead, so a scan is never held by a message box.
class CollectingSink final : public MessageSink {
 public:
  void ShowMessage(const std::string& text) override { texts.push_back(text); }
  std::vector<std::string> texts;
};

// The plot marks an event where it can (a plot that shows events has AddEvent).
template <class Plot>
void MarkOnPlot(Plot* plot, recording::MonoTime time, const std::string& text) {
  if constexpr (requires(const QString& q) { plot->AddEvent(time, q); })
    if (plot) plot->AddEvent(time, QString::fromStdString(text));
}

QString ElapsedText(std::chrono::steady_clock::duration d) {
  const long long s = std::chrono::duration_cast<std::chrono::seconds>(d).count();
  return QStringLiteral("%1:%2:%3")
      .arg(s / 3600)
      .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(s % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

Monitor::Options Monitor::OptionsFromCommandLine() {
  Options o;
  if (CommandLine::IsRk5191(CommandLine::ArgumentString())) o.variant = recording::Variant::rk5191;
  return o;
}

Monitor::Monitor(QWidget& mainWindow, RegisterAccess& access, Options options)
    : main_(mainWindow),
      access_(access),
      options_(options),
      history_(access.Clock()),
      journal_(access.Clock()),
      feed_(std::make_unique<JournalFeed>(*this)),
      relay_(std::make_unique<ReadingRelay>(*this)) {
  setObjectName(QStringLiteral("monitor"));
  auto button = [this](const char* name, const char* caption, const char* tip) {
    auto* b = new QPushButton(QString::fromLatin1(caption), &main_);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    b->setToolTip(QString::fromLatin1(tip));
    return b;
  };
  cmdRecord_ = button("cmdRecord", "Record...",
                      "Record every register access of every window to a CSV or VCD file");
  cmdPlot_ = button("cmdPlot", "Plot...", "Plot the DAC registers and the status and control bits");
  cmdJournal_ = button("cmdJournal", "Journal...", "Every adapter transaction, with statistics");
  lblRecording_ = new QLabel(&main_);
  lblRecording_->setObjectName(QStringLiteral("lblRecording"));
  lblRecording_->setTextFormat(Qt::PlainText);
  // A fixed size: a new text then repaints the label without laying the main window out again.
  lblRecording_->setFixedSize(lblRecording_->fontMetrics().horizontalAdvance(
                                  QStringLiteral("000:00:00, 000000000 samples")),
                              lblRecording_->sizeHint().height());
  // Made after the label: the last control of the row and of the tab order.
  cmdInstruments_ =
      button("cmdInstruments", "Instruments...", "The bench instruments read beside the registers");
  labelTimer_ = new QTimer(this);
  labelTimer_->setInterval(options_.labelMs);
  deliverTimer_ = new QTimer(this);
  deliverTimer_->setInterval(kDeliverMs);

  connect(cmdRecord_, &QPushButton::clicked, this, &Monitor::RecordClicked);
  connect(cmdPlot_, &QPushButton::clicked, this, &Monitor::ShowPlot);
  connect(cmdJournal_, &QPushButton::clicked, this, &Monitor::ShowJournal);
  connect(labelTimer_, &QTimer::timeout, this, &Monitor::UpdateRecordingLabel);
  connect(cmdInstruments_, &QPushButton::clicked, this, &Monitor::ShowInstruments);
  connect(deliverTimer_, &QTimer::timeout, this, [this] {
    // With the scan stopped, an open instruments window still sees fresh values (once a second).
    if (++idleDeliveries_ >= 1000 / kDeliverMs && instrumentsWindow_ &&
        instrumentsWindow_->isVisible()) {
      idleDeliveries_ = 0;
      for (const auto& b : benches_) b->Trigger();
    }
    DeliverReadings();
  });

  access_.AddObserver(history_);
  frmUSB::Get().AddObserver(*feed_);
  main_.installEventFilter(this);
}

Monitor::~Monitor() {
  main_.removeEventFilter(this);
  // The windows draw from what this owns: they go first.
  delete plot_.data();
  delete journalWindow_.data();
  delete instrumentsWindow_.data();
  // The instruments' threads end before the observers they feed go.
  for (const auto& b : benches_) b->Stop();
  StopRecording();
  access_.RemoveObserver(history_);
  // The link drops its observers when it closes; one that is still open must forget the feed.
  if (frmUSB::Loaded()) frmUSB::Get().RemoveObserver(*feed_);
  for (QWidget* w : Controls()) delete w;
}

std::vector<QWidget*> Monitor::Controls() const {
  return {cmdRecord_, cmdPlot_, cmdJournal_, lblRecording_, cmdInstruments_};
}

bool Monitor::eventFilter(QObject* watched, QEvent* event) {
  // Before the main window unloads (and closes the adapter): the file ends complete.
  if (watched == &main_ && event->type() == QEvent::Close) StopRecording();
  return false;
}

// --- recording ---

void Monitor::RecordClicked() {
  if (recorder_) {
    StopRecording();
    return;
  }
  FileRequest request;
  request.caption = QStringLiteral("Record");
  request.suggested =
      SuggestedPath(QStringLiteral("korvo"), QStringLiteral("csv"), access_.Clock().WallNow());
  request.filters = {QStringLiteral("CSV (*.csv)"), QStringLiteral("Value change dump (*.vcd)"),
                     QStringLiteral("Sigrok session (*.sr)")};
  // A VCD's time step, offered as the scan period makes it; PulseView takes a sample per step.
  const std::vector<std::chrono::nanoseconds> steps = VcdSteps();
  request.choice = std::make_shared<FileChoice>();
  request.choice->label = QStringLiteral("VCD time step:");
  for (std::chrono::nanoseconds step : steps) {
    request.choice->items << QString::fromStdString(recording::VcdTimescaleText(step))
                                 .replace(QStringLiteral(" us"), QStringLiteral(" \u00B5s"));
    if (step == DefaultVcdStep()) request.choice->selected = request.choice->items.size() - 1;
  }
  if (const std::optional<QString> path = AskForFile(&main_, request)) {
    const auto pick = static_cast<std::size_t>(request.choice->selected);
    StartRecording(*path, pick < steps.size() ? std::optional(steps[pick]) : std::nullopt);
  }
}

std::vector<std::chrono::nanoseconds> Monitor::VcdSteps() {
  std::vector<std::chrono::nanoseconds> steps = recording::VcdTimescales();
  std::erase_if(steps, [](auto s) { return s < std::chrono::microseconds(1); });
  return steps;
}

std::chrono::nanoseconds Monitor::DefaultVcdStep() const {
  return recording::VcdTimescaleFor(
      std::chrono::milliseconds(scanPeriodMs_ ? scanPeriodMs_() : 500));
}

bool Monitor::StartRecording(const QString& path,
                             std::optional<std::chrono::nanoseconds> timescale) {
  const std::string file = path.toStdString();
  // An unknown extension is refused before anything is created.
  if (!recording::FormatForPath(file)) {
    MsgBox(recording::UnknownFormatText(file));
    return false;
  }
  recording::RecorderOptions o;
  o.variant = options_.variant;
  o.clock = &access_.Clock();
  o.timescale = timescale.value_or(DefaultVcdStep());
  o.period = std::chrono::milliseconds(scanPeriodMs_ ? scanPeriodMs_() : 500);  // a .sr's step
  std::string message;
  std::unique_ptr<recording::Recorder> r = recording::Recorder::Open(file, o, message);
  if (!r) {
    MsgBox(message);
    return false;
  }
  // A failure is noticed inside a register access (possibly a scan tick): the message waits
  // until that is over.
  const recording::Recorder* which = r.get();
  r->SetErrorHandler([this, which](const std::string& m) {
    QMetaObject::invokeMethod(
        this, [this, which, m] { RecordingFailed(which, m); }, Qt::QueuedConnection);
  });
  access_.AddObserver(*r);
  recorder_ = std::move(r);
  cmdRecord_->setText(QStringLiteral("Stop"));
  labelTimer_->start();
  UpdateRecordingLabel();
  return true;
}

void Monitor::StopRecording() {
  if (!recorder_) return;
  std::unique_ptr<recording::Recorder> r = std::move(recorder_);
  access_.RemoveObserver(*r);
  DropRecorder();
  // Not inside a register access here: a late write failure is reported at once.
  r->SetErrorHandler([](const std::string& m) { MsgBox(m); });
  r->Close();
}

void Monitor::RecordingFailed(const recording::Recorder* which, const std::string& message) {
  if (recorder_ && recorder_.get() == which) {
    access_.RemoveObserver(*recorder_);
    recorder_.reset();
    DropRecorder();
  }
  MsgBox(message);
}

void Monitor::DropRecorder() {
  labelTimer_->stop();
  lblRecording_->clear();
  cmdRecord_->setText(QStringLiteral("Record..."));
}

void Monitor::UpdateRecordingLabel() {
  if (!recorder_) return;
  const std::string& name = recorder_->Name();
  // A removed file would take every later sample with it, unseen.
  if (!QFileInfo::exists(QString::fromStdString(name))) {
    RecordingFailed(recorder_.get(), recording::RecordingStoppedText(name, "the file was removed"));
    return;
  }
  lblRecording_->setText(ElapsedText(access_.Clock().Now() - recorder_->Start().mono) +
                         QStringLiteral(", %1 samples").arg(recorder_->Samples()));
}

// --- windows ---

frmPlot* Monitor::Plot() const { return plot_.data(); }
frmJournal* Monitor::JournalWindow() const { return journalWindow_.data(); }

frmPlot* Monitor::ShowPlot() {
  if (!plot_) plot_ = new frmPlot(history_, options_.variant, &main_);
  BringForward(*plot_);
  return plot_;
}

frmJournal* Monitor::ShowJournal() {
  if (!journalWindow_)
    journalWindow_ = new frmJournal(journal_, access_.Clock(), options_.variant, &main_);
  BringForward(*journalWindow_);
  return journalWindow_;
}

frmInstruments* Monitor::InstrumentsWindow() const { return instrumentsWindow_.data(); }

frmInstruments* Monitor::ShowInstruments() {
  if (!instrumentsWindow_) instrumentsWindow_ = new frmInstruments(*this, options_.variant, &main_);
  instrumentsWindow_->Refresh();
  BringForward(*instrumentsWindow_);
  return instrumentsWindow_;
}

// --- bench instruments ---

void Monitor::AddBench(std::unique_ptr<instruments::Bench> bench) {
  bench->Start();
  benches_.push_back(std::move(bench));
  deliverTimer_->start();
  if (instrumentsWindow_) instrumentsWindow_->Refresh();
}

std::string Monitor::AddInstrument(const std::string& entry) {
  instruments::ConfigResult r = instruments::ParseInstrument(entry);
  if (!r.config) return r.error;
  // Its label must tell it apart from those read already, in recordings and the journal.
  std::vector<instruments::InstrumentConfig> all;
  for (const instruments::InstrumentState& s : InstrumentStates()) {
    instruments::InstrumentConfig c;
    c.label = s.label;
    all.push_back(c);
  }
  all.push_back(*r.config);
  instruments::MakeLabelsUnique(all);
  r.config->label = all.back().label;
  if (!backend_ && makeBackend_) backend_ = makeBackend_();
  if (!backend_) return instruments::InvalidInstrumentText(entry, "no instrument library here");
  if (const std::string reason = backend_->Check(*r.config); !reason.empty())
    return instruments::InvalidInstrumentText(entry, reason);
  instruments::BenchOptions o;
  o.clock = &access_.Clock();
  added_.push_back(*r.config);
  AddBench(std::make_unique<instruments::Bench>(backend_, std::vector{*r.config}, o));
  return {};
}

std::string Monitor::SettingsLine(const instruments::InstrumentConfig& config) {
  std::string line = config.label + "=" + config.text;
  for (std::size_t i = 0; i < config.channels.size(); ++i)
    line += (i == 0 ? " channels=" : ",") + config.channels[i];
  return line;
}

std::vector<instruments::InstrumentState> Monitor::InstrumentStates() const {
  std::vector<instruments::InstrumentState> all;
  for (const auto& b : benches_)
    for (instruments::InstrumentState& s : b->States()) all.push_back(std::move(s));
  return all;
}

std::vector<instruments::LatestReading> Monitor::LatestReadings() const {
  std::vector<instruments::LatestReading> all;
  for (const auto& b : benches_)
    for (instruments::LatestReading& r : b->Latest()) all.push_back(std::move(r));
  return all;
}

void Monitor::SetChannelEnabled(const std::string& instrument, const std::string& channel,
                                bool on) {
  const std::pair<std::string, std::string> key{instrument, channel};
  std::erase(disabled_, key);
  if (!on) disabled_.push_back(key);
}

bool Monitor::ChannelEnabled(const std::string& instrument, const std::string& channel) const {
  return std::find(disabled_.begin(), disabled_.end(), std::pair{instrument, channel}) ==
         disabled_.end();
}

void Monitor::OnScanTick() {
  if (benches_.empty()) return;
  idleDeliveries_ = 0;
  for (const auto& b : benches_) b->Trigger();
  DeliverReadings();
}

void Monitor::DeliverReadings() {
  if (benches_.empty()) return;
  bool fresh = false;
  bool changed = false;
  for (const auto& b : benches_) {
    CollectingSink told;
    const uint64_t before = b->Delivered();
    {
      const ScopedMessageSink scoped(&told);
      b->Deliver({relay_.get()});
    }
    fresh = fresh || b->Delivered() != before;
    if (told.texts.empty()) continue;
    // The bench names the instrument in each text; one that went and came back between two
    // deliveries is seen both ways.
    const std::vector<instruments::InstrumentState> states = b->States();
    for (const std::string& text : told.texts) {
      for (const instruments::InstrumentState& s : states) {
        const std::string name = "Instrument " + s.label + " (" + s.config + ")";
        if (text.rfind(name, 0) != 0) continue;
        const std::string rest = text.substr(name.size());
        constexpr std::string_view kAbsent = " is absent: ";
        if (rest.rfind(kAbsent, 0) == 0) {
          std::string reason = rest.substr(kAbsent.size());
          reason = reason.substr(0, reason.find(". Korvo goes on"));
          InstrumentEvent(access_.Clock().Now(), s.label, false, reason, text);
        } else {
          InstrumentEvent(access_.Clock().Now(), s.label, true, instruments::DeviceText(s.info), text);
        }
        changed = true;
        break;
      }
    }
  }
  if (presence_)
    for (const instruments::InstrumentState& s : InstrumentStates()) presence_(s.label, s.present);
  if ((fresh || changed) && instrumentsWindow_) instrumentsWindow_->ScheduleRefresh();
}

void Monitor::InstrumentEvent(recording::MonoTime time, const std::string& label, bool present,
                              const std::string& detail, const std::string& text) {
  recording::TransactionEvent e{time,
                                present ? "Instrument present" : "Instrument absent",
                                detail,
                                recording::TransactionEvent::kNoTarget,
                                present ? 0 : 1,
                                {},
                                label};
  feed_->OnTransaction(e);
  MarkOnPlot(plot_.data(), time, text);
}

}  // namespace monitor
