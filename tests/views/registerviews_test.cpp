#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "views/ctlCtrlRegister.h"
#include "views/ctlDACRegister.h"
#include "views/ctlStatRegister.h"
#include "views/Twips.h"

namespace {

constexpr int32_t kHi = 0x7F80FF, kLo = 0x7FBF00, kUnknown = 0xCFCFCF;

template <class View>
void SetColours(View& v) {
  v.SetBitHiColor(kHi);
  v.SetBitLoColor(kLo);
  v.SetBitUnknownColor(kUnknown);
}

template <class View>
class EditableViewTest : public ::testing::Test {
 protected:
  View view;
  int rows() const { return std::is_same_v<View, ctlCtrlRegister> ? 2 : 1; }
};
using EditableViews = ::testing::Types<ctlDACRegister, ctlCtrlRegister>;
TYPED_TEST_SUITE(EditableViewTest, EditableViews);

TYPED_TEST(EditableViewTest, StartsUnknownOnTheUnknownColour) {
  EXPECT_FALSE(this->view.Value().has_value());
  for (int i = 0; i < 16 * this->rows(); ++i) {
    EXPECT_EQ(BackgroundOf(this->view.lblBit(i)), kUnknown) << i;
  }
  for (int i = 0; i < 16; ++i) {
    EXPECT_TRUE(this->view.txtBitVal(i)->text().isEmpty());
    EXPECT_EQ(this->view.lblBit(i)->text(), QStringLiteral("B%1").arg(i));
  }
  EXPECT_EQ(this->view.BitHiColor(), 0);
  EXPECT_EQ(this->view.BitLoColor(), 0);
}

TYPED_TEST(EditableViewTest, WritePaintsEveryLabelRowByBit) {
  SetColours(this->view);
  this->view.SetValue(0x8001);
  for (int i = 0; i < 16; ++i) {
    const bool high = i == 0 || i == 15;
    EXPECT_EQ(this->view.txtBitVal(i)->text(), high ? "1" : "0");
    for (int row = 0; row < this->rows(); ++row) {
      EXPECT_EQ(BackgroundOf(this->view.lblBit(i + 16 * row)), high ? kHi : kLo) << i;
    }
  }
  EXPECT_EQ(this->view.Value(), 32769);
}

TYPED_TEST(EditableViewTest, ColoursShowOnlyFromTheNextWrite) {
  SetColours(this->view);
  this->view.SetValue(0xFFFF);
  this->view.SetBitHiColor(0x0000FF);
  EXPECT_EQ(BackgroundOf(this->view.lblBit(3)), kHi);
  this->view.SetValue(0xFFFF);
  EXPECT_EQ(BackgroundOf(this->view.lblBit(3)), 0x0000FF);
}

TYPED_TEST(EditableViewTest, ClearingOneBoxMakesTheValueUnknownAndKeepsTheColours) {
  SetColours(this->view);
  this->view.SetValue(0x0001);
  QSignalSpy spy(&this->view, &BitRegisterView::Change);
  this->view.txtBitVal(0)->clear();
  EXPECT_FALSE(this->view.Value().has_value());
  EXPECT_EQ(spy.count(), 1);
  EXPECT_EQ(BackgroundOf(this->view.lblBit(0)), kHi);
}

TYPED_TEST(EditableViewTest, SecondWriteOfTheSameValueRaisesNothing) {
  QSignalSpy spy(&this->view, &BitRegisterView::Change);
  this->view.SetValue(0x1234);
  EXPECT_EQ(spy.count(), 16);
  spy.clear();
  this->view.SetValue(0x1234);
  EXPECT_EQ(spy.count(), 0);
  this->view.SetValue(0x1235);  // one box changes
  EXPECT_EQ(spy.count(), 1);
}

TYPED_TEST(EditableViewTest, BitFifteenIsLeftmostAndLabelsSitAboveTheBoxes) {
  for (int i = 1; i < 16; ++i) {
    EXPECT_LT(this->view.txtBitVal(i)->x(), this->view.txtBitVal(i - 1)->x());
    EXPECT_EQ(this->view.txtBitVal(i)->x(), this->view.lblBit(i)->x());
  }
  EXPECT_EQ(this->view.txtBitVal(15)->x(), 0);
  EXPECT_GT(this->view.txtBitVal(0)->y(), this->view.lblBit(16 * this->rows() - 1)->y());
  // Nothing sticks out of the control.
  const QRect inside(QPoint(0, 0), this->view.size());
  for (QWidget* child : this->view.template findChildren<QWidget*>()) {
    EXPECT_TRUE(inside.contains(child->geometry())) << child->objectName().toStdString();
  }
}

TEST(ctlDACRegisterLayout, UsesTheDesignGeometryInTwips) {
  ctlDACRegister v;
  // Column i starts at (15 - i) * 480 twips and is 495 wide; labels 255 high, boxes at 240.
  EXPECT_EQ(v.txtBitVal(0)->x(), Twips::ToPxX(&v, 15 * 480));
  EXPECT_EQ(v.txtBitVal(0)->width(), Twips::ToPxX(&v, 15 * 480 + 495) - Twips::ToPxX(&v, 15 * 480));
  EXPECT_EQ(v.lblBit(7)->height(), Twips::ToPxY(&v, 255));
  EXPECT_EQ(v.txtBitVal(7)->y(), Twips::ToPxY(&v, 240));
}

TEST(ctlCtrlRegisterLayout, NamesTheBitsInTouchingColumns) {
  ctlCtrlRegister v;
  const char* names[16] = {"CHGEND", "RSVD",  "RST",    "IOUTBT", "LEARN",  "PWM500",
                           "ACOCEN", "ACOC0", "ACOC1",  "BATDP0", "BATDP1", "BATDP2",
                           "RSVD",   "RSVD",  "RSVD",   "RSVD"};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(v.lblBit(16 + i)->text(), names[i]) << i;
  for (int i = 1; i < 16; ++i) {
    EXPECT_EQ(v.lblBit(16 + i)->geometry().right() + 1, v.lblBit(16 + i - 1)->x()) << i;
  }
  EXPECT_EQ(v.lblBit(16)->x(), Twips::ToPxX(&v, 9240));
}

TEST(ctlCtrlRegisterEditing, TypedBitsChangeTheValue) {
  ctlCtrlRegister v;
  v.SetValue(0);
  QSignalSpy spy(&v, &BitRegisterView::Change);
  v.txtBitVal(4)->selectAll();
  QTest::keyClicks(v.txtBitVal(4), "7");
  EXPECT_EQ(v.txtBitVal(4)->text(), "1");
  EXPECT_EQ(v.Value(), 0x0010);
  EXPECT_GE(spy.count(), 1);
}

class StatRegisterTest : public ::testing::Test {
 protected:
  StatRegisterTest() { SetColours(view); }
  void ExpectColumn(int bit, int32_t colour, const char* value) {
    EXPECT_EQ(BackgroundOf(view.BitLabel(bit)), colour) << bit;
    EXPECT_EQ(BackgroundOf(view.lblBit(bit)), colour) << bit;
    EXPECT_EQ(BackgroundOf(view.lblBit(bit + 16)), colour) << bit;
    EXPECT_EQ(view.lblBit(bit + 16)->text(), value) << bit;
  }
  ctlStatRegister view;
};

TEST(ctlStatRegisterFresh, ShowsDashesOnTheUnknownColour) {
  ctlStatRegister view;
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(view.lblBit(i + 16)->text(), "-");
    EXPECT_EQ(BackgroundOf(view.BitLabel(i)), kUnknown);
    EXPECT_EQ(view.BitLabel(i)->text(), QStringLiteral("B%1").arg(i));
  }
  EXPECT_EQ(view.lblBit(15)->text(), "ACDET");
  EXPECT_EQ(view.lblBit(13)->text(), "AC<BT");
  EXPECT_EQ(view.lblBit(0)->text(), "InhibCHG");
}

