#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <tuple>

#include "adapter/frmUSB.h"
#include "dialogs/frmSplash.h"
#include "shell/StartUp.h"
#include "foundation/CommandLine.h"
#include "support/gui/MainWindowFixture.h"
#include "views/ctlStatRegister.h"

namespace {

class StartUpTest : public MainWindowFixture {
 protected:
  void Start(const std::string& args = "") {
    CommandLine::SetArgumentStringForTesting(args);
    window.reset(RunStartUp(waits));
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  StartUpWaits waits{0.05f, 0.05f, {}};
};

TEST_F(StartUpTest, SplashWithoutButtonsStaysUntilTheMainWindowShows) {
  bool splashSeen = false;
  waits.onShown = [&](frmBasic& main) {
    frmSplash* splash = frmSplash::Instance();
    ASSERT_NE(splash, nullptr);
    splashSeen = splash->isVisible();
    EXPECT_FALSE(splash->CmdOK()->isVisible() || splash->cmdSysInfo()->isVisible());
    EXPECT_TRUE(main.isVisible());
  };
  Start();
  EXPECT_TRUE(splashSeen);
  EXPECT_EQ(frmSplash::Instance(), nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(StartUpTest, TheAdapterIsOpenedOnceAndClosedOnce) {
  Start();
  EXPECT_EQ(std::make_pair(counts.openDevice, counts.deviceClose), std::make_pair(1, 0));
  window->close();
  window->close();
  EXPECT_EQ(counts.deviceClose, 1);
  EXPECT_FALSE(frmUSB::Loaded());
}

TEST_F(StartUpTest, NoAdapterIsToldOnceBeforeTheMainWindow) {
  Board().SetAbsent(true);
  bool mainVisibleDuringMessage = true;
  sink.whileOpen = [&](const std::string&) {
    mainVisibleDuringMessage = frmBasic::Current() && frmBasic::Current()->isVisible();
  };
  Start();
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0].rfind("Failed to initialize the Tarn88!", 0), 0u);
  EXPECT_FALSE(mainVisibleDuringMessage);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(Child<QLineEdit>("txtDevAddr")->text(), "67")
      << "the load step goes on after the message";
}

TEST_F(StartUpTest, SplashClosedEarlyDoesNotStopTheStartUp) {
  // Runs in the splash wait's first pass of events.
  bool closedEarly = false;
  QTimer::singleShot(0, [&] {
    frmSplash* s = frmSplash::Instance();
    if (!s) return;
    QTest::keyClick(s, Qt::Key_Escape);
    closedEarly = !s->isVisible();
  });
  Start();
  EXPECT_TRUE(closedEarly);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(frmSplash::Instance(), nullptr);
}

TEST_F(StartUpTest, OnlyTheExactArgumentRk5191Renames) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"rk5191", "rk5191 Korvo", "BDET"},
      {"RK5191", "rk5190 Korvo", "RSVD"},
      {" rk5191", "rk5190 Korvo", "RSVD"}};
  for (const auto& [args, product, bit14] : cases) {
    QString splashProduct;
    waits.onShown = [&](frmBasic&) {
      splashProduct = frmSplash::Instance()->findChild<QLabel*>("LblProductName")->text();
    };
    Start(args);
    EXPECT_EQ(splashProduct, product) << args;
    EXPECT_EQ(window->windowTitle(), product) << args;
    EXPECT_EQ(Child<ctlStatRegister>("ctlStatRegister1")->lblBit(14)->text(), bit14) << args;
    Close();
    window.reset();
  }
}

}  // namespace
