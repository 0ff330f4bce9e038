// The korvo program: the register panel for the rk5190 charger.
//
// Environment (all optional):
//   KORVO_ADAPTER=sim|...   the backend behind the adapter control (see korvoctl --help)
//   KORVO_AUTORUN=readall   click Read All once the start-up is over (screenshots, demos)
//   KORVO_EXIT_WHEN_SHOWN=1 print "shown" on stdout when the main window appears, then quit
//                           after the start-up (start-up time measurement)
#include <QApplication>
#include <QIcon>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/GuiMessageSink.h"
#include "shell/StartUp.h"
#include "shell/frmBasic.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("korvo"));
  // When installed: the desktop entry and the icon that docks and task bars show for the window.
  QApplication::setDesktopFileName(QStringLiteral(KORVO_APP_ID));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(KORVO_APP_ID)));
  GuiMessageSink sink;
  SetMessageSink(&sink);
  InstallQtEventPump();

  const char* exitWhenShown = std::getenv("KORVO_EXIT_WHEN_SHOWN");
  const bool measuring = exitWhenShown && std::strcmp(exitWhenShown, "1") == 0;
  StartUpWaits waits;
  if (measuring) {
    waits.onShown = [](frmBasic&) {
      QCoreApplication::processEvents();
      std::fputs("shown\n", stdout);
      std::fflush(stdout);
    };
  }
  frmBasic* main = RunStartUp(waits);

  int rc = 0;
  if (!measuring) {
    const char* autorun = std::getenv("KORVO_AUTORUN");
    if (autorun && std::strcmp(autorun, "readall") == 0) {
      if (auto* readAll = main->findChild<QPushButton*>(QStringLiteral("cmdReadAll"))) {
        QTimer::singleShot(0, readAll, &QPushButton::click);
      }
    }
    rc = QApplication::exec();
  } else {
    main->close();
  }
  delete main;
  SetMessageSink(nullptr);
  return rc;
}
