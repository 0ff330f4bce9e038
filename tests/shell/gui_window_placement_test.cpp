// Where the secondary windows open, on screens of the sizes engineers use. Each screen is a child
// run of this program on an offscreen screen of that size (the platform's screen is fixed when
// the application starts).
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "dialogs/frmLegend.h"
#include "dialogs/frmSplash.h"
#include "monitor/Monitor.h"
#include "monitor/frmCompare.h"
#include "monitor/frmJournal.h"
#include "monitor/frmPlot.h"
#include "panels/frmTrim.h"
#include "support/gui/MainWindowFixture.h"
#include "views/WindowPlacement.h"

namespace {

constexpr const char* kScreenVariable = "KORVO_PLACEMENT_SCREEN";

struct ScreenRow {
  const char* name;
  int width, height;  // device pixels
  double dpr;
};
constexpr ScreenRow kScreens[] = {
    {"1366x768", 1366, 768, 1.0}, {"1920x1080", 1920, 1080, 1.0}, {"3840x2160@2", 3840, 2160, 2.0}};

// The offscreen platform reports no title bar; a real window has one.
QRect Outer(const QWidget& w) { return w.geometry().marginsAdded(WindowPlacement::kAssumedFrame); }

std::string Describe(const QRect& r) {
  return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) +
         "x" + std::to_string(r.height());
}

TEST(WindowPlacement, EveryWindowOpensOnScreenBesideTheMainWindow) {
  if (std::getenv(kScreenVariable)) GTEST_SKIP() << "a child run";
  QTemporaryDir dir;
  for (const ScreenRow& s : kScreens) {
    const QString config = dir.filePath(QString::fromLatin1(s.name) + QStringLiteral(".json"));
    QFile f(config);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral(R"({"windowFrameMargins": true, "screens": [{"name": "s", "x": 0,)"
                           R"( "y": 0, "width": %1, "height": %2, "logicalDpi": 96,)"
                           R"( "logicalBaseDpi": 96, "dpr": %3}]})")
                .arg(s.width)
                .arg(s.height)
                .arg(s.dpr)
                .toUtf8());
    f.close();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + config);
    env.insert(QString::fromLatin1(kScreenVariable), QString::fromLatin1(s.name));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=WindowPlacementOnScreen.*")});
    ASSERT_TRUE(child.waitForFinished(120000)) << s.name;
    const QByteArray out = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << s.name << "\n" << out.toStdString();
    EXPECT_TRUE(out.contains("[       OK ] WindowPlacementOnScreen")) << s.name << "\n"
                                                                     << out.toStdString();
  }
}

// Where no side of the main window has room for a window's minimum, it is shrunk (to no less
// than the floor) onto the freest side; with no side even that large, it covers none of the main
// window's title bar and buttons.
TEST(WindowPlacementRoom, ShrunkBesideOrOffTheMainWindowsControls) {
  const QMargins frame = WindowPlacement::kAssumedFrame;
  const QRect main(0, 0, 1008, 594);
  const std::vector<QRect> controls = {QRect(0, 0, 1008, 30), QRect(12, 550, 80, 26),
                                       QRect(824, 520, 80, 26), QRect(910, 520, 80, 26)};
  struct Row {
    const char* name;
    WindowPlacement::Request r;
    QRect expected;  // outer frame; invalid: only checked to be off the controls
  };
  const Row rows[] = {
      // The plot at 1366x768: neither side holds 507x728; the right one holds the floor.
      {"plot",
       {QRect(0, 0, 1366, 768), main, main, controls, {}, frame, QSize(900, 760), QSize(507, 728)},
       QRect(1008, 0, 358, 768)},
      // Compare, opened from a test-mode window that fills the right side: over that window,
      // not over the main window, and not shrunk to the 140 px below it.
      {"compare",
       {QRect(0, 0, 1366, 768), QRect(1008, 0, 358, 768), main, controls,
        {QRect(1008, 0, 358, 768)}, frame, QSize(640, 420), QSize(99, 112)},
       QRect(1008, 0, 358, 454)},
      // A screen the main window all but fills: over it, off its title bar and buttons.
      {"cramped",
       {QRect(0, 0, 1100, 700), main, main, controls, {}, frame, QSize(400, 300), QSize(300, 200)},
       QRect()},
  };
  for (const Row& row : rows) {
    const WindowPlacement::Result p = WindowPlacement::Place(row.r);
    EXPECT_TRUE(row.r.available.contains(p.frame)) << row.name << " at " << Describe(p.frame);
    EXPECT_EQ(p.client, p.frame.marginsRemoved(frame)) << row.name;
    EXPECT_GE(p.client.width(), std::min(row.r.wanted.width(), WindowPlacement::kFloor.width()))
        << row.name;
    EXPECT_GE(p.client.height(), std::min(row.r.wanted.height(), WindowPlacement::kFloor.height()))
        << row.name;
    for (const QRect& c : controls)
      EXPECT_FALSE(p.frame.intersects(c)) << row.name << " at " << Describe(p.frame) << " over "
                                          << Describe(c);
    if (row.expected.isValid()) {
      EXPECT_EQ(p.frame, row.expected) << row.name << " at " << Describe(p.frame);
    }
  }
}

