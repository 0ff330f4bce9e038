#include <gtest/gtest.h>

#include <limits>

#include "adapter/ErrorCodes.h"

namespace {

// A sample of the maker's names: the ends of the list, its gaps and its shifted lock codes.
TEST(ErrorCodes, NamedCodesTranslateToTheirNames) {
  const std::pair<int32_t, const char*> cases[] = {
      {0, "Communication OK"},   {3, "VB_BAD_PEC"},
      {5, "VB_WRONG_NUM_BYTES"}, {34, "VB_USER_CANCELLED_OPERATION"},
      {100, "VB_UNKNOWN"},       {236, "VB_BCFG_DEV_MISMATCH"},
      {0x104, "VB_SMBC_LOCKED"}, {0x504, "VB_SMB_LOCKED"},
  };
  for (const auto& [code, name] : cases) EXPECT_EQ(TranslateErrorCode(code), name) << code;
  for (const ErrorName& e : ErrorTable()) EXPECT_EQ(TranslateErrorCode(e.code), e.name) << e.code;
  EXPECT_EQ(ErrorTable().size(), 53u);
}

TEST(ErrorCodes, EverythingElseIsUnknown) {
  for (int32_t code : {4, 15, 33, 35, 101, 230, 237, 0x004, 0x604, -1,
                       std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
    EXPECT_EQ(TranslateErrorCode(code), "Unknown Error") << code;
  }
}

}  // namespace
