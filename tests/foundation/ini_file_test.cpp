#include "foundation/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <limits>
#include <optional>
#include <string>
#include <tuple>

#include "support/TempDir.h"

using namespace std::string_literals;

namespace {

TEST(IniFile, PrivateProfileRules) {
  const std::optional<std::string> none;
  const std::tuple<std::string, std::string, std::string, std::optional<std::string>> cases[] = {
      // Names are case-insensitive; the first occurrence wins; a repeated section adds nothing.
      {"[Colors]\nBitHi=1\n", "COLORS", "bithi", "1"},
      {"[S]\nk=0\nK=1\n[s]\nk=5\nv=0\n", "S", "k", "0"},
      {"[S]\nk=0\n[s]\nv=0\n", "S", "v", none},
      // Blanks around names and values are trimmed.
      {"  [  Spin Custom 1 ]  \n \t Desc \t=\t my  preset \t\n", " spin custom 1 ", "desc",
       "my  preset"},
      // Only a whole line starting with ';' is a comment.
      {"[C]\n;BitLo=2\n   ; BitLo=3\n", "C", "BitLo", none},
      {"[C]\nBitHi=5 ; not a comment\n", "C", "BitHi", "5 ; not a comment"},
      // Surrounding double quotes go, nothing else does.
      {"[S]\nk=  \" padded \"  \n", "S", "k", " padded "},
      {"[S]\nk=a\"b\"\n", "S", "k", "a\"b\""},
      // Line shapes: the first '=' splits; keys before any header belong to no section.
      {"[A]\neq=b=c\n", "A", "eq", "b=c"},
      {"orphan=1\n", "", "orphan", none},
      {"\xEF\xBB\xBF[Colors]\nBitHi=7\n", "Colors", "BitHi", "7"},
      // Lines end with LF, CR LF or a lone CR, the last one perhaps with none.
      {"[T]\rA=18\r[S]\rC=0\r", "S", "C", "0"},
      {"[S]\r\nk=v", "S", "k", "v"},
      // Binary bytes and garbage break nothing.
      {"[Colors]\nBitHi=12\0"
       "34\n\xFF\xFE\x01\x02garbage\0\0\n[[[]]]==\n[Target]\nAddr\0ess=9\nAddress=18\n\0"s,
       "Target", "Address", "18"},
  };
  for (const auto& [text, section, key, value] : cases)
    EXPECT_EQ(IniFile::Parse(text).Value(section, key), value) << text;
}

// As the platform's private-profile reader: numbers wrap modulo 2^32.
TEST(IniIntFromText, NumbersWrapModulo2To32) {
  const std::pair<std::string, int32_t> cases[] = {
      {"4286611584", static_cast<int32_t>(0xFF808080u)},  // the colour 0xFF808080
      {"2147483648", std::numeric_limits<int32_t>::min()},
      {"-2147483649", std::numeric_limits<int32_t>::max()},
      {"99999999999999999999999", static_cast<int32_t>(0xF67FFFFFu)}};
  for (const auto& [text, value] : cases)
    EXPECT_EQ(IniIntFromText(text), value) << '"' << text << '"';
}

TEST(PrivateProfile, DefaultOnlyWhenFileSectionOrKeyIsAbsent) {
  TempDir dir;
  const std::string path = dir.Write("k.ini", "[Settings]\nEmpty=\nText=abc\nNum=-4\n");
  const std::string fifo = dir.Path() + "/fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Absent (default 9 or "d"): the key, the section, the file; a directory or a pipe is no file
  // (and must not hang).
  // clang-format off
  const std::tuple<const char*, const char*, std::string, int, const char*> cases[] = {
      {"Settings", "Num", path, -4, "-4"}, {"Settings", "Empty", path, 0, ""}, {"Settings", "Text", path, 0, "abc"},
      {"Settings", "Missing", path, 9, "d"}, {"Nowhere", "Num", path, 9, "d"},
      {"Settings", "Num", dir.Path() + "/absent.ini", 9, "d"}, {"Settings", "Num", dir.Path(), 9, "d"},
      {"Settings", "Num", fifo, 9, "d"}};
  // clang-format on
  for (const auto& [section, key, file, number, text] : cases) {
    EXPECT_EQ(GetPrivateProfileInt(section, key, 9, file), number) << section << key << file;
    EXPECT_EQ(GetPrivateProfileString(section, key, "d", file), text) << section << key << file;
  }
}

TEST(PrivateProfile, StringReadKeeps255BytesOfWholeCharacters) {
  TempDir dir;
  const std::string path = dir.Write(
      "s.ini", "[S]\nlong=" + std::string(300, 'v') + "\nexact=" + std::string(255, 'e') +
                   // 254 ASCII bytes, then a two-byte character that would straddle the limit.
                   "\nsplit=" + std::string(254, 'a') + "\xC3\xA4tail" + "\nnul=ab\0cd\n"s);
  EXPECT_EQ(GetPrivateProfileString("S", "long", "", path), std::string(255, 'v'));
  EXPECT_EQ(GetPrivateProfileString("S", "exact", "", path), std::string(255, 'e'));
  EXPECT_EQ(GetPrivateProfileString("S", "split", "", path), std::string(254, 'a'));
  EXPECT_EQ(GetPrivateProfileString("S", "nul", "", path), "ab");
  EXPECT_EQ(GetPrivateProfileString("S", "none", std::string(400, 'd'), path),
            std::string(255, 'd'));
}

}  // namespace
