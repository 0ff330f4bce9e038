#include <gtest/gtest.h>

#include <QLineEdit>

#include "support/RecordingSink.h"
#include "views/ctlTrimRegister.h"

// Readable QStrings in failure output.
static void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

class TrimRegisterTest : public ::testing::Test {
 protected:
  RecordingSink sink_;
  ScopedSink scope_{&sink_};
  ctlTrimRegister view_;
};

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
