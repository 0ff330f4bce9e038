#include "views/BitBoxes.h"

#include <gtest/gtest.h>

#include <QTest>
#include <tuple>
#include <vector>

namespace {

class BitBoxesTest : public ::testing::Test {
 protected:
  QWidget host;
  BitBoxes boxes{&host};
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

TEST_F(BitBoxesTest, TabRunsFromBitFifteenDown) {
  for (int i = 15; i > 0; --i) EXPECT_EQ(boxes.Box(i)->nextInFocusChain(), boxes.Box(i - 1)) << i;
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
