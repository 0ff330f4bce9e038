#include <gtest/gtest.h>

#include <QLineEdit>

#include "support/RecordingSink.h"
#include "views/BitBoxes.h"
#include "views/Twips.h"
#include "views/ctlTrimRegister.h"

// Readable QStrings in failure output.
static void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

constexpr int32_t kUnknown = 0xCFCFCF;
constexpr int32_t kHi = 0x8080FF;
constexpr int32_t kLo = 0x7FBF00;

class TrimRegisterTest : public ::testing::Test {
 protected:
  void SetUp() override { view_.show(); }
  // Both labels of every column, bit 15 first: the colour each one is painted in.
  void ExpectPainted(uint16_t highBits, int32_t hi, int32_t lo) {
    for (int i = 0; i < 16; ++i) {
      const int32_t c = (highBits >> i) & 1 ? hi : lo;
      EXPECT_EQ(BackgroundOf(view_.lblBit(i)), c) << i;
      EXPECT_EQ(BackgroundOf(view_.lblBitLabel(i)), c) << i;
    }
  }

  RecordingSink sink_;
  ScopedSink scope_{&sink_};
  ctlTrimRegister view_;
};

TEST_F(TrimRegisterTest, UnknownLeavesTheBoxesEmpty) {
  EXPECT_EQ(view_.Value(), std::nullopt);
  ExpectPainted(0, kUnknown, kUnknown);
  view_.SetValue(1);
  view_.SetValue(std::nullopt);
  EXPECT_EQ(view_.txtBitVal(0)->text(), "");
  ExpectPainted(0, kUnknown, kUnknown);
}

TEST_F(TrimRegisterTest, ValuePaintsBothLabelsOfAColumn) {
  view_.SetValue(-32767);  // the signed 16-bit form of 0x8001
  for (int i = 0; i < 16; ++i) EXPECT_EQ(view_.txtBitVal(i)->text(), i == 0 || i == 15 ? "1" : "0");
  EXPECT_EQ(view_.Value(), 0x8001);
  ExpectPainted(0x8001, kHi, kLo);
}

TEST_F(TrimRegisterTest, DescriptionsNeedSixteenPartsFirstOneForBit15) {
  // Empty parts and blanks are kept exactly; reading and writing back changes nothing.
  const QString names = QStringLiteral("IAC  4|") + QString(14, '|') + QStringLiteral("TM vdac ");
  view_.SetBitDescription(names);
  EXPECT_EQ(view_.lblBitLabel(15)->text(), "IAC  4");
  EXPECT_EQ(view_.lblBitLabel(7)->text(), "");
  EXPECT_EQ(view_.lblBitLabel(0)->text(), "TM vdac ");
  view_.SetBitDescription(view_.BitDescription());
  EXPECT_EQ(view_.BitDescription(), names);
  EXPECT_TRUE(sink_.messages.empty());

  // 15 and 17 parts are refused with the message; no separator at all, or no text, silently.
  const std::pair<QString, bool> cases[] = {
      {QString(14, '|'), true}, {QString(16, '|'), true}, {"no separator", false}, {"", false}};
  for (const auto& [text, message] : cases) {
    sink_.messages.clear();
    view_.SetBitDescription(text);
    EXPECT_EQ(view_.BitDescription(), names) << text.toStdString();
    EXPECT_EQ(sink_.messages, message ? std::vector<std::string>{"Check bitdesc string"}
                                      : std::vector<std::string>{});
  }
}

}  // namespace
