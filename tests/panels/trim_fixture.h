// The test-mode window on a fresh simulated board, with its own settings file and every message
// recorded. Shared by the trim window and spin window tests.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "adapter/frmUSB.h"
#include "drivers/sim/SimBoard.h"
#include "drivers/sim/SimDriver.h"
#include "panels/frmTrim.h"
#include "registers/RegisterAccess.h"
#include "shell/Settings.h"
#include "support/gui/RecordingMessageSink.h"
#include "views/ctlTrimRegister.h"

// Readable QStrings in failure output.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

class TrimWindowFixture : public ::testing::Test {
 protected:
  TrimWindowFixture() {
    Settings::ResetToDefaults();
    Settings::SetFile(IniPath());
    NewBoard({});
    frmUSB::SetControlFactory([] { return CreateSimControl(); });
    frmUSB::Get().OpenFirstFreeDevice();
  }
  ~TrimWindowFixture() override {
    delete window.data();
    frmTrim::CloseInstance();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (frmUSB::Loaded()) frmUSB::Get().CloseDevice();
    frmUSB::SetControlFactory(nullptr);
    Settings::SetFile(std::string());
    Settings::ResetToDefaults();
    sim::Board::ResetShared();
  }

  std::string IniPath() const { return dir.filePath(QStringLiteral("korvo.ini")).toStdString(); }
  void WriteIni(const std::string& text) {
    QFile f(QString::fromStdString(IniPath()));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.data(), static_cast<qint64>(text.size()));
  }
  void NewBoard(sim::Board::Options options) {
    board = std::make_shared<sim::Board>(std::move(options));
    sim::Board::ResetShared(board);
  }
  // Creates and shows the window (its load step runs on creation); the bus history starts here.
  void Open() {
    window = new frmTrim(access);
    window->show();
    board->ClearHistory();
  }

  void Click(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
  // Replaces the text as a user would: select all, then type (an empty text deletes).
  void Type(QLineEdit* e, const QString& text) {
    e->setFocus();
    e->selectAll();
    if (text.isEmpty())
      QTest::keyClick(e, Qt::Key_Delete);
    else
      QTest::keyClicks(e, text);
  }

  struct Write {
    uint8_t reg;
    uint16_t value;
    bool operator==(const Write&) const = default;
  };
  std::vector<Write> Writes() const {
    std::vector<Write> w;
    for (const sim::Transaction& t : board->History())
      if (t.kind == sim::Transaction::Kind::Write) w.push_back({t.command, t.value});
    return w;
  }
  std::vector<uint8_t> Reads() const {
    std::vector<uint8_t> r;
    for (const sim::Transaction& t : board->History())
      if (t.kind == sim::Transaction::Kind::Read) r.push_back(t.command);
    return r;
  }

  QTemporaryDir dir;
  RecordingMessageSink sink;
  std::shared_ptr<sim::Board> board;
  RegisterAccess access;
  QPointer<frmTrim> window;
};
