// The main window's register panel: the status, control and DAC registers with their read and
// write commands, the scan and its settle timer, the device address and the bus mode. A widget
// of its own that the main window holds: it works through the register access handed to it and
// knows nothing of the window's lifecycle or of the adapter.
//
// Child objectNames are the control names (cmdReadAll, txtVoltDAC, ctlCtrlRegister1, ...);
// the frames are fraStatus, fraControl and fraDAC, the timers Timer1 and Timer2; the notes under
// the DAC entries lblVoltDACNote, lblCurrDACNote and lblIpCurrDACNote.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "panels/ScanTimer.h"
#include "registers/RegisterAccess.h"
#include "registers/RegisterTable.h"

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class BitRegisterView;
class ClickableLabel;
class ctlCtrlRegister;
class ctlDACRegister;
class ctlStatRegister;

class MainPanel : public QWidget {
  Q_OBJECT
 public:
  // scanTimer: the continuous scan's timer and clock (a QtScanTimer unless a test brings one).
  MainPanel(RegisterAccess& registers, std::unique_ptr<ScanTimer> scanTimer, QWidget* parent);

  // --- register commands ---
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
  void StopTimers();

  // --- load steps of the main window ---
  void Makerk5191();
  void HandColoursToViews();
  // Shows the bus mode and device address of the settings.
  void ShowCommSettings();
  // The row of Read All and Write All, where the window adds its own commands.
  QHBoxLayout* CommandRow() const { return commandRow_; }

 private:
  // One DAC register's row: its register (caption, Tag, unit, valid ranges, refusal text come
  // from the register table), the objectNames of its controls and the controls.
  struct DacRow {
    uint8_t address;
    const char* viewName;
    const char* readName;
    const char* entryName;
    const char* writeName;
    ctlDACRegister* view = nullptr;
    QPushButton* read = nullptr;
    QLineEdit* entry = nullptr;
    QPushButton* write = nullptr;
  };
  enum DacIndex { kVolt, kCurr, kIpCurr };

  // MainPanel.cpp
  void BuildControls();
  void BuildDacFrame(QWidget* fraDAC);
  void ConnectHandlers();
  // MainPanelCommands.cpp
  int32_t ReadRegister(uint8_t nRegAddr, int16_t& nResult);
  int32_t WriteRegister(uint8_t nRegAddr, int16_t nWord);
  void ReadInto(BitRegisterView* view);
  void WriteDAC(const DacRow& row);
  void RefreshControlHex();
  void OnDACViewChange(const DacRow& row);
  void OnDACEntryChange(const DacRow& row);
  // MainPanelScan.cpp
  void RestartTimer2();
  void UpdateTimer1();
  void SetTimer1Interval(int ms);
  std::optional<int> ScanPeriodValue() const;
  std::optional<int16_t> DeviceAddressValue() const;
  void ColourSettleBoxes();
  void ToggleCommMode();

  RegisterAccess& registers_;
  bool inTick_ = false;
  bool timer1Enabled_ = false;
  int timer1Interval_ = 500;
  // While a tick runs: when its last failure message closed. After it: no tick before this.
  std::optional<int64_t> failureClosedAt_;
  std::optional<int64_t> holdOffUntil_;
  // While a read writes a view, its entry follows once at the end instead of once per bit.
  BitRegisterView* writingView_ = nullptr;
  bool followPending_ = false;
  // Set while a DAC entry takes the value read from the chip: that is what the register holds,
  // so its note (about typed values) clears.
  bool entryFromChip_ = false;

  // Top to bottom as the frame shows them.
  std::array<DacRow, 3> dac_{{
      {RegisterTable::kChargeVoltage, "ctlDACRegisterVolt", "cmdReadVoltDAC", "txtVoltDAC",
       "cmdWriteVoltDAC"},
      {RegisterTable::kChargeCurrent, "ctlDACRegisterCurr", "cmdReadCurrDAC", "txtCurrDAC",
       "cmdWriteCurrDAC"},
      {RegisterTable::kInputCurrent, "ctlDACRegisterIpCurr", "cmdReadIpCurrDAC", "txtIpCurrDAC",
       "cmdWriteIpCurrDAC"},
  }};
  // Under each DAC entry: what the register will hold when the entry is not a whole step.
  std::array<QLabel*, 3> dacNotes_{};
  ctlStatRegister* ctlStatRegister1 = nullptr;
  QPushButton* cmdReadStat = nullptr;
  QLabel* lblStatRegisterHex = nullptr;
  ctlCtrlRegister* ctlCtrlRegister1 = nullptr;
  QPushButton* cmdReadCtrlReg = nullptr;
  QLineEdit* txtCtrlRegisterHex = nullptr;
  QPushButton* WriteControlReg = nullptr;
  QPushButton* cmdReadAll = nullptr;
  QPushButton* cmdWriteAll = nullptr;
  QLabel* lblDevAddr = nullptr;
  QLineEdit* txtDevAddr = nullptr;
  ClickableLabel* lblCommMode = nullptr;
  QCheckBox* ContinuousScan = nullptr;
  QLineEdit* ScanPeriod = nullptr;
  QHBoxLayout* commandRow_ = nullptr;
  ScanTimer* timer1_ = nullptr;
  QTimer* timer2_ = nullptr;
};
