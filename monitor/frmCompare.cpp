#include "monitor/frmCompare.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "monitor/ReadableText.h"
#include "recording/BitNames.h"
#include "registers/RegisterTable.h"
#include "views/BringForward.h"

namespace monitor {

namespace {

QString Text(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// "41A0"; a DAC register's value in its unit beside it, "41A0 (16800 mV)", the whole word as
// the main window's entry, the recordings and korvoctl give it.
QString Value(const RegisterTable::Register* info, const std::optional<uint16_t>& v) {
  if (!v) return QStringLiteral("not read");
  const QString hex = QStringLiteral("%1").arg(*v, 4, 16, QLatin1Char('0')).toUpper();
  if (!info || !info->dac) return hex;
  return QStringLiteral("%1 (%2 %3)").arg(hex).arg(*v).arg(Text(info->dac->unit));
}

}  // namespace

frmCompare::frmCompare(QWidget* owner) : QWidget(owner, Qt::Window) {
  setObjectName(QStringLiteral("frmCompare"));
  setWindowTitle(QStringLiteral("Compare with snapshot"));
  summary_ = new QLabel(this);
  summary_->setObjectName(QStringLiteral("lblSummary"));
  summary_->setTextFormat(Qt::PlainText);
  summary_->setWordWrap(true);
  tree_ = new QTreeWidget(this);
  tree_->setObjectName(QStringLiteral("treeChanges"));
  tree_->setHeaderLabels({QStringLiteral("Register / bit"), QStringLiteral("Name"),
                          QStringLiteral("Snapshot"), QStringLiteral("Chip")});
  tree_->setRootIsDecorated(true);
  tree_->setItemDelegate(new ReadableItemDelegate(tree_));
  tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  auto* root = new QVBoxLayout(this);
  root->addWidget(summary_);
  root->addWidget(tree_, 1);
  resize(640, 420);
}

void frmCompare::Show(const QString& reference,
                      const std::vector<recording::RegisterChange>& changes) {
  const QString file = QFileInfo(reference).fileName();
  setWindowTitle(QStringLiteral("Compare with ") + file);
  summary_->setText(changes.empty()
                        ? QStringLiteral("The chip matches the snapshot %1.").arg(reference)
                        : QStringLiteral("%1 register(s) of the chip differ from the snapshot %2.")
                              .arg(changes.size())
                              .arg(reference));
  tree_->clear();
  for (const recording::RegisterChange& c : changes) {
    const RegisterTable::Register* info = RegisterTable::Find(c.address);
    auto* reg = new QTreeWidgetItem(
        tree_, {Text(recording::AddressText(c.address)), info ? Text(info->trimTitle) : QString(),
                Value(info, c.from), Value(info, c.to)});
    for (const recording::BitChange& b : c.bits) {
      new QTreeWidgetItem(reg, {QStringLiteral("bit %1").arg(b.bit), Text(b.name),
                                b.from ? QStringLiteral("1") : QStringLiteral("0"),
                                b.to ? QStringLiteral("1") : QStringLiteral("0")});
    }
  }
  tree_->expandAll();
  BringForward(*this);
}

}  // namespace monitor
