#include <QGroupBox>
#include <QLabel>
#include <QTimer>

#include "adapter/ErrorCodes.h"
#include "panels/frmSpins.h"
#include "trim_fixture.h"

namespace {

constexpr int16_t kTimeout = VB_TIMEOUT_ERROR;

struct RowExpectation {
  const char* tag;
  uint8_t address;
  const char* title;
  int bitLabelHeight;
};
const RowExpectation kRows[] = {
    {"&h10", 0x10, "TR0: TRIM 0 REGISTER(0x10)", 600},
    {"&h11", 0x11, "TR1: TRIM 1 REGISTER(0x11)", 420},
    {"&h12", 0x12, "CM: CHARGER MODE REGISTER(0x12)", 600},
    {"&h13", 0x13, "CHARGER STATUS REG(0x13)", 600},
    {"&h14", 0x14, "CC: CHARGING CURRENT REG(0x14)", 600},
    {"&h15", 0x15, "CV: CHARGING VOLTAGE REG(0x15)", 600},
    {"&h16", 0x16, "TR2: TRIM 2 REGISTER(0x16)", 600},
    {"&h17", 0x17, "TM1: TEST MODE 1 REGISTER(0x17)", 600},
    {"&h18", 0x18, "TM2: TEST MODE 2 REGISTER(0x18)", 600},
    {"&h19", 0x19, "VDT REG (0x19)", 600},
    {"&h3f", 0x3F, "IC: INPUT CURRENT REGISTER(0x3F)", 600},
};

class TrimWindowTest : public TrimWindowFixture {
 protected:
  QString Hex(int row) const { return window->txtHexVal(row)->text(); }
};

TEST_F(TrimWindowTest, RowsCarryTheirTitlesTagsAndControls) {
  Open();
  EXPECT_EQ(window->windowTitle(), "rk5190 Korvo Test Mode Registers");
  EXPECT_EQ(window->parentWidget(), nullptr);
  EXPECT_EQ(window->findChild<QPushButton*>("cmdReadAll")->text(), "&Read All");
  EXPECT_EQ(window->findChild<QPushButton*>("cmdWriteAll")->text(), "&Write All");
  EXPECT_EQ(window->findChild<QPushButton*>("cmdSpins")->text(), "&Spins...");
  for (int i = 0; i < 16; ++i) {
    auto* l = window->findChild<QLabel*>(QStringLiteral("BitLabel%1").arg(i));
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->text(), QStringLiteral("B%1").arg(i));
    EXPECT_FALSE(l->isEnabled());
    EXPECT_EQ(l->isHidden(), i >= 6 && i <= 11) << i;
  }
  for (int i = 0; i < frmTrim::kRows; ++i) {
    SCOPED_TRACE(i);
    const RowExpectation& e = kRows[i];
    ctlTrimRegister* view = window->ctlTrimReg(i);
    EXPECT_EQ(view->objectName(), QStringLiteral("ctlTrimReg%1").arg(i));
    EXPECT_EQ(view->Tag(), e.tag);
    EXPECT_EQ(frmTrim::AddressFromTag(view->Tag()), e.address);
    EXPECT_EQ(view->BitWidth(), 600);
    EXPECT_EQ(view->BitLabelHeight(), e.bitLabelHeight);
    EXPECT_EQ(window->Label1(i)->text(), e.title);
    EXPECT_EQ(window->Label1(i)->objectName(), QStringLiteral("Label1_%1").arg(i));
    EXPECT_NE(window->findChild<QGroupBox*>(QStringLiteral("Frame1_%1").arg(i)), nullptr);
    EXPECT_EQ(window->txtHexVal(i)->maxLength(), 4);
    EXPECT_EQ(window->txtHexVal(i)->text(), "");
    EXPECT_EQ(window->cmdRead(i)->text(), "&Read");
    EXPECT_EQ(window->cmdWrite(i)->text(), "&Write");
    auto* hexLabel = window->findChild<QLabel*>(QStringLiteral("lblHex%1").arg(i));
    ASSERT_NE(hexLabel, nullptr);
    EXPECT_EQ(hexLabel->text(), i == 9 ? "Hex Value" : "Hex Value (for write)");
    EXPECT_EQ(window->txtHexVal(i)->isReadOnly(), i == 9);
    EXPECT_EQ(window->cmdWrite(i)->isHidden(), i == 9);
    EXPECT_EQ(view->BitDescription(), frmTrim::Rows()[i].bitNames);
    EXPECT_EQ(view->Value(), std::nullopt);
  }
  EXPECT_TRUE(sink.messages.empty());
  // No register is read at load.
  EXPECT_EQ(board->TransactionCount(), 0u);
}

