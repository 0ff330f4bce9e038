#include "monitor/frmPlot.h"

#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QDateTime>
#include <QFontMetrics>
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QAction>
#include <QActionGroup>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSettings>
#include <QToolTip>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "instruments/SrReader.h"
#include "monitor/BitTimeline.h"
#include "monitor/FileDialogs.h"
#include "monitor/PlotChartView.h"
#include "recording/RecordingReader.h"
#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "views/BitBoxes.h"

namespace monitor {

namespace {

constexpr double kMaxSpanSeconds = 7 * 24 * 3600.0;
constexpr int kPad = 20;  // around an axis' labels and title, and around the legend
// Pixels between time labels, about: fewer labels would leave a reader guessing between them.
constexpr double kPixelsPerTimeLabel = 100;

// Fits an axis to the values shown, with some room and round ticks (1, 2 or 5 times a power of
// ten); from 0 to fallbackHi when none are shown. An axis is touched only when its range
// changes: laying out its labels is most of what a repaint of the chart costs.
void FitAxis(QValueAxis* axis, double lo, double hi, double fallbackHi) {
  double min = 0, max = fallbackHi, step = fallbackHi / 4;
  if (hi >= lo) {
    const double pad = std::max((hi - lo) * 0.1, 20.0);
    const double rough = (hi - lo + 2 * pad) / 4;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    step = power * (rough <= power ? 1 : rough <= 2 * power ? 2 : rough <= 5 * power ? 5 : 10);
    min = std::max(0.0, std::floor((lo - pad) / step) * step);
    max = std::ceil((hi + pad) / step) * step;
  }
  const int ticks = static_cast<int>(std::lround((max - min) / step)) + 1;
  if (axis->min() == min && axis->max() == max && axis->tickCount() == ticks) return;
  axis->setTickCount(ticks);
  axis->setRange(min, max);
}

// a and b mixed, `amount` of b.
QColor Mix(const QColor& a, const QColor& b, double amount) {
  auto channel = [&](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * amount)); };
  return QColor(channel(a.red(), b.red()), channel(a.green(), b.green()),
                channel(a.blue(), b.blue()));
}

double Contrast(const QColor& a, const QColor& b) {
  return ContrastRatio(BgrFromColor(a), BgrFromColor(b));
}

// The line's hue, lightened or darkened until it stands out 3:1 from the ground, as WCAG asks
// of graphics.
QColor LineColour(const QColor& hue, const QColor& ground) {
  const QColor toward = Contrast(ground, Qt::black) >= Contrast(ground, Qt::white)
                            ? QColor(Qt::black)
                            : QColor(Qt::white);
  QColor c = hue;
  for (int step = 1; step <= 10 && Contrast(c, ground) < 3.0; ++step)
    c = Mix(hue, toward, step / 10.0);
  return c;
}

// The time between labels: 1, 2 or 5 times a power of ten, at least `rough`.
double RoundStep(double rough) {
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  for (double m : {1.0, 2.0, 5.0})
    if (m * power >= rough * (1 - 1e-9)) return m * power;
  return 10 * power;
}

// Enough decimals to tell labels `step` apart, and no more.
QString StepFormat(double step) {
  const int decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
  return QStringLiteral("%.%1f").arg(decimals);
}

QString Hex(uint8_t address) { return QString::fromStdString(recording::AddressText(address)); }

QString Utf8(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString ChannelKey(const InstrumentChannel& c) {
  return QStringLiteral("channel:") + QString::fromStdString(c.instrument) + QLatin1Char('/') +
         QString::fromStdString(c.channel);
}

bool Plotted(const InstrumentChannel& c) { return c.unit == "mV" || c.unit == "mA"; }

// A history of a recording read back, replayed in time order.
std::unique_ptr<SampleHistory> HistoryOf(const recording::Recording& rec) {
  std::size_t most = SampleHistory::kCapacity;
  most = std::max(most, rec.accesses.size());
  most = std::max(most, rec.readings.size());
  const recording::TimeBase start{recording::MonoTime{}, rec.start};
  auto history = std::make_unique<SampleHistory>(start, most);
  auto at = [&](int64_t us) { return start.mono + std::chrono::microseconds(us); };
  std::size_t a = 0, r = 0;
  while (a < rec.accesses.size() || r < rec.readings.size()) {
    if (r == rec.readings.size() ||
        (a < rec.accesses.size() && rec.accesses[a].us <= rec.readings[r].us)) {
      const recording::RecordedAccess& x = rec.accesses[a++];
      history->OnRegisterAccess({at(x.us), x.source, x.kind, x.address, x.value, x.status, 0});
    } else {
      const recording::RecordedReading& x = rec.readings[r++];
      const recording::RecordingChannel& c = rec.channels[x.channel];
      history->OnInstrumentReading(
          {at(x.us), c.instrument, c.caption, c.caption, c.quantity, c.unit, x.value});
    }
  }
  return history;
}

// The settings of the user's own configuration folder: never the settings file.
std::unique_ptr<QSettings> LaneSettings() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                     QStringLiteral("Korvo"), QStringLiteral("plot"));
}

QColor EventColour() { return QColor(0xE0, 0x80, 0x00); }

}  // namespace

frmPlot::frmPlot(SampleHistory& history, recording::Variant variant, QWidget* owner)
    : QWidget(owner, Qt::Window), live_(history), history_(&history), variant_(variant) {
  setObjectName(QStringLiteral("frmPlot"));
  setWindowTitle(QString::fromUtf8(recording::VariantName(variant).data()) +
                 QStringLiteral(" Korvo Plot"));
  LoadLaneChoice();
  BuildControls();
  ApplyPalette();
  repaint_ = new QTimer(this);
  repaint_->setSingleShot(true);
  repaint_->setInterval(kRepaintMs);
  connect(repaint_, &QTimer::timeout, this, &frmPlot::Refresh);
  live_.SetOnChange([this] { SampleAdded(); });
  UpdateLanes();
  resize(900, 760);
}

frmPlot::~frmPlot() { live_.SetOnChange(nullptr); }

