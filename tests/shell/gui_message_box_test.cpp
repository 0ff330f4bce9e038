#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "shell/GuiMessageSink.h"

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

}  // namespace
