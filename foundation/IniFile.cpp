#include "foundation/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// name in lower case, in scratch (whose buffer is reused from call to call).
const std::string& Folded(std::string_view name, std::string& scratch) {
  scratch.assign(name);
  for (char& c : scratch) c = Lower(c);
  return scratch;
}

}  // namespace

void IniFile::Set(std::string_view section, std::string_view key, std::string value) {
  std::string folded;
  const auto [sit, newSection] =
      sectionIndex_.try_emplace(Folded(Trim(section), folded), sections_.size());
  if (newSection) sections_.push_back(Section{std::string(Trim(section)), {}, {}});
  Section& s = sections_[sit->second];
  const auto [kit, newKey] = s.keys.try_emplace(Folded(Trim(key), folded), s.entries.size());
  if (newKey) {
    s.entries.push_back(Entry{std::string(Trim(key)), std::move(value)});
  } else {
    s.entries[kit->second].value = std::move(value);
  }
}

IniFile IniFile::Parse(std::string_view text) {
  IniFile ini;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  Section* current = nullptr;  // lines before the first section header belong to none
  std::string folded;          // scratch for lower-case names
  size_t pos = 0;
  while (pos < text.size()) {
    // A line ends at LF, CR LF or a lone CR. (A plain loop: find_first_of searches its set
    // once per character.)
    size_t end = pos;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
    std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end;
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;

    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      size_t close = line.find(']');
      std::string_view name =
          Trim(close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1));
      // A repeated section adds nothing: lookups only ever see the first one.
      const auto [it, added] =
          ini.sectionIndex_.try_emplace(Folded(name, folded), ini.sections_.size());
      if (added) {
        ini.sections_.push_back(Section{std::string(name), {}, {}});
        current = &ini.sections_.back();
      } else {
        current = nullptr;
      }
      continue;
    }
    if (current == nullptr) continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = Trim(line.substr(0, eq));
    if (key.empty()) continue;
    // The first occurrence of a key wins.
    if (!current->keys.try_emplace(Folded(key, folded), current->entries.size()).second) continue;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    current->entries.push_back(Entry{std::string(key), std::string(value)});
  }
  return ini;
}

std::optional<IniFile> IniFile::Load(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  // Only a plain file counts: a directory, a pipe or a device would fail or never end.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  // Read straight into the text, sized as the file is (and grown should it grow meanwhile):
  // no large buffer on the stack, whose pages a short run would fault in one by one.
  std::string text(static_cast<size_t>(st.st_size) + 1, '\0');
  size_t used = 0;
  for (;;) {
    if (used == text.size()) text.resize(text.size() * 2);
    const ssize_t n = ::read(fd, text.data() + used, text.size() - used);
    if (n > 0) {
      used += static_cast<size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ::close(fd);
      return std::nullopt;
    }
  }
  ::close(fd);
  text.resize(used);
  return Parse(text);
}

const IniFile::Section* IniFile::Find(std::string_view section) const {
  std::string folded;
  const auto it = sectionIndex_.find(Folded(Trim(section), folded));
  return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

bool IniFile::HasSection(std::string_view section) const { return Find(section) != nullptr; }

std::optional<std::string> IniFile::Value(std::string_view section, std::string_view key) const {
  const Section* s = Find(section);
  if (s == nullptr) return std::nullopt;
  std::string folded;
  const auto it = s->keys.find(Folded(Trim(key), folded));
  if (it == s->keys.end()) return std::nullopt;
  return s->entries[it->second].value;
}

std::vector<std::string> IniFile::Sections() const {
  std::vector<std::string> names;
  names.reserve(sections_.size());
  for (const Section& s : sections_) names.push_back(s.name);
  return names;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  if (const Section* s = Find(section)) {
    keys.reserve(s->entries.size());
    for (const Entry& e : s->entries) keys.push_back(e.key);
  }
  return keys;
}

int32_t IniIntFromText(std::string_view value) {
  value = Trim(value);
  bool negative = false;
  if (!value.empty() && (value.front() == '+' || value.front() == '-')) {
    negative = value.front() == '-';
    value.remove_prefix(1);
  }
  // Modulo 2^32 throughout, as the platform's reader: unsigned arithmetic wraps by definition.
  uint32_t magnitude = 0;
  for (char c : value) {
    if (c < '0' || c > '9') break;
    magnitude = magnitude * 10u + static_cast<uint32_t>(c - '0');
  }
  const uint32_t bits = negative ? 0u - magnitude : magnitude;
  return static_cast<int32_t>(bits);  // two's complement (C++20)
}

int32_t IniFile::Int(std::string_view section, std::string_view key, int32_t def) const {
  std::optional<std::string> value = Value(section, key);
  return value ? IniIntFromText(*value) : def;
}

std::string IniFile::String(std::string_view section, std::string_view key,
                            const std::string& def) const {
  constexpr size_t kMaxChars = 255;  // a 256-character buffer with its terminating NUL
  std::string result = def;
  if (std::optional<std::string> value = Value(section, key)) result = std::move(*value);
  // The caller's buffer ends at the first NUL, as a C string would.
  const size_t nul = result.find('\0');
  if (nul != std::string::npos) result.erase(nul);
  if (result.size() > kMaxChars) {
    // Do not leave half a UTF-8 character behind: drop the cut one whole (it has at most
    // three continuation bytes, so garbage cannot make this eat the whole text).
    size_t cut = kMaxChars;
    for (int back = 0;
         back < 3 && cut > 0 && (static_cast<unsigned char>(result[cut]) & 0xC0) == 0x80; ++back) {
      --cut;
    }
    if ((static_cast<unsigned char>(result[cut]) & 0xC0) != 0xC0) cut = kMaxChars;
    result.erase(cut);
  }
  return result;
}

int32_t GetPrivateProfileInt(std::string_view section, std::string_view key, int32_t def,
                             const std::string& path) {
  std::optional<IniFile> ini = IniFile::Load(path);
  return ini ? ini->Int(section, key, def) : def;
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    const std::string& def, const std::string& path) {
  return IniFile::Load(path).value_or(IniFile()).String(section, key, def);
}
