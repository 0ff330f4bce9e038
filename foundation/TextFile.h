// Reading the small text files people write or edit by hand and then hand to Korvo: register
// snapshots and the simulated board's scenarios. Both follow the same rules, so a file that
// one reader takes the other does not refuse for its form:
//   - a plain file of at most 1 MB, refused above that with a message of its own;
//   - a UTF-8 byte order mark at the start is skipped (editors on Windows write one);
//   - a line ends in LF, CR LF or CR alone (old Mac editors, some serial terminals);
//   - a line is valid UTF-8 without control characters other than tab;
//   - a token echoed in a message shows at most 40 characters, with the ones that do not show
//     (a byte order mark, a zero-width space) written as escapes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace TextFile {

inline constexpr std::size_t kMaxBytes = std::size_t{1} << 20;
inline constexpr std::string_view kMaxBytesText = "1 MB";
inline constexpr std::size_t kMaxShownChars = 40;

enum class ReadResult { kOk, kUnreadable, kTooLarge };

// Reads path whole into text. kUnreadable: missing, not a plain file (a FIFO is not waited on)
// or a read error; kTooLarge: more than limit bytes (nothing beyond the limit is read).
ReadResult Read(const std::string& path, std::string& text, std::size_t limit = kMaxBytes);

// The lines of a text, without their line ends.
class Lines {
 public:
  explicit Lines(std::string_view text);
  // The next line; false when there is none.
  bool Next(std::string_view& line);
  // The number of the line Next gave last, from 1; 0 before the first.
  int Number() const { return number_; }
  // Whether the line Next gave last ended in a line end (the last line of a file may not).
  bool Ended() const { return ended_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  int number_ = 0;
  bool ended_ = false;
};

// Valid UTF-8 without control characters other than tab.
bool IsTextLine(std::string_view line);

// token as a message shows it: its first 40 characters, then "..." when there are more;
// control and invisible characters, and bytes that are not UTF-8, as \xNN or \u{NNNN}.
std::string Shown(std::string_view token);
// Shown(token) in single quotes.
std::string Quote(std::string_view token);

}  // namespace TextFile