void frmPlot::BuildControls() {
  cmdPause_ = new QPushButton(QStringLiteral("Pause"), this);
  cmdPause_->setObjectName(QStringLiteral("cmdPause"));
  cmdPause_->setAutoDefault(false);
  cmdPause_->setToolTip(QStringLiteral("Stop following the newest samples"));
  cmdSaveImage_ = new QPushButton(QStringLiteral("Save image..."), this);
  cmdSaveImage_->setObjectName(QStringLiteral("cmdSaveImage"));
  cmdSaveImage_->setAutoDefault(false);
  cmdOpen_ = new QPushButton(QStringLiteral("Open..."), this);
  cmdOpen_->setObjectName(QStringLiteral("cmdOpen"));
  cmdOpen_->setAutoDefault(false);
  cmdOpen_->setToolTip(QStringLiteral("Review a Korvo recording (.csv or .sr)"));
  cmdLive_ = new QPushButton(QStringLiteral("Live"), this);
  cmdLive_->setObjectName(QStringLiteral("cmdLive"));
  cmdLive_->setAutoDefault(false);
  cmdLive_->setToolTip(QStringLiteral("Back to the live samples"));
  cmdLive_->setVisible(false);
  cmdLanes_ = new QPushButton(QStringLiteral("Lanes"), this);
  cmdLanes_->setObjectName(QStringLiteral("cmdLanes"));
  cmdLanes_->setAutoDefault(false);
  lanesMenu_ = new QMenu(cmdLanes_);
  cmdLanes_->setMenu(lanesMenu_);
  connect(lanesMenu_, &QMenu::aboutToShow, this, &frmPlot::BuildLaneMenu);
  lblState_ = new QLabel(this);
  lblState_->setObjectName(QStringLiteral("lblState"));
  QFont bold = lblState_->font();
  bold.setBold(true);
  lblState_->setFont(bold);
  lblReadout_ = new QLabel(QString::fromUtf8(kHint), this);
  lblReadout_->setObjectName(QStringLiteral("lblReadout"));
  lblReadout_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblReadout_->setWordWrap(true);  // a narrow window keeps its buttons whole

  chart_ = new QChart;
  chart_->setBackgroundRoundness(0);
  chart_->setMargins(QMargins(0, 0, 0, 0));
  // Placed by hand above the plot area: the chart's own layout would squeeze it.
  chart_->legend()->detachFromChart();
  axisTime_ = new QValueAxis;
  axisTime_->setTitleText(QStringLiteral("Time (s)"));
  axisTime_->setTickType(QValueAxis::TicksDynamic);
  axisTime_->setTickAnchor(0);
  axisVoltage_ = new QValueAxis;
  axisVoltage_->setTitleText(QStringLiteral("mV"));
  axisVoltage_->setLabelFormat(QStringLiteral("%.0f"));
  axisCurrent_ = new QValueAxis;
  axisCurrent_->setTitleText(QStringLiteral("mA"));
  axisCurrent_->setLabelFormat(QStringLiteral("%.0f"));
  // One set of horizontal grid lines: the voltage axis'.
  axisCurrent_->setGridLineVisible(false);
  chart_->addAxis(axisTime_, Qt::AlignBottom);
  chart_->addAxis(axisVoltage_, Qt::AlignLeft);
  chart_->addAxis(axisCurrent_, Qt::AlignRight);
  auto setPoint = [&](uint8_t address, const char* name, const char* shortName, const char* unit,
                      QColor hue, QValueAxis* axis) {
    lines_.push_back({address, -1, QStringLiteral("line:") + Hex(address),
                      QString::fromUtf8(name), QString::fromUtf8(shortName),
                      QString::fromUtf8(unit), hue, true, axis, {}});
  };
  setPoint(RegisterTable::kChargeVoltage, "Charging voltage (mV)", "voltage", "mV",
           QColor(0xC0, 0x20, 0x20), axisVoltage_);
  setPoint(RegisterTable::kChargeCurrent, "Charge current (mA)", "charge", "mA",
           QColor(0x20, 0x50, 0xD0), axisCurrent_);
  setPoint(RegisterTable::kInputCurrent, "Input current (mA)", "input", "mA",
           QColor(0x20, 0x90, 0x30), axisCurrent_);
  for (Line& line : lines_) Piece(line, 0);  // the legend entries, even before any sample

  view_ = new PlotChartView(chart_, this);
  view_->setObjectName(QStringLiteral("chartView"));
  view_->setFrameShape(QFrame::NoFrame);
  view_->setRenderHint(QPainter::Antialiasing, false);
  view_->setMinimumHeight(260);
  view_->overlay = [this](QPainter* p) { Overlay(p); };
  timeline_ = new BitTimeline(variant_, ColorFromBgr(modGlobals::BitHi),
                              ColorFromBgr(modGlobals::BitUnknown), this);
  lblCursors_ = new QLabel(this);
  lblCursors_->setObjectName(QStringLiteral("lblCursors"));
  lblCursors_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblCursors_->setWordWrap(true);
  lblCursors_->setContentsMargins(6, 2, 6, 2);
  lblCursors_->setAutoFillBackground(true);
  lblCursors_->setBackgroundRole(QPalette::Base);
  lblCursors_->setVisible(false);

  auto* picture = new QWidget(this);
  picture->setObjectName(QStringLiteral("picture"));
  auto* pictureLayout = new QVBoxLayout(picture);
  pictureLayout->setContentsMargins(0, 0, 0, 0);
  pictureLayout->setSpacing(0);
  pictureLayout->addWidget(view_, 1);
  pictureLayout->addWidget(timeline_);
  // Below the lanes: placing a cursor does not move the chart under the pointer.
  pictureLayout->addWidget(lblCursors_);

  auto* top = new QHBoxLayout;
  top->addWidget(cmdPause_);
  top->addWidget(cmdLive_);
  top->addWidget(cmdSaveImage_);
  top->addWidget(cmdOpen_);
  top->addStretch(1);
  // The lane choice, the state and the readout on a row of their own: every button keeps its
  // caption whole in the narrow strip beside the main window on a small screen.
  auto* status = new QHBoxLayout;
  status->addWidget(cmdLanes_);
  status->addSpacing(12);
  status->addWidget(lblState_);
  status->addSpacing(12);
  status->addWidget(lblReadout_, 1);  // the rest of the row: it wraps only when that is too narrow
  auto* root = new QVBoxLayout(this);
  root->addLayout(top);
  root->addLayout(status);
  root->addWidget(picture, 1);

  view_->viewport()->installEventFilter(this);
  view_->viewport()->setMouseTracking(true);  // the readout follows the pointer
  timeline_->setMouseTracking(true);
  connect(chart_, &QGraphicsWidget::geometryChanged, this, [this] {
    LayOutPlotArea();
    Refresh();
  });
  timeline_->installEventFilter(this);
  connect(cmdPause_, &QPushButton::clicked, this, [this] { SetPaused(!paused_); });
  connect(cmdSaveImage_, &QPushButton::clicked, this, &frmPlot::SaveImageClicked);
  connect(cmdOpen_, &QPushButton::clicked, this, &frmPlot::OpenClicked);
  connect(cmdLive_, &QPushButton::clicked, this, &frmPlot::ShowLive);
  BuildLaneMenu();
}

