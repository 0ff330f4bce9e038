#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "adapter/frmUSB.h"
#include "dialogs/frmSplash.h"
#include "shell/CommandLine.h"
#include "shell/Messages.h"
#include "shell/StartUp.h"
#include "support/gui/MainWindowFixture.h"
#include "views/ctlStatRegister.h"

namespace {

class StartUpTest : public MainWindowFixture {
 protected:
  StartUpWaits Quick() {
    StartUpWaits w;
    w.splash = 0.05f;
    w.afterShow = 0.05f;
    return w;
  }
  void Start(const std::string& args = "") {
    CommandLine::SetArgumentStringForTesting(args);
    window.reset(RunStartUp(waits));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  StartUpWaits waits = Quick();
};

TEST_F(StartUpTest, SplashWithoutButtonsComesFirstAndGoesAfterTheMainWindow) {
  bool splashSeen = false;
  waits.onShown = [&](frmBasic& main) {
    frmSplash* splash = frmSplash::Instance();
    ASSERT_NE(splash, nullptr);
    splashSeen = splash->isVisible();
    EXPECT_FALSE(splash->CmdOK()->isVisible());
    EXPECT_FALSE(splash->cmdSysInfo()->isVisible());
    EXPECT_TRUE(main.isVisible());
  };
  Start();
  EXPECT_TRUE(splashSeen);
  EXPECT_EQ(frmSplash::Instance(), nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(Board().History().empty());  // nothing is read at start-up
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(StartUpTest, NoAdapterShowsTheMessageOnceBeforeTheMainWindowAppears) {
  Board().SetAbsent(true);
  bool mainVisibleDuringMessage = true;
  sink.whileOpen = [&](const std::string&) {
    mainVisibleDuringMessage = frmBasic::Current() && frmBasic::Current()->isVisible();
  };
  Start();
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0],
            "Failed to initialize the Tarn88! This program cannot continue.\r\n"
            "Please make sure that the Tarn88 is connected and all required drivers are installed.\r\n"
            "Please ensure that no other program is using the Tarn88.\r\n"
            "Please close and restart the Korvo program.");
  EXPECT_FALSE(mainVisibleDuringMessage);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(Child<QLabel>("LblVer")->text(), "Version 2.0.10");
  EXPECT_EQ(Child<QLabel>("lblCommMode")->text(), "SMB");
  EXPECT_EQ(Child<QLineEdit>("txtDevAddr")->text(), "67");
  // Every access then fails with its own message.
  sink.Clear();
  Click("cmdReadStat");
  EXPECT_EQ(sink.CountContaining("Error reading register CS: Status(0x13)."), 1u);
}

TEST_F(StartUpTest, SplashClosedEarlyDoesNotStopTheStartUp) {
  waits.splash = 0.15f;
  QTimer::singleShot(20, [] {
    if (frmSplash* s = frmSplash::Instance()) QTest::keyClick(s, Qt::Key_Escape);
  });
  Start();
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(frmSplash::Instance(), nullptr);
}

TEST_F(StartUpTest, Rk5191ArgumentRenamesCaptionsAndStatusBits) {
  std::string product;
  waits.onShown = [&](frmBasic&) {
    product = frmSplash::Instance()->findChild<QLabel*>("LblProductName")->text().toStdString();
  };
  Start("rk5191");
  EXPECT_EQ(product, "rk5191 Korvo");
  EXPECT_EQ(window->windowTitle(), "rk5191 Korvo");
  auto* stat = Child<ctlStatRegister>("ctlStatRegister1");
  EXPECT_EQ(stat->lblBit(9)->text(), "BCOLD");
  EXPECT_EQ(stat->lblBit(10)->text(), "BHOT");
  EXPECT_EQ(stat->lblBit(14)->text(), "BDET");
}

TEST_F(StartUpTest, OtherArgumentsKeepTheRk5190) {
  for (const char* args : {"RK5191", "rk5191 x", " rk5191", "rk5190", ""}) {
    Start(args);
    EXPECT_EQ(window->windowTitle(), "rk5190 Korvo") << args;
    EXPECT_EQ(Child<ctlStatRegister>("ctlStatRegister1")->lblBit(14)->text(), "RSVD") << args;
    Close();
    window.reset();
  }
}

TEST_F(StartUpTest, ClosingTheMainWindowClosesTheAdapterOnce) {
  Start();
  EXPECT_EQ(counts.openDevice, 1);
  EXPECT_EQ(counts.deviceClose, 0);
  window->close();
  EXPECT_EQ(counts.deviceClose, 1);
  window->close();
  EXPECT_EQ(counts.deviceClose, 1);
  EXPECT_FALSE(frmUSB::Loaded());
}

}  // namespace
