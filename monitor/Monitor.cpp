#include "monitor/Monitor.h"

#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <chrono>

#include "adapter/frmUSB.h"
#include "monitor/FileDialogs.h"
#include "monitor/frmJournal.h"
#include "monitor/frmPlot.h"
#include "registers/RegisterAccess.h"
#include "foundation/CommandLine.h"
#include "foundation/Messages.h"
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

namespace {

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
      feed_(std::make_unique<JournalFeed>(*this)) {
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
  labelTimer_ = new QTimer(this);
  labelTimer_->setInterval(options_.labelMs);

  connect(cmdRecord_, &QPushButton::clicked, this, &Monitor::RecordClicked);
  connect(cmdPlot_, &QPushButton::clicked, this, &Monitor::ShowPlot);
  connect(cmdJournal_, &QPushButton::clicked, this, &Monitor::ShowJournal);
  connect(labelTimer_, &QTimer::timeout, this, &Monitor::UpdateRecordingLabel);

  access_.AddObserver(history_);
  frmUSB::Get().AddObserver(*feed_);
  main_.installEventFilter(this);
}

Monitor::~Monitor() {
  main_.removeEventFilter(this);
  // The windows draw from what this owns: they go first.
  delete plot_.data();
  delete journalWindow_.data();
  StopRecording();
  access_.RemoveObserver(history_);
  // The link drops its observers when it closes; one that is still open must forget the feed.
  if (frmUSB::Loaded()) frmUSB::Get().RemoveObserver(*feed_);
  for (QWidget* w : Controls()) delete w;
}

std::vector<QWidget*> Monitor::Controls() const {
  return {cmdRecord_, cmdPlot_, cmdJournal_, lblRecording_};
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
  request.filters = {QStringLiteral("CSV (*.csv)"), QStringLiteral("Value change dump (*.vcd)")};
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

}  // namespace monitor
