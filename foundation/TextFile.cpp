#include "foundation/TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>

namespace TextFile {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The code point of the UTF-8 sequence at text[i] and its length; nullopt for a byte that does
// not start a valid sequence (overlong forms and surrogates included).
std::optional<char32_t> Decode(std::string_view text, std::size_t i, std::size_t& length) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char c = b(0);
  length = 1;
  if (c < 0x80) return c;
  std::size_t more = 0;
  char32_t cp = 0;
  char32_t least = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    more = 1, cp = c & 0x1F, least = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    more = 2, cp = c & 0x0F, least = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    more = 3, cp = c & 0x07, least = 0x10000;
  } else {
    return std::nullopt;
  }
  if (i + more >= text.size()) return std::nullopt;
  for (std::size_t k = 1; k <= more; ++k) {
    if ((b(k) & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (b(k) & 0x3F);
  }
  if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
  length = more + 1;
  return cp;
}

// Characters that print as nothing, or as a blank that looks like an ordinary one.
bool Invisible(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0xA0) || cp == 0xAD || cp == 0x34F || cp == 0x61C ||
         cp == 0x180E || (cp >= 0x2000 && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202F) ||
         (cp >= 0x205F && cp <= 0x206F) || cp == 0x3000 || cp == 0xFEFF ||
         (cp >= 0xFFF9 && cp <= 0xFFFB);
}

}  // namespace

ReadResult Read(const std::string& path, std::string& text, std::size_t limit) {
  text.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return ReadResult::kUnreadable;
  ReadResult result = ReadResult::kOk;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    result = ReadResult::kUnreadable;
  } else if (static_cast<std::size_t>(st.st_size) > limit) {
    result = ReadResult::kTooLarge;
  } else {
    // The file may grow while it is read: never more than the limit and one buffer.
    text.reserve(static_cast<std::size_t>(st.st_size));
    char buf[4096];
    while (result == ReadResult::kOk) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n > 0) {
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > limit) result = ReadResult::kTooLarge;
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        result = ReadResult::kUnreadable;
      }
    }
  }
  ::close(fd);
  if (result != ReadResult::kOk) text.clear();
  return result;
}

Lines::Lines(std::string_view text) : text_(text) {
  if (text_.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    text_.remove_prefix(kByteOrderMark.size());
}

bool Lines::Next(std::string_view& line) {
  if (pos_ >= text_.size()) return false;
  ++number_;
  const std::size_t end = text_.find_first_of("\r\n", pos_);
  if (end == std::string_view::npos) {
    line = text_.substr(pos_);
    pos_ = text_.size();
    ended_ = false;
    return true;
  }
  line = text_.substr(pos_, end - pos_);
  pos_ = end + (text_.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  ended_ = true;
  return true;
}

bool IsTextLine(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size()) {
    std::size_t length = 1;
    const std::optional<char32_t> cp = Decode(line, i, length);
    if (!cp || (*cp < 0x20 && *cp != '\t') || *cp == 0x7F) return false;
    i += length;
  }
  return true;
}

std::string Shown(std::string_view token) {
  std::string out;
  std::size_t chars = 0;
  std::size_t i = 0;
  while (i < token.size()) {
    if (chars == kMaxShownChars) {
      out += "...";
      break;
    }
    std::size_t length = 1;
    const std::optional<char32_t> cp = Decode(token, i, length);
    char buf[16];
    if (!cp) {
      std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned char>(token[i]));
      out += buf;
    } else if (Invisible(*cp)) {
      if (*cp < 0x80)
        std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(*cp));
      else
        std::snprintf(buf, sizeof buf, "\\u{%04X}", static_cast<unsigned>(*cp));
      out += buf;
    } else {
      out += token.substr(i, length);
    }
    i += length;
    ++chars;
  }
  return out;
}

std::string Quote(std::string_view token) { return "'" + Shown(token) + "'"; }

}  // namespace TextFile
