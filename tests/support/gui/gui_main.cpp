// Entry point of every GUI test program: a QApplication on the offscreen platform, then gtest.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"
#include "shell/GuiMessageSink.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("KORVO_ADAPTER", "sim", 1);
  frmUSB::SetControlFactory(&CreateSelectedControl);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  // WaitSeconds keeps the windows alive as in the program; messages go to each test's recorder.
  InstallQtEventPump();
  return RUN_ALL_TESTS();
}
