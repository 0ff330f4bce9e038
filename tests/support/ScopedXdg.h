// Points XDG_CONFIG_HOME and XDG_CONFIG_DIRS at the given directories for one test, so the
// settings lookup sees neither the developer's nor the machine's own files.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class ScopedXdg {
 public:
  ScopedXdg(const std::string& configHome, const std::string& configDirs) {
    Set("XDG_CONFIG_HOME", configHome);
    Set("XDG_CONFIG_DIRS", configDirs);
  }
  ~ScopedXdg() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  ScopedXdg(const ScopedXdg&) = delete;

 private:
  void Set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};
