// The Prometheus text exposition format (0.0.4) read back, strictly: a test that parses what an
// endpoint wrote finds a malformed line, an unescaped label or a sample without its family.
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace exposition {

struct Sample {
  std::string name;
  std::map<std::string, std::string> labels;
  double value = 0;
};

struct Family {
  std::string help;
  std::string type;
  std::vector<Sample> samples;
};

struct Parsed {
  std::map<std::string, Family> families;
  std::string error;  // first problem; empty when none

  // The value of the sample name{labels}, if present.
  std::optional<double> Value(const std::string& name,
                              const std::map<std::string, std::string>& labels = {}) const {
    for (const auto& [_, f] : families)
      for (const Sample& s : f.samples)
        if (s.name == name && s.labels == labels) return s.value;
    return std::nullopt;
  }
  std::size_t Count(const std::string& family) const {
    const auto it = families.find(family);
    return it == families.end() ? 0 : it->second.samples.size();
  }
};

inline bool ValidName(const std::string& n) {
  if (n.empty()) return false;
  for (std::size_t i = 0; i < n.size(); ++i) {
    const char c = n[i];
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
                    (i > 0 && c >= '0' && c <= '9');
    if (!ok) return false;
  }
  return true;
}

// The family a sample belongs to: histograms add _bucket, _sum and _count.
inline std::string FamilyOf(const std::string& sample, const std::map<std::string, Family>& fams) {
  if (fams.count(sample)) return sample;
  for (const char* suffix : {"_bucket", "_sum", "_count"}) {
    const std::string s(suffix);
    if (sample.size() > s.size() && sample.compare(sample.size() - s.size(), s.size(), s) == 0) {
      const std::string base = sample.substr(0, sample.size() - s.size());
      if (fams.count(base) && (fams.at(base).type == "histogram" ||
                               (fams.at(base).type == "summary" && s != "_bucket")))
        return base;
    }
  }
  return {};
}

// The escaped text from text[i] up to the first unescaped stop (or the end), leaving i there:
// HELP escapes backslash and newline, a label value also the double quote. False on a bad escape.
inline bool Unescape(const std::string& text, std::size_t& i, char stop, std::string& out) {
  bool ok = true;
  for (; i < text.size() && text[i] != stop; ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    const char c = ++i < text.size() ? text[i] : '\0';
    if (c == 'n') out += '\n';
    else if (c == '\\' || (c == '"' && stop == '"')) out += c;
    else ok = false;
  }
  return ok;
}

inline Parsed Parse(const std::string& text) {
  Parsed p;
  auto fail = [&](const std::string& why, const std::string& line) {
    if (p.error.empty()) p.error = why + ": " + line;
  };
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) {
      fail("last line without a newline", text.substr(pos));
      break;
    }
    const std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    if (line.empty()) continue;
    if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) {
      const std::string rest = line.substr(7);
      const std::size_t sp = rest.find(' ');
      const std::string name = rest.substr(0, sp);
      const std::string arg = sp == std::string::npos ? "" : rest.substr(sp + 1);
      if (!ValidName(name)) fail("bad family name", line);
      Family& f = p.families[name];
      if (!f.samples.empty()) fail("HELP or TYPE after samples", line);
      if (line[2] == 'H') {
        std::size_t i = 0;
        if (!Unescape(arg, i, '\0', f.help)) fail("bad escape in HELP", line);
      } else {
        f.type = arg;
        if (arg != "counter" && arg != "gauge" && arg != "histogram" && arg != "summary" &&
            arg != "untyped")
          fail("bad type", line);
      }
      continue;
    }
    if (line[0] == '#') continue;
    Sample s;
    std::size_t i = 0;
    while (i < line.size() && line[i] != '{' && line[i] != ' ') ++i;
    s.name = line.substr(0, i);
    if (!ValidName(s.name)) fail("bad sample name", line);
    if (i < line.size() && line[i] == '{') {
      ++i;
      while (i < line.size() && line[i] != '}') {
        const std::size_t eq = line.find('=', i);
        if (eq == std::string::npos || eq + 1 >= line.size() || line[eq + 1] != '"') {
          fail("bad label", line);
          break;
        }
        const std::string label = line.substr(i, eq - i);
        if (!ValidName(label)) fail("bad label name", line);
        std::string value;
        std::size_t j = eq + 2;
        if (!Unescape(line, j, '"', value)) fail("bad escape in label value", line);
        if (j >= line.size()) {
          fail("unterminated label value", line);
          break;
        }
        if (s.labels.count(label)) fail("repeated label", line);
        s.labels[label] = value;
        i = j + 1;
        if (i < line.size() && line[i] == ',') ++i;
      }
      ++i;  // '}'
    }
    if (i >= line.size() || line[i] != ' ') {
      fail("no value", line);
      continue;
    }
    const std::string v = line.substr(i + 1);
    char* end = nullptr;
    s.value = v == "+Inf" ? 1.0 / 0.0 : v == "-Inf" ? -1.0 / 0.0 : std::strtod(v.c_str(), &end);
    if (v != "+Inf" && v != "-Inf" && (end == v.c_str() || *end != '\0')) fail("bad value", line);
    const std::string family = FamilyOf(s.name, p.families);
    if (family.empty()) {
      fail("sample without HELP/TYPE", line);
      continue;
    }
    p.families[family].samples.push_back(std::move(s));
  }
  return p;
}

}  // namespace exposition
