#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "support/gui/MainWindowFixture.h"
#include "adapter/ErrorCodes.h"
#include "registers/RegisterAccess.h"
#include "shell/Settings.h"
#include "shell/Utils.h"
#include "views/ctlCtrlRegister.h"
#include "views/ctlDACRegister.h"
#include "views/ctlStatRegister.h"

namespace {

using Kind = sim::Transaction::Kind;

class MainPanelTest : public MainWindowFixture {
 protected:
  // Register addresses of the kept transactions of one kind, in order.
  std::vector<int> Commands(Kind kind) {
    std::vector<int> out;
    for (const sim::Transaction& t : Board().History()) {
      if (t.kind == kind) out.push_back(t.command);
    }
    return out;
  }
  std::vector<std::pair<int, int>> Writes() {
    std::vector<std::pair<int, int>> out;
    for (const sim::Transaction& t : Board().History()) {
      if (t.kind == Kind::Write) out.emplace_back(t.command, t.value);
    }
    return out;
  }
  // Kinds and commands in order, e.g. "W12 R13".
  std::string Sequence() {
    std::string s;
    for (const sim::Transaction& t : Board().History()) {
      if (t.kind == Kind::Other) continue;
      char buf[8];
      std::snprintf(buf, sizeof buf, "%s%02X", t.kind == Kind::Read ? "R" : "W", t.command);
      if (!s.empty()) s += ' ';
      s += buf;
    }
    return s;
  }
};

TEST_F(MainPanelTest, LoadReadsNothingAndFillsTheSettingsControls) {
  Load();
  EXPECT_TRUE(Board().History().empty());
  EXPECT_EQ(Child<QLabel>("lblCommMode")->text(), "SMB");
  EXPECT_EQ(Child<QLineEdit>("txtDevAddr")->text(), "67");
  EXPECT_EQ(Child<QLabel>("LblVer")->text(), "Version 2.0.10");
  EXPECT_EQ(window->windowTitle(), "rk5190 Korvo");
  EXPECT_FALSE(Child<ctlDACRegister>("ctlDACRegisterVolt")->Value().has_value());
  EXPECT_TRUE(sink.messages.empty());
  QPushButton* trim = Child<QPushButton>("cmdTrimRegs");
  EXPECT_FALSE(trim->isVisible());
  EXPECT_FALSE(trim->isEnabled());
  EXPECT_EQ(trim->text(), "Trim Registers...");
}

TEST_F(MainPanelTest, SettingsFileChoosesModeAddressAndColours) {
  Load("[Settings]\nCommMode=0\n[Target]\nAddress=18\n[Colors]\nBitHi=255\nBitLo=65280\nBitUnknown=16711680\n");
  EXPECT_EQ(Child<QLabel>("lblCommMode")->text(), "I2C");
  EXPECT_TRUE(modGlobals::I2CMode);
  EXPECT_EQ(Child<QLineEdit>("txtDevAddr")->text(), "12");
  // Colours are handed over without repainting: the fresh views keep the design grey.
  auto* ctrl = Child<ctlCtrlRegister>("ctlCtrlRegister1");
  EXPECT_EQ(BackgroundOf(ctrl->lblBit(0)), 0xCFCFCF);
  EXPECT_EQ(ctrl->BitHiColor(), 255);
  auto* stat = Child<ctlStatRegister>("ctlStatRegister1");
  EXPECT_EQ(stat->BitUnknownColor(), 16711680);
  for (const char* name : {"ctlDACRegisterVolt", "ctlDACRegisterCurr", "ctlDACRegisterIpCurr"}) {
    auto* v = Child<BitRegisterView>(name);
    EXPECT_EQ(v->BitHiColor(), 255) << name;
    EXPECT_EQ(v->BitLoColor(), 65280) << name;
    EXPECT_EQ(v->BitUnknownColor(), 16711680) << name;
  }
}

TEST_F(MainPanelTest, ReadAllFillsEveryViewInOrder) {
  Load();
  Board().Poke(sim::reg::Status, 0x0A3F);
  Click("cmdReadAll");
  EXPECT_EQ(Commands(Kind::Read), (std::vector<int>{0x13, 0x12, 0x15, 0x3F, 0x14}));
  EXPECT_EQ(Child<QLabel>("lblStatRegisterHex")->text(), "Hex value = 0A3F");
  EXPECT_EQ(Child<QLineEdit>("txtCtrlRegisterHex")->text(), "0040");
  EXPECT_EQ(Child<QLineEdit>("txtVoltDAC")->text(), "16800");
  EXPECT_EQ(Child<QLineEdit>("txtIpCurrDAC")->text(), "4096");
  EXPECT_EQ(Child<QLineEdit>("txtCurrDAC")->text(), "0");
  EXPECT_EQ(Child<ctlDACRegister>("ctlDACRegisterVolt")->Value(), 16800);
  auto* stat = Child<ctlStatRegister>("ctlStatRegister1");
  EXPECT_EQ(stat->lblBit(16)->text(), "1");
  EXPECT_EQ(BackgroundOf(stat->lblBit(16)), Settings::kDefaultBitHi);
  EXPECT_EQ(BackgroundOf(stat->lblBit(16 + 15)), Settings::kDefaultBitLo);
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MainPanelTest, ReadsUseTheirTagsAddressAndTheDeviceAddress) {
  Load();
  const std::vector<std::pair<const char*, int>> buttons = {
      {"cmdReadStat", 0x13}, {"cmdReadCtrlReg", 0x12}, {"cmdReadVoltDAC", 0x15},
      {"cmdReadCurrDAC", 0x14}, {"cmdReadIpCurrDAC", 0x3F}};
  for (const auto& [button, address] : buttons) {
    Board().ClearHistory();
    Click(button);
    ASSERT_EQ(Board().History().size(), 1u) << button;
    EXPECT_EQ(Board().History()[0].command, address) << button;
    EXPECT_EQ(Board().History()[0].target, 0x67) << button;
  }
}

TEST_F(MainPanelTest, StatusHexIsPaddedToFourDigits) {
  Load();
  for (const auto& [value, text] : std::vector<std::pair<uint16_t, const char*>>{
           {0x8000, "Hex value = 8000"}, {0x000F, "Hex value = 000F"}, {0xFFFF, "Hex value = FFFF"}}) {
    Board().Poke(sim::reg::Status, value);
    Click("cmdReadStat");
    EXPECT_EQ(Child<QLabel>("lblStatRegisterHex")->text(), text);
  }
}

TEST_F(MainPanelTest, AbsentChargerGivesFiveMessagesInOrderAndBlanksEverything) {
  Load();
  Click("cmdReadAll");
  Board().SetConditions({false, false, true});  // no supply: nothing acknowledges
  sink.Clear();
  Click("cmdReadAll");
  ASSERT_EQ(sink.messages.size(), 5u);
  const char* addresses[5] = {"(0x13).", "(0x12).", "(0x15).", "(0x3F).", "(0x14)."};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(sink.messages[i].rfind(std::string("Error reading register CS: Status") + addresses[i], 0), 0u)
        << sink.messages[i];
    EXPECT_NE(sink.messages[i].find("\r\nError description : "), std::string::npos);
  }
  EXPECT_EQ(Child<QLabel>("lblStatRegisterHex")->text(), "");
  EXPECT_EQ(Child<QLineEdit>("txtCtrlRegisterHex")->text(), "");
  EXPECT_EQ(Child<QLineEdit>("txtVoltDAC")->text(), "");
  auto* stat = Child<ctlStatRegister>("ctlStatRegister1");
  EXPECT_EQ(stat->lblBit(16)->text(), "-");
  EXPECT_EQ(BackgroundOf(stat->lblBit(16)), Settings::kDefaultBitUnknown);
  for (const char* name : {"ctlCtrlRegister1", "ctlDACRegisterVolt", "ctlDACRegisterCurr", "ctlDACRegisterIpCurr"}) {
    EXPECT_FALSE(Child<BitRegisterView>(name)->Value().has_value()) << name;
  }
}

