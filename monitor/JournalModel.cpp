#include "monitor/JournalModel.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QGuiApplication>
#include <QPalette>
#include <algorithm>
#include <chrono>

#include "adapter/ErrorCodes.h"
#include "monitor/ReadableText.h"
#include "recording/Text.h"

namespace monitor {

JournalModel::JournalModel(const recording::Journal& journal, QObject* parent)
    : QAbstractTableModel(parent), journal_(journal) {
  Rebuild();
}

uint64_t JournalModel::FirstKept() const {
  return journal_.Size() ? journal_.At(0).sequence : journal_.Total() + 1;
}

void JournalModel::Rebuild() {
  total_ = journal_.Total();
  first_ = FirstKept();
  rows_ = journal_.Size();
  failures_.clear();
  if (!failuresOnly_) return;
  for (std::size_t i = 0; i < journal_.Size(); ++i) {
    const recording::JournalEntry& e = journal_.At(i);
    if (e.status != 0) failures_.push_back(e.sequence);
  }
}

void JournalModel::SetFailuresOnly(bool on) {
  if (on == failuresOnly_) return;
  beginResetModel();
  failuresOnly_ = on;
  Rebuild();
  endResetModel();
}

void JournalModel::Sync() {
  const uint64_t total = journal_.Total();
  if (total == total_) return;
  if (total < total_) {  // the journal was cleared
    beginResetModel();
    Rebuild();
    endResetModel();
    return;
  }
  const uint64_t firstKept = FirstKept();
  if (failuresOnly_) {
    std::size_t gone = 0;
    while (gone < failures_.size() && failures_[gone] < firstKept) ++gone;
    if (gone > 0) {
      beginRemoveRows(QModelIndex(), 0, static_cast<int>(gone) - 1);
      failures_.erase(failures_.begin(), failures_.begin() + static_cast<std::ptrdiff_t>(gone));
      endRemoveRows();
    }
    // Entries new since the last sync (those the journal still keeps).
    std::vector<uint64_t> fresh;
    for (uint64_t seq = std::max(total_ + 1, firstKept); seq <= total; ++seq) {
      if (journal_.At(static_cast<std::size_t>(seq - firstKept)).status != 0) fresh.push_back(seq);
    }
    if (!fresh.empty()) {
      const int at = static_cast<int>(failures_.size());
      beginInsertRows(QModelIndex(), at, at + static_cast<int>(fresh.size()) - 1);
      failures_.insert(failures_.end(), fresh.begin(), fresh.end());
      endInsertRows();
    }
  } else {
    const uint64_t gone = std::min(firstKept - first_, rows_);
    if (gone > 0) {
      beginRemoveRows(QModelIndex(), 0, static_cast<int>(gone) - 1);
      rows_ -= gone;
      endRemoveRows();
    }
    first_ = firstKept;
    const uint64_t size = journal_.Size();
    if (size > rows_) {
      beginInsertRows(QModelIndex(), static_cast<int>(rows_), static_cast<int>(size) - 1);
      rows_ = size;
      endInsertRows();
    }
  }
  total_ = total;
}

const recording::JournalEntry& JournalModel::Entry(int row) const {
  const uint64_t seq = failuresOnly_ ? failures_[static_cast<std::size_t>(row)]
                                     : first_ + static_cast<uint64_t>(row);
  return journal_.At(static_cast<std::size_t>(seq - FirstKept()));
}

int JournalModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return static_cast<int>(failuresOnly_ ? failures_.size() : rows_);
}

int JournalModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant JournalModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  // Rows the journal has dropped since the last sync are gone; the next sync removes them.
  const uint64_t seq = failuresOnly_ ? failures_[static_cast<std::size_t>(index.row())]
                                     : first_ + static_cast<uint64_t>(index.row());
  if (seq < FirstKept()) return {};
  const recording::JournalEntry& e = Entry(index.row());
  if (role == Qt::ForegroundRole) {
    // Red that reads on the application's ground, light or dark, and follows it when it changes.
    if (e.status == 0) return {};
    return QBrush(FailureColourOn(QGuiApplication::palette().color(QPalette::Base)));
  }
  if (role == Qt::TextAlignmentRole) {
    const bool number = index.column() == kDuration || index.column() == kTarget;
    return QVariant::fromValue(
        Qt::Alignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
  }
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case kTime: {
      const auto wall = journal_.Start().WallAt(e.time);
      const auto ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count();
      return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz"));
    }
    case kTransaction: return QString::fromStdString(journal_.Text(e));
    case kTarget:
      if (!e.targetName.empty()) return QString::fromStdString(e.targetName);
      if (e.target == recording::TransactionEvent::kNoTarget) return QString();
      return QStringLiteral("0x") +
             QString::number(e.target, 16).toUpper().rightJustified(2, QLatin1Char('0'));
    case kStatus: {
      const std::string_view name =
          e.targetName.empty() ? StatusName(e.status) : recording::InstrumentStatusName(e.status);
      return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    }
    case kDuration: return QString::number(e.durationUs);
    default: return {};
  }
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kTime: return QStringLiteral("Time");
    case kTransaction: return QStringLiteral("Transaction");
    case kTarget: return QStringLiteral("Target");
    case kStatus: return QStringLiteral("Status");
    case kDuration: return QStringLiteral("Duration (\u00b5s)");
    default: return {};
  }
}

double RecentRate(const recording::Journal& journal, recording::MonoTime now,
                  std::chrono::nanoseconds window) {
  // How many kept entries ended after `from`: they are kept in the order they ended.
  auto after = [&journal](recording::MonoTime from) {
    std::size_t low = 0, high = journal.Size();
    while (low < high) {
      const std::size_t mid = low + (high - low) / 2;
      if (journal.At(mid).time > from)
        high = mid;
      else
        low = mid + 1;
    }
    return journal.Size() - low;
  };
  recording::MonoTime from = std::max(now - window, journal.Start().mono);
  std::size_t count = after(from);
  if (count == journal.Size() && journal.Dropped() > 0 && count > 0) {
    from = journal.At(0).time;  // what came before it is gone
    count = after(from);
  }
  const double seconds = std::chrono::duration<double>(now - from).count();
  return seconds > 0 ? static_cast<double>(count) / seconds : 0.0;
}

}  // namespace monitor
