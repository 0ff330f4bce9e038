#include "shell/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <limits>
#include <string>

#include "shell_temp_dir.h"

using namespace std::string_literals;

namespace {

std::optional<std::string> V(const std::string& text, const char* section, const char* key) {
  return IniFile::Parse(text).Value(section, key);
}

TEST(IniFile, NamesAreCaseInsensitive) {
  const IniFile ini = IniFile::Parse("[Colors]\nBitHi=1\n");
  EXPECT_EQ(ini.Value("colors", "bithi"), "1");
  EXPECT_EQ(ini.Value("COLORS", "BITHI"), "1");
  EXPECT_TRUE(ini.HasSection("cOlOrS"));
  EXPECT_FALSE(ini.HasSection("Color"));
}

TEST(IniFile, FirstOccurrenceWins) {
  const IniFile ini = IniFile::Parse(
      "[Settings]\nCommMode=0\ncommmode=1\n"
      "[settings]\nCommMode=5\nVerifyWrite=0\n");
  EXPECT_EQ(ini.Value("Settings", "CommMode"), "0");
  // A repeated section is never looked at, as with the private-profile functions.
  EXPECT_FALSE(ini.Value("Settings", "VerifyWrite").has_value());
  EXPECT_EQ(ini.Keys("SETTINGS"), (std::vector<std::string>{"CommMode"}));
  EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"Settings"}));
}

TEST(IniFile, TrimsBlanksAroundNamesAndValues) {
  const IniFile ini = IniFile::Parse("  [  Spin Custom 1 ]  \n \t Desc \t=\t my  preset \t\n");
  EXPECT_EQ(ini.Value("Spin Custom 1", "Desc"), "my  preset");
  EXPECT_EQ(ini.Value(" spin custom 1 ", " desc "), "my  preset");
}

TEST(IniFile, CommentsAreWholeLinesStartingWithSemicolon) {
  const IniFile ini = IniFile::Parse(
      "; a comment\n[Colors]\n;BitHi=1\n   ; BitLo=2\n#BitUnknown=3\nBitHi=5 ; not a comment\n");
  EXPECT_EQ(ini.Value("Colors", "BitHi"), "5 ; not a comment");
  EXPECT_FALSE(ini.Value("Colors", "BitLo").has_value());
  EXPECT_EQ(ini.Value("Colors", "#BitUnknown"), "3") << "'#' starts no comment";
  EXPECT_EQ(IniIntFromText(*ini.Value("Colors", "BitHi")), 5);
}

TEST(IniFile, SurroundingDoubleQuotesAreRemoved) {
  EXPECT_EQ(V("[S]\nk=\"hello world\"\n", "S", "k"), "hello world");
  EXPECT_EQ(V("[S]\nk=  \" padded \"  \n", "S", "k"), " padded ");
  EXPECT_EQ(V("[S]\nk=\"\"\n", "S", "k"), "");
  EXPECT_EQ(V("[S]\nk=\"\n", "S", "k"), "\"");
  EXPECT_EQ(V("[S]\nk=\"open\n", "S", "k"), "\"open");
  EXPECT_EQ(V("[S]\nk=a\"b\"\n", "S", "k"), "a\"b\"");
  EXPECT_EQ(V("[S]\nk='single'\n", "S", "k"), "'single'");
}

TEST(IniFile, LineShapes) {
  const IniFile ini = IniFile::Parse(
      "orphan=1\n"           // before any section: belongs to none
      "[A]\n"
      "novalue\n"            // no '=': not a key
      "=5\n"                 // no name
      "eq=b=c\n"             // the first '=' splits
      "empty=\n"
      "[B\n"                 // unclosed header still names a section
      "x=1\n"
      "[C] trailing\n"
      "y=2\n"
      "[]\n"
      "z=3\n");
  EXPECT_FALSE(ini.Value("", "orphan").has_value());
  EXPECT_FALSE(ini.Value("A", "novalue").has_value());
  EXPECT_EQ(ini.Value("A", "eq"), "b=c");
  EXPECT_EQ(ini.Value("A", "empty"), "");
  EXPECT_EQ(ini.Keys("A"), (std::vector<std::string>{"eq", "empty"}));
  EXPECT_EQ(ini.Value("B", "x"), "1");
  EXPECT_EQ(ini.Value("C", "y"), "2");
  EXPECT_EQ(ini.Value("", "z"), "3");
  EXPECT_EQ(ini.Sections(), (std::vector<std::string>{"A", "B", "C", ""}));
}