TEST_F(StatRegisterTest, SignedValueShowsBitFifteen) {
  view.SetValue(-32767);  // 0x8001
  for (int i = 0; i < 16; ++i) {
    const bool high = i == 0 || i == 15;
    ExpectColumn(i, high ? kHi : kLo, high ? "1" : "0");
  }
}

TEST_F(StatRegisterTest, ZeroThenEmpty) {
  view.SetValue(0);
  for (int i = 0; i < 16; ++i) ExpectColumn(i, kLo, "0");
  view.SetValue(std::nullopt);
  for (int i = 0; i < 16; ++i) ExpectColumn(i, kUnknown, "-");
}

TEST_F(StatRegisterTest, ColourChangeWaitsForTheNextValue) {
  view.SetValue(0xFFFF);
  view.SetBitHiColor(0x123456);
  ExpectColumn(2, kHi, "1");
  view.SetValue(0xFFFF);
  ExpectColumn(2, 0x123456, "1");
}

TEST_F(StatRegisterTest, Rk5191RenamesThreeBitsOnly) {
  view.SetValue(0x0200);
  view.Makerk5191();
  EXPECT_EQ(view.lblBit(9)->text(), "BCOLD");
  EXPECT_EQ(view.lblBit(10)->text(), "BHOT");
  EXPECT_EQ(view.lblBit(14)->text(), "BDET");
  EXPECT_EQ(view.lblBit(8)->text(), "TSHUT");
  EXPECT_EQ(view.lblBit(9 + 16)->text(), "1");
  EXPECT_EQ(view.BitLabel(9)->text(), "B9");
}

TEST_F(StatRegisterTest, ColumnsFitTheirNamesWithBitFifteenLeftmost) {
  view.Makerk5191();
  for (int i = 0; i < 16; ++i) {
    QLabel* name = view.lblBit(i);
    EXPECT_GE(name->width(), name->fontMetrics().horizontalAdvance(name->text())) << i;
    EXPECT_EQ(name->x(), view.BitLabel(i)->x());
    EXPECT_EQ(name->width(), view.lblBit(i + 16)->width());
    if (i > 0) {
      EXPECT_LT(name->x(), view.lblBit(i - 1)->x());
    }
  }
}

}  // namespace
