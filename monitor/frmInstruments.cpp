#include "monitor/frmInstruments.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "instruments/Bench.h"
#include "monitor/Monitor.h"

namespace monitor {

namespace {

constexpr int kKeyRole = Qt::UserRole;

// The seven significant digits an instrument's single-precision value holds: 2048, 15.2.
QString ValueText(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.7g", v);
  return std::string(buf) == "-0" ? QStringLiteral("0") : QString::fromLatin1(buf);
}

QString KeepText(const QString& file) {
  return QStringLiteral(
             "An instrument added here is read for this run only: the settings file is never "
             "written. To keep one, add its line to the [Instruments] section of %1.")
      .arg(file);
}

}  // namespace

frmInstruments::frmInstruments(Monitor& monitor, recording::Variant variant, QWidget* owner)
    : QWidget(owner, Qt::Window), monitor_(monitor) {
  setObjectName(QStringLiteral("frmInstruments"));
  setWindowTitle(QString::fromUtf8(recording::VariantName(variant).data()) +
                 QStringLiteral(" Korvo Instruments"));

  tree_ = new QTreeWidget(this);
  tree_->setObjectName(QStringLiteral("treInstruments"));
  tree_->setColumnCount(kColumns);
  tree_->setHeaderLabels({QStringLiteral("Instrument / channel"), QStringLiteral("State / value"),
                          QStringLiteral("Unit")});
  tree_->setRootIsDecorated(true);
  tree_->setUniformRowHeights(true);
  tree_->header()->setStretchLastSection(false);
  tree_->header()->setSectionResizeMode(kName, QHeaderView::ResizeToContents);
  tree_->header()->setSectionResizeMode(kState, QHeaderView::Stretch);
  tree_->header()->setSectionResizeMode(kUnit, QHeaderView::ResizeToContents);

  auto* lblEntry = new QLabel(QStringLiteral("Add for this run:"), this);
  txtInstrument_ = new QLineEdit(this);
  txtInstrument_->setObjectName(QStringLiteral("txtInstrument"));
  txtInstrument_->setPlaceholderText(
      QStringLiteral("scpi-pps:conn=tcp-raw/192.168.1.20/5555 label=PSU channels=V1,I1"));
  txtInstrument_->setToolTip(
      QStringLiteral("A driver and its options as sigrok names them, then optionally "
                     "label=NAME and channels=A,B"));
  lblEntry->setBuddy(txtInstrument_);
  cmdAdd_ = new QPushButton(QStringLiteral("Add"), this);
  cmdAdd_->setObjectName(QStringLiteral("cmdAddInstrument"));
  cmdAdd_->setAutoDefault(false);
  lblKeep_ = new QLabel(this);
  lblKeep_->setObjectName(QStringLiteral("lblKeep"));
  lblKeep_->setTextFormat(Qt::PlainText);
  lblKeep_->setWordWrap(true);
  lblKeep_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblKeep_->setText(KeepText(QString::fromStdString(Settings::File())));

  auto* add = new QHBoxLayout;
  add->addWidget(lblEntry);
  add->addWidget(txtInstrument_, 1);
  add->addWidget(cmdAdd_);
  auto* root = new QVBoxLayout(this);
  root->addWidget(tree_, 1);
  root->addLayout(add);
  root->addWidget(lblKeep_);
  resize(640, 360);

  repaint_ = new QTimer(this);
  repaint_->setSingleShot(true);
  repaint_->setInterval(kRepaintMs);
  connect(repaint_, &QTimer::timeout, this, &frmInstruments::Refresh);
  connect(cmdAdd_, &QPushButton::clicked, this, &frmInstruments::AddClicked);
  connect(txtInstrument_, &QLineEdit::returnPressed, this, &frmInstruments::AddClicked);
  connect(tree_, &QTreeWidget::itemChanged, this, &frmInstruments::ChannelToggled);
  Refresh();
}

void frmInstruments::ScheduleRefresh() {
  if (!repaint_->isActive()) repaint_->start();
}

QTreeWidgetItem* frmInstruments::Row(const QString& instrument, const QString& channel) const {
  for (int i = 0; i < tree_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = tree_->topLevelItem(i);
    if (top->data(kName, kKeyRole).toString() != instrument) continue;
    if (channel.isEmpty()) return top;
    for (int c = 0; c < top->childCount(); ++c)
      if (top->child(c)->data(kName, kKeyRole).toString() == channel) return top->child(c);
    return nullptr;
  }
  return nullptr;
}

void frmInstruments::Refresh() {
  repaint_->stop();
  filling_ = true;
  const std::vector<instruments::LatestReading> latest = monitor_.LatestReadings();
  const std::vector<instruments::InstrumentState> states = monitor_.InstrumentStates();
  for (const instruments::InstrumentState& s : states) {
    const QString label = QString::fromStdString(s.label);
    QTreeWidgetItem* top = Row(label);
    if (!top) {
      top = new QTreeWidgetItem(tree_);
      top->setData(kName, kKeyRole, label);
      top->setText(kName, label);
      top->setToolTip(kName, QString::fromStdString(s.config));
      top->setExpanded(true);
    }
    const bool read = std::any_of(latest.begin(), latest.end(),
                                  [&](const auto& r) { return r.instrument == s.label; });
    QString state;
    if (!s.settled)
      state = QStringLiteral("opening: ") + QString::fromStdString(s.config);
    else if (!s.present)
      state = QStringLiteral("absent: ") + QString::fromStdString(s.reason);
    else
      state = (read ? QStringLiteral("reading: ") : QStringLiteral("present: ")) +
              QString::fromStdString(instruments::DeviceText(s.info));
    top->setText(kState, state);
    top->setToolTip(kState, state);
    if (!s.present) continue;  // the channels it had stay listed with their last values
    for (const instruments::ChannelInfo& c : s.info.channels) {
      if (!c.enabled) continue;  // not opened for reading
      const QString name = QString::fromStdString(c.name);
      QTreeWidgetItem* row = Row(label, name);
      if (!row) {
        row = new QTreeWidgetItem(top);
        row->setData(kName, kKeyRole, name);
        row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
      }
      const auto r = std::find_if(latest.begin(), latest.end(), [&](const auto& l) {
        return l.instrument == s.label && l.channel == c.name;
      });
      row->setText(kName, QString::fromStdString(
                              r != latest.end() ? r->caption
                                                : instruments::Caption(s.label, c, c.quantity)));
      row->setText(kState, r != latest.end() ? ValueText(r->value) : QStringLiteral("no reading"));
      row->setText(kUnit, QString::fromStdString(r != latest.end() ? r->unit : c.unit));
      row->setCheckState(kName,
                         monitor_.ChannelEnabled(s.label, c.name) ? Qt::Checked : Qt::Unchecked);
      row->setToolTip(kName, QStringLiteral("Recorded, plotted and journalled when ticked"));
    }
  }
  filling_ = false;
}

void frmInstruments::ChannelToggled(QTreeWidgetItem* item, int column) {
  if (filling_ || column != kName || !item->parent()) return;
  monitor_.SetChannelEnabled(item->parent()->data(kName, kKeyRole).toString().toStdString(),
                             item->data(kName, kKeyRole).toString().toStdString(),
                             item->checkState(kName) == Qt::Checked);
}

void frmInstruments::AddClicked() {
  const std::string entry = txtInstrument_->text().trimmed().toStdString();
  if (entry.empty()) return;
  if (const std::string error = monitor_.AddInstrument(entry); !error.empty()) {
    MsgBox("The instrument was not added: " + error + ".");
    return;
  }
  txtInstrument_->clear();
  const instruments::InstrumentConfig& added = monitor_.AddedInstruments().back();
  lblKeep_->setText(QStringLiteral("%1 is read for this run only. To keep it, add this line to the "
                                   "[Instruments] section of %2:\n%3")
                        .arg(QString::fromStdString(added.label),
                             QString::fromStdString(Settings::File()),
                             QString::fromStdString(Monitor::SettingsLine(added))));
  Refresh();
}

}  // namespace monitor
