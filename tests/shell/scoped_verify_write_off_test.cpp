#include "shell/ScopedVerifyWriteOff.h"

#include <gtest/gtest.h>

namespace {

class ScopedVerifyWriteOffTest : public ::testing::TestWithParam<bool> {
 protected:
  ~ScopedVerifyWriteOffTest() override { modGlobals::VerifyWrite = true; }
};

TEST_P(ScopedVerifyWriteOffTest, IsOffInsideAndAsBeforeAfter) {
  modGlobals::VerifyWrite = GetParam();
  {
    ScopedVerifyWriteOff off;
    EXPECT_FALSE(modGlobals::VerifyWrite);
    EXPECT_EQ(off.WasOn(), GetParam());
  }
  EXPECT_EQ(modGlobals::VerifyWrite, GetParam());
}

INSTANTIATE_TEST_SUITE_P(VerifyWrite, ScopedVerifyWriteOffTest, ::testing::Bool());

}  // namespace
