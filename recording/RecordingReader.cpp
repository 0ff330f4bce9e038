#include "recording/RecordingReader.h"

#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

#include "recording/Recorder.h"

namespace recording {

namespace {

constexpr std::size_t kFields = 11;
enum Field { kSeconds, kTime, kSource, kOperation, kRegister, kCaption, kHex, kDecimal, kMilli,
             kStatus, kStatusName };

// A file's text in a message: cut to 40 characters, nothing invisible.
std::string Token(std::string_view s) {
  std::string out;
  for (char c : s.substr(0, 40)) {
    const auto u = static_cast<unsigned char>(c);
    out += u < 0x20 || u == 0x7F ? '?' : c;
  }
  if (s.size() > 40) out += "...";
  return out;
}

// One CSV record at a time, RFC 4180: quoted fields may hold commas, quotes and line breaks.
// A record ends at CR LF, LF or a CR alone.
class CsvCursor {
 public:
  explicit CsvCursor(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ >= text_.size(); }
  // The line the last record began on.
  int Line() const { return start_; }

  // The next record's fields; false with a reason when a quoted field is malformed.
  bool Next(std::vector<std::string_view>& fields, std::string& reason) {
    fields.clear();
    start_ = ++line_;
    std::size_t quoted = 0;
    for (;;) {
      if (pos_ < text_.size() && text_[pos_] == '"') {
        ++pos_;
        std::string& field = scratch_[std::min(quoted++, scratch_.size() - 1)];
        field.clear();
        for (;;) {
          if (pos_ >= text_.size()) {
            reason = "a quoted field does not end";
            return false;
          }
          const char c = text_[pos_++];
          if (c == '"') {
            if (pos_ < text_.size() && text_[pos_] == '"') {
              field += '"';
              ++pos_;
              continue;
            }
            break;
          }
          // A line break inside: LF, CR LF or a CR alone, as between records.
          if (c == '\n' || (c == '\r' && (pos_ >= text_.size() || text_[pos_] != '\n'))) ++line_;
          field += c;
        }
        fields.push_back(field);
        if (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\r' &&
            text_[pos_] != '\n') {
          reason = "text after a quoted field";
          return false;
        }
      } else {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\r' &&
               text_[pos_] != '\n')
          ++pos_;
        fields.push_back(text_.substr(start, pos_ - start));
      }
      if (fields.size() > kFields + 1) {
        // Skip the rest of the record: it is refused anyway.
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
        if (pos_ < text_.size()) ++pos_;
        return true;
      }
      if (pos_ >= text_.size()) return true;
      const char c = text_[pos_++];
      if (c == ',') continue;
      if (c == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
      return true;
    }
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 0;
  int start_ = 0;
  std::array<std::string, kFields + 2> scratch_;
};

template <typename T>
bool Whole(std::string_view s, T& out, int base = 10) {
  if (s.empty()) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), out, base);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool Whole(std::string_view s, double& out) {
  if (s.empty()) return false;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// "12.345678" (as AppendSeconds writes it, the fraction up to six digits) in microseconds.
bool ParseSeconds(std::string_view s, int64_t& us) {
  bool negative = false;
  if (!s.empty() && s.front() == '-') {
    negative = true;
    s.remove_prefix(1);
  }
  const std::size_t dot = s.find('.');
  const std::string_view whole = s.substr(0, dot);
  std::string_view fraction = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
  // Up to nine digits (31 years): a start moved back by it stays a representable time.
  if (whole.empty() || whole.size() > 9) return false;
  for (char c : whole)
    if (c < '0' || c > '9') return false;
  int64_t seconds = 0;
  if (!Whole(whole, seconds)) return false;
  int64_t micro = 0;
  if (dot != std::string_view::npos) {
    if (fraction.empty() || fraction.size() > 6) return false;
    for (char c : fraction)
      if (c < '0' || c > '9') return false;
    if (!Whole(fraction, micro)) return false;
    for (std::size_t i = fraction.size(); i < 6; ++i) micro *= 10;
  }
  us = seconds * 1'000'000 + micro;
  if (negative) us = -us;
  return true;
}

bool Digits(std::string_view s, std::size_t n, int& out) {
  if (s.size() != n) return false;
  out = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

std::optional<AccessSource> SourceNamed(std::string_view name) {
  for (int i = 0; i <= static_cast<int>(AccessSource::kKorvoctl); ++i) {
    const auto s = static_cast<AccessSource>(i);
    if (SourceName(s) == name) return s;
  }
  return std::nullopt;
}

// The quantity and unit a measure row's caption and columns say.
void Describe(RecordingChannel& c, bool milli) {
  auto endsWith = [&](std::string_view word) {
    const std::string_view caption = c.caption;
    return caption.size() >= word.size() && caption.substr(caption.size() - word.size()) == word;
  };
  if (milli) {
    if (endsWith("current")) {
      c.quantity = "current";
      c.unit = "mA";
    } else if (endsWith("voltage")) {
      c.quantity = "voltage";
      c.unit = "mV";
    }
    return;
  }
  // "PSU CH1 temperature (°C)": the unit in the last parentheses, the quantity before them.
  const std::size_t open = c.caption.rfind(" (");
  if (open != std::string::npos && open > 0 && c.caption.back() == ')') {
    c.unit = c.caption.substr(open + 2, c.caption.size() - open - 3);
    const std::size_t space = c.caption.rfind(' ', open - 1);
    c.quantity = c.caption.substr(space == std::string::npos ? 0 : space + 1,
                                  open - (space == std::string::npos ? 0 : space + 1));
  }
}

}  // namespace

std::optional<WallTime> ParseIsoTime(std::string_view s) {
  // 2024-05-01T12:34:56.789+02:00
  if (s.size() != 29 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' ||
      s[16] != ':' || s[19] != '.' || (s[23] != '+' && s[23] != '-') || s[26] != ':')
    return std::nullopt;
  int y, mo, d, h, mi, se, ms, oh, om;
  if (!Digits(s.substr(0, 4), 4, y) || !Digits(s.substr(5, 2), 2, mo) ||
      !Digits(s.substr(8, 2), 2, d) || !Digits(s.substr(11, 2), 2, h) ||
      !Digits(s.substr(14, 2), 2, mi) || !Digits(s.substr(17, 2), 2, se) ||
      !Digits(s.substr(20, 3), 3, ms) || !Digits(s.substr(24, 2), 2, oh) ||
      !Digits(s.substr(27, 2), 2, om))
    return std::nullopt;
  // Years a system clock's nanoseconds hold, with room for a recording's length.
  if (y < 1900 || y > 2200 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 60 || oh > 23 || om > 59)
    return std::nullopt;
  const int64_t offset = (oh * 3600 + om * 60) * (s[23] == '-' ? -1 : 1);
  const int64_t secs = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 +
                       h * 3600 + mi * 60 + se - offset;
  return WallTime(std::chrono::duration_cast<WallTime::duration>(std::chrono::seconds(secs) +
                                                                 std::chrono::milliseconds(ms)));
}

std::optional<Recording> ParseRecording(std::string_view text, RecordingError& error) {
  Recording rec;
  CsvCursor csv(text);
  std::vector<std::string_view> f;
  f.reserve(kFields + 2);
  auto fail = [&](std::string reason) {
    error.line = csv.Line();
    error.reason = std::move(reason);
    return std::nullopt;
  };
  std::string reason;
  if (text.empty()) {
    error.line = 1;
    error.reason = "the file is empty";
    return std::nullopt;
  }
  if (!csv.Next(f, reason)) return fail(reason);
  std::string header;
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (i) header += ',';
    header += f[i];
  }
  if (header != kCsvHeader) return fail("the header is not a Korvo recording's (" + Token(header) + ")");

  bool first = true;
  while (!csv.AtEnd()) {
    if (!csv.Next(f, reason)) return fail(reason);
    if (f.size() == 1 && f[0].empty()) {
      if (csv.AtEnd()) break;
      return fail("an empty line");
    }
    if (f.size() != kFields)
      return fail(std::to_string(f.size() > kFields ? kFields + 1 : f.size()) +
                  " fields where a row has " + std::to_string(kFields));
    int64_t us = 0;
    if (!ParseSeconds(f[kSeconds], us)) return fail("not a time in seconds: " + Token(f[kSeconds]));
    if (first) {
      const std::optional<WallTime> wall = ParseIsoTime(f[kTime]);
      if (!wall) return fail("not a date and time: " + Token(f[kTime]));
      rec.start = *wall - std::chrono::duration_cast<WallTime::duration>(std::chrono::microseconds(us));
      first = false;
    }
    int32_t status = 0;
    if (!Whole(f[kStatus], status)) return fail("not a status: " + Token(f[kStatus]));
    const std::string_view op = f[kOperation];
    if (op == "measure") {
      if (f[kSource].empty()) return fail("a reading without an instrument");
      const bool milli = !f[kMilli].empty();
      const std::string_view v = milli ? f[kMilli] : f[kDecimal];
      double value = 0;
      if (!Whole(v, value) || !std::isfinite(value)) return fail("not a reading: " + Token(v));
      uint32_t index = 0;
      while (index < rec.channels.size() &&
             (rec.channels[index].instrument != f[kSource] ||
              rec.channels[index].caption != f[kCaption]))
        ++index;
      if (index == rec.channels.size()) {
        if (rec.channels.size() >= 1000) return fail("more than 1000 instrument channels");
        RecordingChannel c;
        c.instrument = f[kSource];
        c.caption = f[kCaption];
        Describe(c, milli);
        rec.channels.push_back(std::move(c));
      }
      rec.readings.push_back({us, index, value});
      continue;
    }
    RecordedAccess a;
    a.us = us;
    if (op == "read") {
      a.kind = AccessKind::kRead;
    } else if (op == "write") {
      a.kind = AccessKind::kWrite;
    } else {
      return fail("not an operation: " + Token(op));
    }
    const std::optional<AccessSource> source = SourceNamed(f[kSource]);
    if (!source) return fail("not a source: " + Token(f[kSource]));
    a.source = *source;
    const std::string_view reg = f[kRegister];
    unsigned address = 0;
    if (reg.size() != 4 || reg.substr(0, 2) != "0x" || !Whole(reg.substr(2), address, 16))
      return fail("not a register: " + Token(reg));
    a.address = static_cast<uint8_t>(address);
    a.status = status;
    const std::string_view hex = f[kHex];
    if (!hex.empty()) {
      unsigned value = 0;
      if (hex.size() != 6 || hex.substr(0, 2) != "0x" || !Whole(hex.substr(2), value, 16))
        return fail("not a register value: " + Token(hex));
      a.value = static_cast<uint16_t>(value);
      a.hasValue = true;
    } else if (status == 0) {
      return fail("a read without a value");
    }
    rec.accesses.push_back(a);
  }
  return rec;
}

std::optional<Recording> ReadRecording(const std::string& path, std::string& message) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    message = "Cannot open " + path + ": no such file or no permission.";
    return std::nullopt;
  }
  std::string text;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size > 0) {
    text.resize(static_cast<std::size_t>(size));
    in.read(text.data(), size);
    text.resize(static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) {
    message = "Cannot open " + path + ": the file cannot be read.";
    return std::nullopt;
  }
  RecordingError error;
  std::optional<Recording> rec = ParseRecording(text, error);
  if (!rec)
    message = path + " is not a Korvo recording: line " + std::to_string(error.line) + ": " +
              error.reason + ".";
  return rec;
}

}  // namespace recording
