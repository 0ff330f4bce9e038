#include "views/BitBoxes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <tuple>
#include <vector>

namespace {

class BitBoxesTest : public ::testing::Test {
 protected:
  QWidget host;
  BitBoxes boxes{&host};
  QSignalSpy changes{&boxes, &BitBoxes::Change};
};

TEST(BitBoxesNormalised, FollowsTheBitRules) {
  const std::vector<std::pair<QString, QString>> cases = {
      {"7", "1"}, {"1", "1"}, {"x", "0"},  {"00", "0"}, {"-1", "0"}, {"0", "0"},
      {"", ""},   {"-", "0"}, {".5", "1"}, {"10", "1"}, {"1x", "0"}, {" 1", "1"},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(BitBoxes::Normalised(in), out) << in.toStdString();
    // Normalised text is a fixed point, which is what ends the re-entry.
    EXPECT_EQ(BitBoxes::Normalised(out), out) << out.toStdString();
  }
}

TEST_F(BitBoxesTest, TypedTextIsNormalisedAndSelected) {
  QLineEdit* box = boxes.Box(3);
  EXPECT_EQ(box->maxLength(), 2);
  QTest::keyClicks(box, "7");
  EXPECT_EQ(box->text(), "1");
  EXPECT_EQ(box->selectedText(), "1");  // so the next key replaces it
  box->selectAll();
  box->insert("-1");  // two characters arrive at once only when pasted
  EXPECT_EQ(box->text(), "0");
  EXPECT_EQ(box->selectedText(), "0");
}

TEST_F(BitBoxesTest, ChangeComesForTheTypedAndTheNormalisedText) {
  QTest::keyClicks(boxes.Box(3), "7");
  EXPECT_EQ(changes.count(), 2);
}

TEST_F(BitBoxesTest, DeletingEmptiesTheBoxAndTheValue) {
  QLineEdit* box = boxes.Box(3);
  boxes.SetValue(0x00FF, nullptr);
  changes.clear();
  box->setFocus();
  box->setCursorPosition(1);
  QTest::keyClick(box, Qt::Key_Backspace);
  EXPECT_TRUE(box->text().isEmpty());
  EXPECT_EQ(changes.count(), 1);
  EXPECT_FALSE(boxes.Value().has_value());
}

TEST_F(BitBoxesTest, ChangeComesOncePerChangedBoxWithTheBitsSoFar) {
  boxes.SetValue(0x8001, nullptr);
  EXPECT_EQ(changes.count(), 16);  // every box went from empty to a digit
  boxes.SetValue(0, nullptr);
  std::vector<std::optional<int32_t>> seen;
  QObject::connect(&boxes, &BitBoxes::Change, [&] { seen.push_back(boxes.Value()); });
  boxes.SetValue(0x0005, nullptr);
  EXPECT_EQ(seen, (std::vector<std::optional<int32_t>>{0x0001, 0x0005}));
  seen.clear();
  boxes.SetValue(0x0005, nullptr);  // the same value again raises nothing
  EXPECT_TRUE(seen.empty());
}

TEST_F(BitBoxesTest, ValuesKeepTheirLowSixteenBits) {
  for (const auto& [written, read] :
       std::vector<std::pair<int32_t, int32_t>>{{-32768, 32768}, {-1, 65535}, {0x12345, 0x2345}}) {
    boxes.SetValue(written, nullptr);
    EXPECT_EQ(boxes.Value(), read) << written;
  }
}

TEST_F(BitBoxesTest, TabRunsFromBitFifteenDown) {
  for (int i = 15; i > 0; --i) EXPECT_EQ(boxes.Box(i)->nextInFocusChain(), boxes.Box(i - 1)) << i;
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

TEST(TextContrast, RatioFollowsWcag) {
  // Background, text (0x00BBGGRR), the ratio WCAG gives them.
  const std::tuple<int32_t, int32_t, double> cases[] = {
      {0xFFFFFF, 0x000000, 21.0}, {0x000000, 0xFFFFFF, 21.0}, {0x808080, 0x808080, 1.0},
      {0xFFFFFF, 0x767676, 4.54}, {0xFFFFFF, 0x777777, 4.48}, {0xFFFFFF, 0x0000FF, 4.00},
      {0xFFFFFF, 0xFF0000, 8.59}, {0x000000, 0x00FF00, 15.30}};
  for (const auto& [background, text, ratio] : cases)
    EXPECT_NEAR(ContrastRatio(background, text), ratio, 0.01)
        << std::hex << background << " " << text;
}

}  // namespace
