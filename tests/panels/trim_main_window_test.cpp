#include <QApplication>
#include <algorithm>
#include <QPointer>

#include "panels/frmTrim.h"
#include "support/gui/MainWindowFixture.h"

namespace {

class TrimMainWindowTest : public MainWindowFixture {
 protected:
  ~TrimMainWindowTest() override {
    frmTrim::CloseInstance();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
};

TEST_F(TrimMainWindowTest, ButtonStaysHiddenAndDisabledWithoutTheKey) {
  Load("[Settings]\nShowTrimRegisters=0\n");
  auto* trim = Child<QPushButton>("cmdTrimRegs");
  EXPECT_TRUE(trim->isHidden());
  EXPECT_FALSE(trim->isEnabled());
}

TEST_F(TrimMainWindowTest, KeyShowsTheButtonWhichOpensOneOwnerlessWindow) {
  Load("[Settings]\nShowTrimRegisters=1\n");
  auto* trim = Child<QPushButton>("cmdTrimRegs");
  EXPECT_TRUE(trim->isVisible());
  EXPECT_TRUE(trim->isEnabled());

  Click("cmdTrimRegs");
  QPointer<frmTrim> opened = frmTrim::Instance();
  ASSERT_FALSE(opened.isNull());
  EXPECT_TRUE(opened->isVisible());
  EXPECT_EQ(opened->parentWidget(), nullptr);
  EXPECT_TRUE(Board().History().empty());  // nothing is read when it opens

  Click("cmdTrimRegs");
  EXPECT_EQ(frmTrim::Instance(), opened.data());
  const QWidgetList tops = QApplication::topLevelWidgets();
  EXPECT_EQ(std::count_if(tops.begin(), tops.end(),
                          [](QWidget* w) { return qobject_cast<frmTrim*>(w) != nullptr; }),
            1);

  // It reads through the main window's register access.
  QTest::mouseClick(opened->cmdRead(10), Qt::LeftButton);
  EXPECT_EQ(opened->txtHexVal(10)->text(), "1000");

  // Closing the main window closes it too.
  Close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(opened.isNull());
}

}  // namespace
