#include "shell/StartUp.h"

#include <QGuiApplication>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <memory>

#include "dialogs/frmSplash.h"
#include "foundation/IniFile.h"
#include "foundation/Messages.h"
#include "foundation/Utils.h"
#include "instruments/Bench.h"
#include "monitor/Monitor.h"
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

instruments::InstrumentList ConfiguredInstruments(const std::string& settingsFile) {
  if (const std::optional<IniFile> ini = IniFile::Load(settingsFile))
    return instruments::InstrumentsFromIni(*ini);
  return {};
}

void AttachInstruments(frmBasic& main, const instruments::InstrumentList& configured,
                       std::function<std::shared_ptr<instruments::Backend>()> makeBackend) {
  monitor::Monitor* monitor = main.Monitor();
  if (!monitor) return;
  std::vector<std::string> refused = configured.errors;
  std::vector<instruments::InstrumentConfig> configs;
  std::shared_ptr<instruments::Backend> backend;
  if (!configured.configs.empty()) {
    backend = makeBackend();
    for (const instruments::InstrumentConfig& c : configured.configs) {
      if (const std::string reason = backend->Check(c); !reason.empty())
        refused.push_back("[" + std::string(instruments::kInstrumentsSection) + "] " + c.label +
                          ": " + instruments::InvalidInstrumentText(c.text, reason));
      else
        configs.push_back(c);
    }
    makeBackend = [backend] { return backend; };
  }
  monitor->SetInstrumentBackend(std::move(makeBackend));
  if (!configs.empty()) {
    instruments::BenchOptions o;
    o.clock = &main.Registers().Clock();
    monitor->AddBench(std::make_unique<instruments::Bench>(backend, configs, o));
  }
  if (!refused.empty()) {
    std::string text = "These instruments of the settings file are not read:";
    for (const std::string& r : refused) text += kNewLine + r;
    MsgBox(text);
  }
}