QLineSeries* frmPlot::Piece(Line& line, std::size_t i) {
  while (line.pieces.size() <= i) {
    auto* s = new QLineSeries;
    s->setName(line.name);
    QPen pen(line.shown.isValid() ? line.shown : line.color);
    pen.setWidthF(line.dashed ? 1.5 : 2);
    if (line.dashed) pen.setStyle(Qt::DashLine);
    s->setPen(pen);
    chart_->addSeries(s);
    s->attachAxis(axisTime_);
    s->attachAxis(line.axis);
    // One legend entry per quantity, however many pieces its line falls into.
    if (!line.pieces.empty()) {
      for (QLegendMarker* m : chart_->legend()->markers(s)) m->setVisible(false);
    }
    line.pieces.push_back(s);
  }
  return line.pieces[i];
}

void frmPlot::ApplyPalette() {
  // The chart has colours of its own (its theme); it takes the window's instead, so a dark
  // desktop gives a dark chart with light text.
  const QPalette& pal = palette();
  const QColor ground = pal.color(QPalette::Base);
  const QColor text = pal.color(QPalette::Text);
  chart_->setBackgroundBrush(ground);
  chart_->setBackgroundPen(Qt::NoPen);
  view_->setBackgroundBrush(ground);
  const QColor axisLine = Mix(ground, text, 0.55);
  const QColor grid = Mix(ground, text, 0.15);
  for (QValueAxis* axis : {axisTime_, axisVoltage_, axisCurrent_}) {
    axis->setLabelsBrush(text);
    axis->setTitleBrush(text);
    axis->setLinePen(QPen(axisLine, 1));
    axis->setGridLinePen(QPen(grid, 1));
    axis->setMinorGridLinePen(QPen(grid, 1));
  }
  chart_->legend()->setLabelColor(text);
  chart_->legend()->setBackgroundVisible(false);
  for (Line& line : lines_) {
    line.shown = LineColour(line.color, ground);
    for (QLineSeries* s : line.pieces) {
      QPen pen = s->pen();
      pen.setColor(line.shown);
      s->setPen(pen);
    }
  }
}

void frmPlot::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::PaletteChange) ApplyPalette();
}

void frmPlot::SampleAdded() {
  // While paused or reviewing the range shown does not move; a hidden window draws when shown.
  if (paused_ || review_ || !isVisible()) return;
  if (!repaint_->isActive()) repaint_->start();
}

void frmPlot::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  LayOutPlotArea();
  Refresh();
}

void frmPlot::LayOutPlotArea() {
  // From the chart's own size, once the view has given it: the view's size arrives earlier,
  // while the chart still has its old one.
  const QSizeF size = chart_->size();
  if (size.isEmpty()) return;
  // Room for the axes' labels and titles in the fonts they have, so that none is cut off.
  const QFontMetrics labels(axisTime_->labelsFont());
  const QFontMetrics titles(axisTime_->titleFont());
  const int widestLabel = labels.horizontalAdvance(QStringLiteral("00000"));
  const int side = widestLabel + titles.height() + kPad;
  // The legend's rows: as many as its entries need at the plot area's width.
  const QFontMetrics legend(chart_->legend()->font());
  const double width = std::max(size.width() - 2 * side, 10.0);
  int rows = 1;
  double x = 0;
  for (const Line& line : lines_) {
    if (!LaneShown(line.key)) continue;
    const double entry = legend.horizontalAdvance(line.name) + legend.height() + 2 * kPad / 2.0;
    if (x > 0 && x + entry > width) {
      ++rows;
      x = 0;
    }
    x += entry;
  }
  const int top = rows * (legend.height() + kPad / 4) + kPad;
  const int bottom = labels.height() + titles.height() + kPad;
  const int left = std::max(timeline_->NameWidth(), side);
  const QRectF area(left, top, std::max(size.width() - left - side, 10.0),
                    std::max(size.height() - top - bottom, 10.0));
  if (chart_->plotArea() != area) {
    chart_->setPlotArea(area);
    // A new plot area moves the series only; the axes follow at the chart's next layout.
    chart_->layout()->invalidate();
  }
  chart_->legend()->setGeometry(QRectF(left, kPad / 4, area.width(), top - kPad / 2));
}

void frmPlot::UpdateRange() {
  if (paused_ || review_) return;
  viewEnd_ = std::max(static_cast<double>(history_->NewestUs()) / 1e6, span_);
}

void frmPlot::SetPaused(bool paused) {
  if (paused_ == paused) return;
  paused_ = paused;
  // The button says what it does next; the label says why the range stands still.
  cmdPause_->setText(paused ? QStringLiteral("Follow") : QStringLiteral("Pause"));
  cmdPause_->setToolTip(paused ? QStringLiteral("Follow the newest samples again")
                               : QStringLiteral("Stop following the newest samples"));
  if (!review_) lblState_->setText(paused ? QStringLiteral("Paused") : QString());
  if (!paused) Refresh();
}

