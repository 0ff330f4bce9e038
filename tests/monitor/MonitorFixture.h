// A loaded main window with the monitor handed over, as the program has it, file dialogs that
// answer from the test, and a clock the test moves.
#pragma once

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adapter/frmUSB.h"
#include "monitor/FileDialogs.h"
#include "monitor/Monitor.h"
#include "observation/Clock.h"
#include "support/ManualClock.h"
#include "support/gui/MainWindowFixture.h"

// Answers every file dialog with `answer` (nullopt: cancelled) and keeps what was asked.
class FakeFileDialogs : public monitor::FileDialogs {
 public:
  std::optional<QString> Ask(QWidget*, const monitor::FileRequest& request) override {
    asked.push_back(request);
    if (pick && request.choice) request.choice->selected = *pick;
    return answer;
  }
  std::optional<QString> answer;
  std::optional<int> pick;  // the item the user picks in the request's choice
  std::vector<monitor::FileRequest> asked;
};

class MonitorFixture : public MainWindowFixture {
 protected:
  // The plot keeps its lane choice in the user's configuration folder: a scratch one here.
  MonitorFixture() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, userConfig.path());
  }
  // Loads the main window and hands it a monitor. With `clock`, the register access (and so
  // the monitor) reads time from it.
  void LoadMonitored(const std::string& ini = "", const std::string& args = "",
                     recording::Clock* clock = nullptr) {
    Load(ini, args);
    if (clock) window->Registers().SetClock(*clock);
    window->SetMonitor(std::make_unique<monitor::Monitor>(
        *window, window->Registers(), monitor::Monitor::OptionsFromCommandLine()));
    monitor = window->Monitor();
  }
  QString TempPath(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
  static QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  QString WriteFile(const char* name, const QByteArray& bytes) const {
    QFile f(TempPath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size()) << name;
    return TempPath(name);
  }
  // What the board saw and the user was told, then the main window closed and the adapter and
  // board fresh for a second run.
  struct Observed {
    std::vector<std::string> traffic;
    std::vector<std::string> messages;
  };
  Observed ObserveAndClose() {
    Observed o{Traffic(), sink.messages};
    Close();
    window.reset();
    frmUSB::Get().CloseDevice();
    sim::Board::ResetShared();
    return o;
  }
  // Everything the board saw, field by field.
  std::vector<std::string> Traffic() {
    std::vector<std::string> traffic;
    for (const sim::Transaction& t : Board().History()) {
      char buf[48];
      std::snprintf(buf, sizeof buf, "%d:%02X=%04X@%02X/%d", static_cast<int>(t.kind), t.command,
                    t.value, t.target, t.status);
      traffic.push_back(buf);
    }
    return traffic;
  }

  QTemporaryDir userConfig;
  FakeFileDialogs dialogs;
  monitor::ScopedFileDialogs scopedDialogs{&dialogs};
  monitor::Monitor* monitor = nullptr;
};
