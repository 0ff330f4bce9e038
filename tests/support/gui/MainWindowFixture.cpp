#include "MainWindowFixture.h"

#include <QFile>

#include "adapter/frmUSB.h"
#include "foundation/CommandLine.h"
#include "foundation/Settings.h"

MainWindowFixture::MainWindowFixture() {
  Settings::ResetToDefaults();
  Settings::SetFile(IniPath());
  sim::Board::ResetShared();
  CommandLine::SetArgumentStringForTesting(std::string());
  MainPanel::SetSettleIntervalForTesting(kSettleMs);
  CountingControl::Install(counts);
}

MainWindowFixture::~MainWindowFixture() {
  Close();
  window.reset();
  if (frmUSB::Loaded()) frmUSB::Get().CloseDevice();
  CountingControl::Uninstall();
  MainPanel::SetSettleIntervalForTesting(1000);
  CommandLine::SetArgumentStringForTesting(std::nullopt);
  Settings::SetFile(std::string());
  Settings::ResetToDefaults();
  sim::Board::ResetShared();
}

std::string MainWindowFixture::IniPath() const {
  return dir.filePath(QStringLiteral("korvo.ini")).toStdString();
}

void MainWindowFixture::Load(const std::string& ini, const std::string& args) {
  if (!ini.empty()) {
    QFile f(QString::fromStdString(IniPath()));
    if (!f.open(QIODevice::WriteOnly)) ADD_FAILURE() << "cannot write the settings file";
    f.write(ini.data(), static_cast<qint64>(ini.size()));
    f.close();
    sim::Board::ResetShared();  // the board reads its own section too
  }
  CommandLine::SetArgumentStringForTesting(args);
  auto timer = std::make_unique<ManualScanTimer>();
  scan = timer.get();
  window = std::make_unique<frmBasic>(nullptr, std::move(timer));
  window->Form_Load();
  window->show();
}

void MainWindowFixture::Close() {
  if (window && window->isVisible()) window->close();
}

bool MainWindowFixture::WaitUntil(const std::function<bool()>& done) {
  // Long enough for a machine busy with other work; a passing test returns at once.
  constexpr int kDeadlineMs = 20000;
  return QTest::qWaitFor(done, kDeadlineMs);
}

void MainWindowFixture::Click(const char* button) {
  QPushButton* b = Child<QPushButton>(button);
  if (b) QTest::mouseClick(b, Qt::LeftButton);
}

void MainWindowFixture::Type(const char* box, const QString& text) {
  QLineEdit* e = Child<QLineEdit>(box);
  if (!e) return;
  e->selectAll();
  if (text.isEmpty()) {
    QTest::keyClick(e, Qt::Key_Delete);
  } else {
    QTest::keyClicks(e, text);
  }
}
