#include "shell/base/Utils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Makes sure no pump leaks from one test into the next.
struct PumpGuard {
  PumpGuard() { Utils::SetEventPump(nullptr); }
  ~PumpGuard() { Utils::SetEventPump(nullptr); }
};

TEST(WaitSeconds, PumpRunsWithOneDeadlineUntilItPasses) {
  PumpGuard guard;
  std::vector<Clock::time_point> deadlines, calledAt, returnedAt;
  // A pump that blocks for at most 10 ms per pass, as an event loop with a timeout would.
  Utils::SetEventPump([&](Clock::time_point deadline) {
    calledAt.push_back(Clock::now());
    deadlines.push_back(deadline);
    std::this_thread::sleep_until(
        std::min(deadline, calledAt.back() + std::chrono::milliseconds(10)));
    returnedAt.push_back(Clock::now());
  });
  const auto before = Clock::now();
  Utils::WaitSeconds(0.05f);
  const auto after = Clock::now();
  ASSERT_FALSE(deadlines.empty());
  EXPECT_LE(deadlines.front(), calledAt.front()) << "the first pass must not wait";
  EXPECT_GE(after - before, std::chrono::milliseconds(50)) << "returned before the deadline";
  // Each later pass: the wait's own deadline, and only while the pass before left it ahead.
  for (size_t i = 1; i < deadlines.size(); ++i) {
    EXPECT_GE(deadlines[i] - before, std::chrono::milliseconds(50)) << "pass " << i;
    EXPECT_EQ(deadlines[i], deadlines[1]) << "pass " << i << " got another deadline";
    EXPECT_LT(returnedAt[i - 1], deadlines[i]) << "pumped although the deadline had passed";
  }
}

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

TEST(LenientHexValue, ForgivingRead) {
  // clang-format off
  const std::tuple<std::string, uint32_t, int> cases[] = {
      {"", 0, 0},       {" 1 f ", 0x1F, 2}, {"\t1\n2", 0x12, 2}, {"00FF", 0xFF, 2}, {"0000", 0, 0}, {"12G4", 0x12, 2},
      {"0x12", 0, 0}, {"\r12", 0, 0}, {"10000", 0x10000, 5}, {"123456789", 0x23456789, 9}, {"000000001", 1, 1}};
  // clang-format on
  for (const auto& [text, value, significant] : cases) {
    int digits = -1;
    EXPECT_EQ(Utils::LenientHexValue(text, &digits), value) << '"' << text << '"';
    EXPECT_EQ(digits, significant) << '"' << text << '"';
  }
}

TEST(Decimal, ParseDecimalTakesOnlyAWholeNumber) {
  // clang-format off
  const std::pair<std::string, double> good[] = {
      {" 12 ", 12}, {"\t7\t", 7}, {"+5", 5}, {".5", 0.5}, {"5.", 5}, {"-.25", -0.25}, {"1E-2", 0.01}, {"2.5e+1", 25}};
  // clang-format on
  for (const auto& [text, value] : good)
    EXPECT_EQ(Utils::ParseDecimal(text), value) << '"' << text << '"';
  const std::string bad[] = {"",    " ",    ".",   "-.",  "12a",  "1 2",
                             "1e+", "0x10", "inf", "nan", "12\n", std::string("1\0", 2)};
  for (const std::string& text : bad) EXPECT_FALSE(Utils::ParseDecimal(text)) << '"' << text << '"';
  EXPECT_EQ(Utils::ParseDecimal("1e400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(Utils::ParseDecimal("1e-400"), 0.0);
}

TEST(Decimal, LeadingNumberTakesTheLeadingPart) {
  const std::pair<std::string, double> leading[] = {{"12a", 12}, {"abc", 0},      {"", 0},
                                                    {"  7x", 7}, {"1.5e2z", 150}, {".5.", 0.5},
                                                    {"-x", 0},   {"12 3", 12},    {"1e-", 1}};
  for (const auto& [text, value] : leading)
    EXPECT_EQ(Utils::LeadingNumber(text), value) << '"' << text << '"';
}

TEST(Decimal, RoundsHalfToEven) {
  const std::pair<double, double> rounded[] = {
      {0.5, 0},   {1.5, 2},   {2.5, 2},         {-1.5, -2},
      {-2.5, -2}, {-2.6, -3}, {65535.5, 65536}, {0.49999999999999994, 0}};
  for (auto [in, out] : rounded) EXPECT_EQ(Utils::RoundHalfEven(in), out) << in;
  EXPECT_TRUE(std::isinf(Utils::RoundHalfEven(std::numeric_limits<double>::infinity())));
}

TEST(ParseInteger, DecimalOrPrefixedHexInAnInclusiveRange) {
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  // clang-format off
  const std::pair<std::string, int64_t> good[] = {
      {"16800", 16800}, {"0X3f", 0x3F}, {"+7", 7}, {"-0x10", -16}, {"007", 7},
      {"9223372036854775807", kMax}, {"-9223372036854775808", kMin}, {"0x7FFFFFFFFFFFFFFF", kMax}};
  // clang-format on
  for (const auto& [text, value] : good)
    EXPECT_EQ(Utils::ParseInteger(text, kMin, kMax), value) << text;
  const std::string bad[] = {"",
                             "0x",
                             "&h15",
                             " 5",
                             "1.0",
                             "0x-5",
                             "9223372036854775808",
                             "-9223372036854775809",
                             "0x10000000000000000",
                             std::string("5\0", 2)};
  for (const std::string& text : bad)
    EXPECT_FALSE(Utils::ParseInteger(text, kMin, kMax)) << '"' << text << '"';
  EXPECT_EQ(Utils::ParseInteger("0xFF", 0, 255), 255);
  EXPECT_FALSE(Utils::ParseInteger("0x100", 0, 255) || Utils::ParseInteger("-1", 0, 255));
}

}  // namespace
