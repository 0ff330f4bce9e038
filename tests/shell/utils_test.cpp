#include "shell/Utils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Makes sure no pump leaks from one test into the next.
class PumpGuard {
 public:
  PumpGuard() { Utils::SetEventPump(nullptr); }
  ~PumpGuard() { Utils::SetEventPump(nullptr); }
};

TEST(WaitSeconds, WithoutPumpWaitsTheFullTime) {
  PumpGuard guard;
  const auto before = Clock::now();
  Utils::WaitSeconds(0.05f);
  const auto elapsed = Clock::now() - before;
  EXPECT_GE(elapsed, std::chrono::milliseconds(50));
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(WaitSeconds, FirstPassDoesNotBlockThenPumpsUntilTheDeadline) {
  PumpGuard guard;
  std::vector<Clock::time_point> deadlines;
  std::vector<Clock::time_point> called_at;
  // A pump that blocks for at most 10 ms per pass, as an event loop with a timeout would.
  Utils::SetEventPump([&](Clock::time_point deadline) {
    const auto now = Clock::now();
    called_at.push_back(now);
    deadlines.push_back(deadline);
    std::this_thread::sleep_until(std::min(deadline, now + std::chrono::milliseconds(10)));
  });
  const auto before = Clock::now();
  Utils::WaitSeconds(0.05f);
  const auto after = Clock::now();

  ASSERT_GE(deadlines.size(), 2u);
  EXPECT_LE(deadlines.front(), called_at.front()) << "the first pass must not wait";
  const auto end = deadlines.back();
  EXPECT_GE(end - before, std::chrono::milliseconds(50));
  EXPECT_GE(after, end) << "returned before the deadline";
  for (size_t i = 1; i < deadlines.size(); ++i) {
    EXPECT_EQ(deadlines[i], end) << "pass " << i << " got another deadline";
    EXPECT_LT(called_at[i], end) << "pumped although the deadline had passed";
  }
  EXPECT_LT(after - before, std::chrono::seconds(5));
}

TEST(WaitSeconds, PumpThatReturnsAtOnceIsCalledUntilTheTimeIsUp) {
  PumpGuard guard;
  int calls = 0;
  Utils::SetEventPump([&](Clock::time_point) { ++calls; });
  const auto before = Clock::now();
  Utils::WaitSeconds(0.02f);
  EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(20));
  EXPECT_GT(calls, 1);
}

TEST(WaitSeconds, ZeroNegativeAndNotANumberAreOnePass) {
  PumpGuard guard;
  for (float s : {0.0f, -1.0f, -0.0f, std::numeric_limits<float>::quiet_NaN(),
                  -std::numeric_limits<float>::infinity()}) {
    int calls = 0;
    Clock::time_point deadline{};
    Utils::SetEventPump([&](Clock::time_point d) {
      ++calls;
      deadline = d;
    });
    const auto before = Clock::now();
    Utils::WaitSeconds(s);
    EXPECT_EQ(calls, 1) << s;
    EXPECT_LE(deadline, Clock::now()) << s;
    EXPECT_GE(deadline, before) << s;
  }
}

TEST(WaitSeconds, PumpMayReplaceItselfInsideTheWait) {
  PumpGuard guard;
  int first = 0;
  int second = 0;
  Utils::SetEventPump([&](Clock::time_point) {
    ++first;
    Utils::SetEventPump([&](Clock::time_point) { ++second; });
  });
  Utils::WaitSeconds(0.01f);
  EXPECT_EQ(first, 1);
  EXPECT_GE(second, 1);
}

TEST(WaitSeconds, ArgumentIsLeftUnchanged) {
  PumpGuard guard;
  const float s = 0.001f;
  Utils::WaitSeconds(s);
  EXPECT_EQ(s, 0.001f);
}

TEST(PumpEventsOnce, OnePassWithDeadlineNowOrNothing) {
  PumpGuard guard;
  Utils::PumpEventsOnce();  // no pump: nothing happens
  int calls = 0;
  Clock::time_point deadline{};
  Utils::SetEventPump([&](Clock::time_point d) {
    ++calls;
    deadline = d;
  });
  Utils::PumpEventsOnce();
  EXPECT_EQ(calls, 1);
  EXPECT_LE(deadline, Clock::now());
}

