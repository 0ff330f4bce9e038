// Small shared routines: the event-keeping wait, hex text checks, bit edits, byte split and join.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace Utils {

// Processes pending window events; may block waiting for more, but never past the deadline.
// The GUI installs one; without it WaitSeconds simply sleeps.
using EventPump = std::function<void(std::chrono::steady_clock::time_point deadline)>;
void SetEventPump(EventPump pump);
void PumpEventsOnce();  // one pass of pending events, no waiting (does nothing without a pump)

// Waits the full time on a monotonic clock while window events keep being processed.
void WaitSeconds(const float& seconds);

bool IsHexDigit(const std::string& ch);
bool IsHexString(std::string& s);  // trims s in place; empty or blanks-only is true
bool IsBitSet(int32_t value, int16_t n);
int32_t SetBit(int32_t value, int16_t n, int16_t state);
std::string PadLeftZeros(std::string s, int16_t n);
void IntToBytes(int16_t value, uint8_t& high, uint8_t& low);
void BytesToInt(uint8_t high, uint8_t low, int16_t& result);
int16_t UIntToInt(int32_t nLong);

// --- parsing and formatting shared by the windows and korvoctl ---

// Reads text as a hexadecimal number the forgiving way: blanks, tabs and line feeds are
// skipped, reading stops at the first character that is not a hex digit, no digits gives 0.
// Returns the low 32 bits; significant_digits (if given) receives the number of digits after
// leading zeros, so a caller can tell whether the value fits its variable.
uint32_t LenientHexValue(std::string_view text, int* significant_digits = nullptr);

// Whether text "reads as a decimal number": optional blanks, optional sign, digits with an
// optional fraction (or a fraction alone), optional exponent, optional blanks.
std::optional<double> ParseDecimal(std::string_view text);

// The number formed by the leading numeric part of text (blanks first skipped), 0 if none.
double LeadingNumber(std::string_view text);

// Rounds to the nearest integer, halves to the even one.
double RoundHalfEven(double v);

// Strict parse of an integer for command lines: decimal, or hexadecimal with a 0x prefix.
// Accepts only values in [lo, hi].
std::optional<int64_t> ParseInteger(std::string_view text, int64_t lo, int64_t hi);

}  // namespace Utils
