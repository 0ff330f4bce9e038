// Text forms shared by the recordings, the journal and korvoctl: RFC 4180 fields, ISO 8601
// wall times, seconds since a start.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "observation/Clock.h"

namespace recording {

// RFC 4180 ends every record with CR LF; Python's csv module and spreadsheets expect it too.
inline constexpr std::string_view kCsvLineEnd = "\r\n";

// Appends field, in double quotes (doubled inside) when it holds a comma, a quote or a line break.
void AppendCsvField(std::string& out, std::string_view field);

// s as a JSON string, in double quotes: quote and backslash escaped, control characters as
// \u00XX (korvoctl's JSON dump).
std::string JsonString(std::string_view s);

// "12.345678": whole seconds, a point, six digits of microseconds.
void AppendSeconds(std::string& out, std::chrono::microseconds since);

// Local wall time as ISO 8601 with milliseconds and the UTC offset: 2024-05-01T12:34:56.789+02:00.
// Keeps the formatted second, so a recording pays for the calendar once per second.
class IsoTimeFormatter {
 public:
  void Append(std::string& out, WallTime t);
  std::string Format(WallTime t) {
    std::string s;
    Append(s, t);
    return s;
  }

 private:
  std::time_t second_ = -1;
  std::string prefix_;  // "2024-05-01T12:34:56"
  std::string offset_;  // "+02:00"
};

}  // namespace recording