class WindowPlacementOnScreen : public MainWindowFixture {
 protected:
  ~WindowPlacementOnScreen() override {
    frmTrim::CloseInstance();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
};

TEST_F(WindowPlacementOnScreen, WhollyInsideTheScreenAndClearOfTheMainWindow) {
  const char* screenName = std::getenv(kScreenVariable);
  if (!screenName) GTEST_SKIP() << "run by WindowPlacement.EveryWindowOpensOnScreen...";
  Load("[Settings]\nShowTrimRegisters=1\n");
  window->SetMonitor(std::make_unique<monitor::Monitor>(*window, window->Registers(),
                                                        monitor::Monitor::Options{}));
  const QRect available = window->screen()->availableGeometry();
  // Where a window manager puts it: in the area's top left corner, title bar inside.
  const QPoint corner = available.topLeft() + QPoint(WindowPlacement::kAssumedFrame.left(),
                                                     WindowPlacement::kAssumedFrame.top());
  window->setGeometry(QRect(corner, window->size()));
  const QRect main = Outer(*window);
  ASSERT_TRUE(available.contains(main)) << Describe(main) << " on " << Describe(available);

  Click("cmdReadAll");  // as a user opens them: with figures to show
  Click("cmdPlot");
  Click("cmdJournal");
  Click("cmdLegend");
  Click("cmdTrimRegs");
  frmTrim* trim = frmTrim::Instance();
  ASSERT_NE(trim, nullptr);
  auto* compare = new monitor::frmCompare(trim);
  compare->Show(QStringLiteral("snapshot.ini"), {});
  Click("cmdAbout");

  const std::vector<std::pair<const char*, QWidget*>> windows = {
      {"plot", window->Monitor()->Plot()},     {"journal", window->Monitor()->JournalWindow()},
      {"legend", window->Legend()},            {"test-mode", trim},
      {"compare", compare},                    {"About", frmSplash::Instance()}};
  // The figures arrive after the windows open: they must not push a window off the screen.
  auto* statistics = window->Monitor()->JournalWindow()->findChild<QLabel*>("lblStatistics");
  ASSERT_NE(statistics, nullptr);
  EXPECT_TRUE(WaitUntil([&] { return statistics->text().contains("transactions"); }));
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
  for (const auto& [name, w] : windows) {
    ASSERT_NE(w, nullptr) << name;
    const QRect outer = Outer(*w);
    EXPECT_TRUE(available.contains(outer))
        << screenName << ": " << name << " at " << Describe(outer) << " on " << Describe(available);
    EXPECT_FALSE(outer.intersects(main))
        << screenName << ": " << name << " at " << Describe(outer) << " over the main window at "
        << Describe(main);
  }
  // Shrunk to the room there is, they still work: the chart has room to draw, the journal
  // shows rows, the plot's buttons show their captions whole.
  auto* chart = window->Monitor()->Plot()->findChild<QWidget*>("chartView");
  ASSERT_NE(chart, nullptr);
  EXPECT_GE(chart->width(), 300) << screenName;
  EXPECT_GE(chart->height(), 200) << screenName;
  for (const char* button : {"cmdPause", "cmdSaveImage", "cmdOpen", "cmdLanes"}) {
    auto* b = window->Monitor()->Plot()->findChild<QWidget*>(button);
    ASSERT_NE(b, nullptr) << button;
    EXPECT_GE(b->width(), b->sizeHint().width()) << screenName << ": " << button;
  }
  auto* table = window->Monitor()->JournalWindow()->findChild<QTableView*>("tblJournal");
  ASSERT_NE(table, nullptr);
  EXPECT_GE(table->viewport()->height(), 5 * table->verticalHeader()->defaultSectionSize())
      << screenName;
  // Where the screen is high enough for every row, the test-mode window shows them all.
  auto* scroll = trim->findChild<QScrollArea*>(QStringLiteral("scroll"));
  ASSERT_NE(scroll, nullptr);
  if (available.height() >= 1000) {
    EXPECT_TRUE(WaitUntil([&] { return scroll->viewport()->height() >= scroll->widget()->height(); }))
        << screenName << ": test-mode window " << trim->height() << " high for rows "
        << scroll->widget()->height() << " high";
  }

  // The main window moved: the legend comes back level with its top, beside it.
  window->setGeometry(QRect(corner + QPoint(0, 40), window->size()));
  Click("cmdLegend");
  EXPECT_EQ(Outer(*window->Legend()).top(), Outer(*window).top()) << screenName;
  EXPECT_FALSE(Outer(*window->Legend()).intersects(Outer(*window))) << screenName;
}

}  // namespace
