#include "monitor/frmPlot.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QFontMetrics>
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "monitor/BitTimeline.h"
#include "monitor/FileDialogs.h"
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

}  // namespace

frmPlot::frmPlot(SampleHistory& history, recording::Variant variant, QWidget* owner)
    : QWidget(owner, Qt::Window), history_(history), variant_(variant) {
  setObjectName(QStringLiteral("frmPlot"));
  setWindowTitle(QString::fromUtf8(recording::VariantName(variant).data()) +
                 QStringLiteral(" Korvo Plot"));
  BuildControls();
  ApplyPalette();
  repaint_ = new QTimer(this);
  repaint_->setSingleShot(true);
  repaint_->setInterval(kRepaintMs);
  connect(repaint_, &QTimer::timeout, this, &frmPlot::Refresh);
  history_.SetOnChange([this] { SampleAdded(); });
  resize(900, 760);
}

frmPlot::~frmPlot() { history_.SetOnChange(nullptr); }

void frmPlot::BuildControls() {
  cmdPause_ = new QPushButton(QStringLiteral("Pause"), this);
  cmdPause_->setObjectName(QStringLiteral("cmdPause"));
  cmdPause_->setAutoDefault(false);
  cmdPause_->setToolTip(QStringLiteral("Stop following the newest samples"));
  cmdSaveImage_ = new QPushButton(QStringLiteral("Save image..."), this);
  cmdSaveImage_->setObjectName(QStringLiteral("cmdSaveImage"));
  cmdSaveImage_->setAutoDefault(false);
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
  lines_ = {
      {RegisterTable::kChargeVoltage,
       QStringLiteral("Charging voltage (mV)"),
       QStringLiteral("voltage"),
       QColor(0xC0, 0x20, 0x20),
       axisVoltage_,
       {}},
      {RegisterTable::kChargeCurrent,
       QStringLiteral("Charge current (mA)"),
       QStringLiteral("charge"),
       QColor(0x20, 0x50, 0xD0),
       axisCurrent_,
       {}},
      {RegisterTable::kInputCurrent,
       QStringLiteral("Input current (mA)"),
       QStringLiteral("input"),
       QColor(0x20, 0x90, 0x30),
       axisCurrent_,
       {}},
  };
  for (Line& line : lines_) Piece(line, 0);  // the legend entries, even before any sample

  view_ = new QChartView(chart_, this);
  view_->setObjectName(QStringLiteral("chartView"));
  view_->setFrameShape(QFrame::NoFrame);
  view_->setRenderHint(QPainter::Antialiasing, false);
  view_->setMinimumHeight(260);
  timeline_ = new BitTimeline(variant_, ColorFromBgr(modGlobals::BitHi),
                              ColorFromBgr(modGlobals::BitUnknown), this);

  auto* picture = new QWidget(this);
  picture->setObjectName(QStringLiteral("picture"));
  auto* pictureLayout = new QVBoxLayout(picture);
  pictureLayout->setContentsMargins(0, 0, 0, 0);
  pictureLayout->setSpacing(0);
  pictureLayout->addWidget(view_, 1);
  pictureLayout->addWidget(timeline_);

  auto* top = new QHBoxLayout;
  top->addWidget(cmdPause_);
  top->addWidget(cmdSaveImage_);
  top->addSpacing(12);
  top->addWidget(lblState_);
  top->addSpacing(12);
  top->addWidget(lblReadout_, 1);  // the rest of the row: it wraps only when that is too narrow
  auto* root = new QVBoxLayout(this);
  root->addLayout(top);
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
}