TEST_F(TrimWindowTest, BitNamesKeepTheirBlanks) {
  Open();
  EXPECT_EQ(window->ctlTrimReg(0)->lblBitLabel(15)->text(), "BG CRUD 2");
  EXPECT_EQ(window->ctlTrimReg(0)->lblBitLabel(8)->text(), "IAC  4");
  EXPECT_EQ(window->ctlTrimReg(0)->lblBitLabel(4)->text(), "IAC  0");
  EXPECT_EQ(window->ctlTrimReg(5)->lblBitLabel(0)->text(), "TM vdac ");
  EXPECT_EQ(window->ctlTrimReg(7)->lblBitLabel(2)->text(), "TMEE BURN");
  EXPECT_EQ(window->ctlTrimReg(7)->lblBitLabel(9)->text(), "TM Soft Trim");
  EXPECT_EQ(window->ctlTrimReg(10)->lblBitLabel(0)->text(), "TM CLK 2");
}

TEST_F(TrimWindowTest, LoadHandsTheConfiguredColoursToEveryRow) {
  modGlobals::BitHi = 0x0000FF;
  modGlobals::BitLo = 0x00FF00;
  modGlobals::BitUnknown = 0xFF0000;
  Open();
  for (int i = 0; i < frmTrim::kRows; ++i) {
    EXPECT_EQ(window->ctlTrimReg(i)->BitHiColor(), 0x0000FF);
    EXPECT_EQ(window->ctlTrimReg(i)->BitLoColor(), 0x00FF00);
    EXPECT_EQ(window->ctlTrimReg(i)->BitUnknownColor(), 0xFF0000);
  }
  Click(window->cmdRead(2));
  EXPECT_EQ(BackgroundOf(window->ctlTrimReg(2)->lblBitLabel(6)), 0x0000FF);  // ACOCEN is on
  EXPECT_EQ(BackgroundOf(window->ctlTrimReg(2)->lblBit(0)), 0x00FF00);
}

