#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "shell/GuiMessageSink.h"
#include "shell/Utils.h"

namespace {

TEST(GuiMessageSink, ShowsAModalBoxWithOkOnlyNoIconAndTheTitle) {
  bool shown = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    shown = true;
    EXPECT_TRUE(box->isModal());
    EXPECT_EQ(box->windowTitle(), "rk5190 Korvo");
    EXPECT_EQ(box->text(), "line one\nline <two>");
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    EXPECT_EQ(box->buttons().size(), 1);
    box->button(QMessageBox::Ok)->click();
  });
  GuiMessageSink().ShowMessage("line one\r\nline <two>");
  EXPECT_TRUE(shown);
}

TEST(QtEventPump, WaitKeepsEventsFlowingWithoutSpinning) {
  bool fired = false;
  QTimer::singleShot(0, [&] { fired = true; });  // due at the wait's first pass
  int wakeups = 0;
  auto connection = QObject::connect(QAbstractEventDispatcher::instance(),
                                     &QAbstractEventDispatcher::awake, [&] { ++wakeups; });
  QElapsedTimer clock;
  clock.start();
  Utils::WaitSeconds(0.1f);
  const qint64 elapsed = clock.elapsed();
  QObject::disconnect(connection);
  EXPECT_TRUE(fired);
  EXPECT_GE(elapsed, 100);
  EXPECT_LT(wakeups, 20);  // sleeps in the event loop between events
}

}  // namespace
