#include "shell/StartUp.h"

#include <QGuiApplication>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <memory>

#include "dialogs/frmSplash.h"
#include "monitor/Monitor.h"
#include "foundation/Utils.h"
#include "shell/frmBasic.h"

frmBasic* RunStartUp(const StartUpWaits& waits) {
  // The user may close the splash early (a key, a click on its frame): it deletes itself then.
  QPointer<frmSplash> splash = new frmSplash(nullptr);
  splash->CmdOK()->setVisible(false);
  splash->cmdSysInfo()->setVisible(false);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    splash->adjustSize();
    splash->move(screen->availableGeometry().center() - splash->rect().center());
  }
  splash->show();
  Utils::WaitSeconds(waits.splash);

  auto* main = new frmBasic;
  main->Form_Load();
  // Recording, plot and journal: observers of the main window's register access and the link.
  main->SetMonitor(std::make_unique<monitor::Monitor>(*main, main->Registers(),
                                                      monitor::Monitor::OptionsFromCommandLine()));
  main->show();
  if (waits.onShown) waits.onShown(*main);
  Utils::WaitSeconds(waits.afterShow);

  // Deleted here, not left to its close: a deletion it posted outside the event loop (its close
  // handling runs at a deeper level than the main loop) would never run, and the About button
  // would show the hidden splash again, without its buttons.
  if (splash) splash->close();
  delete splash.data();
  return main;
}