TEST(IsHexDigit, DigitsAndLettersOfBothCases) {
  for (char c = 0; c < 127; ++c) {
    const bool expected = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    EXPECT_EQ(Utils::IsHexDigit(std::string(1, c)), expected) << int(c);
  }
  EXPECT_FALSE(Utils::IsHexDigit(""));
  EXPECT_TRUE(Utils::IsHexDigit("Fx")) << "only the first character counts";
  EXPECT_FALSE(Utils::IsHexDigit("\xC3\xA4"));
}

TEST(IsHexString, TrimsInPlaceAndChecksEveryCharacter) {
  struct Case {
    std::string in;
    bool result;
    std::string after;
  };
  const Case cases[] = {
      {" 1a2B ", true, "1a2B"},
      {"12G4", false, "12G4"},
      {"", true, ""},
      {"    ", true, ""},
      {"0x12", false, "0x12"},
      {"&h12", false, "&h12"},
      {"  FFFF", true, "FFFF"},
      {"1 2", false, "1 2"},
      {"\t12", false, "\t12"},
      {"12-", false, "12-"},
      {std::string("1\0" "2", 3), false, std::string("1\0" "2", 3)},
  };
  for (const Case& c : cases) {
    std::string s = c.in;
    EXPECT_EQ(Utils::IsHexString(s), c.result) << '"' << c.in << '"';
    EXPECT_EQ(s, c.after) << '"' << c.in << '"';
  }
}

TEST(IsBitSet, SignedAndUnsignedRegisterValues) {
  EXPECT_TRUE(Utils::IsBitSet(-32768, 15));
  EXPECT_FALSE(Utils::IsBitSet(-32768, 0));
  EXPECT_TRUE(Utils::IsBitSet(32768, 15));
  for (int16_t n = 0; n < 16; ++n) {
    EXPECT_TRUE(Utils::IsBitSet(65535, n)) << n;
    EXPECT_TRUE(Utils::IsBitSet(-1, n)) << n;
    EXPECT_FALSE(Utils::IsBitSet(0, n)) << n;
    EXPECT_EQ(Utils::IsBitSet(0x5A5A, n), ((0x5A5A >> n) & 1) != 0) << n;
  }
  EXPECT_FALSE(Utils::IsBitSet(65535, 16));
  EXPECT_TRUE(Utils::IsBitSet(-1, 31));
  EXPECT_FALSE(Utils::IsBitSet(-1, -1));
  EXPECT_FALSE(Utils::IsBitSet(-1, 32));
}

