// Every text of the journal, compare and record windows, as painted, against the ground it is
// painted on: at least 4.5:1 (WCAG AA) under a light and a dark application palette.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTreeWidget>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <tuple>

#include "monitor/JournalModel.h"
#include "monitor/MonitorFixture.h"
#include "monitor/frmCompare.h"
#include "monitor/frmJournal.h"
#include "panels/frmTrim.h"
#include "registers/RegisterTable.h"
#include "support/gui/DarkTheme.h"
#include "views/BitBoxes.h"

namespace {

// One text as painted: the ground is the colour most of its area has; the text, the pixel that
// stands out most from it (anti-aliased edges lie between the two).
double PaintedContrast(const QImage& image, const QRect& area) {
  std::map<QRgb, int> counts;
  const QRect r = area.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) ++counts[image.pixel(x, y) & 0xFFFFFF];
  if (counts.empty()) return 0;
  const QRgb ground =
      std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
        return a.second < b.second;
      })->first;
  double best = 1;
  for (const auto& [colour, n] : counts)
    best =
        std::max(best, ContrastRatio(BgrFromColor(QColor(ground)), BgrFromColor(QColor(colour))));
  return best;
}

struct Text {
  std::string where;
  QRect area;  // in the window
};

// Every visible text of `window` (or of the widgets in `only`): labels, buttons, header
// sections, item cells.
std::vector<Text> Texts(QWidget* window, const std::vector<QWidget*>& only = {}) {
  std::vector<Text> texts;
  auto in = [window](QWidget* w, const QRect& r) {
    return QRect(w->mapTo(window, r.topLeft()), r.size());
  };
  auto name = [](QWidget* w) { return w->objectName().toStdString(); };
  QList<QWidget*> widgets = window->findChildren<QWidget*>();
  if (!only.empty()) widgets = QList<QWidget*>(only.begin(), only.end());
  for (QWidget* w : widgets) {
    if (!w->isVisibleTo(window) || w->window() != window) continue;
    if (auto* label = qobject_cast<QLabel*>(w)) {
      if (!label->text().isEmpty()) texts.push_back({name(w), in(w, w->rect())});
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      if (!button->text().isEmpty()) texts.push_back({name(w), in(w, w->rect())});
    } else if (auto* header = qobject_cast<QHeaderView*>(w)) {
      for (int s = 0; s < header->count(); ++s) {
        if (header->isSectionHidden(s)) continue;
        const int at = header->sectionViewportPosition(s), size = header->sectionSize(s);
        const QRect r = header->orientation() == Qt::Horizontal
                            ? QRect(at, 0, size, header->height())
                            : QRect(0, at, header->width(), size);
        if (r.intersects(header->viewport()->rect()))
          texts.push_back({"header of " + name(header->parentWidget()) + " " + std::to_string(s),
                           in(header->viewport(), r.adjusted(2, 2, -2, -2))});
      }
    } else if (auto* view = qobject_cast<QAbstractItemView*>(w)) {
      std::function<void(const QModelIndex&)> walk = [&](const QModelIndex& parent) {
        const QAbstractItemModel* m = view->model();
        for (int row = 0; row < m->rowCount(parent); ++row) {
          for (int column = 0; column < m->columnCount(parent); ++column) {
            const QModelIndex i = m->index(row, column, parent);
            const QRect r = view->visualRect(i);
            if (i.data().toString().isEmpty() || !view->viewport()->rect().contains(r)) continue;
            // Inside the grid lines.
            texts.push_back({name(w) + " row " + std::to_string(row) + " column " +
                                 std::to_string(column) + " \"" +
                                 i.data().toString().toStdString() + "\"",
                             in(view->viewport(), r.adjusted(1, 1, -1, -1))});
          }
          walk(m->index(row, 0, parent));
        }
      };
      walk(QModelIndex());
    }
  }
  return texts;
}

enum class Window { kJournal, kCompare, kRecord };
// Light; dark from the start; dark chosen while the window is open (a desktop theme changed).
enum class Theme { kLight, kDark, kDarkLater };

class ContrastTest : public MonitorFixture,
                     public ::testing::WithParamInterface<std::tuple<Window, Theme>> {
 protected:
  void TearDown() override { frmTrim::CloseInstance(); }

  // Journal: reads that succeed and reads that fail, the last (failed) row selected.
  QWidget* Journal() {
    Click("cmdReadAll");
    Board().FailNext(3, 8);
    Click("cmdReadAll");
    Click("cmdJournal");
    monitor::frmJournal* w = monitor->JournalWindow();
    w->Refresh();
    w->Table()->selectRow(w->Model()->rowCount() - 1);
    return w;
  }
  // Compare: DAC and control registers differ, one row selected.
  QWidget* Compare() {
    frmTrim* trim = frmTrim::Open(window->Registers());
    dialogs.answer = TempPath("snap.ini");
    QTest::mouseClick(trim->findChild<QPushButton*>(QStringLiteral("cmdSaveSnapshot")),
                      Qt::LeftButton);
    Board().Poke(RegisterTable::kChargeVoltage, 0x3390);
    Board().Poke(RegisterTable::kControl,
                 static_cast<uint16_t>(Board().Peek(RegisterTable::kControl) ^ 0x0041));
    QTest::mouseClick(trim->findChild<QPushButton*>(QStringLiteral("cmdCompare")), Qt::LeftButton);
    auto* compare = trim->findChild<monitor::frmCompare*>();
    compare->Tree()->setCurrentItem(compare->Tree()->topLevelItem(0));
    return compare;
  }
  // Record: the main window's "Stop" and the recording label while a recording runs.
  QWidget* Record() {
    dialogs.answer = TempPath("run.csv");
    Click("cmdRecord");
    monitor->UpdateRecordingLabel();
    return window.get();
  }
};

TEST_P(ContrastTest, EveryTextReachesFourAndAHalfToOne) {
  const auto [which, when] = GetParam();
  std::optional<DarkTheme> theme;
  if (when == Theme::kDark) theme.emplace();
  LoadMonitored();
  QWidget* w = which == Window::kJournal   ? Journal()
               : which == Window::kCompare ? Compare()
                                           : Record();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  if (when == Theme::kDarkLater) {
    theme.emplace();
    // The windows hear of a new palette through the event loop, as of a desktop theme change.
    ASSERT_TRUE(WaitUntil([&] {
      return w->palette().color(QPalette::Window) ==
             QApplication::palette().color(QPalette::Window);
    }));
  }
  std::vector<QWidget*> only;
  if (which == Window::kRecord) only = monitor->Controls();
  const QImage image = w->grab().toImage();
  const std::vector<Text> texts = Texts(w, only);
  EXPECT_GE(texts.size(), 2u);
  for (const Text& t : texts) EXPECT_GE(PaintedContrast(image, t.area), 4.5) << t.where;
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Window, Theme>>& info) {
  const char* windows[] = {"Journal", "Compare", "Record"};
  const char* themes[] = {"Light", "Dark", "DarkLater"};
  return std::string(windows[int(std::get<0>(info.param))]) + themes[int(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(
    WindowsAndThemes, ContrastTest,
    ::testing::Combine(::testing::Values(Window::kJournal, Window::kCompare, Window::kRecord),
                       ::testing::Values(Theme::kLight, Theme::kDark, Theme::kDarkLater)),
    CaseName);

}  // namespace
