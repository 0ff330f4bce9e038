#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QTimer>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "adapter/ErrorCodes.h"
#include "registers/RegisterAccess.h"
#include "foundation/Settings.h"
#include "support/gui/DarkTheme.h"
#include "support/gui/MainWindowFixture.h"
#include "views/ctlCtrlRegister.h"
#include "views/ctlDACRegister.h"
#include "views/ctlStatRegister.h"

namespace {

using Kind = sim::Transaction::Kind;
constexpr int32_t kRed = 0x2020FF, kWhite = 0xFFFFFF;
const char* const kBitViews[] = {"ctlCtrlRegister1", "ctlDACRegisterVolt", "ctlDACRegisterCurr",
                                 "ctlDACRegisterIpCurr"};

class MainPanelTest : public MainWindowFixture {
 protected:
  // The bus traffic in order, e.g. "W12 R13", or with the written words, "W12=0A3F R13".
  std::string Sequence(bool values = false) {
    std::string s;
    for (const sim::Transaction& t : Board().History()) {
      if (t.kind == Kind::Other) continue;
      char buf[16];
      std::snprintf(buf, sizeof buf, "%s%02X=%04X", t.kind == Kind::Read ? "R" : "W", t.command,
                    t.value);
      if (!s.empty()) s += ' ';
      s.append(buf, values && t.kind == Kind::Write ? 8 : 3);
    }
    return s;
  }
  QString Text(const char* name) { return Child<QWidget>(name)->property("text").toString(); }
  int32_t Base(const char* box) {
    return BgrFromColor(Child<QLineEdit>(box)->palette().color(QPalette::Base));
  }
  void ToggleScan() { QTest::mouseClick(Child<QCheckBox>("ContinuousScan"), Qt::LeftButton); }
  void SetPeriod(const char* ms) {
    Type("ScanPeriod", ms);
    window->Panel()->Timer2_Timer();
  }
};

TEST_F(MainPanelTest, LoadReadsNothingAndShowsTheAddress) {
  Load("[Target]\nAddress=18\n");
  EXPECT_TRUE(Board().History().empty());
  EXPECT_EQ(Text("txtDevAddr"), "12");
}

TEST_F(MainPanelTest, BusModeLabelTogglesOnClick) {
  Load("[Settings]\nCommMode=0\n");
  for (const char* mode : {"I2C", "SMB", "I2C"}) {
    EXPECT_EQ(Text("lblCommMode"), mode);
    EXPECT_EQ(modGlobals::I2CMode, std::string(mode) == "I2C");
    QTest::mouseClick(Child<QLabel>("lblCommMode"), Qt::LeftButton);
  }
}

TEST_F(MainPanelTest, ReadsUseTheirRegisterAndTheDeviceAddress) {
  Load();
  const std::pair<const char*, const char*> reads[] = {
      {"cmdReadStat", "R13"}, {"cmdReadCtrlReg", "R12"}, {"cmdReadVoltDAC", "R15"},
      {"cmdReadCurrDAC", "R14"}, {"cmdReadIpCurrDAC", "R3F"}};
  for (const auto& [button, read] : reads) {
    Board().ClearHistory();
    Click(button);
    EXPECT_EQ(Sequence(), read) << button;
    EXPECT_EQ(Board().History().back().target, 0x67) << button;
  }
}

TEST_F(MainPanelTest, ReadAllFillsEveryViewInOrder) {
  Load();
  Board().Poke(RegisterTable::kStatus, 0x0A3F);
  Board().ClearHistory();
  Click("cmdReadAll");
  EXPECT_EQ(Sequence(), "R13 R12 R15 R3F R14");
  EXPECT_EQ(Text("lblStatRegisterHex"), "Hex value = 0A3F");
  EXPECT_EQ(Text("txtCtrlRegisterHex"), "0040");
  EXPECT_EQ(Text("txtVoltDAC") + Text("txtIpCurrDAC") + Text("txtCurrDAC"), "1680040960");
  EXPECT_EQ(Child<ctlStatRegister>("ctlStatRegister1")->lblBit(16)->text(), "1");
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MainPanelTest, AbsentChargerBlanksEveryViewAfterFiveMessages) {
  Load();
  Click("cmdReadAll");
  Board().SetConditions({false, false, true});  // no supply: nothing acknowledges
  sink.Clear();
  Click("cmdReadAll");
  std::vector<std::string> expected;
  for (uint8_t reg : {0x13, 0x12, 0x15, 0x3F, 0x14})
    expected.push_back(ReadFailureText("CS: Status", reg, VB_T2H_NACK));
  EXPECT_EQ(sink.messages, expected);
  EXPECT_EQ(Text("lblStatRegisterHex"), "");
  EXPECT_EQ(Text("txtCtrlRegisterHex"), "");
  EXPECT_EQ(BackgroundOf(Child<ctlStatRegister>("ctlStatRegister1")->lblBit(16)),
            Settings::kDefaultBitUnknown);
  for (const char* name : kBitViews)
    EXPECT_FALSE(Child<BitRegisterView>(name)->Value().has_value()) << name;
  // The emptied entries: only the voltage's range excludes an empty text.
  EXPECT_EQ(Text("txtVoltDAC") + Text("txtCurrDAC") + Text("txtIpCurrDAC"), "");
  EXPECT_EQ(std::vector<int32_t>({Base("txtVoltDAC"), Base("txtCurrDAC"), Base("txtIpCurrDAC")}),
            std::vector<int32_t>({kRed, kWhite, kWhite}));
}

TEST_F(MainPanelTest, BitEditsFollowIntoTheEntriesButNotBack) {
  Load();
  Click("cmdReadAll");
  auto* ctrl = Child<ctlCtrlRegister>("ctlCtrlRegister1");
  ctrl->txtBitVal(15)->selectAll();
  QTest::keyClicks(ctrl->txtBitVal(15), "1");
  EXPECT_EQ(Text("txtCtrlRegisterHex"), "8040");
  ctrl->txtBitVal(3)->clear();
  EXPECT_EQ(Text("txtCtrlRegisterHex"), "");
  Type("txtCtrlRegisterHex", "0001");  // typing in the entry leaves the bits alone
  EXPECT_FALSE(ctrl->Value().has_value());
}

TEST_F(MainPanelTest, ControlWriteSendsTheNormalisedEntry) {
  Load("[Settings]\nVerifyWrite=0\n");
  for (const auto& [typed, shown] : std::vector<std::pair<const char*, std::string>>{
           {"ffff", "FFFF"}, {"a3f", "0A3F"}, {"xyz", "0000"}, {"0x12", "0000"}}) {
    Board().ClearHistory();
    Type("txtCtrlRegisterHex", typed);
    Click("WriteControlReg");
    EXPECT_EQ(Text("txtCtrlRegisterHex"), QString::fromStdString(shown)) << typed;
    EXPECT_EQ(Sequence(true), "W12=" + shown) << typed;
  }
}

TEST_F(MainPanelTest, DacWritesSendRoundedSixteenBitWords) {
  Load("[Settings]\nVerifyWrite=0\n");
  Type("txtCurrDAC", "40000");
  Click("cmdWriteCurrDAC");
  Type("txtIpCurrDAC", "16257");  // red, but written all the same
  Click("cmdWriteIpCurrDAC");
  for (const char* fraction : {"2.5", "3.5"}) {
    Child<QLineEdit>("txtVoltDAC")->clear();
    Child<QLineEdit>("txtVoltDAC")->insert(fraction);  // pasted
    Click("cmdWriteVoltDAC");
  }
  EXPECT_EQ(Sequence(true), "W14=9C40 W3F=3F81 W15=0002 W15=0004");  // DAC words round half to even
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MainPanelTest, EachWriteWithVerifyReadsBackWhatTheChargerKept) {
  Load();
  for (const auto& [entry, button, view, typed, reg, traffic] : std::vector<
           std::tuple<const char*, const char*, const char*, const char*, uint8_t, const char*>>{
           {"txtCtrlRegisterHex", "WriteControlReg", "ctlCtrlRegister1", "ffff", 0x12, "W12 R12"},
           {"txtVoltDAC", "cmdWriteVoltDAC", "ctlDACRegisterVolt", "16800", 0x15, "W15 R15"},
           {"txtCurrDAC", "cmdWriteCurrDAC", "ctlDACRegisterCurr", "512", 0x14, "W14 R14"},
           {"txtIpCurrDAC", "cmdWriteIpCurrDAC", "ctlDACRegisterIpCurr", "4096", 0x3F,
            "W3F R3F"}}) {
    Board().ClearHistory();
    Type(entry, typed);
    Click(button);
    EXPECT_EQ(Sequence(), traffic) << entry;
    const uint16_t kept = Board().Peek(reg);
    EXPECT_EQ(Child<BitRegisterView>(view)->Value(), kept) << entry;
    EXPECT_EQ(Text(entry), reg == 0x12 ? QString::asprintf("%04X", kept) : QString::number(kept))
        << entry;
  }
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MainPanelTest, EmptyEntriesRefuseTheirWrite) {
  Load();
  Click("WriteControlReg");  // normalising leaves an empty entry empty
  EXPECT_EQ(Text("txtCtrlRegisterHex"), "");
  Click("cmdWriteVoltDAC");
  Click("cmdWriteCurrDAC");
  Click("cmdWriteIpCurrDAC");
  EXPECT_TRUE(Board().History().empty());
  EXPECT_EQ(sink.messages,
            (std::vector<std::string>{"No valid value specified for Control Register!",
                                      "No valid value specified for Voltage!",
                                      "No valid value specified for Charge Current!",
                                      "No valid value specified for Input Current!"}));
}

TEST_F(MainPanelTest, FailedWriteIsNotReadBack) {
  Load();
  Type("txtVoltDAC", "12000");
  Board().FailNext(1, 8, sim::FaultScope::Writes);
  Click("cmdWriteVoltDAC");
  EXPECT_EQ(Sequence(), "W15");
  EXPECT_EQ(sink.messages, std::vector<std::string>{WriteFailureText("CS: Status", 0x15, 8)});
}

TEST_F(MainPanelTest, WriteAllOrderWithAndWithoutVerifyAndANonHexControlEntry) {
  Load();
  Click("cmdReadAll");
  Board().ClearHistory();
  Click("cmdWriteAll");
  EXPECT_EQ(Sequence(), "W12 W15 W14 W3F R13 R12 R15 R3F R14");
  modGlobals::VerifyWrite = false;
  Board().ClearHistory();
  Click("cmdWriteAll");
  EXPECT_EQ(Sequence(), "W12 W15 W14 W3F");
  Board().ClearHistory();
  Type("txtCtrlRegisterHex", "12G4");
  Click("cmdWriteAll");
  EXPECT_EQ(sink.messages,
            (std::vector<std::string>{"No valid value specified for Control Register!"}));
  EXPECT_EQ(Sequence(), "W15 W14 W3F");
  EXPECT_EQ(Text("txtCtrlRegisterHex"), "12G4");  // not normalised here
}

TEST_F(MainPanelTest, AddressAndScanPeriodApplyWhenTheySettle) {
  MainPanel::SetSettleIntervalForTesting(3600 * 1000);  // settles only when the test says so
  Load();
  QTimer* settle = window->Panel()->Timer2();
  window->Panel()->Timer2_Timer();  // the loaded address
  ToggleScan();
  Type("ScanPeriod", "2000");
  Type("txtDevAddr", "6B");
  ASSERT_TRUE(settle->isActive());
  Click("cmdReadStat");
  EXPECT_EQ(Board().History().back().target, 0x67);
  EXPECT_EQ(window->Panel()->Timer1()->Period(), 500);
  settle->setInterval(0);  // falls due now
  ASSERT_TRUE(WaitUntil([&] { return !settle->isActive(); }));
  EXPECT_EQ(modGlobals::DeviceAddress, 0x6B);
  EXPECT_EQ(window->Panel()->Timer1()->Period(), 2000);
}

TEST_F(MainPanelTest, BadScanPeriodOrAddressKeepsTheOldOneAndShowsRed) {
  Load();
  // Each settle step takes the scan period and the address on their own.
  for (const auto& [period, address, interval, deviceAddress] :
       std::vector<std::tuple<const char*, const char*, int, int16_t>>{
           {"abc", "6C", 500, 0x6C},
           {"40000", "xyz", 500, 0},  // no digits gives address 0
           {"-5", "6A", 500, 0x6A},
           {"", "12345", 500, 0x6A},  // five digits do not fit
           {"32768", "FFFF", 500, -1},
           {"32767", "67", 32767, 0x67},
           {"1000.5", "67", 1000, 0x67}}) {  // rounds half to even
    Type("ScanPeriod", period);
    Type("txtDevAddr", address);
    EXPECT_EQ(Base("ScanPeriod") == kRed, interval == 500) << period;
    EXPECT_EQ(Base("txtDevAddr") == kRed, std::string(address) == "12345") << address;
    window->Panel()->Timer2_Timer();
    EXPECT_EQ(window->Panel()->Timer1Interval(), interval) << period;
    EXPECT_EQ(modGlobals::DeviceAddress, deviceAddress) << address;
  }
}

TEST_F(MainPanelTest, DacEntriesOutOfRangeShowRed) {
  Load();
  // Per entry: the texts shown white, then those shown red.
  for (const auto& [box, white, red] : std::vector<std::tuple<const char*, QString, QString>>{
           {"txtVoltDAC", "9000 12000 14400 16000 19200", "8999 9001 11999 14401 19201 70000"},
           {"txtCurrDAC", "0 16256", "16257 99999"},
           {"txtIpCurrDAC", "16256", "16257 70000"}}) {
    for (const auto& [texts, colour] : {std::pair{white, kWhite}, std::pair{red, kRed}}) {
      for (const QString& typed : texts.split(' ')) {
        Type(box, typed);
        EXPECT_EQ(Base(box), colour) << box << " " << typed.toStdString();
      }
    }
  }
}

TEST_F(MainPanelTest, CurrentEntryClampsAndDropsNonNumbers) {
  Load();
  QLineEdit* e = Child<QLineEdit>("txtCurrDAC");
  EXPECT_EQ(e->maxLength(), 5);
  Type("txtCurrDAC", "70000");
  EXPECT_EQ(e->text(), "65535");
  for (const auto& [pasted, kept] : std::vector<std::pair<const char*, const char*>>{
           {"-", "0"}, {"-5", "0"}, {"abc", "0"}, {"99999", "65535"}, {"", ""}, {"12ab", "12"}}) {
    e->clear();
    e->insert(pasted);
    EXPECT_EQ(e->text(), kept) << pasted;
  }
  EXPECT_EQ(e->cursorPosition(), 2);
}

TEST_F(MainPanelTest, PeriodZeroPausesTheScanUntilAPositiveOne) {
  Load();
  ToggleScan();
  SetPeriod("0");
  EXPECT_FALSE(window->Panel()->Timer1()->IsActive());
  EXPECT_TRUE(window->Panel()->Timer1Enabled());
  scan->Advance(1000);
  EXPECT_EQ(Board().Count(Kind::Read), 0u);
  SetPeriod("20");
  EXPECT_TRUE(window->Panel()->Timer1()->IsActive());
  EXPECT_EQ(window->Panel()->Timer1()->Period(), 20);
}

TEST_F(MainPanelTest, ScanTicksOncePerPeriodWhileChecked) {
  Load();
  for (int period : {1, 15, 500, 1000, 2500}) {
    SCOPED_TRACE(period);
    SetPeriod(std::to_string(period).c_str());
    const size_t reads = Board().Count(Kind::Read);
    std::vector<int64_t> ticks;
    auto seen = QObject::connect(scan, &ScanTimer::Tick, [&] { ticks.push_back(scan->NowMs()); });
    const int64_t start = scan->NowMs();
    ToggleScan();
    scan->Advance(10 * period);
    ToggleScan();
    scan->Advance(10 * period);
    QObject::disconnect(seen);
    std::vector<int64_t> expected;
    for (int k = 1; k <= 10; ++k) expected.push_back(start + k * period);
    EXPECT_EQ(ticks, expected);
    EXPECT_EQ(Board().Count(Kind::Read) - reads, 50u);
  }
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MainPanelTest, FailedTickHoldsOffASecondOrAPeriod) {
  Load();
  Board().SetConditions({false, false, true});  // nothing answers: every read fails
  sink.whileOpen = [&](const std::string&) { scan->Advance(700); };  // the user reads each box
  for (const auto& [period, holdOff] :
       std::vector<std::pair<int, int64_t>>{{1, 1000}, {500, 1000}, {1000, 1000}, {2500, 2500}}) {
    SCOPED_TRACE(period);
    SetPeriod(std::to_string(period).c_str());
    sink.Clear();
    ToggleScan();
    scan->Advance(period);
    ASSERT_EQ(sink.Count(), 5u);  // one tick; the fifth box has just been closed
    scan->Advance(holdOff - 1);
    EXPECT_EQ(sink.Count(), 5u);
    scan->Advance(1);
    EXPECT_EQ(sink.Count(), 10u);
    ToggleScan();
    scan->Advance(10000);  // the last tick's hold-off is over
  }
}

TEST_F(MainPanelTest, OneClickWithinTheHoldOffStopsAFailingScan) {
  Load();
  Board().SetConditions({false, false, true});
  SetPeriod("1");
  for (int64_t clickAfter : {0, 500, 999}) {
    SCOPED_TRACE(clickAfter);
    sink.Clear();
    ToggleScan();
    scan->Advance(1);
    ASSERT_EQ(sink.Count(), 5u);
    scan->Advance(clickAfter);
    ToggleScan();
    scan->Advance(60000);
    EXPECT_EQ(sink.Count(), 5u);
    EXPECT_FALSE(window->Panel()->Timer1()->IsActive());
  }
}

TEST_F(MainPanelTest, ScanTicksNeverNestWhileABoxIsOpen) {
  Load();
  Board().SetConditions({false, false, true});
  SetPeriod("5");
  sink.whileOpen = [&](const std::string&) { scan->Advance(40); };  // ticks fall due meanwhile
  ToggleScan();
  scan->Advance(5000);
  ToggleScan();
  EXPECT_GE(sink.messages.size(), 5u);
  EXPECT_EQ(sink.maxOpenAtOnce, 1);
  EXPECT_EQ(sink.messages.size() % 5, 0u);  // ticks ran to their end, one after the other
}

TEST_F(MainPanelTest, EveryPaintedEntryContrastsWithItsTextOnADarkTheme) {
  DarkTheme dark;
  Load();
  // Each entry with a value shown white and one shown red.
  for (const auto& [box, values] :
       std::vector<std::pair<const char*, QStringList>>{{"txtVoltDAC", {"16800", "8000"}},
                                                        {"txtCurrDAC", {"512", "16257"}},
                                                        {"txtIpCurrDAC", {"4096", "65535"}},
                                                        {"ScanPeriod", {"abc"}},
                                                        {"txtDevAddr", {"12345"}}}) {
    for (const QString& value : values) {
      Type(box, value);
      const QPalette p = Child<QLineEdit>(box)->palette();
      EXPECT_GE(ContrastRatio(BgrFromColor(p.color(QPalette::Base)),
                              BgrFromColor(p.color(QPalette::Text))),
                4.5)
          << box << " " << value.toStdString();
    }
  }
}

// The note under a DAC entry, before Write: what the register will hold when the typed value is
// not a whole step of the DAC (its lowest bit's weight).
TEST_F(MainPanelTest, DacNoteNamesWhatTheRegisterWillHold) {
  Load();
  for (const char* note : {"lblVoltDACNote", "lblCurrDACNote", "lblIpCurrDACNote"})
    ASSERT_NE(window->findChild<QLabel*>(note), nullptr) << note;
  for (const auto& [entry, note, typed, shown] :
       std::vector<std::tuple<const char*, const char*, const char*, const char*>>{
           {"txtCurrDAC", "lblCurrDACNote", "1000", "writes 896 mA: 128 mA steps"},
           {"txtCurrDAC", "lblCurrDACNote", "1024", ""},
           {"txtCurrDAC", "lblCurrDACNote", "100", "writes 0 mA: 128 mA steps"},
           {"txtIpCurrDAC", "lblIpCurrDACNote", "4100", "writes 4096 mA: 128 mA steps"},
           {"txtIpCurrDAC", "lblIpCurrDACNote", "", ""},
           {"txtVoltDAC", "lblVoltDACNote", "16801", "writes 16800 mV: 2 mV steps"},
           {"txtVoltDAC", "lblVoltDACNote", "16800", ""}}) {
    Type(entry, typed);
    EXPECT_EQ(Text(note), shown) << entry << " " << typed;
    EXPECT_TRUE(Child<QLabel>(note)->isVisible()) << note;
  }
}

// With the note showing, a write sends, reads back and says what it did before the note; the
// entry and the colours keep their rules.
TEST_F(MainPanelTest, DacNoteLeavesWriteTrafficAndMessagesAlone) {
  Load();
  ASSERT_NE(window->findChild<QLabel*>("lblCurrDACNote"), nullptr);
  Type("txtCurrDAC", "1000");
  ASSERT_EQ(Text("lblCurrDACNote"), "writes 896 mA: 128 mA steps");
  EXPECT_EQ(Base("txtCurrDAC"), kWhite);
  Click("cmdWriteCurrDAC");
  EXPECT_EQ(Sequence(true), "W14=03E8 R14");
  EXPECT_TRUE(sink.messages.empty());
  EXPECT_EQ(Text("txtCurrDAC"), "896");
  EXPECT_EQ(Text("lblCurrDACNote"), "");  // what the register holds is a whole step
}

// A value read from the chip is what the register holds: it brings no note, and it clears the
// note of a value typed before.
TEST_F(MainPanelTest, DacNoteFollowsTypedValuesNotReadOnes) {
  Load();
  Board().Poke(RegisterTable::kChargeCurrent, 0x0010);
  Click("cmdReadCurrDAC");
  ASSERT_EQ(Text("txtCurrDAC"), "16");
  EXPECT_EQ(Text("lblCurrDACNote"), "");
  Type("txtCurrDAC", "1000");
  ASSERT_EQ(Text("lblCurrDACNote"), "writes 896 mA: 128 mA steps");
  Board().Poke(RegisterTable::kChargeCurrent, 0x0011);
  Click("cmdReadCurrDAC");
  ASSERT_EQ(Text("txtCurrDAC"), "17");
  EXPECT_EQ(Text("lblCurrDACNote"), "");
}

}  // namespace
