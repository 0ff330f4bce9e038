// What every fuzz target checks of a message it gets: short, one line, nothing invisible.
#pragma once

#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz {

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// A reader's message: bounded whatever the input, and without control characters, which would
// hide or garble what the user reads. A token is cut to 40 characters, but each invisible one is
// shown as an escape of 8 ("\u{FEFF}"): a token takes at most 325 characters with "..." and its
// quotes, and the longest reason around it about 100.
inline void CheckMessage(std::string_view message, std::size_t limit = 480) {
  Check(!message.empty() && message.size() <= limit);
  for (char c : message) Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
}

// text with every LF made CR LF, or CR alone: the same file as far as a reader goes.
inline std::string WithLineEnds(std::string_view text, std::string_view end) {
  std::string out;
  for (char c : text) {
    if (c == '\n')
      out += end;
    else
      out += c;
  }
  return out;
}

}  // namespace fuzz
