#include "monitor/frmJournal.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStaticText>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>

#include "foundation/Messages.h"
#include "monitor/FileDialogs.h"
#include "monitor/JournalModel.h"
#include "monitor/ReadableText.h"

namespace monitor {

namespace {

// Draws a cell's text from a cache of laid-out texts. While the table follows the journal its
// rows move up and are painted again, but their texts stay the same (and many repeat), so
// laying them out again on every repaint would be most of what the window costs.
class CachedTextDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* p, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    const QString text = index.data().toString();
    const bool selected = option.state & QStyle::State_Selected;
    if (selected) p->fillRect(option.rect, option.palette.highlight());
    if (text.isEmpty()) return;
    if (cache_.size() > 4096) cache_.clear();
    QStaticText& t = cache_[text];
    if (t.text().isEmpty()) {
      t.setTextFormat(Qt::PlainText);
      t.setText(text);
      t.prepare(QTransform(), option.font);
    }
    // The ground the cell is painted on (the view's base or the selection), and a text colour
    // that reads on it.
    const QColor ground = option.palette.color(selected ? QPalette::Highlight : QPalette::Base);
    const QVariant brush = index.data(Qt::ForegroundRole);
    const QColor color = ReadableOn(selected ? option.palette.color(QPalette::HighlightedText)
                                    : brush.isValid() ? brush.value<QBrush>().color()
                                                      : option.palette.color(QPalette::Text),
                                    ground);
    const auto align = index.data(Qt::TextAlignmentRole).value<Qt::Alignment>();
    const QRect r = option.rect.adjusted(4, 0, -4, 0);
    const QSizeF size = t.size();
    const double x = align & Qt::AlignRight ? r.right() + 1 - size.width() : r.left();
    p->save();
    p->setClipRect(option.rect);
    p->setPen(color);
    p->drawStaticText(QPointF(x, r.top() + (r.height() - size.height()) / 2), t);
    p->restore();
  }

 private:
  mutable QHash<QString, QStaticText> cache_;
};

}  // namespace

frmJournal::frmJournal(const recording::Journal& journal, const recording::Clock& clock,
                       recording::Variant variant, QWidget* owner)
    : QWidget(owner, Qt::Window), journal_(journal), clock_(clock) {
  setObjectName(QStringLiteral("frmJournal"));
  setWindowTitle(QString::fromUtf8(recording::VariantName(variant).data()) +
                 QStringLiteral(" Korvo Journal"));

  lblStatistics_ = new QLabel(this);
  lblStatistics_->setObjectName(QStringLiteral("lblStatistics"));
  lblStatistics_->setTextFormat(Qt::PlainText);
  // Wraps: a longer line of figures never widens the window past the screen it was fitted to.
  lblStatistics_->setWordWrap(true);
  chkFailuresOnly_ = new QCheckBox(QStringLiteral("Failures only"), this);
  chkFailuresOnly_->setObjectName(QStringLiteral("chkFailuresOnly"));
  cmdSave_ = new QPushButton(QStringLiteral("Save..."), this);
  cmdSave_->setObjectName(QStringLiteral("cmdSave"));
  cmdSave_->setAutoDefault(false);

  model_ = new JournalModel(journal_, this);
  table_ = new QTableView(this);
  table_->setObjectName(QStringLiteral("tblJournal"));
  table_->setModel(model_);
  table_->setItemDelegate(new CachedTextDelegate(table_));
  table_->setWordWrap(false);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Fixed row heights and column widths: nothing measures the 100,000 rows.
  QHeaderView* rows = table_->verticalHeader();
  rows->setVisible(false);
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(fontMetrics().height() + 4);
  QHeaderView* columns = table_->horizontalHeader();
  columns->setSectionResizeMode(QHeaderView::Interactive);
  columns->setStretchLastSection(true);
  auto width = [this](const char* sample) {
    return fontMetrics().horizontalAdvance(QString::fromLatin1(sample)) + 16;
  };
  columns->resizeSection(JournalModel::kTime, width("00:00:00.000"));
  columns->resizeSection(JournalModel::kTransaction, width("ReadSMBusWord_(15,FFFF) more"));
  columns->resizeSection(JournalModel::kTarget, width("Target"));
  columns->resizeSection(JournalModel::kStatus, width("VB_ZENTIO_OCX_INTERNAL_ERROR"));

  auto* bar = new QHBoxLayout;
  bar->addWidget(chkFailuresOnly_);
  bar->addStretch(1);
  bar->addWidget(cmdSave_);
  auto* root = new QVBoxLayout(this);
  root->addWidget(lblStatistics_);
  root->addLayout(bar);
  root->addWidget(table_, 1);

  repaint_ = new QTimer(this);
  repaint_->setSingleShot(true);
  repaint_->setInterval(kRepaintMs);
  connect(repaint_, &QTimer::timeout, this, [this] { Update(false); });
  rateTimer_ = new QTimer(this);
  rateTimer_->setInterval(1000);
  connect(rateTimer_, &QTimer::timeout, this, &frmJournal::ShowStatistics);
  // Following is the user's choice, not a geometry's: the rows grow and the window lays itself
  // out again (a longer statistics text, a resize) while the scroll position stays, so whether
  // it sits at the bottom is decided when it moves, not when new rows arrive.
  QScrollBar* scroll = table_->verticalScrollBar();
  connect(scroll, &QScrollBar::rangeChanged, this, [this, scroll](int, int maximum) {
    if (following_) scroll->setValue(maximum);
  });
  connect(scroll, &QScrollBar::valueChanged, this,
          [this, scroll](int value) { following_ = value >= scroll->maximum(); });
  connect(chkFailuresOnly_, &QCheckBox::toggled, this, [this](bool on) {
    model_->SetFailuresOnly(on);
    table_->scrollToBottom();
  });
  connect(cmdSave_, &QPushButton::clicked, this, &frmJournal::SaveClicked);
  resize(760, 560);
}