void frmPlot::Zoom(double factor, std::optional<double> at) {
  const double span = std::clamp(span_ * factor, kMinSpanSeconds, kMaxSpanSeconds);
  if ((paused_ || review_) && at) {
    const double fraction = (*at - ViewStart()) / span_;
    viewEnd_ = *at - fraction * span + span;
  }
  span_ = span;
  Refresh();
}

void frmPlot::Pan(double seconds) {
  SetPaused(true);
  viewEnd_ += seconds;
  Refresh();
}

double frmPlot::TimeAtX(double x) const {
  const QRectF area = chart_->plotArea();
  if (area.width() <= 0) return ViewEnd();
  return ViewStart() + (x - area.left()) / area.width() * span_;
}

double frmPlot::XAtTime(double t) const {
  const QRectF area = chart_->plotArea();
  return area.left() + (t - ViewStart()) / span_ * area.width();
}

bool frmPlot::eventFilter(QObject* watched, QEvent* event) {
  if (watched != view_->viewport() && watched != timeline_) return false;
  switch (event->type()) {
    case QEvent::Wheel: {
      auto* w = static_cast<QWheelEvent*>(event);
      const double steps = w->angleDelta().y() / 120.0;
      if (steps == 0) return true;
      Zoom(std::pow(0.8, steps), TimeAtX(w->position().x()));
      return true;
    }
    case QEvent::MouseButtonPress: {
      auto* m = static_cast<QMouseEvent*>(event);
      const double x = m->position().x();
      if (m->button() == Qt::RightButton) {
        // Removes the nearer cursor.
        std::optional<std::size_t> nearest;
        for (std::size_t i = 0; i < cursors_.size(); ++i)
          if (!nearest || std::abs(XAtTime(cursors_[i]) - x) < std::abs(XAtTime(cursors_[*nearest]) - x))
            nearest = i;
        if (nearest) {
          cursors_.erase(cursors_.begin() + static_cast<std::ptrdiff_t>(*nearest));
          UpdateCursors();
        }
        return true;
      }
      if (m->button() != Qt::LeftButton) return false;
      dragX_ = x;
      dragEnd_ = ViewEnd();
      dragMoved_ = false;
      dragCursor_.reset();
      for (std::size_t i = 0; i < cursors_.size(); ++i)
        if (std::abs(XAtTime(cursors_[i]) - x) <= kGrabPixels) dragCursor_ = i;
      return true;
    }
    case QEvent::MouseMove: {
      auto* m = static_cast<QMouseEvent*>(event);
      const double x = m->position().x();
      ShowReadout(x, m->globalPosition().toPoint());
      if (!dragX_ || !(m->buttons() & Qt::LeftButton)) return false;
      if (dragCursor_) {
        cursors_[*dragCursor_] = Snap(TimeAtX(x));
        UpdateCursors();
        return true;
      }
      if (!dragMoved_ && std::abs(x - *dragX_) < 3) return true;  // a click, so far
      dragMoved_ = true;
      const double width = chart_->plotArea().width();
      if (width <= 0) return true;
      const double seconds = -(x - *dragX_) / width * span_;
      SetPaused(true);
      viewEnd_ = dragEnd_ + seconds;
      Refresh();
      return true;
    }
    case QEvent::MouseButtonRelease: {
      if (!dragX_) return false;
      auto* m = static_cast<QMouseEvent*>(event);
      if (!dragMoved_ && !dragCursor_) PlaceCursor(m->position().x());
      dragX_.reset();
      dragCursor_.reset();
      return true;
    }
    case QEvent::Leave:
      lblReadout_->setText(QString::fromUtf8(kHint));
      return false;
    default: return false;
  }
}

void frmPlot::PlaceCursor(double x) {
  const QRectF area = chart_->plotArea();
  if (x < area.left() || x > area.right()) return;
  const double t = Snap(TimeAtX(x));
  if (cursors_.size() < 2) {
    cursors_.push_back(t);
  } else {
    const bool first = std::abs(XAtTime(cursors_[0]) - x) <= std::abs(XAtTime(cursors_[1]) - x);
    cursors_[first ? 0 : 1] = t;
  }
  UpdateCursors();
}

double frmPlot::Snap(double t) const {
  // The nearest change of a lane shown (a bit's edge, a value's change) within kSnapPixels.
  const double reach = kSnapPixels / std::max(chart_->plotArea().width(), 1.0) * span_;
  std::map<uint8_t, uint16_t> masks;
  for (const BitTimeline::Lane& l : timeline_->Lanes())
    masks[l.address] |= l.bit < 0 ? uint16_t{0xFFFF} : static_cast<uint16_t>(1u << l.bit);
  std::optional<double> best;
  for (const auto& [address, mask] : masks) {
    const SampleSeries* s = history_->Series(address);
    if (!s || s->Size() < 2) continue;
    std::size_t i = std::max<std::size_t>(s->LowerBound(static_cast<int64_t>(std::floor((t - reach) * 1e6))), 1);
    const int64_t end = static_cast<int64_t>(std::ceil((t + reach) * 1e6));
    for (; i < s->Size() && s->At(i).us <= end; ++i) {
      const Sample& a = s->At(i - 1);
      const Sample& b = s->At(i);
      const bool edge = a.ok != b.ok || (a.ok && ((a.value ^ b.value) & mask) != 0);
      if (!edge) continue;
      const double at = static_cast<double>(b.us) / 1e6;
      if (!best || std::abs(at - t) < std::abs(*best - t)) best = at;
    }
  }
  return best && std::abs(*best - t) <= reach ? *best : t;
}

std::vector<double> frmPlot::Cursors() const { return cursors_; }

void frmPlot::UpdateCursors() {
  std::vector<double> xs;
  for (double t : cursors_) xs.push_back(XAtTime(t));
  timeline_->SetCursors(xs);
  view_->viewport()->update();
  const QString text = CursorReadout();
  lblCursors_->setText(text);
  lblCursors_->setVisible(!text.isEmpty());
}

