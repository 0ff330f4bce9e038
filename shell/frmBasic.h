// The main window: the charger's register panel (a MainPanel) with the legend, About and
// test-mode commands and the version. It lives for the whole run, owns the register access
// that every window is handed (ReadRegister, WriteRegister, UIntToInt), opens the adapter in
// its load step and closes it when it is closed.
#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>

#include "panels/MainPanel.h"
#include "registers/RegisterAccess.h"

class QLabel;
class QPushButton;
class Zentio;
class frmLegend;
class QHBoxLayout;
namespace monitor {
class Monitor;
}

class frmBasic : public QWidget {
  Q_OBJECT
 public:
  // scanTimer: the continuous scan's timer and clock (a QtScanTimer unless a test brings one).
  explicit frmBasic(QWidget* parent = nullptr, std::unique_ptr<ScanTimer> scanTimer = nullptr);
  ~frmBasic() override;

  // The main window while it exists.
  static frmBasic* Current();

  // The load step: variant, version label, adapter, colours, communication settings. Runs
  // once, before the window is first shown.
  void Form_Load();
  void CommandLineProcessing(const std::string& sArg);

  // --- register access, handed to every window ---
  int32_t ReadRegister(const std::string& sRegName, uint8_t nRegAddr, int16_t& nResult,
                       int16_t nTargetAddr) {
    return registers_.ReadRegister(sRegName, nRegAddr, nResult, nTargetAddr);
  }
  int32_t WriteRegister(const std::string& sRegName, uint8_t nRegAddr, int16_t nWord,
                        int16_t nTargetAddr) {
    return registers_.WriteRegister(sRegName, nRegAddr, nWord, nTargetAddr);
  }
  static int16_t UIntToInt(int32_t nLong) { return RegisterAccess::UIntToInt(nLong); }
  // Where recorders and plots attach (AddObserver) to see every window's register traffic.
  RegisterAccess& Registers() { return registers_; }

  // The register panel: register commands, DAC entries, scan and settle timers.
  MainPanel* Panel() const { return panel_; }

  // The adapter control instance of this window (only for its About box).
  Zentio& Zentio1() { return *Zentio1_; }
  frmLegend* Legend() const;

  // Takes the recording, plot and journal controller; its controls join the bottom row after
  // About (and come after every other control in tab order). nullptr drops it.
  void SetMonitor(std::unique_ptr<monitor::Monitor> monitor);
  monitor::Monitor* Monitor() const { return monitor_.get(); }

 signals:
  // Clicked "Trim Registers...": the window behind it connects here.
  void openTrimWindow();

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void BuildControls(std::unique_ptr<ScanTimer> scanTimer);
  void ConnectHandlers();
  void Form_Unload();
  void ShowAbout();
  void ShowLegend();

  RegisterAccess registers_;
  std::unique_ptr<Zentio> Zentio1_;
  bool unloaded_ = false;
  QPointer<frmLegend> legend_;

  MainPanel* panel_ = nullptr;
  QPushButton* cmdLegend = nullptr;
  QPushButton* cmdAbout = nullptr;
  QPushButton* cmdTrimRegs = nullptr;
  QLabel* LblVer = nullptr;
  QHBoxLayout* bottomRow_ = nullptr;
  // Declared after registers_, so it is gone (and has stopped observing) before they are.
  std::unique_ptr<monitor::Monitor> monitor_;
};
