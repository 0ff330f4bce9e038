#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <map>

#include "dialogs/Registry.h"
#include "dialogs/frmLegend.h"
#include "dialogs/frmSplash.h"
#include "shell/CommandLine.h"
#include "support/gui/MainWindowFixture.h"
#include "views/BitBoxes.h"

namespace {

void Flush() { QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// Keys by name, values as (type, bytes).
class FakeRegistry : public Registry {
 public:
  struct Value {
    uint32_t type;
    std::string bytes;
  };
  std::map<std::string, std::map<std::string, Value>> keys;
  std::map<std::string, bool> files;
  std::vector<std::string> started;
  bool startWorks = true;
  int open = 0;

  long RegOpenKeyEx(int32_t root, const std::string& subKey, uint32_t access,
                    RegistryKey& key) override {
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(access, 0x2003Fu);
    auto it = keys.find(subKey);
    if (it == keys.end()) return ERROR_FILE_NOT_FOUND;
    key = reinterpret_cast<RegistryKey>(&it->second);
    ++open;
    return ERROR_SUCCESS;
  }
  long RegQueryValueEx(RegistryKey key, const std::string& name, uint32_t& type, std::string& data,
                       uint32_t& size) override {
    auto& values = *reinterpret_cast<std::map<std::string, Value>*>(key);
    auto it = values.find(name);
    if (it == values.end()) return ERROR_FILE_NOT_FOUND;
    if (it->second.bytes.size() > size) return ERROR_MORE_DATA;
    type = it->second.type;
    std::copy(it->second.bytes.begin(), it->second.bytes.end(), data.begin());
    size = static_cast<uint32_t>(it->second.bytes.size());
    return ERROR_SUCCESS;
  }
  long RegCloseKey(RegistryKey key) override {
    if (key) --open;
    return ERROR_SUCCESS;
  }
  bool FileExists(const std::string& path) override { return files[path]; }
  bool StartProgram(const std::string& path) override {
    started.push_back(path);
    return startWorks;
  }
};

const char* kInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const char* kLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";

class GetKeyValueTest : public ::testing::Test {
 protected:
  bool Get(const std::string& key, const std::string& name, std::string& out) {
    return frmSplash::GetKeyValue(reg, HKEY_LOCAL_MACHINE, key, name, out);
  }
  FakeRegistry reg;
};

TEST_F(GetKeyValueTest, StringsLoseTheirTerminatingZero) {
  reg.keys[kInfoKey]["PATH"] = {REG_SZ, std::string("C:\\msinfo32.exe\0", 16)};
  reg.keys[kInfoKey]["RAW"] = {REG_SZ, "abc"};
  std::string v = "old";
  EXPECT_TRUE(Get(kInfoKey, "PATH", v));
  EXPECT_EQ(v, "C:\\msinfo32.exe");
  EXPECT_TRUE(Get(kInfoKey, "RAW", v));
  EXPECT_EQ(v, "abc");
  EXPECT_EQ(reg.open, 0);  // every key closed again
}

TEST_F(GetKeyValueTest, NumbersKeepEveryByteWithItsLeadingZero) {
  const std::vector<std::pair<std::string, const char*>> cases = {
      {std::string("\x0A\x01\x00\x00", 4), "266"},
      {std::string("\x01\x00\x00\x00", 4), "1"},
      {std::string("\x00\x01\x00\x00", 4), "256"},
      {std::string("\xFF\xFF\xFF\xFF", 4), "-1"},
      {std::string("\x78\x56\x34\x12", 4), "305419896"},
  };
  for (const auto& [bytes, text] : cases) {
    reg.keys[kInfoKey]["N"] = {REG_DWORD, bytes};
    std::string v = "caller";
    EXPECT_TRUE(Get(kInfoKey, "N", v));
    EXPECT_EQ(v, text);
  }
}

TEST_F(GetKeyValueTest, FailuresEmptyTheValueOtherTypesKeepIt) {
  std::string v = "keep";
  EXPECT_FALSE(Get("SOFTWARE\\Nowhere", "PATH", v));
  EXPECT_EQ(v, "");
  reg.keys[kInfoKey]["BIG"] = {REG_SZ, std::string(2000, 'x')};
  v = "keep";
  EXPECT_FALSE(Get(kInfoKey, "BIG", v));
  EXPECT_EQ(v, "");
  v = "keep";
  EXPECT_FALSE(Get(kInfoKey, "MISSING", v));
  EXPECT_EQ(v, "");
  reg.keys[kInfoKey]["BIN"] = {3, "\x01\x02"};
  v = "keep";
  EXPECT_TRUE(Get(kInfoKey, "BIN", v));
  EXPECT_EQ(v, "keep");
  EXPECT_EQ(reg.open, 0);
}

class SysInfoTest : public ::testing::Test {
 protected:
  SysInfoTest() { SetRegistry(&reg); }
  ~SysInfoTest() override { SetRegistry(nullptr); }
  void Run() {
    frmSplash about(&owner);
    about.StartSysInfo();
  }
  QWidget owner;
  FakeRegistry reg;
  RecordingMessageSink sink;
};

TEST_F(SysInfoTest, PlatformWithoutRegistryHasNoSystemInformation) {
  SetRegistry(nullptr);
  Run();
  EXPECT_EQ(sink.messages, (std::vector<std::string>{"System Information Is Unavailable At This Time"}));
}

TEST_F(SysInfoTest, RegisteredPathIsStarted) {
  reg.keys[kInfoKey]["PATH"] = {REG_SZ, std::string("C:\\x\\msinfo32.exe\0", 18)};
  Run();
  EXPECT_EQ(reg.started, (std::vector<std::string>{"C:\\x\\msinfo32.exe"}));
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SysInfoTest, ToolsLocationIsUsedWhenTheProgramFileExists) {
  reg.keys[kLocationKey]["MSINFO"] = {REG_SZ, std::string("C:\\tools\0", 9)};
  reg.files["C:\\tools\\MSINFO32.EXE"] = true;
  Run();
  EXPECT_EQ(reg.started, (std::vector<std::string>{"C:\\tools\\MSINFO32.EXE"}));
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(SysInfoTest, MissingFileOrFailedLaunchIsReported) {
  reg.keys[kLocationKey]["MSINFO"] = {REG_SZ, "C:\\tools"};
  Run();
  EXPECT_TRUE(reg.started.empty());
  EXPECT_EQ(sink.Count(), 1u);
  reg.files["C:\\tools\\MSINFO32.EXE"] = true;
  reg.startWorks = false;
  Run();
  EXPECT_EQ(sink.messages, (std::vector<std::string>(2, "System Information Is Unavailable At This Time")));
}

class AboutTest : public MainWindowFixture {};

TEST_F(AboutTest, AboutShowsOneOwnedWindowWithButtonsAndAsksTheControlEachTime) {
  Load();
  Click("cmdAbout");
  frmSplash* about = frmSplash::Instance();
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->parentWidget(), window.get());
  EXPECT_TRUE(about->CmdOK()->isVisible());
  EXPECT_TRUE(about->cmdSysInfo()->isVisible());
  EXPECT_EQ(about->findChild<QLabel*>("lblVersion")->text(), "Version 2.0.10");
  EXPECT_EQ(about->findChild<QLabel*>("LblProductName")->text(), "rk5190 Korvo");
  EXPECT_EQ(about->findChild<QLabel*>("lblCompanyProduct")->text(), "Rkx Evaluation Software");
  Click("cmdAbout");
  EXPECT_EQ(frmSplash::Instance(), about);
  EXPECT_EQ(window->findChildren<frmSplash*>().size(), 1);
  EXPECT_EQ(counts.showAboutBox, 2);
  EXPECT_EQ(sink.Count(), 2u);  // the simulated control's own about text, each time
}

TEST_F(AboutTest, Rk5191AboutCaption) {
  Load("", "rk5191");
  Click("cmdAbout");
  EXPECT_EQ(frmSplash::Instance()->findChild<QLabel*>("LblProductName")->text(), "rk5191 Korvo");
}

TEST_F(AboutTest, KeyFrameAndOkCloseLabelsDoNot) {
  Load();
  auto open = [&] {
    Click("cmdAbout");
    return frmSplash::Instance();
  };
  frmSplash* about = open();
  QTest::mouseClick(about->findChild<QLabel*>("LblProductName"), Qt::LeftButton);
  QTest::mouseClick(about->findChild<QLabel*>("AboutOK"), Qt::LeftButton);
  Flush();
  ASSERT_EQ(frmSplash::Instance(), about);
  QTest::keyClick(about, Qt::Key_A);
  Flush();
  EXPECT_EQ(frmSplash::Instance(), nullptr);

  about = open();
  QTest::mouseClick(about->findChild<QFrame*>("Frame1"), Qt::LeftButton, {}, QPoint(2, 2));
  Flush();
  EXPECT_EQ(frmSplash::Instance(), nullptr);

  about = open();
  QTest::mouseClick(about->CmdOK(), Qt::LeftButton);
  Flush();
  EXPECT_EQ(frmSplash::Instance(), nullptr);
}

TEST_F(AboutTest, LegendSitsAtTheTopRightAndShowsTheColours) {
  Load();
  window->move(200, 120);
  Click("cmdLegend");
  frmLegend* legend = window->Legend();
  ASSERT_NE(legend, nullptr);
  EXPECT_TRUE(legend->isVisible());
  EXPECT_EQ(legend->windowTitle(), "Legend");
  EXPECT_EQ(legend->frameGeometry().top(), window->frameGeometry().top());
  EXPECT_EQ(legend->frameGeometry().right(), window->frameGeometry().right());
  EXPECT_EQ(legend->BitHiColor(), 0x7F80FF);
  EXPECT_EQ(legend->BitLoColor(), 0x7FBF00);
  EXPECT_EQ(legend->BitUnknownColor(), 0xCFCFCF);
  EXPECT_EQ(BackgroundOf(legend->findChild<QLabel*>("Label31")), 0x7F80FF);
  EXPECT_EQ(legend->findChild<QLabel*>("Label30")->text(), "XXXX");
  EXPECT_TRUE(legend->findChild<QCheckBox*>("Check1")->isChecked());
  EXPECT_FALSE(legend->findChild<QCheckBox*>("Check2")->isChecked());
  // Moved main window: the same legend comes back to the new corner.
  window->move(300, 200);
  Click("cmdLegend");
  EXPECT_EQ(window->Legend(), legend);
  EXPECT_EQ(legend->frameGeometry().top(), window->frameGeometry().top());
  EXPECT_EQ(legend->frameGeometry().right(), window->frameGeometry().right());
}

TEST_F(AboutTest, LegendAssignsRepaintAtOnce) {
  frmLegend legend;
  legend.SetBitLoColor(0x123456);
  EXPECT_EQ(BackgroundOf(legend.Label3(0)), 0x123456);
  EXPECT_EQ(legend.BitLoColor(), 0x123456);
}

TEST_F(AboutTest, OwnedWindowsCloseWithTheMainWindow) {
  Load();
  Click("cmdLegend");
  Click("cmdAbout");
  QPointer<frmLegend> legend = window->Legend();
  window->close();
  Flush();
  EXPECT_EQ(frmSplash::Instance(), nullptr);
  ASSERT_TRUE(legend);
  EXPECT_FALSE(legend->isVisible());
}

}  // namespace