TEST_F(MainPanelTest, FailedReadMessageNamesTheAdapterError) {
  Load();
  Board().FailNext(1, 8, sim::FaultScope::Reads);
  Click("cmdReadStat");
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0], ReadFailureText("CS: Status", 0x13, 8));
}

TEST_F(MainPanelTest, ControlHexFollowsBitEdits) {
  Load();
  Click("cmdReadCtrlReg");
  auto* ctrl = Child<ctlCtrlRegister>("ctlCtrlRegister1");
  ctrl->txtBitVal(15)->selectAll();
  QTest::keyClicks(ctrl->txtBitVal(15), "1");
  EXPECT_EQ(Child<QLineEdit>("txtCtrlRegisterHex")->text(), "8040");
  ctrl->txtBitVal(3)->clear();
  EXPECT_EQ(Child<QLineEdit>("txtCtrlRegisterHex")->text(), "");
}

TEST_F(MainPanelTest, WriteControlRegNormalisesTheEntryAndWrites) {
  Load("[Settings]\nVerifyWrite=0\n");
  const std::vector<std::tuple<const char*, const char*, int>> cases = {
      {"ffff", "FFFF", 0xFFFF}, {"a3f", "0A3F", 0x0A3F}, {"8000", "8000", 0x8000},
      {"xyz", "0000", 0},       {"0x12", "0000", 0},     {" 12 ", "0012", 0x12}};
  for (const auto& [typed, shown, sent] : cases) {
    Board().ClearHistory();
    Type("txtCtrlRegisterHex", QString::fromLatin1(typed));
    Click("WriteControlReg");
    EXPECT_EQ(Child<QLineEdit>("txtCtrlRegisterHex")->text(), shown) << typed;
    EXPECT_EQ(Writes(), (std::vector<std::pair<int, int>>{{0x12, sent}})) << typed;
    EXPECT_TRUE(Commands(Kind::Read).empty()) << typed;
  }
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MainPanelTest, WriteControlRegReadsBackWhenVerifying) {
  Load();
  Type("txtCtrlRegisterHex", "ffff");
  Click("WriteControlReg");
  EXPECT_EQ(Sequence(), "W12 R12");
  // The read-back shows what the charger keeps of it.
  EXPECT_EQ(Child<QLineEdit>("txtCtrlRegisterHex")->text(),
            QString::fromStdString(Utils::PadLeftZeros(Utils::Hex(Board().Peek(0x12)), 4)));
}

