#include "recording/Text.h"

#include <cstdio>

namespace recording {

void AppendCsvField(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += field;
    return;
  }
  out += '"';
  for (char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

namespace {
void AppendPadded(std::string& out, uint64_t v, int width) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  for (int i = n; i < width; ++i) out += '0';
  while (n > 0) out += digits[--n];
}
}  // namespace

void AppendSeconds(std::string& out, std::chrono::microseconds since) {
  int64_t us = since.count();
  if (us < 0) {
    out += '-';
    us = -us;
  }
  AppendPadded(out, static_cast<uint64_t>(us / 1000000), 1);
  out += '.';
  AppendPadded(out, static_cast<uint64_t>(us % 1000000), 6);
}

void IsoTimeFormatter::Append(std::string& out, WallTime t) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(t.time_since_epoch()).count();
  auto secs = static_cast<std::time_t>(ms / 1000);
  auto milli = ms % 1000;
  if (milli < 0) {  // before 1970: floor, not truncate
    milli += 1000;
    --secs;
  }
  if (secs != second_) {
    std::tm local{};
    localtime_r(&secs, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local);
    prefix_ = buf;
    long off = local.tm_gmtoff;
    offset_ = off < 0 ? "-" : "+";
    if (off < 0) off = -off;
    AppendPadded(offset_, static_cast<uint64_t>(off / 3600), 2);
    offset_ += ':';
    AppendPadded(offset_, static_cast<uint64_t>(off / 60 % 60), 2);
    second_ = secs;
  }
  out += prefix_;
  out += '.';
  AppendPadded(out, static_cast<uint64_t>(milli), 3);
  out += offset_;
}

}  // namespace recording
