#include "foundation/TextFile.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<std::string> LinesOf(std::string_view text, bool* lastEnded = nullptr) {
  TextFile::Lines lines(text);
  std::vector<std::string> out;
  for (std::string_view l; lines.Next(l);) {
    out.emplace_back(l);
    EXPECT_EQ(lines.Number(), static_cast<int>(out.size()));
  }
  if (lastEnded) *lastEnded = lines.Ended();
  return out;
}

TEST(TextFileLines, EveryLineEndEndsALine) {
  using V = std::vector<std::string>;
  const std::pair<std::string, V> cases[] = {
      {"a\nb\n", V{"a", "b"}},         {"a\r\nb\r\n", V{"a", "b"}},   {"a\rb\r", V{"a", "b"}},
      {"a\n\r\nb", V{"a", "", "b"}},  {"a\r\rb\n\nc", V{"a", "", "b", "", "c"}},
      {"\xEF\xBB\xBF" "a\rb", V{"a", "b"}}, {"\xEF\xBB\xBF", V{}}, {"", V{}},
      {"a\xEF\xBB\xBF\n", V{"a\xEF\xBB\xBF"}},  // only at the start is it a mark
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(LinesOf(text), expected) << text;
}

TEST(TextFileLines, TheLastLineSaysWhetherItEnded) {
  const std::pair<std::string, bool> cases[] = {
      {"a\nb", false}, {"a\nb\n", true}, {"a\nb\r", true}, {"a\nb\r\n", true}};
  for (const auto& [text, ended] : cases) {
    bool lastEnded = !ended;
    LinesOf(text, &lastEnded);
    EXPECT_EQ(lastEnded, ended) << text;
  }
}

TEST(TextFileLines, ATextLineIsUtf8WithoutControlsButTab) {
  const std::pair<std::string, bool> cases[] = {
      {"a\tb", true},      {"temp\xC3\xA9rature", true}, {"\xF0\x9F\x94\x8B", true},
      {"a\x01", false},    {"a\x7F", false},              {"\xC3", false},
      {"\xC0\xAF", false}, {"\xED\xA0\x80", false},      {"\xF5\x80\x80\x80", false},
      {std::string("a\0b", 3), false}};
  for (const auto& [line, text] : cases) EXPECT_EQ(TextFile::IsTextLine(line), text) << line;
}

TEST(TextFileShown, ATokenShowsFortyCharactersAndNoInvisibleOnes) {
  const std::pair<std::string, std::string> cases[] = {
      {"AcPresent", "AcPresent"},
      {std::string(40, 'x'), std::string(40, 'x')},
      {std::string(41, 'x'), std::string(40, 'x') + "..."},
      {std::string(39, 'x') + "\xC3\xA9\xC3\xA9", std::string(39, 'x') + "\xC3\xA9..."},
      {"\xEF\xBB\xBF" "1", "\\u{FEFF}1"},   {"Ac\xE2\x80\x8BPresent", "Ac\\u{200B}Present"},
      {"a\xC2\xA0", "a\\u{00A0}"}, {"a\tb\x01", "a\\x09b\\x01"}, {"\xFF\xC3", "\\xFF\\xC3"},
  };
  for (const auto& [token, shown] : cases) EXPECT_EQ(TextFile::Shown(token), shown) << token;
  EXPECT_EQ(TextFile::Quote("Frob"), "'Frob'");
}

}  // namespace
