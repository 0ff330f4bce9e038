#include <gtest/gtest.h>

#include <QLineEdit>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>

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

QString Names(const char* prefix) {
  QStringList parts;
  for (int k = 0; k < 16; ++k) parts << QStringLiteral("%1 %2").arg(prefix).arg(15 - k);
  return parts.join('|');
}

class TrimRegisterTest : public ::testing::Test {
 protected:
  void SetUp() override { view_.show(); }
  QString Boxes() const {  // bit 15 first, "." for an empty box
    QString s;
    for (int i = 15; i >= 0; --i) {
      const QString t = view_.txtBitVal(i)->text();
      s += t.isEmpty() ? QStringLiteral(".") : t;
    }
    return s;
  }

  RecordingSink sink_;
  ScopedSink scope_{&sink_};
  ctlTrimRegister view_;
};

TEST_F(TrimRegisterTest, FreshControlIsUnknownInTheDefaultColours) {
  EXPECT_EQ(view_.Value(), std::nullopt);
  EXPECT_EQ(Boxes(), QString(16, '.'));
  EXPECT_EQ(view_.BitUnknownColor(), kUnknown);
  EXPECT_EQ(view_.BitHiColor(), kHi);
  EXPECT_EQ(view_.BitLoColor(), kLo);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(BackgroundOf(view_.lblBit(i)), kUnknown);
    EXPECT_EQ(BackgroundOf(view_.lblBitLabel(i)), kUnknown);
    EXPECT_EQ(view_.lblBit(i)->text(), QStringLiteral("B%1").arg(i));
    EXPECT_EQ(view_.lblBitLabel(i)->text(), QString());
    EXPECT_EQ(view_.txtBitVal(i)->objectName(), QStringLiteral("txtBitVal%1").arg(i));
    EXPECT_EQ(view_.lblBitLabel(i)->objectName(), QStringLiteral("lblBitLabel%1").arg(i));
  }
  EXPECT_EQ(view_.BitWidth(), 600);
  EXPECT_EQ(view_.BitLabelHeight(), 240);
}

TEST_F(TrimRegisterTest, ValueShowsBitsAndPaintsBothLabelsOfAColumn) {
  for (int32_t v : {0x8001, -32767}) {  // the unsigned and the signed 16-bit form
    view_.SetValue(std::nullopt);
    view_.SetValue(v);
    EXPECT_EQ(Boxes(), QStringLiteral("1000000000000001"));
    EXPECT_EQ(view_.Value(), 32769);
    for (int i = 0; i < 16; ++i) {
      const int32_t expected = (i == 0 || i == 15) ? kHi : kLo;
      EXPECT_EQ(BackgroundOf(view_.lblBit(i)), expected) << i;
      EXPECT_EQ(BackgroundOf(view_.lblBitLabel(i)), expected) << i;
    }
  }
  view_.SetValue(std::nullopt);
  EXPECT_EQ(Boxes(), QString(16, '.'));
  EXPECT_EQ(BackgroundOf(view_.lblBitLabel(15)), kUnknown);
}

TEST_F(TrimRegisterTest, ChangeComesOncePerChangedBoxAndNotForTheSameValue) {
  QSignalSpy spy(&view_, &ctlTrimRegister::Change);
  view_.SetValue(0);
  EXPECT_EQ(spy.count(), 16);
  spy.clear();
  view_.SetValue(0x0003);
  EXPECT_EQ(spy.count(), 2);
  spy.clear();
  view_.SetValue(0x0003);
  EXPECT_EQ(spy.count(), 0);
}

TEST_F(TrimRegisterTest, TypingFollowsTheBitBoxRulesAndLeavesTheColours) {
  view_.SetValue(0);
  QLineEdit* box = view_.txtBitVal(4);
  QSignalSpy spy(&view_, &ctlTrimRegister::Change);

  box->setFocus();
  QTest::keyClick(box, Qt::Key_5);  // the first character is selected: the key replaces it
  EXPECT_EQ(box->text(), "1");
  EXPECT_EQ(view_.Value(), 0x0010);
  EXPECT_GE(spy.count(), 1);

  spy.clear();
  QTest::keyClick(box, Qt::Key_X);
  EXPECT_EQ(box->text(), "0");
  EXPECT_GE(spy.count(), 1);

  spy.clear();
  box->selectAll();
  QTest::keyClick(box, Qt::Key_Delete);
  EXPECT_EQ(box->text(), "");
  EXPECT_EQ(spy.count(), 1);
  EXPECT_EQ(view_.Value(), std::nullopt);  // one empty box makes the whole value unknown
  EXPECT_EQ(BackgroundOf(view_.lblBit(4)), kLo);  // colours change only with Value
}

