// What a scan tick repaints in the main window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QPaintEvent>
#include <QRegion>
#include <string>
#include <vector>

#include "drivers/sim/SimBoard.h"
#include "registers/RegisterTable.h"
#include "support/gui/MainWindowFixture.h"

namespace {

// Every paint event in the main window, as a region of the window.
class WindowPaints : public QObject {
 public:
  explicit WindowPaints(QWidget* window) : window_(window) { qApp->installEventFilter(this); }
  ~WindowPaints() override { qApp->removeEventFilter(this); }
  bool eventFilter(QObject* o, QEvent* e) override {
    auto* w = qobject_cast<QWidget*>(o);
    if (e->type() == QEvent::Paint && w && (w == window_ || window_->isAncestorOf(w)))
      painted += static_cast<QPaintEvent*>(e)->region().translated(w->mapTo(window_, QPoint()));
    return false;
  }
  QWidget* window_;
  QRegion painted;
};

struct ChangedBit {
  uint8_t address;
  const char* view;
  const char* cells;  // the changed bit's cell
  const char* entry;  // the register's hex or value entry, which follows it
};

const ChangedBit kChanges[] = {
    {RegisterTable::kStatus, "ctlStatRegister1", "lblBit20", "lblStatRegisterHex"},
    {RegisterTable::kControl, "ctlCtrlRegister1", "lblBit4", "txtCtrlRegisterHex"},
    {RegisterTable::kChargeVoltage, "ctlDACRegisterVolt", "lblBit4", "txtVoltDAC"},
    {RegisterTable::kChargeCurrent, "ctlDACRegisterCurr", "lblBit4", "txtCurrDAC"},
    {RegisterTable::kInputCurrent, "ctlDACRegisterIpCurr", "lblBit4", "txtIpCurrDAC"},
};

class ScanRepaintTest : public MainWindowFixture {
 protected:
  void Tick() {
    window->Panel()->Timer1_Timer();
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  }
  // The window area of the column of `cell` in `view`.
  QRect Column(const char* view, const char* cell) {
    auto* v = Child<QWidget>(view);
    const QRect c = v->findChild<QWidget*>(QString::fromLatin1(cell))->geometry();
    return QRect(v->mapTo(window.get(), QPoint(c.x(), 0)), QSize(c.width(), v->height()));
  }
  QRect Area(const char* widget) {
    auto* w = Child<QWidget>(widget);
    return QRect(w->mapTo(window.get(), QPoint()), w->size());
  }
};

TEST_F(ScanRepaintTest, OneChangedBitRepaintsItsColumnAndEntryOnly) {
  Load();
  for (const ChangedBit& change : kChanges) {
    for (uint8_t r : RegisterTable::MainReadOrder()) Board().Poke(r, 0x0000);
    Tick();
    Board().Poke(change.address, 0x0010);
    Tick();  // each look seen once
    Board().Poke(change.address, 0x0000);
    Tick();
    WindowPaints paints(window.get());
    Board().Poke(change.address, 0x0010);
    Tick();
    const QRegion allowed = QRegion(Column(change.view, change.cells)) + Area(change.entry);
    EXPECT_FALSE(paints.painted.isEmpty()) << change.view;
    EXPECT_TRUE((paints.painted - allowed).isEmpty())
        << change.view << ": repainted " << paints.painted.boundingRect().x() << ","
        << paints.painted.boundingRect().y() << " " << paints.painted.boundingRect().width() << "x"
        << paints.painted.boundingRect().height();
  }
}

}  // namespace
