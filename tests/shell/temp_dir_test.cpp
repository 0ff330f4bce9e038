#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

using namespace std::string_literals;

TEST(TempDir, IsRemovedWithItsFilesAtTheEnd) {
  std::string path;
  {
    TempDir dir("korvo_tempdir_test");
    path = dir.Path();
    dir.Write("a.ini", "x=1\n");
    ASSERT_TRUE(std::filesystem::is_directory(path));
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(TempDir, WriteStoresTheBytesUnchanged) {
  TempDir dir;
  const std::string text = "[S]\r\nk=v\n\0x"s;
  std::ifstream in(dir.Write("f.ini", text), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
}

}  // namespace
