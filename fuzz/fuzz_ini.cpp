// Feeds arbitrary bytes to the settings-file reader and checks what it gives back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "foundation/IniFile.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool HasLineEnd(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

bool Trimmed(std::string_view s) {
  return s.empty() || (!IsBlank(s.front()) && !IsBlank(s.back()));
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const IniFile ini = IniFile::Parse(text);

  for (const char* section : {"Colors", "Target", "Settings", "Adapter", "SpinCustom 1", ""}) {
    for (const char* key : {"BitHi", "Address", "CommMode", "Desc", "0x10", ""}) {
      if (auto v = ini.Value(section, key)) (void)IniIntFromText(*v);
    }
  }

  for (const std::string& section : ini.Sections()) {
    Check(ini.HasSection(section));
    Check(ini.HasSection(Upper(section)));
    Check(!HasLineEnd(section) && Trimmed(section));
    for (const std::string& key : ini.Keys(section)) {
      Check(!key.empty() && !HasLineEnd(key) && Trimmed(key));
      const auto value = ini.Value(section, key);
      Check(value.has_value());
      Check(!HasLineEnd(*value));
      Check(ini.Value(Upper(section), Upper(key)) == value);
    }
  }

  // The integer read never fails and agrees with itself on the bare digits.
  const int32_t n = IniIntFromText(text);
  if (n >= 0) Check(IniIntFromText(std::to_string(n)) == n);
  return 0;
}