TEST_F(MainPanelTest, EmptyEntriesRefuseTheirWrite) {
  Load();
  Click("WriteControlReg");  // the empty entry normalises to 0000 and is written
  EXPECT_TRUE(sink.messages.empty());
  Board().ClearHistory();
  Type("txtCtrlRegisterHex", "");
  window->WriteControlRegister();
  Click("cmdWriteVoltDAC");
  Click("cmdWriteCurrDAC");
  Click("cmdWriteIpCurrDAC");
  EXPECT_EQ(sink.messages, (std::vector<std::string>{
                               "No valid value specified for Control Register!",
                               "No valid value specified for Voltage!",
                               "No valid value specified for Charge Current!",
                               "No valid value specified for Input Current!"}));
  EXPECT_TRUE(Board().History().empty());
}

TEST_F(MainPanelTest, FailedWriteIsReportedAndNotReadBack) {
  Load();
  Type("txtVoltDAC", "12000");
  Board().FailNext(1, 8, sim::FaultScope::Writes);
  Click("cmdWriteVoltDAC");
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_EQ(sink.messages[0], WriteFailureText("CS: Status", 0x15, 8));
  EXPECT_TRUE(Commands(Kind::Read).empty());
}

TEST_F(MainPanelTest, DacWriteWithVerifyReadsBackIntoBitsAndEntry) {
  Load();
  Type("txtVoltDAC", "16800");
  Click("cmdWriteVoltDAC");
  EXPECT_EQ(Sequence(), "W15 R15");
  EXPECT_EQ(Writes()[0].second, 16800);
  EXPECT_EQ(Child<QLineEdit>("txtVoltDAC")->text(), "16800");
  EXPECT_EQ(Child<ctlDACRegister>("ctlDACRegisterVolt")->Value(), 0x41A0);
}

TEST_F(MainPanelTest, LargeDacValuesAreSentAsSixteenBitPatterns) {
  Load("[Settings]\nVerifyWrite=0\n");
  Type("txtCurrDAC", "40000");
  Click("cmdWriteCurrDAC");
  Type("txtIpCurrDAC", "16257");  // red, but written all the same
  Click("cmdWriteIpCurrDAC");
  EXPECT_EQ(Writes(), (std::vector<std::pair<int, int>>{{0x14, 0x9C40}, {0x3F, 16257}}));
}

