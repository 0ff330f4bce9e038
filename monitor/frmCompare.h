// A comparison of the chip with a snapshot file: per register that differs, its two values (in
// hex, a DAC register's also in mV or mA) and every bit that differs, named as the test-mode
// window names it. Non-modal, owned by the
// test-mode window; a new comparison replaces what it shows.
//
// objectNames: lblSummary, treeChanges.
#pragma once

#include <QWidget>
#include <vector>

#include "recording/Snapshot.h"

class QLabel;
class QTreeWidget;

namespace monitor {

class frmCompare : public QWidget {
  Q_OBJECT
 public:
  explicit frmCompare(QWidget* owner);

  // reference: the file's name as shown.
  void Show(const QString& reference, const std::vector<recording::RegisterChange>& changes);
  QTreeWidget* Tree() const { return tree_; }
  QLabel* Summary() const { return summary_; }

 private:
  QLabel* summary_ = nullptr;
  QTreeWidget* tree_ = nullptr;
};

}  // namespace monitor