QString frmPlot::ValueText(uint16_t v) const {
  return hex_ ? QStringLiteral("0x") + QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper()
              : QString::number(v);
}

QString frmPlot::CursorReadout() const {
  if (cursors_.empty()) return {};
  QString text;
  const char* names[] = {"A", "B"};
  for (std::size_t i = 0; i < cursors_.size(); ++i) {
    if (i) text += QLatin1Char('\n');
    text += QString::fromLatin1(names[i]) + QStringLiteral(": ") + ReadoutAt(cursors_[i]);
  }
  if (cursors_.size() < 2) return text;
  const double a = cursors_[0], b = cursors_[1];
  text += QStringLiteral("\n\u0394t %1 s").arg(b - a, 0, 'f', 3);
  auto number = [](double v) {
    return (v > 0 ? QStringLiteral("+") : QString()) + QString::number(v, 'f', 0);
  };
  for (const Line& line : lines_) {
    if (!LaneShown(line.key)) continue;
    const std::optional<double> va = LineValueAt(line, a), vb = LineValueAt(line, b);
    text += QStringLiteral("  \u0394 %1 %2").arg(line.shortName, va && vb ? number(*vb - *va) + QLatin1Char(' ') + line.unit : QStringLiteral("?"));
  }
  for (const BitTimeline::Lane& l : timeline_->Lanes()) {
    const std::optional<uint16_t> va = RegisterAt(l.address, a), vb = RegisterAt(l.address, b);
    if (l.bit < 0) {
      if (va != vb)
        text += QStringLiteral("  %1 %2\u2192%3")
                    .arg(l.name, va ? ValueText(*va) : QStringLiteral("?"), vb ? ValueText(*vb) : QStringLiteral("?"));
      continue;
    }
    auto bit = [&](const std::optional<uint16_t>& v) {
      return v ? QString::number((*v >> l.bit) & 1) : QStringLiteral("?");
    };
    if (bit(va) != bit(vb)) text += QStringLiteral("  %1 %2\u2192%3").arg(l.name, bit(va), bit(vb));
  }
  return text;
}

void frmPlot::Overlay(QPainter* p) {
  const QRectF area = chart_->plotArea();
  const double t0 = ViewStart(), t1 = ViewEnd();
  p->save();
  // Events: a small mark at the top of the plot area and a dotted line down it.
  const QColor mark = EventColour();
  const auto& events = history_->Events();
  auto it = std::lower_bound(events.begin(), events.end(), static_cast<int64_t>(t0 * 1e6),
                             [](const PlotEvent& e, int64_t us) { return e.us < us; });
  double lastX = -1;
  for (; it != events.end() && static_cast<double>(it->us) / 1e6 <= t1; ++it) {
    const double x = XAtTime(static_cast<double>(it->us) / 1e6);
    if (std::abs(x - lastX) < 1) continue;  // one mark per pixel
    lastX = x;
    p->setPen(QPen(mark, 1, Qt::DotLine));
    p->drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
    const QPointF tri[3] = {{x - 4, area.top() - 7}, {x + 4, area.top() - 7}, {x, area.top()}};
    p->setPen(Qt::NoPen);
    p->setBrush(mark);
    p->drawPolygon(tri, 3);
  }
  // Cursors, named at the top.
  const QColor text = palette().color(QPalette::Text);
  const char* names[] = {"A", "B"};
  for (std::size_t i = 0; i < cursors_.size(); ++i) {
    const double x = XAtTime(cursors_[i]);
    if (x < area.left() || x > area.right()) continue;
    p->setPen(QPen(text, 1, Qt::DashLine));
    p->drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
    p->setPen(text);
    p->drawText(QPointF(x + 3, area.top() + QFontMetrics(p->font()).ascent() + 2),
                QString::fromLatin1(names[i]));
  }
  p->restore();
}

const PlotEvent* frmPlot::EventNear(double x) const {
  const auto& events = history_->Events();
  const double t = TimeAtX(x);
  const double reach = kGrabPixels / std::max(chart_->plotArea().width(), 1.0) * span_;
  const PlotEvent* best = nullptr;
  auto it = std::lower_bound(events.begin(), events.end(),
                             static_cast<int64_t>(std::floor((t - reach) * 1e6)),
                             [](const PlotEvent& e, int64_t us) { return e.us < us; });
  for (; it != events.end() && static_cast<double>(it->us) / 1e6 <= t + reach; ++it)
    if (!best || std::abs(static_cast<double>(it->us) / 1e6 - t) <
                     std::abs(static_cast<double>(best->us) / 1e6 - t))
      best = &*it;
  return best;
}

void frmPlot::AddEvent(recording::MonoTime time, const QString& text) {
  live_.AddEvent(time, text.toStdString());
  if (!review_) view_->viewport()->update();
}

void frmPlot::UseHistory(SampleHistory* history) {
  RemoveChannelLines();
  history_ = history;
  cursors_.clear();
  UpdateLanes();
  UpdateCursors();
}

bool frmPlot::OpenRecording(const QString& path) {
  std::string message;
  // A .sr goes through the instrument module: libsigrok loads only now.
  const std::optional<recording::Recording> rec =
      path.endsWith(QStringLiteral(".sr"), Qt::CaseInsensitive)
          ? instruments::ReadSrRecording(path.toStdString(), message)
          : recording::ReadRecording(path.toStdString(), message);
  if (!rec) {
    MsgBox(message);
    return false;
  }
  review_ = HistoryOf(*rec);
  UseHistory(review_.get());
  // The whole recording in view.
  span_ = std::clamp(static_cast<double>(review_->NewestUs()) / 1e6, kMinSpanSeconds, kMaxSpanSeconds);
  viewEnd_ = span_;
  cmdPause_->setVisible(false);
  cmdLive_->setVisible(true);
  lblState_->setText(QFileInfo(path).fileName());
  lblState_->setToolTip(path);
  Refresh();
  return true;
}

