// Feeds arbitrary text to the hex and number parsing of Utils and checks their promises.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "foundation/Text.h"
#include "foundation/Utils.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks a length for PadLeftZeros and a range for ParseInteger.
  const uint8_t selector = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  int digits = -1;
  const uint32_t hex = Utils::LenientHexValue(text, &digits);
  Check(digits >= 0);
  if (digits == 0) Check(hex == 0);
  Check(Utils::LenientHexValue(Text::Hex(hex)) == hex);

  std::string s(text);
  const bool is_hex = Utils::IsHexString(s);
  Check(s.size() <= text.size());
  std::string again = s;
  Check(Utils::IsHexString(again) == is_hex && again == s);
  if (is_hex) {
    for (char c : s) Check(Utils::IsHexDigit(std::string(1, c)));
  }

  const int16_t n = static_cast<int16_t>(static_cast<int8_t>(selector));
  const std::string padded = Utils::PadLeftZeros(std::string(text), n);
  Check(padded.size() >= text.size());
  Check(padded.size() == text.size() || static_cast<int16_t>(padded.size()) == n);
  Check(std::string_view(padded).substr(padded.size() - text.size()) == text);

  if (auto d = Utils::ParseDecimal(text)) {
    Check(!std::isnan(*d));
    Check(Utils::LeadingNumber(text) == *d);
    const double r = Utils::RoundHalfEven(*d);
    if (std::isfinite(*d)) Check(std::fabs(r - *d) <= 0.5);
  }
  (void)Utils::LeadingNumber(text);

  const int64_t lo = (selector & 1) ? std::numeric_limits<int64_t>::min() : -32768;
  const int64_t hi = (selector & 2) ? std::numeric_limits<int64_t>::max() : 65535;
  if (auto v = Utils::ParseInteger(text, lo, hi)) {
    Check(*v >= lo && *v <= hi);
    Check(Utils::ParseInteger(std::to_string(*v), lo, hi) == v);
  }
  return 0;
}
