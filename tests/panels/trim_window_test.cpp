// The test-mode window, its spin window and the main window's way to it, on the simulated board.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <chrono>
#include <tuple>

#include "adapter/ErrorCodes.h"
#include "drivers/sim/SimBoard.h"
#include "panels/frmSpins.h"
#include "panels/frmTrim.h"
#include "shell/GuiMessageSink.h"
#include "foundation/Settings.h"
#include "foundation/Utils.h"
#include "support/gui/MainWindowFixture.h"
#include "views/ctlTrimRegister.h"

// Readable QStrings in failure output.
static void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using Write = std::pair<uint8_t, uint16_t>;
constexpr int16_t kTimeout = VB_TIMEOUT_ERROR;
const char* const kVoltageTitle = "CV: CHARGING VOLTAGE REG(0x15)";

class TrimWindowTest : public MainWindowFixture {
 protected:
  ~TrimWindowTest() override {
    Utils::SetEventPump(nullptr);
    frmTrim::CloseInstance();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  // Loads the main window, then opens the test-mode window on its registers; the bus history
  // starts here.
  void Open(const std::string& ini = "") {
    Load(ini);
    trim = frmTrim::Open(window->Registers());
    Board().ClearHistory();
  }
  QString Hex(int row) const { return trim->txtHexVal(row)->text(); }
  static void Press(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
  void Press(const char* name) { Press(trim->findChild<QPushButton*>(name)); }
  // Replaces the text as a user would: select all, then type (an empty text deletes).
  static void TypeIn(QLineEdit* e, const QString& text) {
    e->setFocus();
    e->selectAll();
    text.isEmpty() ? QTest::keyClick(e, Qt::Key_Delete) : QTest::keyClicks(e, text);
  }
  std::vector<Write> Writes() {
    std::vector<Write> w;
    for (const sim::Transaction& t : Board().History())
      if (t.kind == sim::Transaction::Kind::Write) w.emplace_back(t.command, t.value);
    return w;
  }
  std::vector<uint8_t> Reads() {
    std::vector<uint8_t> r;
    for (const sim::Transaction& t : Board().History())
      if (t.kind == sim::Transaction::Kind::Read) r.push_back(t.command);
    return r;
  }

  QPointer<frmTrim> trim;
};

TEST_F(TrimWindowTest, OnlyRow9IsReadOnly) {
  Open();
  for (int i = 0; i < frmTrim::kRows; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(trim->txtHexVal(i)->isReadOnly(), i == 9);
    EXPECT_EQ(trim->cmdWrite(i)->isHidden(), i == 9);
  }
}

TEST_F(TrimWindowTest, OneWindowAtATimeAndClosingDiscardsIt) {
  Open();
  trim->txtHexVal(0)->setText("1234");
  EXPECT_EQ(frmTrim::Open(window->Registers()), trim.data());
  trim->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(trim.isNull());
  EXPECT_EQ(frmTrim::Instance(), nullptr);
  EXPECT_EQ(frmTrim::Open(window->Registers())->txtHexVal(0)->text(), "");
}

TEST_F(TrimWindowTest, ReadPaintsTheRowInTheConfiguredColours) {
  Open("[Colors]\nBitHi=255\nBitLo=65280\n");
  Press(trim->cmdRead(10));
  EXPECT_EQ(Reads(), std::vector<uint8_t>{0x3F});
  EXPECT_EQ(trim->ctlTrimReg(10)->Value(), sim::kPowerOnInputCurrent);
  EXPECT_EQ(Hex(10), "1000");
  for (int bit = 0; bit < 16; ++bit)
    EXPECT_EQ(BackgroundOf(trim->ctlTrimReg(10)->lblBitLabel(bit)),
              bit == 12 ? 0x0000FF : 0x00FF00);
}

TEST_F(TrimWindowTest, HexTextDecidesTheWrittenWord) {
  Open();
  modGlobals::VerifyWrite = false;
  const std::string noPrefix =
      "Write failed! Please specify a proper hex value without any prefix.";
  // clang-format off
  const std::tuple<QString, std::optional<uint16_t>, std::string> cases[] = {
      {"ffff", 0xFFFF, ""}, {" 12 ", 0x0012, ""}, {"0x12", {}, noPrefix}, {"&h12", {}, noPrefix},
      {"12G4", {}, noPrefix}, {"   ", 0x0000, ""},
      {"", {}, std::string("Write failed! Incorrect value for ") + kVoltageTitle}};
  // clang-format on
  for (const auto& [typed, written, message] : cases) {
    SCOPED_TRACE(typed.toStdString());
    Board().ClearHistory();
    sink.Clear();
    TypeIn(trim->txtHexVal(5), typed);
    ASSERT_EQ(trim->txtHexVal(5)->text(), typed);
    Press(trim->cmdWrite(5));
    EXPECT_EQ(Writes(), written ? (std::vector<Write>{{0x15, *written}}) : std::vector<Write>{});
    EXPECT_EQ(sink.messages,
              message.empty() ? std::vector<std::string>{} : std::vector<std::string>{message});
  }
}

TEST_F(TrimWindowTest, WriteIsReadBackOnlyWithVerify) {
  Open();
  for (bool verify : {false, true}) {
    SCOPED_TRACE(verify);
    modGlobals::VerifyWrite = verify;
    Board().ClearHistory();
    // Outside test mode the charging voltage keeps only its DAC bits, 15..1.
    TypeIn(trim->txtHexVal(5), "2EE7");
    Press(trim->cmdWrite(5));
    EXPECT_EQ(Writes(), (std::vector<Write>{{0x15, 0x2EE7}}));
    EXPECT_EQ(Reads(), verify ? std::vector<uint8_t>{0x15} : std::vector<uint8_t>{});
    EXPECT_EQ(Hex(5), verify ? "2EE6" : "2EE7");
    EXPECT_EQ(trim->ctlTrimReg(5)->Value(), verify ? std::optional<int32_t>(0x2EE6) : std::nullopt);
  }
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(TrimWindowTest, FailedWriteIsNotReadBack) {
  Open();
  Board().FailNext(1, kTimeout);
  TypeIn(trim->txtHexVal(5), "1234");
  Press(trim->cmdWrite(5));
  EXPECT_EQ(sink.messages,
            std::vector<std::string>{WriteFailureText(kVoltageTitle, 0x15, kTimeout)});
  EXPECT_TRUE(Reads().empty());
  EXPECT_EQ(Hex(5), "1234");
}

TEST_F(TrimWindowTest, WriteAllWritesFilledRowsThenReads) {
  Open();
  Board().Poke(0x17, 0x0001);  // test mode, so the trims stick
  Board().ClearHistory();
  sink.Clear();
  trim->txtHexVal(7)->setText("0001");
  for (int i : {0, 1, 6, 8})
    trim->txtHexVal(i)->setText(QStringLiteral("%1").arg(0x1111 * (i + 1), 4, 16, QChar('0')));
  trim->txtHexVal(9)->setText("ABCD");  // read-only row: never written
  bool verifyDuringWrites = true;
  sink.whileOpen = [&](const std::string&) { verifyDuringWrites = modGlobals::VerifyWrite; };
  Press("cmdWriteAll");

  EXPECT_EQ(Writes(),
            (std::vector<Write>{
                {0x10, 0x1111}, {0x11, 0x2222}, {0x16, 0x7777}, {0x17, 0x0001}, {0x18, 0x9999}}));
  EXPECT_FALSE(verifyDuringWrites);      // seen while the empty rows' messages were open
  EXPECT_TRUE(modGlobals::VerifyWrite);  // and back on for the reads
  EXPECT_EQ(sink.messages.size(), 5u);   // rows 2, 3, 4, 5 and 10 are empty
  const auto& h = Board().History();
  ASSERT_EQ(h.size(), 5u + 11u);
  for (std::size_t k = 5; k < h.size(); ++k) EXPECT_EQ(h[k].kind, sim::Transaction::Kind::Read);
  EXPECT_EQ(Hex(0), "1111");
  EXPECT_EQ(Hex(8), "9999");
  EXPECT_NE(Hex(9), "ABCD");
}

TEST_F(TrimWindowTest, SpinButtonsShowTheirPresetsDescriptions) {
  Load("[Spinrk51xx Trim2]\nDesc=lot 7, 4 cells\n[SpinCustom 1]\nDesc=bench A\n");
  frmSpins spins(window->Registers());
  const char* descs[] = {"", "lot 7, 4 cells", "", "", "", "bench A", ""};
  for (int i = 0; i < frmSpins::kButtons; ++i) EXPECT_EQ(spins.lblDesc(i)->text(), descs[i]);
}

TEST_F(TrimWindowTest, SpinButtonWritesThePresetOfItsCaption) {
  Load("[SpinCustom 1]\n0x10=1\n");
  frmSpins spins(window->Registers());
  spins.show();
  Press(spins.cmdWriteTrim(5));
  EXPECT_EQ(Writes(), (std::vector<Write>{{0x17, 0x0201}, {0x10, 0x0001}}));
  EXPECT_EQ(sink.messages, std::vector<std::string>{std::string(Spins::kSpinConfirmText)});
}

TEST_F(TrimWindowTest, BurnTakesNoSecondClickDuringItsWait) {
  Load();
  frmSpins spins(window->Registers());
  spins.show();
  bool waited = false;
  bool enabledDuringWait = true;
  // The burn's wait keeps the windows alive; its first pass of events is where a second
  // click would arrive.
  const Utils::EventPump qtPump = QtEventPump();
  Utils::SetEventPump([&](std::chrono::steady_clock::time_point deadline) {
    if (!waited) {
      waited = true;
      enabledDuringWait = spins.cmdEEBurn()->isEnabled() || spins.cmdWriteTrim(0)->isEnabled();
      Press(spins.cmdEEBurn());
      Press(spins.cmdWriteTrim(0));
    }
    qtPump(deadline);
  });
  Press(spins.cmdEEBurn());
  EXPECT_TRUE(waited);
  EXPECT_FALSE(enabledDuringWait);
  EXPECT_TRUE(spins.cmdEEBurn()->isEnabled());
  EXPECT_EQ(Board().BurnCount(), 1);
  EXPECT_EQ(sink.messages, (std::vector<std::string>{std::string(Spins::kBurnConfirmText),
                                                     "Programming complete."}));
}

TEST_F(TrimWindowTest, AfterReadAllOnlyTheFocusedBitBoxShowsItsSelection) {
  Open();
  trim->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(trim.data()));
  const QRgb highlight = trim->palette().color(QPalette::Active, QPalette::Highlight).rgb();
  // Boxes whose picture shows the selection colour.
  auto showingSelection = [&] {
    std::vector<std::pair<int, int>> shown;
    for (int row = 0; row < frmTrim::kRows; ++row) {
      for (int bit = 0; bit < 16; ++bit) {
        const QImage image = trim->ctlTrimReg(row)->txtBitVal(bit)->grab().toImage();
        bool found = false;
        for (int y = 0; y < image.height() && !found; ++y)
          for (int x = 0; x < image.width() && !found; ++x)
            found = (image.pixel(x, y) & 0xFFFFFF) == (highlight & 0xFFFFFF);
        if (found) shown.emplace_back(row, bit);
      }
    }
    return shown;
  };
  Press("cmdReadAll");
  ASSERT_EQ(Hex(5), "41A0");  // every box holds a digit, its first character selected
  EXPECT_EQ(showingSelection(), (std::vector<std::pair<int, int>>{}));
  trim->ctlTrimReg(5)->txtBitVal(3)->setFocus(Qt::TabFocusReason);
  EXPECT_EQ(showingSelection(), (std::vector<std::pair<int, int>>{{5, 3}}));
}

// Every name wraps at its spaces, in a readable size, and its ink (bearings included), measured
// as its label paints it, lies inside the label's frame and margin; in the application's font
// and in others a desktop may give it.
TEST_F(TrimWindowTest, EveryBitNameIsReadableInFull) {
  const QFont original = QApplication::font();
  for (const char* family : {"", "DejaVu Sans", "DejaVu Serif", "Nimbus Sans"}) {
    QFont f = original;
    if (*family) f.setFamily(QString::fromLatin1(family));
    QApplication::setFont(f);
    Open();
    for (int row = 0; row < frmTrim::kRows; ++row) {
      for (int bit = 0; bit < 16; ++bit) {
        const QLabel* cell = trim->ctlTrimReg(row)->lblBitLabel(bit);
        const QFontMetrics fm(cell->font(), cell);
        // Where the label lays out its text: inside its frame, less its margin.
        const QRect area = cell->contentsRect().adjusted(cell->margin(), cell->margin(),
                                                         -cell->margin(), -cell->margin());
        const std::string where = std::string(family) + " " + std::to_string(row) + "/" +
                                  std::to_string(bit) + " " + cell->text().toStdString();
        EXPECT_TRUE(cell->wordWrap()) << where;
        EXPECT_GE(cell->margin(), 1) << where << ": lines keep clear of the frame";
        EXPECT_GE(cell->font().pointSizeF(), 6.0) << where;
        for (const QString& word : cell->text().split(' ', Qt::SkipEmptyParts))
          EXPECT_LE(std::max(fm.boundingRect(word).width(), fm.horizontalAdvance(word)),
                    area.width())
              << where << ": " << word.toStdString();
        EXPECT_LE(fm.boundingRect(area, Qt::TextWordWrap | Qt::AlignCenter, cell->text()).height(),
                  area.height())
            << where;
      }
    }
    frmTrim::CloseInstance();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Close();
  }
  QApplication::setFont(original);
}

// The colour strips are too low for their captions: they show their colour and no glyph.
TEST_F(TrimWindowTest, ColourStripsShowNoSliverOfTheirCaptions) {
  Open();
  for (int row = 0; row < frmTrim::kRows; ++row) {
    for (int bit = 0; bit < 16; ++bit) {
      QLabel* strip = trim->ctlTrimReg(row)->lblBit(bit);
      const QImage image = strip->grab().toImage();
      const QRgb ground = strip->palette().color(QPalette::Window).rgb();
      int inked = 0;
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) inked += image.pixel(x, y) != ground;
      EXPECT_EQ(inked, 0) << row << "/" << bit << " " << strip->text().toStdString();
    }
  }
}

TEST_F(TrimWindowTest, TrimButtonShowsOnlyWithTheKey) {
  for (const auto& [ini, shown] :
       {std::pair{"", false}, std::pair{"[Settings]\nShowTrimRegisters=1\n", true}}) {
    Load(ini);
    EXPECT_EQ(Child<QPushButton>("cmdTrimRegs")->isVisible(), shown) << ini;
    EXPECT_EQ(Child<QPushButton>("cmdTrimRegs")->isEnabled(), shown) << ini;
    Close();
  }
}

TEST_F(TrimWindowTest, TrimButtonOpensAWindowOnTheSameRegisters) {
  Load("[Settings]\nShowTrimRegisters=1\n");
  Click("cmdTrimRegs");
  frmTrim* opened = frmTrim::Instance();
  ASSERT_NE(opened, nullptr);
  EXPECT_TRUE(opened->isVisible());
  EXPECT_TRUE(Board().History().empty());  // nothing is read when it opens
  QTest::mouseClick(opened->cmdRead(10), Qt::LeftButton);
  EXPECT_EQ(opened->txtHexVal(10)->text(), "1000");
}

TEST_F(TrimWindowTest, TrimWindowOutlivesTheMainWindow) {
  Load("[Settings]\nShowTrimRegisters=1\n");
  Click("cmdTrimRegs");
  QPointer<frmTrim> opened = frmTrim::Instance();
  ASSERT_FALSE(opened.isNull());
  Close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_FALSE(opened.isNull());
  EXPECT_TRUE(opened->isVisible());
  // The adapter is closed now: a read fails with its own message and blanks the row.
  QTest::mouseClick(opened->cmdRead(10), Qt::LeftButton);
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("Error description : VB_NO_USB"), std::string::npos);
  EXPECT_EQ(opened->txtHexVal(10)->text(), "");
}

}  // namespace
