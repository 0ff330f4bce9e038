#include "foundation/Utils.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <thread>
#include <utility>

#include "foundation/Text.h"

namespace Utils {

namespace {

EventPump& Pump() {
  static EventPump pump;
  return pump;
}

// A copy per pass, so a handler that replaces the pump inside the wait does not pull the
// running function out from under itself.
void RunPump(std::chrono::steady_clock::time_point deadline) {
  EventPump pump = Pump();
  if (pump) pump(deadline);
}

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Length of the longest prefix of text (from pos) shaped like
// [sign] (digits [. [digits]] | . digits) [(e|E) [sign] digits]; 0 when there is none.
size_t NumberPrefix(std::string_view text, size_t pos) {
  size_t i = pos;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t int_digits = 0;
  while (i < text.size() && IsAsciiDigit(text[i])) {
    ++i;
    ++int_digits;
  }
  size_t frac_digits = 0;
  if (i < text.size() && text[i] == '.') {
    size_t j = i + 1;
    while (j < text.size() && IsAsciiDigit(text[j])) {
      ++j;
      ++frac_digits;
    }
    if (int_digits > 0 || frac_digits > 0) i = j;
  }
  if (int_digits == 0 && frac_digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    size_t exp_digits = 0;
    while (j < text.size() && IsAsciiDigit(text[j])) {
      ++j;
      ++exp_digits;
    }
    if (exp_digits > 0) i = j;
  }
  return i - pos;
}

// Converts a prefix accepted by NumberPrefix; from_chars takes no '+' sign.
double NumberValue(std::string_view number) {
  bool negative = false;
  if (!number.empty() && (number.front() == '+' || number.front() == '-')) {
    negative = number.front() == '-';
    number.remove_prefix(1);
  }
  double v = 0.0;
  auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), v);
  if (ec == std::errc::result_out_of_range) {
    // from_chars leaves v unchanged on range errors: decide between overflow and underflow.
    size_t e = number.find_first_of("eE");
    bool tiny = e != std::string_view::npos && e + 1 < number.size() && number[e + 1] == '-';
    v = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  }
  (void)ptr;
  return negative ? -v : v;
}

}  // namespace

void SetEventPump(EventPump pump) { Pump() = std::move(pump); }

void PumpEventsOnce() { RunPump(std::chrono::steady_clock::now()); }

void WaitSeconds(const float& seconds) {
  using clock = std::chrono::steady_clock;
  const clock::time_point start = clock::now();
  // NaN and negative waits are no wait; an endless one is capped far beyond any real use
  // so the deadline stays representable.
  constexpr double kMaxSeconds = 1.0e9;
  double s = static_cast<double>(seconds);
  if (!(s > 0.0)) s = 0.0;
  if (s > kMaxSeconds) s = kMaxSeconds;
  const clock::time_point deadline =
      start + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(s));

  RunPump(start);
  for (clock::time_point now = clock::now(); now < deadline; now = clock::now()) {
    if (Pump()) {
      RunPump(deadline);
    } else {
      std::this_thread::sleep_until(deadline);
    }
  }
}

bool IsHexDigit(const std::string& ch) {
  if (ch.empty()) return false;
  return HexDigitValue(ch.front()) >= 0;
}

bool IsHexString(std::string& s) {
  s = std::string(Text::Trim(s, " "));
  for (char c : s) {
    if (!IsHexDigit(std::string(1, c))) return false;
  }
  return true;
}

bool IsBitSet(int32_t value, int16_t n) {
  if (n < 0 || n > 31) return false;
  return ((static_cast<uint32_t>(value) >> n) & 1U) != 0;
}

int32_t SetBit(int32_t value, int16_t n, int16_t state) {
  if (n < 0 || n > 31) return value;
  const uint32_t p = 1U << n;
  const uint32_t v = static_cast<uint32_t>(value);
  return static_cast<int32_t>(state == 0 ? (v & ~p) : (v | p));
}

std::string PadLeftZeros(std::string s, int16_t n) {
  if (n > 0 && s.size() < static_cast<size_t>(n))
    s.insert(0, static_cast<size_t>(n) - s.size(), '0');
  return s;
}

void IntToBytes(int16_t value, uint8_t& high, uint8_t& low) {
  const uint16_t u = static_cast<uint16_t>(value);
  high = static_cast<uint8_t>(u >> 8);
  low = static_cast<uint8_t>(u & 0xFF);
}

void BytesToInt(uint8_t high, uint8_t low, int16_t& result) {
  result = static_cast<int16_t>(static_cast<uint16_t>((high << 8) | low));
}

int16_t UIntToInt(int32_t nLong) {
  if (nLong >= 32768) return static_cast<int16_t>((nLong & 0x7FFF) - 32768);
  if (nLong >= -32768) return static_cast<int16_t>(nLong);
  // Below the 16-bit range: keep the low 16 bits, as a register write would.
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(nLong) & 0xFFFFU));
}

uint32_t LenientHexValue(std::string_view text, int* significant_digits) {
  uint32_t value = 0;
  int digits = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n') continue;
    const int d = HexDigitValue(c);
    if (d < 0) break;
    if (digits < std::numeric_limits<int>::max() && (digits > 0 || d != 0)) ++digits;
    value = (value << 4) | static_cast<uint32_t>(d);
  }
  if (significant_digits) *significant_digits = digits;
  return value;
}

std::optional<double> ParseDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  const size_t len = NumberPrefix(text, i);
  if (len == 0) return std::nullopt;
  size_t end = i + len;
  size_t j = end;
  while (j < text.size() && IsBlank(text[j])) ++j;
  if (j != text.size()) return std::nullopt;
  return NumberValue(text.substr(i, len));
}

double LeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (IsBlank(text[i]) || text[i] == '\n')) ++i;
  const size_t len = NumberPrefix(text, i);
  if (len == 0) return 0.0;
  return NumberValue(text.substr(i, len));
}

double RoundHalfEven(double v) {
  if (!std::isfinite(v)) return v;
  const double floor_v = std::floor(v);
  const double diff = v - floor_v;
  if (diff < 0.5) return floor_v;
  if (diff > 0.5) return floor_v + 1.0;
  return std::fmod(floor_v, 2.0) == 0.0 ? floor_v : floor_v + 1.0;
}

std::optional<int64_t> ParseInteger(std::string_view text, int64_t lo, int64_t hi) {
  if (text.empty()) return std::nullopt;
  bool negative = false;
  size_t i = 0;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  int base = 10;
  if (text.size() - i >= 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;
  // Magnitude in unsigned 64 bits so that the most negative int64 still parses.
  uint64_t magnitude = 0;
  const char* first = text.data() + i;
  const char* last = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(first, last, magnitude, base);
  if (ec != std::errc() || ptr != last) return std::nullopt;
  int64_t value = 0;
  if (negative) {
    constexpr uint64_t kMinMagnitude =
        static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1;
    if (magnitude > kMinMagnitude) return std::nullopt;
    value = magnitude == kMinMagnitude ? std::numeric_limits<int64_t>::min()
                                       : -static_cast<int64_t>(magnitude);
  } else {
    if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
    value = static_cast<int64_t>(magnitude);
  }
  if (value < lo || value > hi) return std::nullopt;
  return value;
}

}  // namespace Utils
