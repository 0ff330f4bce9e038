// The transaction journal as a table: a model over the core's bounded journal, without a copy
// of it. Row 0 is the oldest entry kept, the newest is at the bottom. Sync() brings the rows up
// to the journal: entries the journal dropped leave at the top, new ones come at the bottom,
// so a view keeps its selection and scroll position. With "failures only" the rows are the
// failed transactions, found once per entry.
#pragma once

#include <QAbstractTableModel>
#include <chrono>
#include <cstdint>
#include <deque>

#include "recording/Journal.h"

namespace monitor {

class JournalModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kTime, kTransaction, kTarget, kStatus, kDuration, kColumns };

  explicit JournalModel(const recording::Journal& journal, QObject* parent = nullptr);

  void SetFailuresOnly(bool on);
  bool FailuresOnly() const { return failuresOnly_; }
  void Sync();

  // The journal entry behind a row.
  const recording::JournalEntry& Entry(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  // Sequence number of the oldest entry the journal keeps (one past the newest when empty).
  uint64_t FirstKept() const;
  void Rebuild();

  const recording::Journal& journal_;
  bool failuresOnly_ = false;
  uint64_t total_ = 0;             // the journal's Total() when last synced
  uint64_t first_ = 1;             // all rows: sequence number of row 0
  uint64_t rows_ = 0;              // all rows: how many are shown
  std::deque<uint64_t> failures_;  // failures only: sequence numbers of the rows
};

// Transactions per second in the `window` up to `now`: what a scan does now, where the journal's
// own figure averages over everything since it started. While the journal is younger than the
// window, over its age; when it has dropped entries from within the window, over what it kept.
double RecentRate(const recording::Journal& journal, recording::MonoTime now,
                  std::chrono::nanoseconds window);

}  // namespace monitor
