#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QTimer>
#include <cstdlib>
#include <map>

#include "dialogs/Registry.h"
#include "dialogs/frmLegend.h"
#include "dialogs/frmSplash.h"
#include "shell/StartUp.h"
#include "support/gui/MainWindowFixture.h"

namespace {

void Flush() { QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// Keys by name, each holding values by name as (type, bytes).
class FakeRegistry : public Registry {
 public:
  using Values = std::map<std::string, std::pair<uint32_t, std::string>>;
  std::map<std::string, Values> keys;
  int open = 0;

  long RegOpenKeyEx(int32_t root, const std::string& subKey, uint32_t access,
                    RegistryKey& key) override {
    auto it = keys.find(subKey);
    if (root != HKEY_LOCAL_MACHINE || access != kKeyAllAccess || it == keys.end())
      return ERROR_FILE_NOT_FOUND;
    key = reinterpret_cast<RegistryKey>(&it->second);
    ++open;
    return ERROR_SUCCESS;
  }
  long RegQueryValueEx(RegistryKey key, const std::string& name, uint32_t& type, std::string& data,
                       uint32_t& size) override {
    const Values& values = *reinterpret_cast<Values*>(key);
    auto it = values.find(name);
    if (it == values.end()) return ERROR_FILE_NOT_FOUND;
    const std::string& bytes = it->second.second;
    if (bytes.size() > size) return ERROR_MORE_DATA;
    type = it->second.first;
    std::copy(bytes.begin(), bytes.end(), data.begin());  // within the size the caller gave
    size = static_cast<uint32_t>(bytes.size());
    return ERROR_SUCCESS;
  }
  long RegCloseKey(RegistryKey key) override { return open -= key != 0, ERROR_SUCCESS; }
  bool FileExists(const std::string&) override { return false; }
  bool StartProgram(const std::string&) override { return false; }
};

const char* kInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";

TEST(GetKeyValue, StringsNumbersAndFailures) {
  constexpr uint32_t kAbsent = 0;  // the key has no such value
  const std::vector<std::tuple<uint32_t, std::string, bool, const char*>> cases = {
      {REG_SZ, std::string("C:\\msinfo32.exe\0", 16), true, "C:\\msinfo32.exe"},
      {3, "\x01\x02", true, "keep"},  // other types keep the caller's value
      // Every byte keeps its leading zero: 0A 01 00 00 is 266.
      {REG_DWORD, std::string("\x0A\x01\x00\x00", 4), true, "266"},
      {REG_DWORD, std::string("\xFF\xFF\xFF\xFF", 4), true, "-1"},
      {REG_SZ, std::string(2000, 'x'), false, ""},  // longer than the buffer
      {kAbsent, "", false, ""}};
  FakeRegistry reg;
  FakeRegistry::Values& values = reg.keys[kInfoKey];
  for (const auto& [type, bytes, ok, value] : cases) {
    values.clear();
    if (type != kAbsent) values["V"] = {type, bytes};
    std::string v = "keep";
    EXPECT_EQ(frmSplash::GetKeyValue(reg, HKEY_LOCAL_MACHINE, kInfoKey, "V", v), ok) << value;
    EXPECT_EQ(v, value);
  }
  std::string v = "keep";
  EXPECT_FALSE(frmSplash::GetKeyValue(reg, HKEY_LOCAL_MACHINE, "SOFTWARE\\Nowhere", "V", v));
  EXPECT_EQ(v, "");
  EXPECT_EQ(reg.open, 0);  // every key closed again
}

TEST(SysInfo, WithoutARegistryItSaysItIsUnavailable) {
  RecordingMessageSink sink;
  QWidget owner;
  frmSplash(&owner).StartSysInfo();
  EXPECT_EQ(sink.messages,
            (std::vector<std::string>{"System Information Is Unavailable At This Time"}));
}

class AboutTest : public MainWindowFixture {};

TEST_F(AboutTest, AboutAndLegendAreOneWindowEachOwnedByTheMainWindow) {
  Load();
  Click("cmdAbout");
  Click("cmdLegend");
  frmSplash* about = frmSplash::Instance();
  frmLegend* legend = window->Legend();
  ASSERT_TRUE(about && legend);
  EXPECT_EQ(about->parentWidget(), window.get());
  Click("cmdAbout");
  Click("cmdLegend");
  EXPECT_EQ(frmSplash::Instance(), about);
  EXPECT_EQ(window->Legend(), legend);
  EXPECT_EQ(window->findChildren<frmSplash*>().size(), 1);
  EXPECT_EQ(window->findChildren<frmLegend*>().size(), 1);
}

TEST_F(AboutTest, AboutShowsTheControlsOwnTextEachTime) {
  Load();
  Click("cmdAbout");
  Click("cmdAbout");
  ASSERT_EQ(sink.Count(), 2u);
  for (const std::string& text : sink.messages)
    EXPECT_EQ(text.rfind("Tarn88 simulator", 0), 0u) << text;
}

TEST_F(AboutTest, AboutClosesOnAKeyTheFrameOrOkButNotALabel) {
  Load();
  Click("cmdAbout");
  frmSplash* about = frmSplash::Instance();
  QTest::mouseClick(about->findChild<QLabel*>("LblProductName"), Qt::LeftButton);
  QTest::mouseClick(about->findChild<QLabel*>("AboutOK"), Qt::LeftButton);
  Flush();
  ASSERT_EQ(frmSplash::Instance(), about);
  for (int way = 0; way < 3; ++way) {
    Click("cmdAbout");
    frmSplash* s = frmSplash::Instance();
    if (way == 0) QTest::keyClick(s, Qt::Key_A);
    if (way == 1)
      QTest::mouseClick(s->findChild<QFrame*>("Frame1"), Qt::LeftButton, {}, QPoint(2, 2));
    if (way == 2) QTest::mouseClick(s->CmdOK(), Qt::LeftButton);
    Flush();
    EXPECT_EQ(frmSplash::Instance(), nullptr) << way;
  }
}

TEST_F(AboutTest, AboutNamesTheSettingsFileRead) {
  // (settings written, the file named)
  const std::pair<std::string, std::string> cases[] = {
      {"", "none: defaults"},
      {"[Target]\nAddress=18\n", IniPath()},
  };
  for (const auto& [ini, named] : cases) {
    Load(ini);
    Click("cmdAbout");
    ASSERT_NE(frmSplash::Instance(), nullptr);
    EXPECT_EQ(frmSplash::Instance()->findChild<QLabel*>("lblSettingsFile")->text().toStdString(),
              "Settings file: " + named);
    Close();
    Flush();
  }
}

TEST_F(AboutTest, OwnedWindowsCloseWithTheMainWindow) {
  Load();
  Click("cmdLegend");
  QPointer<frmLegend> legend = window->Legend();
  Click("cmdAbout");
  window->close();
  Flush();
  EXPECT_EQ(frmSplash::Instance(), nullptr);
  ASSERT_TRUE(legend);
  EXPECT_FALSE(legend->isVisible());
}

TEST_F(AboutTest, LegendClosesWithEscape) {
  Load();
  Click("cmdLegend");
  QPointer<frmLegend> legend = window->Legend();
  ASSERT_TRUE(legend && legend->isVisible());
  QTest::keyClick(legend, Qt::Key_Escape);
  EXPECT_FALSE(legend && legend->isVisible());
}

// Runs on every platform the suite runs on; ctest also runs it on a real X server (Xvfb, xcb)
// at several scale factors (tests/support/under-xvfb.sh), where the fault showed.
class AboutGeometryTest : public MainWindowFixture {};

TEST_F(AboutGeometryTest, ButtonsLieInsideTheClientArea) {
  if (std::getenv("KORVO_NO_XVFB")) GTEST_SKIP() << "xvfb-run is absent";
  // The program's own start-up, then its event loop, in which the user clicks About.
  window.reset(RunStartUp(StartUpWaits{0.05f, 0.05f, {}}));
  QEventLoop loop;
  QTimer::singleShot(0, [&] {
    Click("cmdAbout");
    frmSplash* about = frmSplash::Instance();
    if (!about) {
      ADD_FAILURE() << "no About window";
    } else if (!QTest::qWaitForWindowExposed(about)) {
      ADD_FAILURE() << "the About window never appeared";
    } else {
      EXPECT_EQ(about->parentWidget(), window.get());
      const QRect client(QPoint(0, 0), about->size());
      for (QPushButton* button : {about->CmdOK(), about->cmdSysInfo()}) {
        const QRect at(button->mapTo(about, QPoint(0, 0)), button->size());
        EXPECT_TRUE(button->isVisible()) << button->objectName().toStdString();
        EXPECT_FALSE(at.isEmpty()) << button->objectName().toStdString();
        EXPECT_TRUE(client.contains(at))
            << button->objectName().toStdString() << " at " << at.x() << "," << at.y() << " "
            << at.width() << "x" << at.height() << " in " << client.width() << "x"
            << client.height() << " on " << QGuiApplication::platformName().toStdString()
            << " at scale " << about->devicePixelRatioF();
      }
    }
    loop.quit();
  });
  loop.exec();
}

}  // namespace
