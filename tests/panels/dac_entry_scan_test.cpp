#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "support/gui/MainWindowFixture.h"
#include "shell/Settings.h"
#include "views/BitBoxes.h"
#include "views/ctlDACRegister.h"

namespace {

constexpr int32_t kRed = 0x2020FF;
constexpr int32_t kWhite = 0xFFFFFF;

class DacEntryTest : public MainWindowFixture {
 protected:
  int32_t Base(const char* box) {
    return BgrFromColor(Child<QLineEdit>(box)->palette().color(QPalette::Base));
  }
  size_t Reads() { return Board().Count(sim::Transaction::Kind::Read); }
};

TEST_F(DacEntryTest, RangeColoursOfTheThreeEntries) {
  Load();
  const std::vector<std::tuple<const char*, const char*, int32_t>> cases = {
      {"txtVoltDAC", "9000", kWhite},   {"txtVoltDAC", "8999", kRed},   {"txtVoltDAC", "9001", kRed},
      {"txtVoltDAC", "11999", kRed},    {"txtVoltDAC", "12000", kWhite}, {"txtVoltDAC", "14400", kWhite},
      {"txtVoltDAC", "14401", kRed},    {"txtVoltDAC", "16000", kWhite}, {"txtVoltDAC", "19200", kWhite},
      {"txtVoltDAC", "19201", kRed},    {"txtCurrDAC", "16256", kWhite}, {"txtCurrDAC", "16257", kRed},
      {"txtCurrDAC", "0", kWhite},      {"txtIpCurrDAC", "16256", kWhite}, {"txtIpCurrDAC", "16257", kRed},
      {"txtVoltDAC", "70000", kRed},    {"txtCurrDAC", "99999", kRed},   {"txtIpCurrDAC", "70000", kRed},
  };
  for (const auto& [box, typed, colour] : cases) {
    Type(box, QString::fromLatin1(typed));
    EXPECT_EQ(Base(box), colour) << box << " " << typed;
  }
}

TEST_F(DacEntryTest, FilterClampsAndReplacesNonNumbers) {
  Load();
  QLineEdit* e = Child<QLineEdit>("txtCurrDAC");
  Type("txtCurrDAC", "70000");
  EXPECT_EQ(e->text(), "65535");
  Type("txtCurrDAC", "999999");  // a sixth character cannot be typed
  EXPECT_EQ(e->text(), "65535");
  EXPECT_EQ(e->maxLength(), 5);
  Type("txtCurrDAC", "-");
  EXPECT_EQ(e->text(), "0");
  e->clear();
  e->insert("-5");  // pasted
  EXPECT_EQ(e->text(), "0");
  e->clear();
  e->insert("12ab");
  EXPECT_EQ(e->text(), "12");
  EXPECT_EQ(e->cursorPosition(), 2);
  e->clear();
  e->insert("abc");
  EXPECT_EQ(e->text(), "0");
  e->clear();
  EXPECT_EQ(e->text(), "");  // empty stays empty
}

TEST_F(DacEntryTest, BitEditFollowsIntoTheEntry) {
  Load();
  Click("cmdReadCurrDAC");
  ASSERT_EQ(Child<QLineEdit>("txtCurrDAC")->text(), "0");
  auto* view = Child<ctlDACRegister>("ctlDACRegisterCurr");
  view->txtBitVal(15)->selectAll();
  QTest::keyClicks(view->txtBitVal(15), "1");
  EXPECT_EQ(Child<QLineEdit>("txtCurrDAC")->text(), "32768");
  EXPECT_EQ(Base("txtCurrDAC"), kRed);
  // Typing in the entry leaves the bits alone.
  Type("txtCurrDAC", "5");
  EXPECT_EQ(view->Value(), 32768);
}

TEST_F(DacEntryTest, FailedReadEmptiesTheEntriesVoltageTurnsRed) {
  Load();
  Click("cmdReadAll");
  Board().SetConditions({false, false, true});
  Click("cmdReadAll");
  EXPECT_EQ(Child<QLineEdit>("txtVoltDAC")->text(), "");
  EXPECT_EQ(Base("txtVoltDAC"), kRed);
  EXPECT_EQ(Base("txtCurrDAC"), kWhite);
  EXPECT_EQ(Base("txtIpCurrDAC"), kWhite);
}

TEST_F(DacEntryTest, FractionsRoundHalfToEven) {
  Load("[Settings]\nVerifyWrite=0\n");
  QLineEdit* e = Child<QLineEdit>("txtVoltDAC");
  e->clear();
  e->insert("2.5");
  Click("cmdWriteVoltDAC");
  e->clear();
  e->insert("3.5");
  Click("cmdWriteVoltDAC");
  ASSERT_EQ(Board().History().size(), 2u);
  EXPECT_EQ(Board().History()[0].value, 2);
  EXPECT_EQ(Board().History()[1].value, 4);
}

using ScanTest = DacEntryTest;

TEST_F(ScanTest, CheckingStartsTicksOnePeriodLater) {
  Load();
  auto* scan = Child<QCheckBox>("ContinuousScan");
  EXPECT_EQ(scan->text(), "Continuous Scan");
  EXPECT_FALSE(scan->isChecked());
  EXPECT_EQ(Child<QLineEdit>("ScanPeriod")->text(), "500");
  QTest::mouseClick(scan, Qt::LeftButton);
  EXPECT_TRUE(window->Timer1()->isActive());
  EXPECT_EQ(window->Timer1()->interval(), 500);
  EXPECT_EQ(Reads(), 0u);
  window->Timer1_Timer();
  EXPECT_EQ(Reads(), 5u);
  QTest::mouseClick(scan, Qt::LeftButton);
  EXPECT_FALSE(window->Timer1()->isActive());
}

TEST_F(ScanTest, NewPeriodAppliesAfterTheSettleTimeWithTheAddress) {
  Load();
  QTest::qWait(kSettleMs * 3);
  QTest::mouseClick(Child<QCheckBox>("ContinuousScan"), Qt::LeftButton);
  Type("ScanPeriod", "2000");
  Type("txtDevAddr", "6B");
  EXPECT_EQ(window->Timer1()->interval(), 500);
  EXPECT_EQ(modGlobals::DeviceAddress, 0x67);
  QTest::qWait(kSettleMs * 3);
  EXPECT_EQ(window->Timer1()->interval(), 2000);
  EXPECT_TRUE(window->Timer1()->isActive());
  EXPECT_EQ(modGlobals::DeviceAddress, 0x6B);
}

TEST_F(ScanTest, PeriodZeroStopsTicksUntilAPositivePeriod) {
  Load();
  QTest::mouseClick(Child<QCheckBox>("ContinuousScan"), Qt::LeftButton);
  Type("ScanPeriod", "0");
  window->Timer2_Timer();
  EXPECT_FALSE(window->Timer1()->isActive());
  EXPECT_TRUE(window->Timer1Enabled());
  QTest::mouseClick(Child<QCheckBox>("ContinuousScan"), Qt::LeftButton);
  QTest::mouseClick(Child<QCheckBox>("ContinuousScan"), Qt::LeftButton);
  EXPECT_FALSE(window->Timer1()->isActive());
  QTest::qWait(50);
  EXPECT_EQ(Reads(), 0u);
  Type("ScanPeriod", "20");
  window->Timer2_Timer();
  EXPECT_TRUE(window->Timer1()->isActive());
  EXPECT_EQ(window->Timer1()->interval(), 20);
}

TEST_F(ScanTest, InvalidPeriodKeepsTheOldOneShowsRedAndStillAppliesTheAddress) {
  Load();
  for (const char* bad : {"abc", "40000", "-5", "", "32768"}) {
    Type("ScanPeriod", QString::fromLatin1(bad));
    Type("txtDevAddr", "6C");
    EXPECT_EQ(Base("ScanPeriod"), kRed) << bad;
    window->Timer2_Timer();
    EXPECT_EQ(window->Timer1Interval(), 500) << bad;
    EXPECT_EQ(modGlobals::DeviceAddress, 0x6C) << bad;
    Type("txtDevAddr", "67");
    window->Timer2_Timer();
  }
  Type("ScanPeriod", "32767");
  EXPECT_NE(Base("ScanPeriod"), kRed);
  Type("ScanPeriod", "1000.5");  // rounds half to even
  window->Timer2_Timer();
  EXPECT_EQ(window->Timer1Interval(), 1000);
}

TEST_F(ScanTest, RealTicksReadAllFiveRegistersEachTime) {
  Load();
  Type("ScanPeriod", "15");
  window->Timer2_Timer();
  QTest::mouseClick(Child<QCheckBox>("ContinuousScan"), Qt::LeftButton);
  QTest::qWait(120);
  QTest::mouseClick(Child<QCheckBox>("ContinuousScan"), Qt::LeftButton);
  const size_t reads = Reads();
  EXPECT_GE(reads, 10u);
  EXPECT_EQ(reads % 5, 0u);  // only whole ticks
  QTest::qWait(50);
  EXPECT_EQ(Reads(), reads);  // unchecked: no further tick
}

TEST_F(ScanTest, TicksNeverNestWhileAFailureBoxIsOpen) {
  Load();
  Board().SetConditions({false, false, true});
  Type("ScanPeriod", "5");
  window->Timer2_Timer();
  sink.holdOpenMs = 40;  // each box's own event loop runs meanwhile, timers firing
  QTest::mouseClick(Child<QCheckBox>("ContinuousScan"), Qt::LeftButton);
  QTest::qWait(400);
  QTest::mouseClick(Child<QCheckBox>("ContinuousScan"), Qt::LeftButton);
  QTest::qWait(100);
  EXPECT_GE(sink.messages.size(), 5u);
  EXPECT_EQ(sink.maxOpenAtOnce, 1);
  EXPECT_EQ(sink.messages.size() % 5, 0u);  // ticks ran to their end, one after the other
}

TEST_F(ScanTest, NoTickStartsInsideAUserRead) {
  Load();
  Board().SetConditions({false, false, true});
  Type("ScanPeriod", "5");
  window->Timer2_Timer();
  QTest::mouseClick(Child<QCheckBox>("ContinuousScan"), Qt::LeftButton);
  sink.holdOpenMs = 30;
  sink.whileOpen = [&](const std::string&) { EXPECT_EQ(sink.open, 1); };
  Click("cmdReadStat");
  QTest::mouseClick(Child<QCheckBox>("ContinuousScan"), Qt::LeftButton);
  EXPECT_EQ(sink.maxOpenAtOnce, 1);
}

}  // namespace
