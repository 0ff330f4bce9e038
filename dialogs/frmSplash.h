// The splash window at start-up and, later, the About window: product caption (by chip
// variant), version, fixed texts. A click on its frame, a click on OK or any key closes it;
// closing deletes it. At most one exists at a time.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

class QLabel;
class QPushButton;
class QFrame;
class Registry;

class frmSplash : public QWidget {
  Q_OBJECT
 public:
  // owner nullptr: the ownerless splash window; otherwise an About window above its owner.
  explicit frmSplash(QWidget* owner = nullptr);
  ~frmSplash() override;

  static frmSplash* Instance();

  void CommandLineProcessing(const std::string& sArg);
  void StartSysInfo();
  // Reads one value of the configuration registry into KeyVal (strings as they are, 32-bit
  // numbers as decimal text); false, with KeyVal empty, when the key or value cannot be read.
  static bool GetKeyValue(Registry& registry, const int32_t& KeyRoot, const std::string& KeyName,
                          const std::string& SubKeyRef, std::string& KeyVal);

  QPushButton* CmdOK() const { return CmdOK_; }
  QPushButton* cmdSysInfo() const { return cmdSysInfo_; }

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void Form_Load();

  QFrame* Frame1_ = nullptr;
  QPushButton* cmdSysInfo_ = nullptr;
  QPushButton* CmdOK_ = nullptr;
  QLabel* LblProductName_ = nullptr;
  QLabel* lblVersion_ = nullptr;
};
