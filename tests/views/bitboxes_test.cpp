#include "views/BitBoxes.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <cstring>
#include <vector>

namespace {

struct Painted {
  int bit;
  BitState state;
};

class BitBoxesTest : public ::testing::Test {
 protected:
  QWidget host;
  BitBoxes boxes{&host};
  QSignalSpy changes{&boxes, &BitBoxes::Change};
};

TEST_F(BitBoxesTest, BoxesAreNamedCentredAndTakeTwoCharacters) {
  for (int i = 0; i < 16; ++i) {
    QLineEdit* box = host.findChild<QLineEdit*>(QStringLiteral("txtBitVal%1").arg(i));
    ASSERT_EQ(box, boxes.Box(i));
    EXPECT_EQ(box->maxLength(), 2);
    EXPECT_EQ(box->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    EXPECT_TRUE(box->text().isEmpty());
  }
  EXPECT_FALSE(boxes.Value().has_value());
}

TEST(BitBoxesNormalised, FollowsTheBitRules) {
  const std::vector<std::pair<QString, QString>> cases = {
      {"7", "1"}, {"1", "1"}, {"x", "0"}, {"00", "0"}, {"-1", "0"}, {"0", "0"},
      {"", ""},   {"-", "0"}, {".5", "1"}, {"10", "1"}, {"1x", "0"}, {" 1", "1"},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(BitBoxes::Normalised(in), out) << in.toStdString();
    // Normalised text is a fixed point, which is what ends the re-entry.
    EXPECT_EQ(BitBoxes::Normalised(out), out) << out.toStdString();
  }
}

TEST_F(BitBoxesTest, EnteredTextIsNormalisedAndRaisesChange) {
  // Single keys are typed; the two-character texts are pasted (typing them key by key
  // replaces the selected first character instead).
  const std::vector<std::pair<const char*, const char*>> entered = {
      {"7", "1"}, {"x", "0"}, {"00", "0"}, {"-1", "0"}, {"1", "1"}};
  for (const auto& [keys, result] : entered) {
    QLineEdit* box = boxes.Box(3);
    box->clear();
    changes.clear();
    if (strlen(keys) == 1) {
      QTest::keyClicks(box, keys);
    } else {
      box->insert(keys);
    }
    EXPECT_EQ(box->text(), QString(result)) << keys;
    EXPECT_GE(changes.count(), 1) << keys;
    // The first character is selected so the next key replaces it.
    EXPECT_EQ(box->selectionStart(), 0);
    EXPECT_EQ(box->selectedText(), QString(result).left(1));
  }
}

TEST_F(BitBoxesTest, TypingSevenRaisesChangeForTheTypedAndTheNormalisedText) {
  QTest::keyClicks(boxes.Box(0), "7");
  EXPECT_EQ(changes.count(), 2);
}

TEST_F(BitBoxesTest, TypingOverASelectedDigitReplacesIt) {
  QTest::keyClicks(boxes.Box(0), "-");  // not a number: becomes 0, selected
  QTest::keyClicks(boxes.Box(0), "1");
  EXPECT_EQ(boxes.Box(0)->text(), "1");
}

TEST_F(BitBoxesTest, DeletingTheCharacterLeavesTheBitUnknown) {
  boxes.SetValue(0x00FF, nullptr);
  ASSERT_EQ(boxes.Value(), 0x00FF);
  changes.clear();
  boxes.Box(0)->setFocus();
  boxes.Box(0)->setCursorPosition(1);
  QTest::keyClick(boxes.Box(0), Qt::Key_Backspace);
  EXPECT_TRUE(boxes.Box(0)->text().isEmpty());
  EXPECT_EQ(changes.count(), 1);
  EXPECT_FALSE(boxes.Value().has_value());
}

TEST_F(BitBoxesTest, WriteSetsBoxesPaintsInBitOrderAndReadsBack) {
  std::vector<Painted> painted;
  boxes.SetValue(0x8001, [&](int bit, BitState s) { painted.push_back({bit, s}); });
  ASSERT_EQ(painted.size(), 16u);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(painted[i].bit, i);
    const bool high = i == 0 || i == 15;
    EXPECT_EQ(painted[i].state, high ? BitState::High : BitState::Low);
    EXPECT_EQ(boxes.Box(i)->text(), high ? "1" : "0");
  }
  EXPECT_EQ(boxes.Value(), 32769);
  EXPECT_EQ(changes.count(), 16);  // every box went from empty to a digit
}

TEST_F(BitBoxesTest, NegativeAndWideValuesUseOnlyTheLowSixteenBits) {
  boxes.SetValue(-32768, nullptr);
  EXPECT_EQ(boxes.Value(), 32768);
  boxes.SetValue(-1, nullptr);
  EXPECT_EQ(boxes.Value(), 65535);
  boxes.SetValue(0x12345, nullptr);
  EXPECT_EQ(boxes.Value(), 0x2345);
}

TEST_F(BitBoxesTest, ChangeComesOncePerChangedBoxAndSeesTheBitsWrittenSoFar) {
  boxes.SetValue(0, nullptr);
  std::vector<std::optional<int32_t>> seen;
  QObject::connect(&boxes, &BitBoxes::Change, [&] { seen.push_back(boxes.Value()); });
  boxes.SetValue(0x0005, nullptr);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], 0x0001);
  EXPECT_EQ(seen[1], 0x0005);  // the last Change sees the complete value
  seen.clear();
  boxes.SetValue(0x0005, nullptr);
  EXPECT_TRUE(seen.empty());
}

TEST_F(BitBoxesTest, WritingEmptyClearsEveryBoxAndPaintsUnknown) {
  boxes.SetValue(0xFFFF, nullptr);
  int unknown = 0;
  boxes.SetValue(std::nullopt, [&](int, BitState s) { unknown += s == BitState::Unknown; });
  EXPECT_EQ(unknown, 16);
  for (int i = 0; i < 16; ++i) EXPECT_TRUE(boxes.Box(i)->text().isEmpty());
  EXPECT_FALSE(boxes.Value().has_value());
}

TEST_F(BitBoxesTest, FocusSelectsTheFirstCharacter) {
  host.show();
  boxes.SetValue(0, nullptr);
  boxes.Box(5)->setCursorPosition(1);
  boxes.Box(5)->deselect();
  boxes.Box(6)->setFocus(Qt::TabFocusReason);
  boxes.Box(5)->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  EXPECT_EQ(boxes.Box(5)->selectionStart(), 0);
  EXPECT_EQ(boxes.Box(5)->selectedText(), "0");
}

TEST_F(BitBoxesTest, TabOrderRunsFromBitFifteenToBitZero) {
  for (int i = 15; i > 0; --i) {
    EXPECT_EQ(boxes.Box(i)->nextInFocusChain(), boxes.Box(i - 1)) << i;
  }
}

TEST(BitColours, ConvertBetweenBgrAndQtColours) {
  const QColor c = ColorFromBgr(0x7F80FF);
  EXPECT_EQ(c, QColor(255, 128, 127));
  EXPECT_EQ(BgrFromColor(c), 0x7F80FF);
  QWidget label;
  PaintBackground(&label, 0x2020FF);
  EXPECT_EQ(BackgroundOf(&label), 0x2020FF);
  EXPECT_TRUE(label.autoFillBackground());
  BitColors colours{1, 2, 3};
  EXPECT_EQ(colours.For(BitState::High), 1);
  EXPECT_EQ(colours.For(BitState::Low), 2);
  EXPECT_EQ(colours.For(BitState::Unknown), 3);
}

}  // namespace
