// The main window: the charger's register panel. It lives for the whole run, owns the register
// access that every window goes through (ReadRegister, WriteRegister, UIntToInt), opens the
// adapter in its load step and closes it when it is closed.
//
// Child objectNames are the control names (cmdReadAll, txtVoltDAC, ctlCtrlRegister1, ...);
// the frames are fraStatus, fraControl and fraDAC.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "registers/RegisterAccess.h"
#include "shell/ScanTimer.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class BitRegisterView;

class ClickableLabel;
class Zentio;
class ctlCtrlRegister;
class ctlDACRegister;
class ctlStatRegister;
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

  // The main window while it exists (other windows reach the register access through it).
  static frmBasic* Current();

  // The load step: variant, version label, adapter, colours, communication settings. Runs
  // once, before the window is first shown.
  void Form_Load();
  void CommandLineProcessing(const std::string& sArg);

  // --- register access for every window ---
  int32_t ReadRegister(const std::string& sRegName, uint8_t nRegAddr, int16_t& nResult,
                       int16_t nTargetAddr);
  int32_t WriteRegister(const std::string& sRegName, uint8_t nRegAddr, int16_t nWord,
                        int16_t nTargetAddr);
  static int16_t UIntToInt(int32_t nLong) { return RegisterAccess::UIntToInt(nLong); }
  // Where recorders and plots attach (AddObserver) to see every window's register traffic.
  RegisterAccess& Registers() { return registers_; }

  // --- register commands of the panel ---
  void ReadAllRegisters();
  void ReadStatusRegister();
  void ReadControlRegister();
  void ReadVoltDAC();
  void ReadIpCurrDAC();
  void ReadCurrDAC();
  void WriteControlRegister();
  void WriteVoltDAC();
  void WriteCurrDAC();
  void WriteIpCurrDAC();
  void WriteAllRegisters();
  // Keeps a DAC entry numeric and within 0..65535.
  static void AllowOnlyNumeric(QLineEdit* txt);
  // The register address a view's Tag ("&h" and hex digits) denotes.
  static uint8_t AddressFromTag(const QString& tag);

  // --- timers ---
  void Timer1_Timer();  // scan tick
  void Timer2_Timer();  // settle step: scan period, then device address
  // Timer1 runs while the scan is switched on and its period is above 0.
  bool Timer1Enabled() const { return timer1Enabled_; }
  int Timer1Interval() const { return timer1Interval_; }
  ScanTimer* Timer1() const { return timer1_; }
  // After a tick that showed a failure message, the next tick waits at least this long after
  // the last message closed (or one scan period, if that is longer), so one click can stop a
  // failing scan.
  static constexpr int kScanHoldOffMs = 1000;
  QTimer* Timer2() const { return timer2_; }
  // How long Timer2 waits after the last keystroke (1000 ms unless a test shortens it).
  static void SetSettleIntervalForTesting(int ms);

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
  void BuildControls();
  void ConnectHandlers();
  void HandColoursToViews();
  void Form_Unload();
  void ReadInto(BitRegisterView* view);
  void WriteDAC(QLineEdit* entry, BitRegisterView* view, const char* what,
                void (frmBasic::*readBack)());
  void RefreshControlHex();
  void OnDACViewChange(BitRegisterView* view, QLineEdit* entry);
  void RestartTimer2();
  void UpdateTimer1();
  void SetTimer1Interval(int ms);
  std::optional<int> ScanPeriodValue() const;
  std::optional<int16_t> DeviceAddressValue() const;
  void ColourSettleBoxes();
  void ToggleCommMode();
  void ShowAbout();
  void ShowLegend();

  RegisterAccess registers_;
  std::unique_ptr<Zentio> Zentio1_;
  int opDepth_ = 0;
  bool inTick_ = false;
  bool unloaded_ = false;
  bool timer1Enabled_ = false;
  int timer1Interval_ = 500;
  // While a tick runs: when its last failure message closed. After it: no tick before this.
  std::optional<int64_t> failureClosedAt_;
  std::optional<int64_t> holdOffUntil_;
  QPointer<frmLegend> legend_;
  // While a read writes a view, its entry follows once at the end instead of once per bit.
  BitRegisterView* writingView_ = nullptr;
  bool followPending_ = false;

  ctlStatRegister* ctlStatRegister1 = nullptr;
  QPushButton* cmdReadStat = nullptr;
  QLabel* lblStatRegisterHex = nullptr;
  ctlCtrlRegister* ctlCtrlRegister1 = nullptr;
  QPushButton* cmdReadCtrlReg = nullptr;
  QLineEdit* txtCtrlRegisterHex = nullptr;
  QPushButton* WriteControlReg = nullptr;
  ctlDACRegister* ctlDACRegisterVolt = nullptr;
  ctlDACRegister* ctlDACRegisterCurr = nullptr;
  ctlDACRegister* ctlDACRegisterIpCurr = nullptr;
  QPushButton* cmdReadVoltDAC = nullptr;
  QPushButton* cmdReadCurrDAC = nullptr;
  QPushButton* cmdReadIpCurrDAC = nullptr;
  QLineEdit* txtVoltDAC = nullptr;
  QLineEdit* txtCurrDAC = nullptr;
  QLineEdit* txtIpCurrDAC = nullptr;
  QPushButton* cmdWriteVoltDAC = nullptr;
  QPushButton* cmdWriteCurrDAC = nullptr;
  QPushButton* cmdWriteIpCurrDAC = nullptr;
  QPushButton* cmdReadAll = nullptr;
  QPushButton* cmdWriteAll = nullptr;
  QLabel* lblDevAddr = nullptr;
  QLineEdit* txtDevAddr = nullptr;
  ClickableLabel* lblCommMode = nullptr;
  QCheckBox* ContinuousScan = nullptr;
  QLineEdit* ScanPeriod = nullptr;
  QPushButton* cmdLegend = nullptr;
  QPushButton* cmdAbout = nullptr;
  QPushButton* cmdTrimRegs = nullptr;
  QLabel* LblVer = nullptr;
  ScanTimer* timer1_ = nullptr;
  QTimer* timer2_ = nullptr;
  QHBoxLayout* bottomRow_ = nullptr;
  // Declared after registers_, so it is gone (and has stopped observing) before they are.
  std::unique_ptr<monitor::Monitor> monitor_;
};
