#include "recording/Snapshot.h"

#include <algorithm>
#include <cctype>

#include "recording/Text.h"
#include "registers/RegisterAccess.h"
#include "registers/RegisterTable.h"
#include "foundation/Text.h"
#include "foundation/TextFile.h"
#include "foundation/Utils.h"
#include "foundation/Version.h"

namespace recording {

namespace {

// The test-mode window's rows, in row order.
const std::array<uint8_t, 11>& Rows() {
  static const std::array<uint8_t, 11> rows = [] {
    std::array<uint8_t, 11> a{};
    std::size_t i = 0;
    for (const RegisterTable::Register& r : RegisterTable::All())
      if (i < a.size()) a[i++] = r.address;
    return a;
  }();
  return rows;
}

int RowOf(uint8_t address) {
  const auto& rows = Rows();
  const auto it = std::find(rows.begin(), rows.end(), address);
  return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
}

// Blanks and tabs, as the settings reader trims.
std::string_view Trim(std::string_view s) { return Text::Trim(s, " \t"); }

// The register of a key "0x10" .. "0x3F" (any case), or -1.
int KeyRegister(std::string_view key) {
  for (uint8_t a : Rows())
    if (Text::EqualsNoCase(key, AddressText(a))) return a;
  return -1;
}

}  // namespace

std::span<const uint8_t> SnapshotRegisters() { return Rows(); }

// A preset writes it and the charger takes it: 0x13 (read-only), 0x17 and 0x19 (no preset key)
// are kept as comments only.
bool IsSnapshotKey(uint8_t address) {
  const RegisterTable::Register* r = RegisterTable::Find(address);
  return r != nullptr && r->inPreset && !r->readOnly;
}

std::optional<uint16_t> Snapshot::Value(uint8_t address) const {
  const int row = RowOf(address);
  return row < 0 ? std::nullopt : values[static_cast<std::size_t>(row)];
}

void Snapshot::SetValue(uint8_t address, std::optional<uint16_t> value) {
  const int row = RowOf(address);
  if (row >= 0) values[static_cast<std::size_t>(row)] = value;
}

bool Snapshot::Complete() const {
  return std::all_of(values.begin(), values.end(), [](const auto& v) { return v.has_value(); });
}

Snapshot ReadSnapshot(RegisterAccess& access, int16_t target, std::string_view regName,
                      Variant variant, const Clock& clock, std::span<const uint8_t> rows) {
  Snapshot s;
  s.variant = variant;
  s.deviceAddress = target;
  s.version = std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
              std::to_string(kVersionRevision);
  const WallTime when = clock.WallNow();
  s.time = IsoTimeFormatter().Format(when);
  s.description = "Snapshot " + s.time.substr(0, 10) + " " + s.time.substr(11, 8);
  for (uint8_t address : rows) {
    const RegisterTable::Register* info = RegisterTable::Find(address);
    const std::string name =
        !regName.empty() || info == nullptr ? std::string(regName) : std::string(info->trimTitle);
    int16_t value = 0;
    if (access.ReadRegister(name, address, value, target) == 0)
      s.SetValue(address, static_cast<uint16_t>(value));
  }
  return s;
}

std::string FormatSnapshot(const Snapshot& s) {
  auto hex = [&](uint8_t a) { return Text::Hex(s.Value(a).value_or(0), 4); };
  std::string t;
  t += "; " + std::string(VariantName(s.variant)) +
       " register snapshot, a spin preset section: restore it with \"korvoctl restore FILE\",\n"
       "; or paste the section into the settings file to apply it as a preset.\n";
  t += "[" + Spins::SectionName(s.caption) + "]\n";
  t += "Desc=" + s.description + "\n";
  for (const RegisterTable::Register& reg : RegisterTable::All()) {
    if (!reg.inPreset || !IsSnapshotKey(reg.address)) continue;
    t += RegisterTable::PresetKey(reg) + "=" + hex(reg.address) + "\n";
  }
  for (uint8_t a : Rows())
    if (!IsSnapshotKey(a)) t += "; " + AddressText(a) + "=" + hex(a) + "\n";
  t += "; Time=" + s.time + "\n";
  t += "; Variant=" + std::string(VariantName(s.variant)) + "\n";
  t += "; Address=0x" + Text::Hex(static_cast<uint16_t>(s.deviceAddress), 2) + "\n";
  t += "; Version=" + s.version + "\n";
  return t;
}

std::optional<Snapshot> ParseSnapshot(std::string_view text, SnapshotError& error) {
  auto fail = [&](int line, std::string reason) {
    error = {line, std::move(reason)};
    return std::nullopt;
  };
  if (text.empty()) return fail(0, "empty file, not a snapshot");

  Snapshot s;
  bool inSection = false;
  bool haveDesc = false;
  std::array<bool, 11> seen{};
  bool haveTime = false, haveVariant = false, haveAddress = false, haveVersion = false;
  TextFile::Lines lines(text);
  int lineNo = 0;
  for (std::string_view raw; lines.Next(raw);) {
    lineNo = lines.Number();
    if (!lines.Ended()) return fail(lineNo, "truncated: the last line has no end");
    if (!TextFile::IsTextLine(raw)) return fail(lineNo, "not text (binary data)");
    const std::string_view line = Trim(raw);
    if (line.empty()) continue;

    if (line.front() == ';') {
      // "; KEY=VALUE" carries a comment register or the metadata; other comments are free.
      const std::string_view body = Trim(line.substr(1));
      const std::size_t eq = body.find('=');
      if (eq == std::string_view::npos) continue;
      const std::string_view key = Trim(body.substr(0, eq));
      const std::string_view value = Trim(body.substr(eq + 1));
      auto once = [&](bool& flag) {
        if (flag) return false;
        flag = true;
        return true;
      };
      const int reg = KeyRegister(key);
      if (reg >= 0 && !IsSnapshotKey(static_cast<uint8_t>(reg))) {
        const auto row = static_cast<std::size_t>(RowOf(static_cast<uint8_t>(reg)));
        if (!once(seen[row])) return fail(lineNo, std::string(key) + " is given twice");
        const auto v = Spins::ParsePresetValue(value);
        if (!v) return fail(lineNo, std::string(key) + " is not 1 to 4 hex digits");
        s.values[row] = *v;
      } else if (Text::EqualsNoCase(key, "Time")) {
        if (!once(haveTime)) return fail(lineNo, "Time is given twice");
        if (value.empty()) return fail(lineNo, "Time is empty");
        s.time = value;
      } else if (Text::EqualsNoCase(key, "Variant")) {
        if (!once(haveVariant)) return fail(lineNo, "Variant is given twice");
        const auto v = ParseVariant(value);
        if (!v) return fail(lineNo, "Variant must be rk5190 or rk5191");
        s.variant = *v;
      } else if (Text::EqualsNoCase(key, "Address")) {
        if (!once(haveAddress)) return fail(lineNo, "Address is given twice");
        const auto v = Utils::ParseInteger(value, 0, 0xFF);
        if (!v) return fail(lineNo, "Address must be 0 to 0xFF");
        s.deviceAddress = static_cast<int16_t>(*v);
      } else if (Text::EqualsNoCase(key, "Version")) {
        if (!once(haveVersion)) return fail(lineNo, "Version is given twice");
        if (value.empty()) return fail(lineNo, "Version is empty");
        s.version = value;
      }
      continue;
    }

    if (line.front() == '[') {
      if (inSection) return fail(lineNo, "a second section: a snapshot is one section");
      if (line.back() != ']') return fail(lineNo, "a section header must end in ]");
      const std::string_view name = Trim(line.substr(1, line.size() - 2));
      std::optional<std::string_view> caption;
      if (name.size() > 4 && Text::EqualsNoCase(name.substr(0, 4), "Spin"))
        caption = Spins::FindCaption(Trim(name.substr(4)));
      if (!caption || Spins::SectionName(*caption).size() != name.size())
        return fail(lineNo, "section [" + TextFile::Shown(name) +
                                "] is not a spin section ([SpinCustom 1] and the like)");
      s.caption = *caption;
      inSection = true;
      continue;
    }

    if (!inSection) return fail(lineNo, "a line before the section header");
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail(lineNo, "expected KEY=VALUE");
    const std::string_view key = Trim(line.substr(0, eq));
    const std::string_view value = Trim(line.substr(eq + 1));
    if (Text::EqualsNoCase(key, "Desc")) {
      if (haveDesc) return fail(lineNo, "Desc is given twice");
      haveDesc = true;
      s.description = value;
      continue;
    }
    const int reg = KeyRegister(key);
    if (reg < 0) return fail(lineNo, "unknown key " + TextFile::Quote(key));
    if (!IsSnapshotKey(static_cast<uint8_t>(reg)))
      return fail(lineNo, std::string(key) + " is never written: a snapshot holds it as a comment");
    const auto row = static_cast<std::size_t>(RowOf(static_cast<uint8_t>(reg)));
    if (seen[row]) return fail(lineNo, std::string(key) + " is given twice");
    seen[row] = true;
    const auto v = Spins::ParsePresetValue(value);
    if (!v) return fail(lineNo, std::string(key) + " is not 1 to 4 hex digits without prefix");
    s.values[row] = *v;
  }

  // Everything is written, metadata last: what is missing shows a truncated file.
  if (!inSection) return fail(lineNo, "truncated: no spin section");
  for (bool keys : {true, false}) {  // in the order they are written
    for (std::size_t row = 0; row < Rows().size(); ++row) {
      if (!seen[row] && IsSnapshotKey(Rows()[row]) == keys)
        return fail(lineNo, "truncated: " + AddressText(Rows()[row]) + " is missing");
    }
  }
  if (!haveTime) return fail(lineNo, "truncated: Time is missing");
  if (!haveVariant) return fail(lineNo, "truncated: Variant is missing");
  if (!haveAddress) return fail(lineNo, "truncated: Address is missing");
  if (!haveVersion) return fail(lineNo, "truncated: Version is missing");
  return s;
}

std::optional<Snapshot> LoadSnapshot(const std::string& path, std::string& message) {
  std::string text;
  switch (TextFile::Read(path, text)) {
    case TextFile::ReadResult::kOk: break;
    case TextFile::ReadResult::kUnreadable:
      message = path + ": cannot be read (missing, or not a plain file)";
      return std::nullopt;
    case TextFile::ReadResult::kTooLarge:
      // A snapshot is a few hundred bytes.
      message = path + ": larger than " + std::string(TextFile::kMaxBytesText) +
                ", too large for a snapshot";
      return std::nullopt;
  }
  SnapshotError error;
  std::optional<Snapshot> s = ParseSnapshot(text, error);
  if (!s) {
    message = path + (error.line > 0 ? ":" + std::to_string(error.line) : std::string()) + ": " +
              error.reason;
  }
  return s;
}

std::vector<RegisterChange> CompareSnapshots(const Snapshot& reference, const Snapshot& other) {
  std::vector<RegisterChange> changes;
  for (uint8_t a : Rows()) {
    if (!IsSnapshotKey(a)) continue;
    const std::optional<uint16_t> from = reference.Value(a);
    const std::optional<uint16_t> to = other.Value(a);
    if (from == to) continue;
    RegisterChange c{a, from, to, {}};
    if (from && to) {
      for (int bit = 15; bit >= 0; --bit) {
        const bool f = (*from >> bit) & 1, t = (*to >> bit) & 1;
        if (f != t) c.bits.push_back({bit, TestModeBitName(a, bit), f, t});
      }
    }
    changes.push_back(std::move(c));
  }
  return changes;
}

std::string FormatComparison(const std::vector<RegisterChange>& changes, std::string_view from,
                             std::string_view to) {
  auto value = [](const std::optional<uint16_t>& v) {
    return v ? Text::Word(*v) : std::string("not read");
  };
  std::string t;
  for (const RegisterChange& c : changes) {
    const RegisterTable::Register* info = RegisterTable::Find(c.address);
    t += AddressText(c.address) + " " + value(c.from) + " (" + std::string(from) + ") " +
         value(c.to) + " (" + std::string(to) + ")";
    if (info) t += " " + std::string(info->trimTitle);
    t += "\n";
    for (const BitChange& b : c.bits) {
      t += "  bit " + std::to_string(b.bit) + " \"" + std::string(b.name) + "\" " +
           (b.from ? "1" : "0") + " -> " + (b.to ? "1" : "0") + "\n";
    }
  }
  return t;
}

Spins::SpinReport RestoreSnapshot(Spins::SpinProgrammer& writer, const Snapshot& s) {
  return writer.ApplyPreset(Spins::SectionName(s.caption), [&s](std::string_view key) {
    const int reg = KeyRegister(key);
    if (reg < 0 || !IsSnapshotKey(static_cast<uint8_t>(reg))) return std::string();
    const std::optional<uint16_t> v = s.Value(static_cast<uint8_t>(reg));
    return v ? Text::Hex(*v, 4) : std::string();
  });
}

}  // namespace recording