TEST(IniFile, LineEndsLfCrLfAndLoneCr) {
  for (const char* nl : {"\n", "\r\n", "\r"}) {
    const std::string text = std::string("[Target]") + nl + "Address=18" + nl + "[Settings]" + nl +
                             "CommMode=0" + nl;
    const IniFile ini = IniFile::Parse(text);
    EXPECT_EQ(ini.Value("Target", "Address"), "18") << int(nl[0]);
    EXPECT_EQ(ini.Value("Settings", "CommMode"), "0") << int(nl[0]);
  }
  EXPECT_EQ(V("[S]\r\nk=v", "S", "k"), "v") << "last line without a line end";
}

TEST(IniFile, Utf8ByteOrderMarkIsSkipped) {
  EXPECT_EQ(V("\xEF\xBB\xBF[Colors]\nBitHi=7\n", "Colors", "BitHi"), "7");
}

TEST(IniFile, BinaryBytesAndGarbageBreakNothing) {
  std::string text = "[Colors]\nBitHi=12";
  text += '\0';
  text += "34\n\xFF\xFE\x01\x02garbage\0\0\n[[[]]]==\n[Target]\nAddr"s;
  text += '\0';
  text += "ess=9\nAddress=18\n";
  text.push_back('\0');
  const IniFile ini = IniFile::Parse(text);
  ASSERT_TRUE(ini.Value("Colors", "BitHi").has_value());
  EXPECT_EQ(IniIntFromText(*ini.Value("Colors", "BitHi")), 12);
  EXPECT_EQ(ini.Value("Target", "Address"), "18");

  std::string noise;
  for (int i = 0; i < 20000; ++i) noise.push_back(static_cast<char>((i * 131 + 7) % 256));
  const IniFile junk = IniFile::Parse(noise);
  (void)junk.Value("Colors", "BitHi");
  (void)junk.Keys("x");
}

TEST(IniFile, VeryLongLines) {
  const std::string longValue(1 << 20, 'x');
  const std::string text = "[S]\nlong=" + longValue + "\n" + std::string(1 << 20, ';') + "\nk=1\n";
  const IniFile ini = IniFile::Parse(text);
  EXPECT_EQ(ini.Value("S", "long")->size(), longValue.size());
  EXPECT_EQ(ini.Value("S", "k"), "1");
}

TEST(IniIntFromText, SignThenLeadingDigitsClampedTo32Bits) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  const std::pair<std::string, int32_t> cases[] = {
      {"12", 12},           {"+12", 12},          {"-3", -3},          {"12abc", 12},
      {"abc", 0},           {"", 0},              {"-", 0},            {"+", 0},
      {"- 5", 0},           {" 7 ", 7},           {"0x10", 0},         {"1e3", 1},
      {"1.9", 1},           {"007", 7},           {"--1", 0},          {"8356095", 8356095},
      {"2147483647", kMax}, {"2147483648", kMax}, {"99999999999999999999999", kMax},
      {"-2147483648", kMin}, {"-2147483649", kMin}, {"-99999999999999999999", kMin},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(IniIntFromText(text), value) << '"' << text << '"';
}

class IniFileOnDisk : public ::testing::Test {
 protected:
  ShellTempDir dir;
};