TEST_F(TrimWindowTest, ReadOfTheLowerCaseTagRowAddresses0x3F) {
  Open();
  Click(window->cmdRead(10));
  EXPECT_EQ(Reads(), std::vector<uint8_t>{0x3F});
  EXPECT_EQ(window->ctlTrimReg(10)->Value(), sim::kPowerOnInputCurrent);
  EXPECT_EQ(Hex(10), "1000");
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(TrimWindowTest, FailedReadClearsTheRowAndNamesItsTitle) {
  Open();
  Click(window->cmdRead(0));
  EXPECT_EQ(Hex(0), "4A52");
  board->FailNext(1, kTimeout);
  Click(window->cmdRead(0));
  EXPECT_EQ(sink.messages,
            std::vector<std::string>{ReadFailureText("TR0: TRIM 0 REGISTER(0x10)", 0x10, kTimeout)});
  EXPECT_NE(sink.messages[0].find("REGISTER(0x10)(0x10)."), std::string::npos);
  EXPECT_EQ(window->ctlTrimReg(0)->Value(), std::nullopt);
  EXPECT_EQ(Hex(0), "");
  EXPECT_EQ(BackgroundOf(window->ctlTrimReg(0)->lblBit(3)), modGlobals::BitUnknown);
}

TEST_F(TrimWindowTest, HexBoxTextDecidesWhatIsWritten) {
  board->Poke(0x17, 0x0001);  // test mode, so TM2 takes writes
  modGlobals::VerifyWrite = false;
  Open();
  const std::string title = "TM2: TEST MODE 2 REGISTER(0x18)";
  struct Case {
    QString typed;
    std::optional<uint16_t> written;
    std::string message;
  } cases[] = {
      {"ffff", 0xFFFF, ""},
      {" 12 ", 0x0012, ""},
      {"0x12", std::nullopt, "Write failed! Please specify a proper hex value without any prefix."},
      {"&h12", std::nullopt, "Write failed! Please specify a proper hex value without any prefix."},
      {"12G4", std::nullopt, "Write failed! Please specify a proper hex value without any prefix."},
      {"   ", 0x0000, ""},
      {"", std::nullopt, "Write failed! Incorrect value for " + title},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    board->ClearHistory();
    sink.Clear();
    Type(window->txtHexVal(8), c.typed);
    ASSERT_EQ(window->txtHexVal(8)->text(), c.typed);
    Click(window->cmdWrite(8));
    if (c.written) {
      EXPECT_EQ(Writes(), (std::vector<Write>{{0x18, *c.written}}));
      EXPECT_EQ(board->Peek(0x18), *c.written);
    } else {
      EXPECT_TRUE(Writes().empty());
    }
    EXPECT_EQ(sink.messages, c.message.empty() ? std::vector<std::string>{}
                                               : std::vector<std::string>{c.message});
    EXPECT_TRUE(Reads().empty());  // VerifyWrite is off
  }
}

TEST_F(TrimWindowTest, VerifiedWriteShowsWhatTheChargerHolds) {
  Open();
  // Outside test mode the charging voltage keeps only bits 14..3.
  Type(window->txtHexVal(5), "2EE7");
  Click(window->cmdWrite(5));
  EXPECT_EQ(Writes(), (std::vector<Write>{{0x15, 0x2EE7}}));
  EXPECT_EQ(Reads(), std::vector<uint8_t>{0x15});
  EXPECT_EQ(Hex(5), "2EE0");
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(TrimWindowTest, UnverifiedWriteLeavesTheRowAsEntered) {
  modGlobals::VerifyWrite = false;
  Open();
  Type(window->txtHexVal(5), "2EE7");
  Click(window->cmdWrite(5));
  EXPECT_TRUE(Reads().empty());
  EXPECT_EQ(Hex(5), "2EE7");
  EXPECT_EQ(window->ctlTrimReg(5)->Value(), std::nullopt);  // the bits were never set
}

TEST_F(TrimWindowTest, FailedWriteIsReportedAndTheRowNotReRead) {
  Open();
  board->FailNext(1, kTimeout);
  Type(window->txtHexVal(5), "2EE0");
  Click(window->cmdWrite(5));
  EXPECT_EQ(sink.messages,
            std::vector<std::string>{WriteFailureText("CV: CHARGING VOLTAGE REG(0x15)", 0x15, kTimeout)});
  EXPECT_TRUE(Reads().empty());
  EXPECT_EQ(Hex(5), "2EE0");
}

TEST_F(TrimWindowTest, EditingBitsUpdatesTheHexBoxWithoutBusTraffic) {
  Open();
  window->ctlTrimReg(1)->SetValue(0);
  EXPECT_EQ(Hex(1), "0000");
  QLineEdit* bit0 = window->ctlTrimReg(1)->txtBitVal(0);
  bit0->setFocus();
  QTest::keyClick(bit0, Qt::Key_1);
  EXPECT_EQ(Hex(1), "0001");
  QTest::keyClick(bit0, Qt::Key_0);
  QLineEdit* bit15 = window->ctlTrimReg(1)->txtBitVal(15);
  bit15->setFocus();
  QTest::keyClick(bit15, Qt::Key_1);
  EXPECT_EQ(Hex(1), "8000");
  bit15->selectAll();
  QTest::keyClick(bit15, Qt::Key_Delete);
  EXPECT_EQ(Hex(1), "");
  EXPECT_EQ(board->TransactionCount(), 0u);
}

TEST_F(TrimWindowTest, WriteAllWithEveryBoxEmptyWritesNothingThenReadsAllRows) {
  Open();
  Click(window->findChild<QPushButton*>("cmdWriteAll"));
  std::vector<std::string> expected;
  for (int i = 0; i < frmTrim::kRows; ++i)
    if (i != 9) expected.push_back(std::string("Write failed! Incorrect value for ") + kRows[i].title);
  EXPECT_EQ(sink.messages, expected);
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(Reads(), (std::vector<uint8_t>{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18,
                                           0x19, 0x3F}));
  EXPECT_TRUE(modGlobals::VerifyWrite);
  for (int i = 0; i < frmTrim::kRows; ++i) EXPECT_NE(Hex(i), "") << i;
}

TEST_F(TrimWindowTest, WriteAllWithoutVerifyReadsNothingAndLeavesItOff) {
  modGlobals::VerifyWrite = false;
  Open();
  Click(window->findChild<QPushButton*>("cmdWriteAll"));
  EXPECT_EQ(sink.Count(), 10u);
  EXPECT_TRUE(Reads().empty());
  EXPECT_FALSE(modGlobals::VerifyWrite);
}

TEST_F(TrimWindowTest, WriteAllWritesTheRowsInOrderSkipsRow9AndReadsOnlyAtTheEnd) {
  board->Poke(0x17, 0x0001);  // test mode, so the trims stick
  Open();
  window->txtHexVal(7)->setText("0001");
  for (int i : {0, 1, 6, 8})
    window->txtHexVal(i)->setText(QStringLiteral("%1").arg(0x1111 * (i + 1), 4, 16, QChar('0')));
  window->txtHexVal(9)->setText("FFFF");  // read-only row: never written
  bool verifyDuringWrites = true;
  sink.whileOpen = [&](const std::string&) { verifyDuringWrites = modGlobals::VerifyWrite; };
  Click(window->findChild<QPushButton*>("cmdWriteAll"));

  EXPECT_EQ(Writes(), (std::vector<Write>{{0x10, 0x1111}, {0x11, 0x2222}, {0x16, 0x7777},
                                          {0x17, 0x0001}, {0x18, 0x9999}}));
  EXPECT_FALSE(verifyDuringWrites);  // seen while the empty rows' messages were open
  EXPECT_EQ(sink.Count(), 5u);       // rows 2, 3, 4, 5 and 10 are empty
  // All reads come after the last write.
  const auto& h = board->History();
  ASSERT_EQ(h.size(), 5u + 11u);
  for (std::size_t k = 5; k < h.size(); ++k) EXPECT_EQ(h[k].kind, sim::Transaction::Kind::Read);
  EXPECT_EQ(Hex(0), "1111");
  EXPECT_EQ(Hex(8), "9999");
  EXPECT_NE(Hex(9), "FFFF");
}

TEST_F(TrimWindowTest, SpinsOpensTheModalSpinWindowOwnedByThisWindow) {
  Open();
  bool isSpinWindow = false;
  QString title;
  QWidget* owner = nullptr;
  QTimer::singleShot(0, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    isSpinWindow = qobject_cast<frmSpins*>(modal) != nullptr;
    title = modal->windowTitle();
    owner = modal->parentWidget();
    modal->close();
  });
  Click(window->findChild<QPushButton*>("cmdSpins"));  // returns when the dialog is closed
  EXPECT_TRUE(isSpinWindow);
  EXPECT_EQ(title, "Program Spins");
  EXPECT_EQ(owner, window.data());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(TrimWindowTest, OneWindowAtATimeAndClosingDiscardsIt) {
  frmTrim* first = frmTrim::Open(access);
  EXPECT_EQ(first->parentWidget(), nullptr);
  EXPECT_TRUE(first->isVisible());
  first->txtHexVal(0)->setText("1234");
  EXPECT_EQ(frmTrim::Open(access), first);
  EXPECT_EQ(frmTrim::Instance(), first);

  QPointer<frmTrim> gone = first;
  first->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(gone.isNull());
  EXPECT_EQ(frmTrim::Instance(), nullptr);

  frmTrim* again = frmTrim::Open(access);
  EXPECT_EQ(again->txtHexVal(0)->text(), "");  // loaded afresh
  frmTrim::CloseInstance();
}

TEST_F(TrimWindowTest, TheTrimButtonKeyIsOffUnlessSet) {
  EXPECT_FALSE(frmTrim::TrimButtonWanted());
  WriteIni("[Settings]\nShowTrimRegisters=1\n");
  EXPECT_TRUE(frmTrim::TrimButtonWanted());
  WriteIni("[Settings]\nShowTrimRegisters=0\n");
  EXPECT_FALSE(frmTrim::TrimButtonWanted());
}

}  // namespace
