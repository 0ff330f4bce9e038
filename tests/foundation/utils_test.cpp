#include "foundation/Utils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Makes sure no pump leaks from one test into the next.
struct PumpGuard {
  PumpGuard() { Utils::SetEventPump(nullptr); }
  ~PumpGuard() { Utils::SetEventPump(nullptr); }
};

TEST(WaitSeconds, ZeroNegativeAndNotANumberAreOnePassWithoutWaiting) {
  PumpGuard guard;
  std::vector<Clock::time_point> deadlines;
  Utils::SetEventPump([&](Clock::time_point d) { deadlines.push_back(d); });
  const auto before = Clock::now();
  for (float s : {0.0f, -1.0f, -0.0f, std::numeric_limits<float>::quiet_NaN(),
                  -std::numeric_limits<float>::infinity()}) {
    const size_t passes = deadlines.size();
    Utils::WaitSeconds(s);
    EXPECT_EQ(deadlines.size(), passes + 1) << s;
  }
  ASSERT_EQ(deadlines.size(), 5u);
  for (Clock::time_point d : deadlines)
    EXPECT_TRUE(d >= before && d <= Clock::now()) << "no waiting";
}

TEST(HexText, IsHexStringTrimsSpacesThenChecksAll) {
  const std::string nul(
      "1\0"
      "2",
      3);
  const std::tuple<std::string, bool, std::string> cases[] = {
      {" 1a2B ", true, "1a2B"}, {"", true, ""},        {"    ", true, ""},
      {"0x12", false, "0x12"},  {"1 2", false, "1 2"}, {"\t12", false, "\t12"},
      {"12-", false, "12-"},    {nul, false, nul}};
  for (const auto& [in, result, after] : cases) {
    std::string s = in;
    EXPECT_EQ(Utils::IsHexString(s), result) << '"' << in << '"';
    EXPECT_EQ(s, after) << '"' << in << '"';
  }
}

TEST(Words, UIntToIntKeepsTheLowSixteenBits) {
  const std::pair<int32_t, int16_t> cases[] = {{32767, 32767},  {32768, -32768},  {65535, -1},
                                               {65536, -32768}, {-32768, -32768}, {-32769, 32767}};
  for (auto [in, out] : cases) EXPECT_EQ(Utils::UIntToInt(in), out) << in;
}

TEST(Decimal, LeadingNumberTakesTheLeadingPart) {
  const std::pair<std::string, double> leading[] = {{"12a", 12}, {"abc", 0},      {"", 0},
                                                    {"  7x", 7}, {"1.5e2z", 150}, {".5.", 0.5},
                                                    {"-x", 0},   {"12 3", 12},    {"1e-", 1}};
  for (const auto& [text, value] : leading)
    EXPECT_EQ(Utils::LeadingNumber(text), value) << '"' << text << '"';
}

}  // namespace
