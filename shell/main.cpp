// The korvo program: the register panel for the rk5190 charger.
//
// Environment (all optional):
//   KORVO_ADAPTER=sim|...   the backend behind the adapter control (see korvoctl --help)
//   KORVO_AUTORUN=readall   click Read All once the start-up is over (screenshots, demos)
//   KORVO_AUTORUN=plot      Read All, charge current 2048 mA written, "Plot...", then the
//                           scan at 100 ms; with KORVO_RECORD=FILE also record to FILE
//                           (screenshots of a scenario)
//   KORVO_EXIT_WHEN_SHOWN=1 print "shown" on stdout when the main window appears, then quit
//                           after the start-up (start-up time measurement)
//
// Option: --metrics [ADDRESS:]PORT serves the bench's Prometheus metrics (korvoctl --help), the
// configured instruments' too; it is taken off the arguments before the windows see them.
//
// The settings file's [Instruments] section names the bench instruments read beside the scan
// ("Instruments..."); without one, the instrument library is not loaded.
#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"
#include "foundation/CommandLine.h"
#include "foundation/Settings.h"
#include "instruments/SigrokBackend.h"
#include "instruments/SrRecorder.h"
#include "metrics/BenchEndpoint.h"
#include "monitor/Monitor.h"
#include "shell/GuiMessageSink.h"
#include "shell/StartUp.h"
#include "shell/frmBasic.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Record can write .sr sessions; libsigrok loads only when one is asked for.
  instruments::InstallSrRecordings();
  QApplication::setApplicationName(QStringLiteral("korvo"));
  // The arguments after the program name that Qt did not take as its own options.
  QStringList args = QCoreApplication::arguments();
  if (!args.isEmpty()) args.removeFirst();
  // The bench instruments of the settings file (read, never written).
  const instruments::InstrumentList configured = ConfiguredInstruments(Settings::File());
  std::unique_ptr<metrics::BenchEndpoint> metricsEndpoint;
  if (const qsizetype at = args.indexOf(QStringLiteral("--metrics")); at >= 0) {
    const std::string address = at + 1 < args.size() ? args[at + 1].toStdString() : "";
    args.remove(at, at + 1 < args.size() ? 2 : 1);
    metrics::BoardInfo board;
    board.variant = CommandLine::IsRk5191(args.join(QLatin1Char(' ')).toStdString())
                        ? RegisterTable::Variant::rk5191
                        : RegisterTable::Variant::rk5190;
    board.driver = SelectedDriverName();
    std::string error;
    std::vector<std::string> labels;
    for (const instruments::InstrumentConfig& c : configured.configs) labels.push_back(c.label);
    // Before anything opens the adapter: a refused address ends the program here.
    metricsEndpoint = metrics::BenchEndpoint::Start(address, board, error, std::move(labels));
    if (!metricsEndpoint) {
      std::fprintf(stderr, "korvo: %s\n", error.c_str());
      return 1;
    }
  }
  CommandLine::SetArgumentString(args.join(QLatin1Char(' ')).toStdString());
  // When installed: the desktop entry and the icon that docks and task bars show for the window.
  QApplication::setDesktopFileName(QStringLiteral(KORVO_APP_ID));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(KORVO_APP_ID)));
  // The composition root: the link hosts the driver chosen in the settings.
  frmUSB::SetControlFactory(&CreateSelectedControl);
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
  if (metricsEndpoint) {
    metricsEndpoint->Attach(main->Registers(), frmUSB::Get());
    main->Monitor()->FollowPresence([e = metricsEndpoint.get()](const std::string& label, bool up) {
      e->SetInstrumentUp(label, up);
    });
  }
  // libsigrok is loaded only here, and only when an instrument is configured (or added later).
  AttachInstruments(*main, configured, [] { return instruments::MakeSigrokBackend(); });

  int rc = 0;
  if (!measuring) {
    const char* autorun = std::getenv("KORVO_AUTORUN");
    if (autorun && std::strcmp(autorun, "readall") == 0) {
      if (auto* readAll = main->findChild<QPushButton*>(QStringLiteral("cmdReadAll"))) {
        QTimer::singleShot(0, readAll, &QPushButton::click);
      }
    } else if (autorun && std::strcmp(autorun, "plot") == 0) {
      // As a user would, one step per turn of the event loop: Read All, a charge current of
      // 2048 mA written (what the simulated bench's load draws), "Plot...", then the period
      // (applied by the settle step) and the scan.
      QTimer::singleShot(0, main, [main] {
        main->findChild<QPushButton*>(QStringLiteral("cmdReadAll"))->click();
        main->findChild<QLineEdit*>(QStringLiteral("txtCurrDAC"))->setText(QStringLiteral("2048"));
        main->findChild<QPushButton*>(QStringLiteral("cmdWriteCurrDAC"))->click();
        QTimer::singleShot(0, main, [main] {
          main->findChild<QPushButton*>(QStringLiteral("cmdPlot"))->click();
          QTimer::singleShot(0, main, [main] {
            main->findChild<QLineEdit*>(QStringLiteral("ScanPeriod"))
                ->setText(QStringLiteral("100"));
            if (const char* record = std::getenv("KORVO_RECORD"))
              main->Monitor()->StartRecording(QString::fromLocal8Bit(record));
            main->findChild<QCheckBox*>(QStringLiteral("ContinuousScan"))->click();
          });
        });
      });
    }
    rc = QApplication::exec();
  } else {
    main->close();
  }
  if (metricsEndpoint) {
    main->Monitor()->FollowPresence(nullptr);
    metricsEndpoint->Detach();
  }
  delete main;
  SetMessageSink(nullptr);
  return rc;
}
