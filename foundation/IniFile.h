// Reading the settings file with the rules of the Windows private-profile functions.
//
// Why our own reader: existing korvo.ini files were written for GetPrivateProfileInt/String,
// and both QSettings and inih differ from them on points those files rely on: QSettings is
// case-sensitive, treats ';' inside values and '\' escapes specially and lets later keys win;
// inih keeps the last duplicate, allows inline comments and does not clamp or stop at the first
// non-digit the way GetPrivateProfileInt does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class IniFile {
 public:
  static IniFile Parse(std::string_view text);
  // nullopt when the file cannot be read.
  static std::optional<IniFile> Load(const std::string& path);

  bool HasSection(std::string_view section) const;
  // Section names in file order (first occurrences only).
  std::vector<std::string> Sections() const;
  // The trimmed value of the first occurrence of key in the first occurrence of section,
  // surrounding double quotes removed; nullopt when the section or key is absent.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  // Keys of a section in file order (first occurrences only).
  std::vector<std::string> Keys(std::string_view section) const;

  // Gives key this value in section (both added when absent), as a command-line option does for
  // one run: the file on disk is never written.
  void Set(std::string_view section, std::string_view key, std::string value);

  // GetPrivateProfileInt and GetPrivateProfileString (below) on this file.
  int32_t Int(std::string_view section, std::string_view key, int32_t def) const;
  std::string String(std::string_view section, std::string_view key, const std::string& def) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  // Names are looked up by their lower-case form, so that a file with many keys parses in
  // linear time.
  using Index = std::unordered_map<std::string, std::size_t>;
  struct Section {
    std::string name;
    std::vector<Entry> entries;
    Index keys;  // lower-case key -> entries index
  };
  const Section* Find(std::string_view section) const;
  std::vector<Section> sections_;
  Index sectionIndex_;  // lower-case name -> sections_ index
};

// GetPrivateProfileInt: optional sign and the leading decimal digits of the value (0 when it has
// none, the empty value included), wrapped modulo 2^32 into the 32-bit range as the platform's
// reader does (4294967297 reads as 1); def when the file, the section or the key is absent.
int32_t GetPrivateProfileInt(std::string_view section, std::string_view key, int32_t def,
                             const std::string& path);
int32_t IniIntFromText(std::string_view value);

// GetPrivateProfileString with a 256-character buffer: at most 255 characters of value.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    const std::string& def, const std::string& path);
