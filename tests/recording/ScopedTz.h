// Sets the time zone for one test and puts the previous one back afterwards.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

class ScopedTz {
 public:
  explicit ScopedTz(const char* tz = "UTC0") {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    Set(tz);
  }
  ~ScopedTz() {
    if (saved_)
      ::setenv("TZ", saved_->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  ScopedTz(const ScopedTz&) = delete;
  ScopedTz& operator=(const ScopedTz&) = delete;

  static void Set(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
  }

 private:
  std::optional<std::string> saved_;
};