void frmJournal::ScheduleRefresh() {
  if (isVisible() && !repaint_->isActive()) repaint_->start();
}

void frmJournal::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  following_ = true;
  Refresh();
  table_->scrollToBottom();
  rateTimer_->start();
}

void frmJournal::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  rateTimer_->stop();
}

void frmJournal::Refresh() { Update(true); }

void frmJournal::Update(bool statistics) {
  model_->Sync();
  // A new text re-lays the window out: the figures change at most twice a second.
  if (statistics || !statisticsShown_.isValid() || statisticsShown_.elapsed() >= kStatisticsMs)
    ShowStatistics();
  if (following_) table_->scrollToBottom();
  ++refreshes_;
}

void frmJournal::ShowStatistics() {
  QString text =
      QString::fromStdString(recording::FormatStatistics(journal_.Statistics())).trimmed();
  // The average since the start says little of a scan begun an hour later: the recent rate
  // goes beside it.
  const QString rate = QString::number(RecentRate(journal_, clock_.Now(), kRateWindow), 'f', 1);
  const QString seconds = QString::number(kRateWindow.count());
  const QString perSecond = QStringLiteral(" per second");
  if (const qsizetype at = text.indexOf(perSecond); at >= 0) {
    text.insert(at + perSecond.size(),
                QStringLiteral(" since start, %1 in the last %2 s").arg(rate, seconds));
  } else {  // a first line without a rate: the recent one ends it
    const qsizetype lineEnd = text.indexOf(QLatin1Char('\n'));
    text.insert(lineEnd >= 0 ? lineEnd : text.size(),
                QStringLiteral(", %1 per second in the last %2 s").arg(rate, seconds));
  }
  if (text != lblStatistics_->text()) lblStatistics_->setText(text);
  statisticsShown_.start();
}

void frmJournal::SaveClicked() {
  FileRequest request;
  request.caption = QStringLiteral("Save journal");
  request.suggested = SuggestedPath(QStringLiteral("korvo-journal"), QStringLiteral("csv"),
                                    std::chrono::system_clock::now());
  request.filters = {QStringLiteral("CSV (*.csv)")};
  const std::optional<QString> path = AskForFile(this, request);
  if (!path) return;
  std::string message;
  if (!recording::SaveJournalCsv(journal_, path->toStdString(), message)) MsgBox(message);
}

}  // namespace monitor