TEST(SetBit, SetsOrClearsOneBit) {
  EXPECT_EQ(Utils::SetBit(0, 15, 1), 32768);
  EXPECT_EQ(Utils::SetBit(32768, 15, 0), 0);
  EXPECT_EQ(Utils::SetBit(0, 3, 5), 8) << "any state but 0 sets";
  EXPECT_EQ(Utils::SetBit(0, 3, -1), 8);
  EXPECT_EQ(Utils::SetBit(8, 3, 1), 8);
  EXPECT_EQ(Utils::SetBit(0xFFFF, 0, 0), 0xFFFE);
  EXPECT_EQ(Utils::SetBit(-1, 15, 0), -32769);
  EXPECT_EQ(Utils::SetBit(0, 31, 1), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(Utils::SetBit(1234, -1, 1), 1234);
  EXPECT_EQ(Utils::SetBit(1234, 32, 1), 1234);
  int32_t v = 0;
  for (int16_t n = 0; n < 16; ++n) v = Utils::SetBit(v, n, 1);
  EXPECT_EQ(v, 65535);
}

TEST(PadLeftZeros, FillsButNeverCuts) {
  EXPECT_EQ(Utils::PadLeftZeros("3F", 4), "003F");
  EXPECT_EQ(Utils::PadLeftZeros("12345", 4), "12345");
  EXPECT_EQ(Utils::PadLeftZeros("ABCD", 4), "ABCD");
  EXPECT_EQ(Utils::PadLeftZeros("", 2), "00");
  EXPECT_EQ(Utils::PadLeftZeros("A", 0), "A");
  EXPECT_EQ(Utils::PadLeftZeros("A", -3), "A");
}

TEST(IntToBytes, SplitsTwosComplement) {
  struct Case {
    int16_t value;
    uint8_t high, low;
  };
  const Case cases[] = {{-1, 0xFF, 0xFF}, {-32768, 0x80, 0x00}, {0x1234, 0x12, 0x34},
                        {0, 0, 0},        {32767, 0x7F, 0xFF},  {255, 0x00, 0xFF}};
  for (const Case& c : cases) {
    uint8_t high = 0xAA, low = 0xAA;
    Utils::IntToBytes(c.value, high, low);
    EXPECT_EQ(high, c.high) << c.value;
    EXPECT_EQ(low, c.low) << c.value;
  }
}

TEST(BytesToInt, JoinsAndRoundTripsEveryValue) {
  int16_t r = 0;
  Utils::BytesToInt(0xFF, 0xFF, r);
  EXPECT_EQ(r, -1);
  Utils::BytesToInt(0x80, 0x00, r);
  EXPECT_EQ(r, -32768);
  Utils::BytesToInt(0x12, 0x34, r);
  EXPECT_EQ(r, 0x1234);
  for (int v = -32768; v <= 32767; ++v) {
    uint8_t high = 0, low = 0;
    Utils::IntToBytes(static_cast<int16_t>(v), high, low);
    Utils::BytesToInt(high, low, r);
    ASSERT_EQ(r, v);
  }
}

TEST(UIntToInt, UnsignedToSigned16) {
  const std::pair<int32_t, int16_t> cases[] = {
      {0, 0},           {32767, 32767}, {32768, -32768}, {65535, -1},     {65536, -32768},
      {0x18005, -32763}, {-1, -1},       {-32768, -32768}, {-32769, 32767}, {40000, -25536}};
  for (auto [in, out] : cases) EXPECT_EQ(Utils::UIntToInt(in), out) << in;
}

TEST(Hex, UpperCaseWithoutPrefixOrLeadingZeros) {
  EXPECT_EQ(Utils::Hex16(0), "0");
  EXPECT_EQ(Utils::Hex16(103), "67");
  EXPECT_EQ(Utils::Hex16(18), "12");
  EXPECT_EQ(Utils::Hex16(-1), "FFFF");
  EXPECT_EQ(Utils::Hex16(-32768), "8000");
  EXPECT_EQ(Utils::Hex16(0x0abc), "ABC");
  EXPECT_EQ(Utils::Hex32(-1), "FFFFFFFF");
  EXPECT_EQ(Utils::Hex32(0x7F80FF), "7F80FF");
  EXPECT_EQ(Utils::Hex32(std::numeric_limits<int32_t>::min()), "80000000");
  EXPECT_EQ(Utils::Hex(0), "0");
  EXPECT_EQ(Utils::Hex(0xDEADBEEF), "DEADBEEF");
  EXPECT_EQ(Utils::Hex(0x10), "10");
}

TEST(LenientHexValue, ForgivingRead) {
  struct Case {
    std::string text;
    uint32_t value;
    int digits;
  };
  const Case cases[] = {
      {"", 0, 0},
      {"1F", 0x1F, 2},
      {"1f", 0x1F, 2},
      {" 1 f ", 0x1F, 2},
      {"\t1\n2", 0x12, 2},
      {"00FF", 0xFF, 2},
      {"0000", 0, 0},
      {"12G4", 0x12, 2},
      {"G12", 0, 0},
      {"0x12", 0, 0},
      {"&h12", 0, 0},
      {"\r12", 0, 0},
      {"FFFF", 0xFFFF, 4},
      {"10000", 0x10000, 5},
      {"123456789", 0x23456789, 9},
      {"000000001", 1, 1},
  };
  for (const Case& c : cases) {
    int digits = -1;
    EXPECT_EQ(Utils::LenientHexValue(c.text, &digits), c.value) << '"' << c.text << '"';
    EXPECT_EQ(digits, c.digits) << '"' << c.text << '"';
  }
  EXPECT_EQ(Utils::LenientHexValue("ABC"), 0xABCu);
}

TEST(ParseDecimal, AcceptsOnlyWholeDecimalNumbers) {
  const std::pair<std::string, double> good[] = {
      {"12", 12},      {" 12 ", 12},   {"\t7\t", 7},  {"-5", -5},    {"+5", 5},
      {"1.5", 1.5},    {".5", 0.5},    {"5.", 5},     {"-.25", -0.25}, {"1e3", 1000},
      {"1E-2", 0.01},  {"2.5e+1", 25}, {"0", 0},      {"00012", 12}, {"65535", 65535},
  };
  for (const auto& [text, value] : good) {
    auto v = Utils::ParseDecimal(text);
    ASSERT_TRUE(v.has_value()) << '"' << text << '"';
    EXPECT_DOUBLE_EQ(*v, value) << '"' << text << '"';
  }
  const std::string bad[] = {"",    " ",     "-",    "+",    ".",     "-.",   "12a",  "a12",
                             "1 2", "1e",    "1e+",  "e5",   "0x10",  "--5",  "+-5",  "1.2.3",
                             "inf", "nan",   "1,000", "12\n", std::string("1\0", 2)};
  for (const std::string& text : bad) EXPECT_FALSE(Utils::ParseDecimal(text).has_value()) << '"' << text << '"';
  auto huge = Utils::ParseDecimal("1e400");
  ASSERT_TRUE(huge.has_value());
  EXPECT_TRUE(std::isinf(*huge) && *huge > 0);
  auto tiny = Utils::ParseDecimal("1e-400");
  ASSERT_TRUE(tiny.has_value());
  EXPECT_EQ(*tiny, 0.0);
}

TEST(LeadingNumber, LeadingNumericPartOrZero) {
  const std::pair<std::string, double> cases[] = {
      {"12a", 12},  {"12ab", 12}, {"abc", 0},    {"-", 0},      {"", 0},       {"-5", -5},
      {"  7x", 7},  {"1.5e2z", 150}, {".5.", 0.5}, {"1e", 1},   {"+", 0},      {"-x", 0},
      {"99999", 99999}, {"12 3", 12}, {"1e-", 1},
  };
  for (const auto& [text, value] : cases) EXPECT_DOUBLE_EQ(Utils::LeadingNumber(text), value) << '"' << text << '"';
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  const std::pair<double, double> cases[] = {
      {0.5, 0},   {1.5, 2},   {2.5, 2},    {3.5, 4},   {-0.5, 0},      {-1.5, -2},
      {-2.5, -2}, {2.4, 2},   {2.6, 3},    {-2.6, -3}, {65535.5, 65536}, {16800, 16800},
      {0.49999999999999994, 0},
  };
  for (auto [in, out] : cases) EXPECT_EQ(Utils::RoundHalfEven(in), out) << in;
  EXPECT_TRUE(std::isinf(Utils::RoundHalfEven(std::numeric_limits<double>::infinity())));
}

TEST(ParseInteger, DecimalOrPrefixedHexInRange) {
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  const std::pair<std::string, int64_t> good[] = {
      {"0", 0},          {"16800", 16800}, {"0x15", 0x15},   {"0X3f", 0x3F},  {"0xFFFF", 0xFFFF},
      {"-1", -1},        {"+7", 7},        {"-0x10", -16},   {"007", 7},      {"0x0", 0},
      {"9223372036854775807", kMax},       {"-9223372036854775808", kMin},
      {"0x7FFFFFFFFFFFFFFF", kMax},
  };
  for (const auto& [text, value] : good) {
    auto v = Utils::ParseInteger(text, kMin, kMax);
    ASSERT_TRUE(v.has_value()) << '"' << text << '"';
    EXPECT_EQ(*v, value) << '"' << text << '"';
  }
  const std::string bad[] = {"",     "-",     "+",     "0x",    "x15",   "15h",   "&h15",  " 5",
                             "5 ",   "5x",    "1.0",   "1e3",   "--5",   "+-5",   "-+5",   "0x-5",
                             "0x+5", "0xG",   "abc",   "9223372036854775808",   "-9223372036854775809",
                             "0x10000000000000000",    "99999999999999999999999", std::string("5\0", 2)};
  for (const std::string& text : bad) EXPECT_FALSE(Utils::ParseInteger(text, kMin, kMax).has_value()) << '"' << text << '"';
}

TEST(ParseInteger, RangeIsInclusive) {
  EXPECT_EQ(Utils::ParseInteger("0", 0, 255), 0);
  EXPECT_EQ(Utils::ParseInteger("255", 0, 255), 255);
  EXPECT_EQ(Utils::ParseInteger("0xFF", 0, 255), 255);
  EXPECT_FALSE(Utils::ParseInteger("256", 0, 255).has_value());
  EXPECT_FALSE(Utils::ParseInteger("0x100", 0, 255).has_value());
  EXPECT_FALSE(Utils::ParseInteger("-1", 0, 255).has_value());
  EXPECT_EQ(Utils::ParseInteger("-32768", -32768, 65535), -32768);
  EXPECT_FALSE(Utils::ParseInteger("65536", -32768, 65535).has_value());
}

}  // namespace