void frmPlot::ShowLive() {
  if (!review_) return;
  UseHistory(&live_);
  review_.reset();
  cmdPause_->setVisible(true);
  cmdLive_->setVisible(false);
  lblState_->setToolTip(QString());
  lblState_->setText(paused_ ? QStringLiteral("Paused") : QString());
  Refresh();
}

void frmPlot::OpenClicked() {
  FileRequest request;
  request.mode = FileRequest::Mode::kOpen;
  request.caption = QStringLiteral("Open a recording");
  request.filters = {QStringLiteral("Korvo CSV recording (*.csv)"),
                     QStringLiteral("Sigrok session (*.sr)")};
  const std::optional<QString> path = AskForFile(this, request);
  if (path) OpenRecording(*path);
}

void frmPlot::RemoveChannelLines() {
  for (auto it = lines_.begin(); it != lines_.end();) {
    if (it->channel < 0) {
      ++it;
      continue;
    }
    for (QLineSeries* s : it->pieces) {
      chart_->removeSeries(s);
      delete s;
    }
    it = lines_.erase(it);
  }
}

void frmPlot::SyncChannelLines() {
  // A line for every channel in mV or mA, in its set point's hue: a voltage the charging
  // voltage's, a current the charge current's (the input current's when its caption says input).
  const auto& channels = history_->Channels();
  int known = -1;
  for (const Line& l : lines_) known = std::max(known, l.channel);
  bool added = false;
  for (std::size_t i = static_cast<std::size_t>(known + 1); i < channels.size(); ++i) {
    const InstrumentChannel& c = channels[i];
    if (!Plotted(c)) continue;
    const bool voltage = c.unit == "mV";
    const bool input = QString::fromStdString(c.caption).contains(QLatin1String("input"), Qt::CaseInsensitive);
    const uint8_t related = voltage ? RegisterTable::kChargeVoltage
                            : input ? RegisterTable::kInputCurrent
                                    : RegisterTable::kChargeCurrent;
    QColor hue;
    int same = 0;
    for (const Line& l : lines_) {
      if (l.channel < 0 && l.address == related) hue = l.color;
      if (l.channel >= 0 && l.address == related) ++same;
    }
    // A second measurement of the same quantity: the hue darkened, then lightened.
    if (same > 0) hue = same % 2 ? hue.darker(140 + 20 * (same / 2)) : hue.lighter(130 + 20 * (same / 2));
    const QString caption = QString::fromStdString(c.caption);
    lines_.push_back({related, static_cast<int>(i), ChannelKey(c),
                      caption + QStringLiteral(" (") + QString::fromStdString(c.unit) + QLatin1Char(')'),
                      caption, QString::fromStdString(c.unit), hue, false,
                      voltage ? axisVoltage_ : axisCurrent_, {}});
    Piece(lines_.back(), 0);
    added = true;
  }
  if (!added) return;
  ApplyPalette();
  LayOutPlotArea();  // the legend's rows
}

void frmPlot::UpdateLanes() {
  // The registers in the main window's order: status, control, then the DAC registers.
  std::vector<BitTimeline::Lane> lanes;
  for (uint8_t address : SampleHistory::kRegisters) {
    const uint16_t changed = history_->ChangedBits(address);
    const QString name = Hex(address);
    if (values_.contains(QStringLiteral("value:") + name) && !(hideUnchanged_ && changed == 0))
      lanes.push_back({address, -1, name, hex_});
    for (const BitTimeline::Lane& l : BitTimeline::NamedBits(variant_)) {
      if (l.address != address) continue;
      if (!LaneShown(QStringLiteral("bit:%1.%2").arg(name).arg(l.bit))) continue;
      if (hideUnchanged_ && (changed & (1u << l.bit)) == 0) continue;
      lanes.push_back(l);
    }
  }
  const auto& now = timeline_->Lanes();
  const bool same = std::equal(lanes.begin(), lanes.end(), now.begin(), now.end(),
                               [](const BitTimeline::Lane& a, const BitTimeline::Lane& b) {
                                 return a.address == b.address && a.bit == b.bit && a.hex == b.hex;
                               });
  if (same) return;
  timeline_->SetLanes(std::move(lanes));
  LayOutPlotArea();
}

QStringList frmPlot::LaneKeys() const {
  QStringList keys;
  for (const Line& l : lines_) keys << l.key;
  for (const InstrumentChannel& c : history_->Channels())
    if (!Plotted(c)) keys << ChannelKey(c);
  for (uint8_t address : SampleHistory::kRegisters) keys << QStringLiteral("value:") + Hex(address);
  for (const BitTimeline::Lane& l : BitTimeline::NamedBits(variant_))
    keys << QStringLiteral("bit:%1.%2").arg(Hex(l.address)).arg(l.bit);
  return keys;
}

bool frmPlot::LaneShown(const QString& key) const {
  if (key.startsWith(QLatin1String("value:"))) return values_.contains(key);
  return !hidden_.contains(key);
}

void frmPlot::SetLaneShown(const QString& key, bool shown) {
  if (key.startsWith(QLatin1String("value:"))) {
    if (shown)
      values_.insert(key);
    else
      values_.remove(key);
  } else if (shown) {
    hidden_.remove(key);
  } else {
    hidden_.insert(key);
  }
  SaveLaneChoice();
  UpdateLanes();
  LayOutPlotArea();  // the legend's rows
  Refresh();
}

void frmPlot::LoadLaneChoice() {
  const std::unique_ptr<QSettings> s = LaneSettings();
  const QStringList hidden = s->value(QStringLiteral("lanes/hidden")).toStringList();
  const QStringList values = s->value(QStringLiteral("lanes/values")).toStringList();
  hidden_ = QSet<QString>(hidden.begin(), hidden.end());
  values_ = QSet<QString>(values.begin(), values.end());
  hex_ = s->value(QStringLiteral("lanes/format"), QStringLiteral("hex")).toString() != QLatin1String("decimal");
  hideUnchanged_ = s->value(QStringLiteral("lanes/hideUnchanged"), false).toBool();
}