QLineSeries* frmPlot::Piece(Line& line, std::size_t i) {
  while (line.pieces.size() <= i) {
    auto* s = new QLineSeries;
    s->setName(line.name);
    QPen pen(line.shown.isValid() ? line.shown : line.color);
    pen.setWidthF(1.5);
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
  // While paused the range shown does not move; a hidden window draws when shown.
  if (paused_ || !isVisible()) return;
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
  const int top = QFontMetrics(chart_->legend()->font()).height() + kPad;
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
  if (paused_) return;
  viewEnd_ = std::max(static_cast<double>(history_.NewestUs()) / 1e6, span_);
}

void frmPlot::SetPaused(bool paused) {
  if (paused_ == paused) return;
  paused_ = paused;
  // The button says what it does next; the label says why the range stands still.
  cmdPause_->setText(paused ? QStringLiteral("Follow") : QStringLiteral("Pause"));
  cmdPause_->setToolTip(paused ? QStringLiteral("Follow the newest samples again")
                               : QStringLiteral("Stop following the newest samples"));
  lblState_->setText(paused ? QStringLiteral("Paused") : QString());
  if (!paused) Refresh();
}

void frmPlot::Zoom(double factor, std::optional<double> at) {
  const double span = std::clamp(span_ * factor, kMinSpanSeconds, kMaxSpanSeconds);
  if (paused_ && at) {
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
      if (m->button() != Qt::LeftButton) return false;
      dragX_ = m->position().x();
      dragEnd_ = ViewEnd();
      return true;
    }
    case QEvent::MouseMove: {
      auto* m = static_cast<QMouseEvent*>(event);
      ShowReadout(m->position().x());
      if (!dragX_ || !(m->buttons() & Qt::LeftButton)) return false;
      const double width = chart_->plotArea().width();
      if (width <= 0) return true;
      const double seconds = -(m->position().x() - *dragX_) / width * span_;
      SetPaused(true);
      viewEnd_ = dragEnd_ + seconds;
      Refresh();
      return true;
    }
    case QEvent::MouseButtonRelease:
      if (!dragX_) return false;
      dragX_.reset();
      return true;
    case QEvent::Leave:
      lblReadout_->setText(QString::fromUtf8(kHint));
      return false;
    default: return false;
  }
}

void frmPlot::Refresh() {
  UpdateRange();
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
    std::vector<std::vector<PlotPoint>> runs;
    if (const SampleSeries* series = history_.Series(line.address))
      runs = LineRuns(*series, t0, t1, columns);
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
  }
  FitAxis(axisVoltage_, lo[0], hi[0], 20000);
  FitAxis(axisCurrent_, lo[1], hi[1], 17000);

  timeline_->SetColumns(
      static_cast<int>(area.left()),
      BitColumns(history_.Series(RegisterTable::kStatus), t0, t1, columns, history_.NewestUs()),
      BitColumns(history_.Series(RegisterTable::kControl), t0, t1, columns, history_.NewestUs()));
  ++refreshes_;
}

std::optional<double> frmPlot::ValueAt(uint8_t address, double t) const {
  const SampleSeries* series = history_.Series(address);
  if (!series) return std::nullopt;
  const std::size_t after = series->LowerBound(static_cast<int64_t>(std::floor(t * 1e6)) + 1);
  if (after == 0) return std::nullopt;
  const Sample& s = series->At(after - 1);
  if (!s.ok) return std::nullopt;
  return s.value;
}

QString frmPlot::ReadoutAt(double t) const {
  // Wall-clock time from the history's one wall-clock start and the monotonic time since: the
  // same moment the recording and the journal name in their own clock.
  const auto wall = history_.Start().wall + std::chrono::duration_cast<recording::WallTime::duration>(
                                                std::chrono::duration<double>(t));
  const qint64 ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count();
  QString text = QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
  text += QStringLiteral("  (%1 s)").arg(t, 0, 'f', 3);
  for (const Line& line : lines_) {
    const std::optional<double> v = ValueAt(line.address, t);
    text += QStringLiteral("  %1 %2 %3")
                .arg(line.shortName, v ? QString::number(*v, 'f', 0) : QStringLiteral("?"),
                     line.axis == axisVoltage_ ? QStringLiteral("mV") : QStringLiteral("mA"));
  }
  return text;
}

void frmPlot::ShowReadout(double x) {
  const QRectF area = chart_->plotArea();
  if (x < area.left() || x > area.right()) {
    lblReadout_->setText(QString::fromUtf8(kHint));
    return;
  }
  lblReadout_->setText(ReadoutAt(TimeAtX(x)));
}

std::vector<std::vector<PlotPoint>> frmPlot::DrawnRuns(uint8_t address) const {
  std::vector<std::vector<PlotPoint>> runs;
  for (const Line& line : lines_) {
    if (line.address != address) continue;
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
