#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "shell/GuiMessageSink.h"
#include "shell/Messages.h"
#include "shell/Utils.h"

namespace {

TEST(GuiMessageSink, ShowsAModalBoxWithOkOnlyNoIconAndTheTitle) {
  GuiMessageSink sink;
  QString title, text;
  int buttons = -1;
  QMessageBox::Icon icon = QMessageBox::Warning;
  bool modal = false;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    modal = box->isModal();
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    buttons = static_cast<int>(box->buttons().size());
    box->button(QMessageBox::Ok)->click();
  });
  sink.ShowMessage("line one\r\nline <two>");
  EXPECT_TRUE(modal);
  EXPECT_EQ(title, "rk5190 Korvo");
  EXPECT_EQ(text, "line one\nline <two>");
  EXPECT_EQ(icon, QMessageBox::NoIcon);
  EXPECT_EQ(buttons, 1);
}

TEST(QtEventPump, WaitKeepsEventsFlowingWithoutSpinning) {
  QElapsedTimer clock;
  bool fired = false;
  QTimer::singleShot(10, [&] { fired = true; });
  int wakeups = 0;
  auto connection = QObject::connect(QAbstractEventDispatcher::instance(),
                                     &QAbstractEventDispatcher::awake, [&] { ++wakeups; });
  clock.start();
  Utils::WaitSeconds(0.1f);
  const qint64 elapsed = clock.elapsed();
  QObject::disconnect(connection);
  EXPECT_TRUE(fired);
  EXPECT_GE(elapsed, 100);
  EXPECT_LT(wakeups, 20);  // sleeps in the event loop between events
}

TEST(QtEventPump, ZeroWaitRunsOnePassOfPendingEvents) {
  bool ran = false;
  QTimer::singleShot(0, [&] { ran = true; });
  Utils::WaitSeconds(0.0f);
  EXPECT_TRUE(ran);
}

}  // namespace