void frmPlot::SaveLaneChoice() const {
  const std::unique_ptr<QSettings> s = LaneSettings();
  QStringList hidden(hidden_.begin(), hidden_.end()), values(values_.begin(), values_.end());
  hidden.sort();
  values.sort();
  s->setValue(QStringLiteral("lanes/hidden"), hidden);
  s->setValue(QStringLiteral("lanes/values"), values);
  s->setValue(QStringLiteral("lanes/format"), hex_ ? QStringLiteral("hex") : QStringLiteral("decimal"));
  s->setValue(QStringLiteral("lanes/hideUnchanged"), hideUnchanged_);
}

void frmPlot::BuildLaneMenu() {
  lanesMenu_->clear();
  auto toggle = [&](QMenu* menu, const QString& key, const QString& text) {
    QAction* a = menu->addAction(text);
    a->setObjectName(QStringLiteral("lane:") + key);
    a->setCheckable(true);
    a->setChecked(LaneShown(key));
    connect(a, &QAction::toggled, this, [this, key](bool on) { SetLaneShown(key, on); });
  };
  lanesMenu_->addSection(QStringLiteral("Lines"));
  for (const Line& l : lines_) toggle(lanesMenu_, l.key, l.name);
  lanesMenu_->addSection(QStringLiteral("Registers as values"));
  for (uint8_t address : SampleHistory::kRegisters) {
    const RegisterTable::Register* r = RegisterTable::Find(address);
    toggle(lanesMenu_, QStringLiteral("value:") + Hex(address),
           Hex(address) + (r ? QStringLiteral(" ") + Utf8(r->trimTitle) : QString()));
  }
  auto* group = new QActionGroup(lanesMenu_);
  for (bool hex : {true, false}) {
    QAction* a = lanesMenu_->addAction(hex ? QStringLiteral("Values in hex") : QStringLiteral("Values in decimal"));
    a->setObjectName(hex ? QStringLiteral("lane:hex") : QStringLiteral("lane:decimal"));
    a->setCheckable(true);
    a->setChecked(hex_ == hex);
    group->addAction(a);
    connect(a, &QAction::triggered, this, [this, hex] {
      hex_ = hex;
      SaveLaneChoice();
      UpdateLanes();
      Refresh();
    });
  }
  lanesMenu_->addSection(QStringLiteral("Bits"));
  QMenu* sub = nullptr;
  uint8_t subAddress = 0;
  for (const BitTimeline::Lane& l : BitTimeline::NamedBits(variant_)) {
    if (!sub || subAddress != l.address) {
      sub = lanesMenu_->addMenu(Hex(l.address));
      subAddress = l.address;
    }
    toggle(sub, QStringLiteral("bit:%1.%2").arg(Hex(l.address)).arg(l.bit), l.name);
  }
  lanesMenu_->addSeparator();
  QAction* unchanged = lanesMenu_->addAction(QStringLiteral("Hide lanes that never changed"));
  unchanged->setObjectName(QStringLiteral("lane:hideUnchanged"));
  unchanged->setCheckable(true);
  unchanged->setChecked(hideUnchanged_);
  connect(unchanged, &QAction::toggled, this, [this](bool on) {
    hideUnchanged_ = on;
    SaveLaneChoice();
    UpdateLanes();
    Refresh();
  });
}

void frmPlot::Refresh() {
  UpdateRange();
  const std::size_t linesBefore = lines_.size();
  SyncChannelLines();
  if (lines_.size() != linesBefore) BuildLaneMenu();
  if (hideUnchanged_) UpdateLanes();
  const double t0 = ViewStart(), t1 = ViewEnd();
  axisTime_->setRange(t0, t1);
  const QRectF area = chart_->plotArea();
  const int columns = std::max(1, static_cast<int>(area.width()));
  // Labels at round times (0, 0.5, 1.0, ...), however the range was zoomed or dragged.
  const double step = RoundStep(span_ * kPixelsPerTimeLabel / std::max(area.width(), 1.0));
  if (axisTime_->tickInterval() != step) {
    axisTime_->setTickInterval(step);
    axisTime_->setLabelFormat(StepFormat(step));
  }

  double lo[2] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
  double hi[2] = {-lo[0], -lo[0]};
  for (Line& line : lines_) {
    const bool shown = LaneShown(line.key);
    std::vector<std::vector<PlotPoint>> runs;
    if (shown && line.channel >= 0) {
      runs = LineRuns(history_->Channels()[static_cast<std::size_t>(line.channel)].series, t0, t1, columns);
    } else if (shown) {
      if (const SampleSeries* series = history_->Series(line.address))
        runs = LineRuns(*series, t0, t1, columns);
    }
    if (runs.size() > kMaxRuns) {
      for (std::size_t r = kMaxRuns; r < runs.size(); ++r)
        runs[kMaxRuns - 1].insert(runs[kMaxRuns - 1].end(), runs[r].begin(), runs[r].end());
      runs.resize(kMaxRuns);
    }
    const int axis = line.axis == axisVoltage_ ? 0 : 1;
    for (std::size_t r = 0; r < runs.size(); ++r) {
      QList<QPointF> points;
      points.reserve(static_cast<qsizetype>(runs[r].size()));
      for (const PlotPoint& p : runs[r]) {
        points.append(QPointF(p.t, p.v));
        if (p.t >= t0 && p.t <= t1) {
          lo[axis] = std::min(lo[axis], p.v);
          hi[axis] = std::max(hi[axis], p.v);
        }
      }
      Piece(line, r)->replace(points);
    }
    for (std::size_t r = runs.size(); r < line.pieces.size(); ++r) {
      if (line.pieces[r]->count() > 0) line.pieces[r]->clear();
    }
    // A line not chosen leaves the legend too.
    if (line.pieces.front()->isVisible() != shown) line.pieces.front()->setVisible(shown);
  }
  FitAxis(axisVoltage_, lo[0], hi[0], 20000);
  FitAxis(axisCurrent_, lo[1], hi[1], 17000);

  std::map<uint8_t, std::vector<BitColumn>> bits;
  std::map<uint8_t, std::vector<ValueColumn>> values;
  for (const BitTimeline::Lane& l : timeline_->Lanes()) {
    if (l.bit < 0 && !values.count(l.address))
      values[l.address] = ValueColumns(history_->Series(l.address), t0, t1, columns, history_->NewestUs());
    if (l.bit >= 0 && !bits.count(l.address))
      bits[l.address] = BitColumns(history_->Series(l.address), t0, t1, columns, history_->NewestUs());
  }
  timeline_->SetColumns(static_cast<int>(area.left()), std::move(bits), std::move(values),
                        static_cast<std::size_t>(columns));
  std::vector<double> xs;
  for (double t : cursors_) xs.push_back(XAtTime(t));
  timeline_->SetCursors(xs);
  view_->viewport()->update();
  ++refreshes_;
}