TEST_F(TrimRegisterTest, ColoursAreStoredAndPaintedAtTheNextValue) {
  view_.SetValue(0xFFFF);
  view_.SetBitHiColor(0x123456);
  EXPECT_EQ(BackgroundOf(view_.lblBitLabel(3)), kHi);
  view_.SetValue(0xFFFE);
  view_.SetValue(0xFFFF);
  EXPECT_EQ(BackgroundOf(view_.lblBitLabel(3)), 0x123456);
  EXPECT_EQ(BackgroundOf(view_.lblBit(3)), 0x123456);
}

TEST_F(TrimRegisterTest, DescriptionsNeedSixteenPartsFirstOneForBit15) {
  view_.SetBitDescription(Names("N"));
  EXPECT_EQ(view_.lblBitLabel(15)->text(), "N 15");
  EXPECT_EQ(view_.lblBitLabel(0)->text(), "N 0");
  EXPECT_TRUE(sink_.messages.empty());

  const QString before = view_.BitDescription();
  EXPECT_EQ(before, Names("N"));
  struct Case {
    QString text;
    bool message;
  } cases[] = {
      {QString(14, '|'), true},          // 15 parts
      {QString(16, '|'), true},          // 17 parts
      {QStringLiteral("no separator"), false},
      {QString(), false},
  };
  for (const Case& c : cases) {
    sink_.messages.clear();
    view_.SetBitDescription(c.text);
    EXPECT_EQ(view_.BitDescription(), before) << c.text.toStdString();
    EXPECT_EQ(sink_.messages, c.message ? std::vector<std::string>{"Check bitdesc string"}
                                        : std::vector<std::string>{});
  }

  // Empty parts and blanks are kept exactly; reading and writing back changes nothing.
  const QString blanks = QStringLiteral("IAC  4|") + QString(14, '|') + QStringLiteral("TM vdac ");
  view_.SetBitDescription(blanks);
  EXPECT_EQ(view_.lblBitLabel(15)->text(), "IAC  4");
  EXPECT_EQ(view_.lblBitLabel(7)->text(), "");
  EXPECT_EQ(view_.lblBitLabel(0)->text(), "TM vdac ");
  view_.SetBitDescription(view_.BitDescription());
  EXPECT_EQ(view_.BitDescription(), blanks);
}

TEST_F(TrimRegisterTest, ColumnsAndHeightFollowBitWidthAndBitLabelHeight) {
  struct Case {
    int width, labelHeight;
    int bit0Left, controlWidth, stripTop, boxTop, controlHeight;
  } cases[] = {
      {600, 240, 9000, 9600, 240, 255, 540},
      {600, 600, 9000, 9600, 600, 615, 900},
      {600, 420, 9000, 9600, 420, 435, 720},
      {480, 600, 7200, 7680, 600, 615, 900},
  };
  for (const Case& c : cases) {
    view_.SetBitWidth(c.width);
    view_.SetBitLabelHeight(c.labelHeight);
    EXPECT_EQ(view_.BitWidth(), c.width);
    EXPECT_EQ(view_.BitLabelHeight(), c.labelHeight);
    EXPECT_EQ(view_.BoxTwips(15).left, 0);
    EXPECT_EQ(view_.BoxTwips(0).left, c.bit0Left);
    EXPECT_EQ(view_.WidthTwips(), c.controlWidth);
    EXPECT_EQ(view_.HeightTwips(), c.controlHeight);
    for (int i = 0; i < 16; ++i) {
      const int left = (15 - i) * c.width;
      EXPECT_EQ(view_.CellTwips(i), (ctlTrimRegister::TwipsRect{left, 0, c.width, c.labelHeight}));
      EXPECT_EQ(view_.StripTwips(i), (ctlTrimRegister::TwipsRect{left, c.stripTop, c.width, 15}));
      EXPECT_EQ(view_.BoxTwips(i), (ctlTrimRegister::TwipsRect{left, c.boxTop, c.width, 285}));
      // The widgets stand where the design puts them.
      EXPECT_EQ(view_.txtBitVal(i)->geometry(),
                Twips::ToRect(&view_, left, c.boxTop, c.width, 285));
    }
    EXPECT_EQ(view_.size(), QSize(Twips::ToPxX(&view_, c.controlWidth),
                                  Twips::ToPxY(&view_, c.controlHeight)));
  }
}

}  // namespace
