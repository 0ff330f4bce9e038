#include "instruments/InstrumentConfig.h"

#include <algorithm>

#include "foundation/IniFile.h"
#include "foundation/Text.h"

namespace instruments {

namespace {

bool IsNameChar(char c, bool dash) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || (dash && c == '-');
}

bool AllNameChars(std::string_view s, bool dash) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [&](char c) { return IsNameChar(c, dash); });
}

bool HasControl(std::string_view s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  std::size_t from = 0;
  while (true) {
    const std::size_t at = s.find(sep, from);
    parts.push_back(
        s.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    if (at == std::string_view::npos) break;
    from = at + 1;
  }
  return parts;
}

// The words of the entry, separated by blanks and tabs.
std::vector<std::string_view> Words(std::string_view s) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
    if (i > start) words.push_back(s.substr(start, i - start));
  }
  return words;
}

// The reason config is refused, or empty.
std::string ParseConfig(std::string_view text, InstrumentConfig& config) {
  const std::vector<std::string_view> parts = Split(text, ':');
  config.driver = std::string(parts[0]);
  if (parts[0].empty()) return "no driver before the first ':'";
  if (!AllNameChars(parts[0], true))
    return "driver name '" + config.driver + "' may hold only a-z, 0-9, '-' and '_'";
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string_view part = parts[i];
    if (part.empty()) return "empty option (two ':' in a row, or one at the end)";
    const std::size_t eq = part.find('=');
    if (eq == std::string_view::npos)
      return "option '" + std::string(part) + "' has no '=' (options are key=value)";
    const std::string key(part.substr(0, eq));
    const std::string value(part.substr(eq + 1));
    if (key.empty()) return "option '" + std::string(part) + "' has no key before '='";
    if (!AllNameChars(key, false)) return "option key '" + key + "' may hold only a-z, 0-9 and '_'";
    if (value.empty()) return "option '" + key + "' has no value";
    for (const auto& [k, v] : config.options)
      if (k == key) return "option '" + key + "' is given twice";
    config.options.emplace_back(key, value);
  }
  return {};
}

std::string ParseChannels(std::string_view list, InstrumentConfig& config) {
  if (list.empty()) return "channels= names no channel";
  for (std::string_view name : Split(list, ',')) {
    if (name.empty()) return "empty channel name in channels=" + std::string(list);
    if (std::find(config.channels.begin(), config.channels.end(), name) != config.channels.end())
      return "channel '" + std::string(name) + "' is selected twice";
    config.channels.emplace_back(name);
  }
  return {};
}

}  // namespace

std::string InvalidInstrumentText(std::string_view entry, std::string_view reason) {
  return "invalid instrument '" + std::string(entry) + "': " + std::string(reason);
}

ConfigResult ParseInstrument(std::string_view entry, std::string_view label) {
  ConfigResult r;
  const std::string_view trimmed = Text::Trim(entry);
  auto fail = [&](const std::string& reason) {
    r.error = InvalidInstrumentText(trimmed, reason);
    return r;
  };
  if (HasControl(trimmed)) return fail("control characters are not allowed");
  const std::vector<std::string_view> words = Words(trimmed);
  if (words.empty()) return fail("empty (expected DRIVER[:KEY=VALUE...], e.g. demo)");
  InstrumentConfig config;
  config.text = std::string(words[0]);
  if (std::string reason = ParseConfig(words[0], config); !reason.empty()) return fail(reason);
  bool haveLabel = false;
  bool haveChannels = false;
  for (std::size_t i = 1; i < words.size(); ++i) {
    const std::string_view w = words[i];
    if (w.starts_with("label=")) {
      if (haveLabel) return fail("label= is given twice");
      haveLabel = true;
      config.label = std::string(w.substr(6));
      if (config.label.empty()) return fail("label= is empty");
    } else if (w.starts_with("channels=")) {
      if (haveChannels) return fail("channels= is given twice");
      haveChannels = true;
      if (std::string reason = ParseChannels(w.substr(9), config); !reason.empty())
        return fail(reason);
    } else {
      return fail("unexpected '" + std::string(w) +
                  "' after the config (expected label=NAME or channels=A,B)");
    }
  }
  if (!haveLabel) config.label = label.empty() ? config.driver : std::string(Text::Trim(label));
  r.config = std::move(config);
  return r;
}

InstrumentList InstrumentsFromIni(const IniFile& ini) {
  InstrumentList list;
  for (const std::string& key : ini.Keys(kInstrumentsSection)) {
    const std::string value = ini.Value(kInstrumentsSection, key).value_or("");
    ConfigResult r = ParseInstrument(value, key);
    if (r.config)
      list.configs.push_back(std::move(*r.config));
    else
      list.errors.push_back("[" + std::string(kInstrumentsSection) + "] " + key + ": " + r.error);
  }
  MakeLabelsUnique(list.configs);
  return list;
}

InstrumentList InstrumentsFromArgs(const std::vector<std::string>& entries) {
  InstrumentList list;
  for (const std::string& e : entries) {
    ConfigResult r = ParseInstrument(e);
    if (r.config)
      list.configs.push_back(std::move(*r.config));
    else
      list.errors.push_back(r.error);
  }
  MakeLabelsUnique(list.configs);
  return list;
}

void MakeLabelsUnique(std::vector<InstrumentConfig>& configs) {
  std::vector<std::string> given;
  for (const InstrumentConfig& s : configs) given.push_back(s.label);
  for (std::size_t i = 0; i < configs.size(); ++i) {
    int n = 1;
    for (std::size_t j = 0; j < i; ++j)
      if (Text::EqualsNoCase(given[j], given[i])) ++n;
    if (n > 1) configs[i].label += " " + std::to_string(n);
  }
}

}  // namespace instruments
