// A scratch folder for one test, removed with everything in it when the test ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

class TempDir {
 public:
  // The folder is created under the system's temporary folder, its name starting with prefix.
  explicit TempDir(std::string_view prefix = "korvo") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "_XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // The path of name inside the folder (the file need not exist).
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }
  // Writes text byte for byte (no line-end translation) and returns the file's path.
  std::string Write(std::string_view name, std::string_view text) const {
    const std::string file = File(name);
    std::ofstream(file, std::ios::binary) << text;
    return file;
  }

 private:
  std::string path_;
};
