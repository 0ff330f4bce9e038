// The spin preset window: seven preset buttons with their descriptions from the settings file,
// and the EEPROM burn. Opened modally from the test-mode window.
//
// objectNames: cmdWriteTrim0..cmdWriteTrim6, lblDesc0..lblDesc6, Label1, cmdEEBurn.
#pragma once

#include <QDialog>
#include <array>

#include "registers/Spins.h"

class QLabel;
class QPushButton;
class RegisterAccess;

class frmSpins : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kButtons = static_cast<int>(Spins::kButtonCaptions.size());

  explicit frmSpins(RegisterAccess& access, QWidget* parent = nullptr);

  void cmdWriteTrim_Click(int i);
  void cmdEEBurn_Click();

  QPushButton* cmdWriteTrim(int i) const { return buttons_[i]; }
  QLabel* lblDesc(int i) const { return descs_[i]; }
  QPushButton* cmdEEBurn() const { return burn_; }

 private:
  void Form_Load();
  // Keeps the buttons from starting a second operation while one runs (the burn's wait
  // processes window events).
  void SetBusy(bool busy);

  Spins::SpinProgrammer programmer_;
  std::array<QPushButton*, kButtons> buttons_{};
  std::array<QLabel*, kButtons> descs_{};
  QLabel* Label1 = nullptr;
  QPushButton* burn_ = nullptr;
  bool busy_ = false;
};
