// A scratch directory for one test, removed with everything in it afterwards.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

class ShellTempDir {
 public:
  ShellTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvo_shell_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ShellTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ShellTempDir(const ShellTempDir&) = delete;
  ShellTempDir& operator=(const ShellTempDir&) = delete;

  const std::string& path() const { return path_; }

  // Writes text byte for byte (binary mode: no line-end translation) and returns the file's path.
  std::string Write(const std::string& name, std::string_view text) const {
    std::string file = path_ + "/" + name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return file;
  }

 private:
  std::string path_;
};
