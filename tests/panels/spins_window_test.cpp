#include <QLabel>
#include <QTimer>

#include "adapter/ErrorCodes.h"
#include "panels/frmSpins.h"
#include "registers/Spins.h"
#include "shell/GuiMessageSink.h"
#include "shell/Utils.h"
#include "trim_fixture.h"

namespace {

const std::string kSpinConfirm(Spins::kSpinConfirmText);
const std::string kBurnConfirm(Spins::kBurnConfirmText);

class SpinsWindowTest : public TrimWindowFixture {
 protected:
  ~SpinsWindowTest() override { Utils::SetEventPump(nullptr); }
  std::unique_ptr<frmSpins> OpenSpins() {
    auto d = std::make_unique<frmSpins>(access);
    d->show();
    board->ClearHistory();
    return d;
  }
};

TEST_F(SpinsWindowTest, ButtonsCaptionsAndDescriptionsFromTheSettingsFile) {
  WriteIni("[Spinrk51xx Trim2]\nDesc=lot 7, 4 cells\n[SpinCustom 1]\nDesc=bench A\n0x10=1\n");
  auto d = OpenSpins();
  EXPECT_EQ(d->windowTitle(), "Program Spins");
  const char* captions[] = {"rk51xx Trim1", "rk51xx Trim2", "rk51xx Trim3", "rk51xx Trim4",
                            "rk51xx Trim5", "Custom 1",     "Custom 2"};
  const char* descs[] = {"", "lot 7, 4 cells", "", "", "", "bench A", ""};
  for (int i = 0; i < frmSpins::kButtons; ++i) {
    EXPECT_EQ(d->cmdWriteTrim(i)->text(), captions[i]);
    EXPECT_EQ(d->cmdWriteTrim(i)->objectName(), QStringLiteral("cmdWriteTrim%1").arg(i));
    EXPECT_EQ(d->lblDesc(i)->text(), descs[i]);
    EXPECT_EQ(d->lblDesc(i)->objectName(), QStringLiteral("lblDesc%1").arg(i));
  }
  // Stacked top to bottom in index order, each description to the right of its button.
  for (int i = 1; i < frmSpins::kButtons; ++i)
    EXPECT_GT(d->cmdWriteTrim(i)->y(), d->cmdWriteTrim(i - 1)->y());
  EXPECT_GT(d->lblDesc(0)->x(), d->cmdWriteTrim(0)->x() + d->cmdWriteTrim(0)->width() - 1);
  EXPECT_EQ(d->findChild<QLabel*>("Label1")->text(),
            "Click on the Spin name to write the appropriate values to the trim registers.");
  EXPECT_EQ(d->cmdEEBurn()->text(), "&EEBurn");
  EXPECT_EQ(board->TransactionCount(), 0u);

  // Descriptions are read afresh at every opening.
  WriteIni("[SpinCustom 2]\nDesc=new\n");
  auto again = OpenSpins();
  EXPECT_EQ(again->lblDesc(6)->text(), "new");
  EXPECT_EQ(again->lblDesc(5)->text(), "");
}

TEST_F(SpinsWindowTest, ClickingAButtonAppliesItsPresetInTheFixedOrder) {
  WriteIni("[SpinCustom 1]\n0x16=0102\n0x3F=0800\n0x10=1234\n");
  auto d = OpenSpins();
  Click(d->cmdWriteTrim(5));
  EXPECT_EQ(Writes(), (std::vector<Write>{{0x17, 0x0201}, {0x10, 0x1234}, {0x16, 0x0102},
                                          {0x3F, 0x0800}}));
  EXPECT_EQ(Reads(), (std::vector<uint8_t>{0x10, 0x16, 0x3F}));
  EXPECT_EQ(sink.messages, std::vector<std::string>{kSpinConfirm});
  EXPECT_EQ(board->Peek(0x10), 0x1234);
  EXPECT_TRUE(d->cmdWriteTrim(5)->isEnabled());
}

TEST_F(SpinsWindowTest, ButtonWithoutSectionStillEntersTestMode) {
  auto d = OpenSpins();
  Click(d->cmdWriteTrim(0));
  EXPECT_EQ(Writes(), (std::vector<Write>{{0x17, 0x0201}}));
  EXPECT_EQ(sink.messages, std::vector<std::string>{kSpinConfirm});
}

TEST_F(SpinsWindowTest, BurnReportsCompletionOnlyWhenBothWritesSucceed) {
  auto d = OpenSpins();
  Click(d->cmdEEBurn());
  EXPECT_EQ(sink.messages, (std::vector<std::string>{kBurnConfirm, "Programming complete."}));
  EXPECT_EQ(Writes(), (std::vector<Write>{{0x17, 0x0205}, {0x17, 0x0201}}));

  sink.Clear();
  board->ClearHistory();
  board->FailNext(1, VB_TIMEOUT_ERROR, sim::FaultScope::Writes);
  Click(d->cmdEEBurn());
  EXPECT_EQ(sink.messages,
            (std::vector<std::string>{kBurnConfirm,
                                      WriteFailureText("TestMode1", 0x17, VB_TIMEOUT_ERROR),
                                      std::string(Spins::kBurnFailedText)}));
  EXPECT_EQ(board->Count(sim::Transaction::Kind::Write, 0x17), 2u);
}

TEST_F(SpinsWindowTest, ASecondClickDuringTheBurnsWaitStartsNothing) {
  InstallQtEventPump();  // the burn's wait keeps the window alive, as in the program
  auto d = OpenSpins();
  bool enabledDuringWait = true;
  QTimer::singleShot(150, [&] {  // inside the burn's wait (after its 100 ms delay)
    enabledDuringWait = d->cmdEEBurn()->isEnabled() || d->cmdWriteTrim(0)->isEnabled();
    Click(d->cmdEEBurn());
    Click(d->cmdWriteTrim(0));
  });
  Click(d->cmdEEBurn());
  EXPECT_FALSE(enabledDuringWait);
  EXPECT_EQ(board->BurnCount(), 1);
  EXPECT_EQ(Writes(), (std::vector<Write>{{0x17, 0x0205}, {0x17, 0x0201}}));
  EXPECT_EQ(sink.messages, (std::vector<std::string>{kBurnConfirm, "Programming complete."}));
  EXPECT_TRUE(d->cmdEEBurn()->isEnabled());
}

// The whole bench sequence through the windows: enter the trims in the test-mode window,
// burn them from the spin window, and a fresh board (as after a power cycle of the real one)
// comes up with them.
TEST_F(SpinsWindowTest, TrimsEnteredAndBurnedAreLoadedByANewBoard) {
  sim::Board::Options options;
  options.eepromFile = dir.filePath(QStringLiteral("trims.bin")).toStdString();
  NewBoard(options);
  WriteIni("[SpinCustom 2]\nDesc=bench\n0x10=0A5A\n0x11=1B2C\n");
  Open();

  bool burned = false;
  QTimer::singleShot(0, [&] {
    auto* spins = qobject_cast<frmSpins*>(QApplication::activeModalWidget());
    if (!spins) return;
    Click(spins->cmdWriteTrim(6));  // test mode on, 0x10 and 0x11 from the preset
    spins->close();
  });
  Click(window->findChild<QPushButton*>("cmdSpins"));
  // 0x16 by hand in the test-mode window.
  Type(window->txtHexVal(6), "00F0");
  Click(window->cmdWrite(6));
  EXPECT_EQ(window->txtHexVal(6)->text(), "00F0");

  QTimer::singleShot(0, [&] {
    auto* spins = qobject_cast<frmSpins*>(QApplication::activeModalWidget());
    if (!spins) return;
    Click(spins->cmdEEBurn());
    burned = true;
    spins->close();
  });
  Click(window->findChild<QPushButton*>("cmdSpins"));
  ASSERT_TRUE(burned);
  EXPECT_EQ(sink.messages, (std::vector<std::string>{kSpinConfirm, kBurnConfirm,
                                                     "Programming complete."}));

  frmUSB::Get().CloseDevice();
  NewBoard(options);
  frmUSB::Get().OpenFirstFreeDevice();
  delete window.data();
  Open();
  Click(window->findChild<QPushButton*>("cmdReadAll"));
  EXPECT_EQ(window->txtHexVal(0)->text(), "0A5A");
  EXPECT_EQ(window->txtHexVal(1)->text(), "1B2C");
  EXPECT_EQ(window->txtHexVal(6)->text(), "00F0");
  EXPECT_EQ(window->txtHexVal(7)->text(), "0000");  // the new board is out of test mode
}

}  // namespace
