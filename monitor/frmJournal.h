// The transaction journal window: every adapter link transaction as a table (time, operation
// and detail, target, status name, duration), newest at the bottom and followed unless the
// user has scrolled away from the bottom (scrolling back there follows again); "Failures
// only"; the statistics per status name above the table; "Save..." writes the journal as CSV.
// It shows the journal it is given and knows nothing of the bus. Updates are coalesced: at most
// one per kRepaintMs, the statistics at most one per kStatisticsMs. Beside the average rate
// since the start the statistics give the rate over the last kRateWindow, kept current once a
// second while the window is shown (it falls to zero when the transactions stop).
//
// objectNames: lblStatistics, chkFailuresOnly, cmdSave, tblJournal.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <chrono>
#include <string>

#include "observation/Clock.h"
#include "recording/BitNames.h"
#include "recording/Journal.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;
class QTimer;

namespace monitor {

class JournalModel;

class frmJournal : public QWidget {
  Q_OBJECT
 public:
  // A table needs fewer repaints than a plot to look live.
  static constexpr int kRepaintMs = 200;
  static constexpr int kStatisticsMs = 500;
  static constexpr std::chrono::seconds kRateWindow{10};

  // clock: the one the journal's entries are timed by.
  frmJournal(const recording::Journal& journal, const recording::Clock& clock,
             recording::Variant variant, QWidget* owner);

  // New transactions arrived: the rows follow within kRepaintMs.
  void ScheduleRefresh();
  // Brings the rows and the statistics up to the journal now.
  void Refresh();
  int RefreshCount() const { return refreshes_; }
  QTimer* RepaintTimer() const { return repaint_; }
  QTimer* RateTimer() const { return rateTimer_; }
  JournalModel* Model() const { return model_; }
  QTableView* Table() const { return table_; }

 protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;

 private:
  void Update(bool statistics);
  void ShowStatistics();
  void SaveClicked();

  const recording::Journal& journal_;
  const recording::Clock& clock_;
  JournalModel* model_ = nullptr;
  QLabel* lblStatistics_ = nullptr;
  QCheckBox* chkFailuresOnly_ = nullptr;
  QPushButton* cmdSave_ = nullptr;
  QTableView* table_ = nullptr;
  QTimer* repaint_ = nullptr;
  QTimer* rateTimer_ = nullptr;
  QElapsedTimer statisticsShown_;
  bool following_ = true;  // the newest row is kept in view
  int refreshes_ = 0;
};

}  // namespace monitor
