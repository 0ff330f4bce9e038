// The test-mode register window: the eleven trim and test-mode registers, each as a row with a
// title, a bit view naming every bit, a hex entry box and Read / Write, plus Read All, Write All
// and the spin preset window.
//
// objectNames: cmdReadAll, cmdWriteAll, cmdSpins, BitLabel0..BitLabel15, and per row i:
// Frame1_<i>, Label1_<i>, ctlTrimReg<i>, txtHexVal<i>, lblHex<i>, cmdRead<i>, cmdWrite<i>
// (an underscore only where the name itself ends in a digit).
//
// The window deletes itself when closed: closing discards what it shows.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <string_view>

class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class RegisterAccess;
class ctlTrimRegister;

class frmTrim : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRows = 11;
  // Row i shows RegisterTable::All()[i].

  // The one test-mode window: created on first use without an owner, placed beside `beside`
  // (the main window, when given) as high as the screen lets it show its rows, shown and
  // brought forward. Closing it discards it; the next
  // call creates it afresh.
  static frmTrim* Open(RegisterAccess& access, const QWidget* beside = nullptr);

  static frmTrim* Instance();
  // Closes the window if it is open. The main window does not: as a window without an owner
  // it stays open after the main window has closed, and the program ends with the last window.
  static void CloseInstance();

  explicit frmTrim(RegisterAccess& access, QWidget* parent = nullptr);
  ~frmTrim() override;

  // --- handlers, row i ---
  void cmdRead_Click(int i);
  void cmdWrite_Click(int i);
  void ctlTrimReg_Change(int i);
  void cmdReadAll_Click();
  void cmdWriteAll_Click();
  void cmdSpins_Click();

  ctlTrimRegister* ctlTrimReg(int i) const { return rows_[i].view; }
  std::array<ctlTrimRegister*, kRows> RowViews() const;
  QLineEdit* txtHexVal(int i) const { return rows_[i].hex; }
  QLabel* Label1(int i) const { return rows_[i].title; }
  QPushButton* cmdRead(int i) const { return rows_[i].read; }
  QPushButton* cmdWrite(int i) const { return rows_[i].write; }

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  struct Row {
    QGroupBox* frame = nullptr;
    QLabel* title = nullptr;
    ctlTrimRegister* view = nullptr;
    QLineEdit* hex = nullptr;
    QLabel* hexLabel = nullptr;
    QPushButton* read = nullptr;
    QPushButton* write = nullptr;
  };
  void BuildControls();
  void Form_Load();
  void PlaceBeside(const QWidget* main);

  RegisterAccess& access_;
  std::array<Row, kRows> rows_{};
  std::array<QLabel*, 16> bitLabels_{};
  QPushButton* cmdReadAll = nullptr;
  QPushButton* cmdWriteAll = nullptr;
  QPushButton* cmdSpins = nullptr;
  QScrollArea* scroll_ = nullptr;
};
