// What writing a value to the status register display asks of the widgets around it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QWidget>

#include "views/ctlStatRegister.h"

namespace {

class LayoutRequests : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::LayoutRequest) ++count;
    return false;
  }
  int count = 0;
};

TEST(StatusRegisterView, NewValuesAskNoLayoutOfTheView) {
  QWidget window;
  auto* view = new ctlStatRegister(&window);
  window.show();
  QCoreApplication::processEvents();
  LayoutRequests requests;
  view->installEventFilter(&requests);
  for (int32_t v : {0x0000, 0xFFFF, 0x5A5A, 0xA5A5}) {
    view->SetValue(v);
    QCoreApplication::processEvents();
  }
  view->SetValue(std::nullopt);
  QCoreApplication::processEvents();
  EXPECT_EQ(view->lblBit(16)->text(), "-");  // the value cells did change
  EXPECT_EQ(requests.count, 0);
}

TEST(StatusRegisterView, CellsKeepTheirPlacesAndSizes) {
  ctlStatRegister view;
  int x = 0;
  for (int bit = 15; bit >= 0; --bit) {
    const QRect number = view.BitLabel(bit)->geometry();
    EXPECT_EQ(number.x(), x) << bit;
    EXPECT_EQ(number.y(), 0) << bit;
    for (QLabel* cell : {view.lblBit(bit), view.lblBit(bit + 16)}) {
      EXPECT_EQ(cell->x(), x) << bit;
      EXPECT_EQ(cell->size(), number.size()) << bit;
    }
    EXPECT_EQ(view.lblBit(bit)->y(), number.height()) << bit;
    EXPECT_EQ(view.lblBit(bit + 16)->y(), 2 * number.height()) << bit;
    x += number.width();
  }
  EXPECT_EQ(view.size(), QSize(x, 3 * view.BitLabel(0)->height()));
}

}  // namespace
