// A loaded main window on a fresh simulated board, for GUI tests:
//
//   class MyTest : public MainWindowFixture {};
//   TEST_F(MyTest, X) {
//     Load();                                  // or Load("[Settings]\nCommMode=0\n")
//     Click("cmdReadAll");
//     EXPECT_EQ(Child<QLineEdit>("txtVoltDAC")->text(), "16800");
//   }
//
// Every message goes to `sink`; the settle timer is shortened to kSettleMs. The scan runs on
// `scan`, a clock the test moves on (scan->Advance(ms)).
#pragma once

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>
#include <string>

#include "CountingControl.h"
#include "ManualScanTimer.h"
#include "RecordingMessageSink.h"
#include "drivers/sim/SimBoard.h"
#include "shell/frmBasic.h"

class MainWindowFixture : public ::testing::Test {
 protected:
  static constexpr int kSettleMs = 30;

  MainWindowFixture();
  ~MainWindowFixture() override;

  // Writes the settings file (when given), creates the main window, runs its load step and
  // shows it.
  void Load(const std::string& ini = "", const std::string& args = "");
  void Close();  // closes the main window (its unload step)

  template <class T>
  T* Child(const char* name) {
    T* w = window->findChild<T*>(QString::fromLatin1(name));
    if (!w) ADD_FAILURE() << "no child " << name;
    return w;
  }
  void Click(const char* button);
  // Replaces the text as a user would: select all, then type.
  void Type(const char* box, const QString& text);
  // Runs the event loop until done() holds or a generous deadline passes; false on timeout.
  static bool WaitUntil(const std::function<bool()>& done);
  sim::Board& Board() { return *sim::Board::Shared(); }
  std::string IniPath() const;

  QTemporaryDir dir;
  RecordingMessageSink sink;
  ControlCounts counts;
  std::unique_ptr<frmBasic> window;
  ManualScanTimer* scan = nullptr;  // owned by the window
};