std::optional<uint16_t> frmPlot::RegisterAt(uint8_t address, double t) const {
  const SampleSeries* series = history_->Series(address);
  if (!series) return std::nullopt;
  const Sample* s = series->AtOrBefore(static_cast<int64_t>(std::floor(t * 1e6)));
  if (!s || !s->ok) return std::nullopt;
  return s->value;
}

std::optional<double> frmPlot::LineValueAt(const Line& line, double t) const {
  if (line.channel < 0) {
    const std::optional<uint16_t> v = RegisterAt(line.address, t);
    return v ? std::optional<double>(*v) : std::nullopt;
  }
  const Reading* r = history_->Channels()[static_cast<std::size_t>(line.channel)].series.AtOrBefore(
      static_cast<int64_t>(std::floor(t * 1e6)));
  return r ? std::optional<double>(r->value) : std::nullopt;
}

QString frmPlot::ReadoutAt(double t) const {
  // Wall-clock time from the history's one wall-clock start and the monotonic time since: the
  // same moment the recording and the journal name in their own clock.
  const auto wall = history_->Start().wall + std::chrono::round<recording::WallTime::duration>(
                                                 std::chrono::duration<double>(t));
  const qint64 ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count();
  QString text = QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
  text += QStringLiteral("  (%1 s)").arg(t, 0, 'f', 3);
  for (const Line& line : lines_) {
    if (!LaneShown(line.key)) continue;
    const std::optional<double> v = LineValueAt(line, t);
    text += QStringLiteral("  %1 %2 %3")
                .arg(line.shortName,
                     v ? QString::number(*v, 'f', line.channel < 0 ? 0 : 1) : QStringLiteral("?"),
                     line.unit);
  }
  // Channels in other units: the readout only.
  for (const InstrumentChannel& c : history_->Channels()) {
    if (Plotted(c) || !LaneShown(ChannelKey(c))) continue;
    const Reading* r = c.series.AtOrBefore(static_cast<int64_t>(std::floor(t * 1e6)));
    text += QStringLiteral("  %1 %2 %3")
                .arg(QString::fromStdString(c.caption),
                     r ? QString::number(r->value, 'g', 7) : QStringLiteral("?"),
                     QString::fromStdString(c.unit));
  }
  for (const BitTimeline::Lane& l : timeline_->Lanes()) {
    const std::optional<uint16_t> v = RegisterAt(l.address, t);
    if (l.bit < 0)
      text += QStringLiteral("  %1 %2").arg(l.name, v ? ValueText(*v) : QStringLiteral("?"));
    else
      text += QStringLiteral("  %1 %2").arg(l.name, v ? QString::number((*v >> l.bit) & 1) : QStringLiteral("?"));
  }
  return text;
}

void frmPlot::ShowReadout(double x, QPoint global) {
  const QRectF area = chart_->plotArea();
  if (x < area.left() || x > area.right()) {
    lblReadout_->setText(QString::fromUtf8(kHint));
    return;
  }
  QString text = ReadoutAt(TimeAtX(x));
  if (const PlotEvent* e = EventNear(x)) {
    const QString event = QString::fromStdString(e->text);
    text = event + QStringLiteral("  |  ") + text;
    QToolTip::showText(global, event, view_);
  }
  lblReadout_->setText(text);
}

std::vector<std::vector<PlotPoint>> frmPlot::DrawnRuns(uint8_t address) const {
  std::vector<std::vector<PlotPoint>> runs;
  for (const Line& line : lines_) {
    if (line.channel >= 0 || line.address != address) continue;
    for (const QLineSeries* s : line.pieces) {
      if (s->count() == 0) continue;
      std::vector<PlotPoint> run;
      for (const QPointF& p : s->points()) run.push_back({p.x(), p.y()});
      runs.push_back(std::move(run));
    }
  }
  return runs;
}

std::vector<std::vector<PlotPoint>> frmPlot::DrawnRuns(const QString& caption) const {
  std::vector<std::vector<PlotPoint>> runs;
  for (const Line& line : lines_) {
    if (line.channel < 0 || line.shortName != caption) continue;
    for (const QLineSeries* s : line.pieces) {
      if (s->count() == 0) continue;
      std::vector<PlotPoint> run;
      for (const QPointF& p : s->points()) run.push_back({p.x(), p.y()});
      runs.push_back(std::move(run));
    }
  }
  return runs;
}

QImage frmPlot::Picture() {
  QWidget* picture = findChild<QWidget*>(QStringLiteral("picture"));
  // What a cursor or a lane changed just now: laid out before it is taken.
  picture->layout()->activate();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  LayOutPlotArea();
  Refresh();
  return picture->grab().toImage();
}

bool frmPlot::SaveImage(const QString& path, QString& error) {
  QImageWriter writer(path, "png");
  if (writer.write(Picture())) return true;
  error = writer.errorString();
  return false;
}

void frmPlot::SaveImageClicked() {
  FileRequest request;
  request.caption = QStringLiteral("Save image");
  request.suggested = SuggestedPath(QStringLiteral("korvo-plot"), QStringLiteral("png"),
                                    std::chrono::system_clock::now());
  request.filters = {QStringLiteral("PNG image (*.png)")};
  const std::optional<QString> path = AskForFile(this, request);
  if (!path) return;
  QString error;
  if (!SaveImage(*path, error))
    MsgBox("Cannot write " + path->toStdString() + ": " + error.toStdString() + ".");
}

}  // namespace monitor
