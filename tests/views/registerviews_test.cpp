#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>

#include "support/RecordingSink.h"
#include "support/gui/DarkTheme.h"
#include "views/ctlCtrlRegister.h"
#include "views/ctlDACRegister.h"
#include "views/ctlStatRegister.h"
#include "views/ctlTrimRegister.h"

namespace {

constexpr int32_t kHi = 0x7F80FF, kLo = 0x7FBF00, kUnknown = 0xCFCFCF;

// Every cell of a view lies inside it, and every label's text fits its cell.
void ExpectNothingClipped(QWidget& view) {
  const QRect inside(QPoint(0, 0), view.size());
  for (QWidget* child : view.findChildren<QWidget*>()) {
    EXPECT_TRUE(inside.contains(child->geometry())) << child->objectName().toStdString();
    if (auto* l = qobject_cast<QLabel*>(child)) {
      EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->contentsRect().width())
          << l->text().toStdString();
    }
  }
}

template <class View>
class EditableViewTest : public ::testing::Test {
 protected:
  View view;
};
using EditableViews = ::testing::Types<ctlDACRegister, ctlCtrlRegister>;
TYPED_TEST_SUITE(EditableViewTest, EditableViews);

TYPED_TEST(EditableViewTest, NothingIsClipped) { ExpectNothingClipped(this->view); }

TEST(StatRegisterTest, Rk5191RenamesThreeBitsOnlyAndStillFits) {
  ctlStatRegister view;
  view.SetValue(0x0200);
  view.Makerk5191();
  EXPECT_EQ(view.lblBit(8)->text() + view.lblBit(9)->text() + view.lblBit(10)->text() +
                view.lblBit(14)->text(),
            "TSHUTBCOLDBHOTBDET");
  EXPECT_EQ(view.lblBit(9 + 16)->text(), "1");
  ExpectNothingClipped(view);
}

TEST(RegisterViewText, EveryPaintedCellContrastsWithItsTextOnADarkTheme) {
  DarkTheme dark;
  ctlStatRegister stat;
  ctlCtrlRegister ctrl;
  ctlDACRegister dac;
  ctlTrimRegister trim;
  struct Colours {
    int32_t hi, lo, unknown;
  };
  const Colours colours[] = {
      {kHi, kLo, kUnknown}, {0x000000, 0x202020, 0xFFFFFF}, {0x0000FF, 0x00FF00, 0xFF0000}};
  for (const Colours& c : colours) {
    for (std::optional<int32_t> value : {std::optional<int32_t>(), std::optional<int32_t>(0x5A5A)}) {
      auto paint = [&](auto&... views) {
        ((views.SetBitHiColor(c.hi), views.SetBitLoColor(c.lo), views.SetBitUnknownColor(c.unknown),
          views.SetValue(value)),
         ...);
      };
      paint(stat, ctrl, dac, trim);
      for (QWidget* view : std::initializer_list<QWidget*>{&stat, &ctrl, &dac, &trim}) {
        for (QLabel* cell : view->findChildren<QLabel*>()) {
          const int32_t background = BackgroundOf(cell);
          const int32_t text = BgrFromColor(cell->palette().color(QPalette::WindowText));
          EXPECT_GE(ContrastRatio(background, text), 4.5)
              << cell->objectName().toStdString() << " on " << std::hex << background;
        }
      }
    }
  }
}

TEST(RegisterViewToolTips, EveryBitCellAndBoxGivesItsBitNumberAndName) {
  RecordingSink sink;
  ScopedSink scope(&sink);
  ctlStatRegister stat;
  ctlCtrlRegister ctrl;
  ctlDACRegister dac;
  ctlTrimRegister trim;
  trim.SetBitDescription(QStringLiteral("BG CRUD 2") + QString(15, '|'));  // bit 15 first
  // A view, the tooltip of one of its bits, the widgets that carry it.
  const std::vector<std::tuple<const char*, const char*, std::vector<QWidget*>>> cases = {
      {"status", "Bit 13: AC<BT", {stat.BitLabel(13), stat.lblBit(13), stat.lblBit(29)}},
      {"control", "Bit 0: CHGEND", {ctrl.lblBit(0), ctrl.lblBit(16), ctrl.txtBitVal(0)}},
      {"DAC", "Bit 3", {dac.lblBit(3), dac.txtBitVal(3)}},
      {"trim", "Bit 15: BG CRUD 2", {trim.lblBitLabel(15), trim.lblBit(15), trim.txtBitVal(15)}}};
  for (const auto& [view, tip, widgets] : cases) {
    for (QWidget* w : widgets)
      EXPECT_EQ(w->toolTip().toStdString(), tip) << view << " " << w->objectName().toStdString();
  }
}

}  // namespace
