#include "adapter/ZentioDefaults.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

TEST(NoAnswerNote, NamesBothAddressForms) {
  const std::pair<int, const char*> cases[] = {
      {0x33, "no answer at 8-bit 0x33 (7-bit 0x19); i2cdetect's 0x33 is Korvo's 0x66"},
      {0xA0, "no answer at 8-bit 0xA0 (7-bit 0x50)"},  // no 7-bit address
  };
  for (const auto& [target, note] : cases) EXPECT_EQ(NoAnswerNote(target), note) << target;
}

}  // namespace
