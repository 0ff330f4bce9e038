// A scratch directory for one test, removed with everything in it afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

struct ShellTempDir {
  ShellTempDir() {
    if (::mkdtemp(path.data()) == nullptr) std::abort();
  }
  ~ShellTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  ShellTempDir(const ShellTempDir&) = delete;

  // Writes text byte for byte (no line-end translation) and returns the file's path.
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(path + "/" + name, std::ios::binary) << text;
    return path + "/" + name;
  }

  std::string path = std::filesystem::temp_directory_path() / "korvo_shell_XXXXXX";
};
