// The bench instruments window: each instrument with its state (opening, present, reading,
// absent with the reason) and what it is, each channel it reads with the newest value and unit
// and a box that lets its readings reach recordings, the plot and the journal or not. Below,
// an instrument is added for this run by its entry text; the settings file is never written, so
// the window gives the [Instruments] line that keeps it. It shows what the monitor holds and
// touches no instrument itself. Updates are coalesced: at most one per kRepaintMs.
//
// objectNames: treInstruments, txtInstrument, cmdAddInstrument, lblKeep.
#pragma once

#include <QWidget>

#include "recording/BitNames.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace monitor {

class Monitor;

class frmInstruments : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRepaintMs = 200;
  enum Column { kName, kState, kUnit, kColumns };

  frmInstruments(Monitor& monitor, recording::Variant variant, QWidget* owner);

  // Something changed: the rows follow within kRepaintMs.
  void ScheduleRefresh();
  // Brings the rows up to the monitor now.
  void Refresh();
  // "Add": the entry in the box, refused with a message naming it and the reason.
  void AddClicked();

  QTreeWidget* Tree() const { return tree_; }
  // The row of an instrument, or of one of its channels; nullptr when there is none.
  QTreeWidgetItem* Row(const QString& instrument, const QString& channel = {}) const;

 private:
  void ChannelToggled(QTreeWidgetItem* item, int column);

  Monitor& monitor_;
  QTreeWidget* tree_ = nullptr;
  QLineEdit* txtInstrument_ = nullptr;
  QPushButton* cmdAdd_ = nullptr;
  QLabel* lblKeep_ = nullptr;
  QTimer* repaint_ = nullptr;
  bool filling_ = false;
};

}  // namespace monitor