TEST_F(MainPanelTest, WriteAllWithVerifyWritesFourThenReadsFiveOnce) {
  Load();
  Click("cmdReadAll");
  Board().ClearHistory();
  Click("cmdWriteAll");
  EXPECT_EQ(Sequence(), "W12 W15 W14 W3F R13 R12 R15 R3F R14");
  EXPECT_TRUE(modGlobals::VerifyWrite);
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(MainPanelTest, WriteAllWithoutVerifyReadsNothing) {
  Load("[Settings]\nVerifyWrite=0\n");
  Click("cmdReadAll");
  Board().ClearHistory();
  Click("cmdWriteAll");
  EXPECT_EQ(Sequence(), "W12 W15 W14 W3F");
  EXPECT_FALSE(modGlobals::VerifyWrite);
}

TEST_F(MainPanelTest, WriteAllRefusesANonHexControlEntryAndGoesOn) {
  Load("[Settings]\nVerifyWrite=0\n");
  Click("cmdReadAll");
  Board().ClearHistory();
  Type("txtCtrlRegisterHex", "12G4");
  Click("cmdWriteAll");
  EXPECT_EQ(sink.messages, (std::vector<std::string>{"No valid value specified for Control Register!"}));
  EXPECT_EQ(Sequence(), "W15 W14 W3F");
  EXPECT_EQ(Child<QLineEdit>("txtCtrlRegisterHex")->text(), "12G4");  // not normalised here
}

TEST_F(MainPanelTest, DeviceAddressSettlesAfterTheLastKeystroke) {
  Load();
  QTest::qWait(kSettleMs * 3);  // the loaded address settles once
  Type("txtDevAddr", "6B");
  EXPECT_TRUE(window->Timer2()->isActive());
  EXPECT_EQ(window->Timer2()->interval(), kSettleMs);
  Click("cmdReadStat");  // still the previous address
  EXPECT_EQ(Board().History().back().target, 0x67);
  EXPECT_EQ(modGlobals::DeviceAddress, 0x67);
  QTest::qWait(kSettleMs * 3);
  EXPECT_EQ(modGlobals::DeviceAddress, 0x6B);
  EXPECT_FALSE(window->Timer2()->isActive());
}

TEST_F(MainPanelTest, AddressesWithoutDigitsOrTooLongFollowTheRules) {
  Load();
  Type("txtDevAddr", "xyz");  // no digits gives 0
  QTest::qWait(kSettleMs * 3);
  EXPECT_EQ(modGlobals::DeviceAddress, 0);
  Type("txtDevAddr", "6A");
  QTest::qWait(kSettleMs * 3);
  Type("txtDevAddr", "12345");  // does not fit: the previous address stays, the box is red
  EXPECT_EQ(BgrFromColor(Child<QLineEdit>("txtDevAddr")->palette().color(QPalette::Base)), 0x2020FF);
  QTest::qWait(kSettleMs * 3);
  EXPECT_EQ(modGlobals::DeviceAddress, 0x6A);
  Type("txtDevAddr", "FFFF");  // four digits fit, as the 16-bit pattern
  EXPECT_NE(BgrFromColor(Child<QLineEdit>("txtDevAddr")->palette().color(QPalette::Base)), 0x2020FF);
  QTest::qWait(kSettleMs * 3);
  EXPECT_EQ(modGlobals::DeviceAddress, -1);
}

TEST_F(MainPanelTest, BusModeLabelToggles) {
  Load();
  auto* label = Child<QLabel>("lblCommMode");
  QTest::mouseClick(label, Qt::LeftButton);
  EXPECT_EQ(label->text(), "I2C");
  EXPECT_TRUE(modGlobals::I2CMode);
  Board().ClearHistory();
  Click("cmdReadVoltDAC");  // over I2C the same register arrives
  EXPECT_EQ(Child<QLineEdit>("txtVoltDAC")->text(), "16800");
  QTest::mouseClick(label, Qt::LeftButton);
  EXPECT_EQ(label->text(), "SMB");
  EXPECT_FALSE(modGlobals::I2CMode);
}

TEST_F(MainPanelTest, OtherWindowsReachTheRegisterAccessThroughTheMainWindow) {
  Load();
  ASSERT_EQ(frmBasic::Current(), window.get());
  int16_t v = 0;
  EXPECT_EQ(frmBasic::Current()->ReadRegister("TR0: TRIM 0 REGISTER(0x10)", 0x10, v, 0x67), 0);
  EXPECT_EQ(static_cast<uint16_t>(v), Board().Peek(0x10));
  EXPECT_EQ(frmBasic::UIntToInt(65535), -1);
  EXPECT_EQ(frmBasic::AddressFromTag("&h3f"), 0x3F);
  EXPECT_EQ(frmBasic::AddressFromTag("&H12"), 0x12);
}

TEST_F(MainPanelTest, TrimButtonHookIsASignal) {
  Load();
  int opened = 0;
  QObject::connect(window.get(), &frmBasic::openTrimWindow, [&] { ++opened; });
  auto* trim = Child<QPushButton>("cmdTrimRegs");
  trim->setEnabled(true);
  trim->click();
  EXPECT_EQ(opened, 1);
}

}  // namespace
