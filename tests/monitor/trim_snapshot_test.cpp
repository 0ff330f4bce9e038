#include <gtest/gtest.h>

#include <QPushButton>
#include <QTreeWidget>
#include <tuple>
#include <vector>

#include "monitor/MonitorFixture.h"
#include "monitor/frmCompare.h"
#include "panels/frmTrim.h"
#include "recording/BitNames.h"
#include "recording/Snapshot.h"
#include "registers/RegisterTable.h"

namespace {

class TrimSnapshotTest : public MonitorFixture {
 protected:
  void SetUp() override {
    LoadMonitored();
    trim = frmTrim::Open(window->Registers());
  }
  void TearDown() override { frmTrim::CloseInstance(); }
  void ClickTrim(const char* name) {
    QTest::mouseClick(trim->findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
  }
  frmTrim* trim = nullptr;
};

TEST_F(TrimSnapshotTest, SaveAndCompareSitInTheTopRowAfterSpins) {
  QWidget* spins = trim->findChild<QWidget*>(QStringLiteral("cmdSpins"));
  int left = spins->geometry().right();
  for (const auto& [name, caption] : std::vector<std::pair<const char*, const char*>>{
           {"cmdSaveSnapshot", "Save Snapshot..."}, {"cmdCompare", "Compare..."}}) {
    auto* b = trim->findChild<QPushButton*>(QString::fromLatin1(name));
    ASSERT_NE(b, nullptr) << name;
    EXPECT_EQ(b->text(), caption);
    EXPECT_EQ(b->geometry().top(), spins->geometry().top()) << name;
    EXPECT_GT(b->geometry().left(), left) << name;
    left = b->geometry().right();
  }
}

TEST_F(TrimSnapshotTest, SaveSnapshotWritesWhatTheRowsShow) {
  dialogs.answer = TempPath("snap.ini");
  ClickTrim("cmdSaveSnapshot");
  std::string message;
  const auto snapshot = recording::LoadSnapshot(TempPath("snap.ini").toStdString(), message);
  ASSERT_TRUE(snapshot) << message;
  EXPECT_EQ(snapshot->caption, "Custom 1");
  for (const uint8_t a : {0x10, 0x12, 0x15, 0x3F})
    EXPECT_EQ(snapshot->Value(a), Board().Peek(a)) << int(a);
  EXPECT_EQ(trim->txtHexVal(5)->text(), "41A0");  // the rows show what was saved
}

TEST_F(TrimSnapshotTest, CompareNamesEveryBitInWhichTheChipDiffers) {
  dialogs.answer = TempPath("snap.ini");
  ClickTrim("cmdSaveSnapshot");
  Board().Poke(RegisterTable::kControl,
               static_cast<uint16_t>(Board().Peek(RegisterTable::kControl) ^ 0x0041));
  ClickTrim("cmdCompare");
  auto* compare = trim->findChild<monitor::frmCompare*>();
  ASSERT_NE(compare, nullptr);
  EXPECT_TRUE(compare->isVisible());
  EXPECT_FALSE(compare->isModal());
  QTreeWidget* tree = compare->Tree();
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  QTreeWidgetItem* reg = tree->topLevelItem(0);
  EXPECT_EQ(reg->text(0), "0x12");
  std::vector<QString> bits;
  for (int i = 0; i < reg->childCount(); ++i)
    bits.push_back(reg->child(i)->text(0) + " " + reg->child(i)->text(1));
  EXPECT_EQ(bits, (std::vector<QString>{"bit 6 ACOC EN", "bit 0 CHG END"}));
}

TEST_F(TrimSnapshotTest, CompareGivesDacRegistersInTheirUnitBesideTheHex) {
  // Address, value in the snapshot, value on the chip, the two as shown.
  const std::vector<std::tuple<uint8_t, uint16_t, uint16_t, const char*, const char*>> cases = {
      {RegisterTable::kChargeVoltage, 0x41A0, 0x3390, "41A0 (16800 mV)", "3390 (13200 mV)"},
      {RegisterTable::kChargeCurrent, 0x0200, 0x0281, "0200 (512 mA)", "0281 (641 mA)"},
      {RegisterTable::kInputCurrent, 0x1000, 0x3F80, "1000 (4096 mA)", "3F80 (16256 mA)"},
      {RegisterTable::kControl, 0x0000, 0x0041, "0000", "0041"},
  };
  for (const auto& [address, before, after, shownBefore, shownAfter] : cases)
    Board().Poke(address, before);
  dialogs.answer = TempPath("snap.ini");
  ClickTrim("cmdSaveSnapshot");
  for (const auto& [address, before, after, shownBefore, shownAfter] : cases)
    Board().Poke(address, after);
  ClickTrim("cmdCompare");
  QTreeWidget* tree = trim->findChild<monitor::frmCompare*>()->Tree();
  for (const auto& [address, before, after, shownBefore, shownAfter] : cases) {
    const QString name = QString::fromStdString(recording::AddressText(address));
    const QList<QTreeWidgetItem*> rows = tree->findItems(name, Qt::MatchExactly);
    ASSERT_EQ(rows.size(), 1) << name.toStdString();
    EXPECT_EQ(rows[0]->text(2).toStdString(), shownBefore);
    EXPECT_EQ(rows[0]->text(3).toStdString(), shownAfter);
  }
}

TEST_F(TrimSnapshotTest, ABadSnapshotFileIsRefusedBeforeTheChipIsRead) {
  dialogs.answer = WriteFile("bad.ini", "[SpinCustom 1]\n0x10=XYZ\n");
  Board().ClearHistory();
  ClickTrim("cmdCompare");
  EXPECT_TRUE(Board().History().empty());
  ASSERT_EQ(sink.Count(), 1u);
  EXPECT_NE(sink.messages[0].find(TempPath("bad.ini").toStdString() + ":2:"), std::string::npos)
      << sink.messages[0];
}

}  // namespace