TEST_F(IniFileOnDisk, DefaultOnlyWhenFileSectionOrKeyIsAbsent) {
  const std::string path = dir.Write("k.ini", "[Settings]\nEmpty=\nText=abc\nNum=-4\n");
  EXPECT_EQ(GetPrivateProfileInt("Settings", "Num", 9, path), -4);
  EXPECT_EQ(GetPrivateProfileInt("Settings", "Empty", 9, path), 0);
  EXPECT_EQ(GetPrivateProfileInt("Settings", "Text", 9, path), 0);
  EXPECT_EQ(GetPrivateProfileInt("Settings", "Missing", 9, path), 9);
  EXPECT_EQ(GetPrivateProfileInt("Nowhere", "Num", 9, path), 9);
  EXPECT_EQ(GetPrivateProfileInt("Settings", "Num", 9, dir.path() + "/absent.ini"), 9);
  EXPECT_EQ(GetPrivateProfileInt("Settings", "Num", 9, dir.path()), 9) << "a directory is no file";
  const std::string fifo = dir.path() + "/fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(GetPrivateProfileInt("Settings", "Num", 9, fifo), 9) << "a pipe is no file (and must not hang)";

  EXPECT_EQ(GetPrivateProfileString("Settings", "Text", "d", path), "abc");
  EXPECT_EQ(GetPrivateProfileString("Settings", "Empty", "d", path), "");
  EXPECT_EQ(GetPrivateProfileString("Settings", "Missing", "d", path), "d");
  EXPECT_EQ(GetPrivateProfileString("Nowhere", "Text", "d", path), "d");
  EXPECT_EQ(GetPrivateProfileString("Settings", "Text", "d", dir.path() + "/absent.ini"), "d");
}

TEST_F(IniFileOnDisk, StringReadReturnsAtMost255Characters) {
  const std::string value(300, 'v');
  const std::string path = dir.Write("s.ini", "[S]\nlong=" + value + "\nexact=" + std::string(255, 'e') + "\n");
  EXPECT_EQ(GetPrivateProfileString("S", "long", "", path), std::string(255, 'v'));
  EXPECT_EQ(GetPrivateProfileString("S", "exact", "", path), std::string(255, 'e'));
  EXPECT_EQ(GetPrivateProfileString("S", "none", std::string(400, 'd'), path), std::string(255, 'd'));
}

TEST_F(IniFileOnDisk, StringReadCutsNoCharacterInHalf) {
  // 254 ASCII bytes, then a two-byte character that would straddle the 255-byte limit.
  const std::string value = std::string(254, 'a') + "\xC3\xA4" + "tail";
  std::string path = dir.Write("u.ini", "[S]\nk=" + value + "\n");
  EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), std::string(254, 'a'));
  // Stray continuation bytes are no character: cut at 255 as usual.
  path = dir.Write("g.ini", "[S]\nk=" + std::string(300, '\x80') + "\n");
  EXPECT_EQ(GetPrivateProfileString("S", "k", "", path).size(), 255u);
  // A three-byte character ending exactly at the limit stays whole.
  path = dir.Write("e.ini", "[S]\nk=" + std::string(252, 'a') + "\xE2\x82\xAC" + "x\n");
  EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), std::string(252, 'a') + "\xE2\x82\xAC");
}

TEST_F(IniFileOnDisk, StringReadStopsAtNul) {
  std::string text = "[S]\nk=ab";
  text += '\0';
  text += "cd\n";
  const std::string path = dir.Write("n.ini", text);
  EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), "ab");
}

TEST_F(IniFileOnDisk, LoadReadsBytesUnchanged) {
  EXPECT_FALSE(IniFile::Load(dir.path() + "/absent.ini").has_value());
  EXPECT_FALSE(IniFile::Load(dir.path()).has_value());
  const std::string path = dir.Write("crlf.ini", "\xEF\xBB\xBF[Spin rk51xx Trim1]\r\nDesc=First\r\n0x10=1F\r\n");
  auto ini = IniFile::Load(path);
  ASSERT_TRUE(ini.has_value());
  EXPECT_EQ(ini->Value("Spin rk51xx Trim1", "Desc"), "First");
  EXPECT_EQ(ini->Value("Spin rk51xx Trim1", "0x10"), "1F");
  auto empty = IniFile::Load(dir.Write("empty.ini", ""));
  ASSERT_TRUE(empty.has_value());
  EXPECT_FALSE(empty->HasSection("Colors"));
}

}  // namespace
