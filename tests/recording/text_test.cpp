#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "recording/ScopedTz.h"
#include "recording/Text.h"

namespace {

using namespace std::chrono;

TEST(TextTest, CsvFieldsAreQuotedOnlyWhenTheyMustBe) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "plain"},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\nlines", "\"two\nlines\""},
      {"", ""},
  };
  for (const auto& [field, expected] : cases) {
    std::string out;
    recording::AppendCsvField(out, field);
    EXPECT_EQ(out, expected);
  }
}

TEST(IsoTime, LocalTimeWithMillisecondsAndOffset) {
  ScopedTz scope;
  const auto t =
      sys_days{year{2024} / 3 / 31} + hours(0) + minutes(59) + seconds(59) + milliseconds(7);
  const std::pair<const char*, std::string> cases[] = {
      {"CET-1CEST,M3.5.0,M10.5.0/3", "2024-03-31T01:59:59.007+01:00"},
      {"IST-5:30", "2024-03-31T06:29:59.007+05:30"},
      {"EST5", "2024-03-30T19:59:59.007-05:00"},
  };
  for (const auto& [tz, expected] : cases) {
    ScopedTz::Set(tz);
    EXPECT_EQ(recording::IsoTimeFormatter().Format(time_point_cast<system_clock::duration>(t)),
              expected)
        << tz;
  }
}

TEST(IsoTime, OffsetFollowsASummerTimeChange) {
  ScopedTz scope("CET-1CEST,M3.5.0,M10.5.0/3");
  recording::IsoTimeFormatter f;  // keeps its second: it must notice the new one
  const auto before = sys_days{year{2024} / 3 / 31} + hours(0) + minutes(59) + seconds(59);
  EXPECT_EQ(f.Format(before), "2024-03-31T01:59:59.000+01:00");
  EXPECT_EQ(f.Format(before + seconds(1)), "2024-03-31T03:00:00.000+02:00");
}

}  // namespace
