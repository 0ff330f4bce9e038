#include "drivers/sim/SimCharger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "adapter/ErrorCodes.h"
#include "registers/RegisterTable.h"
#include "foundation/Text.h"

namespace sim {

namespace {

using RegisterTable::kChargeCurrent, RegisterTable::kChargeVoltage, RegisterTable::kControl,
    RegisterTable::kInputCurrent, RegisterTable::kStatus, RegisterTable::kTestMode1,
    RegisterTable::kTestMode2, RegisterTable::kTrim0, RegisterTable::kTrim1, RegisterTable::kTrim2,
    RegisterTable::kVdt;

constexpr std::string_view kEepromHeader = "[Eeprom]";

// Far more than any EEPROM file the board writes; a larger file is something else.
constexpr off_t kMaxEepromFileSize = 4096;

// The trim registers an EEPROM file holds, in the order the board writes them; each under its
// spin preset key.
constexpr std::array<uint8_t, 3> kEepromRegisters = {kTrim0, kTrim1, kTrim2};
std::string EepromKey(std::size_t k) {
  return RegisterTable::PresetKey(*RegisterTable::Find(kEepromRegisters[k]));
}

std::string ErrnoText(int err) { return std::generic_category().message(err); }

// The file's contents, or why it cannot be an EEPROM file. A missing file is no problem (the
// board has not burned yet): exists is then false and the result empty.
std::string ReadWholeEepromFile(const std::string& path, bool& exists, std::string& text) {
  exists = false;
  // Non-blocking, so that a FIFO cannot hang the start-up; only a plain file is read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) return {};
    exists = errno != ENOTDIR;
    return "it cannot be read (" + ErrnoText(errno) + ")";
  }
  exists = true;
  struct stat st {};
  std::string problem;
  if (::fstat(fd, &st) != 0)
    problem = "it cannot be read (" + ErrnoText(errno) + ")";
  else if (S_ISDIR(st.st_mode))
    problem = "it is a directory";
  else if (!S_ISREG(st.st_mode))
    problem = S_ISFIFO(st.st_mode) ? "it is a FIFO, not a file" : "it is not a plain file";
  else if (st.st_size > kMaxEepromFileSize)
    problem = "it is too large (" + std::to_string(st.st_size) + " bytes) to be one";
  char buf[1024];
  while (problem.empty()) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0 &&
        text.size() + static_cast<std::size_t>(n) <= static_cast<std::size_t>(kMaxEepromFileSize))
      text.append(buf, static_cast<std::size_t>(n));
    else if (n > 0)
      problem = "it is too large to be one";
    else if (n == 0)
      break;
    else if (errno != EINTR)
      problem = "it cannot be read (" + ErrnoText(errno) + ")";
  }
  ::close(fd);
  return problem;
}

// Checks text against the form SaveEepromFile writes: comment lines, the [Eeprom] header and
// the three words as exactly four hex digits, each line ended. Anything else, a cut-short
// value or a missing last line break included, is named; the words go to out only when all is
// well.
std::string ParseEepromFile(std::string_view text, TrimEeprom& out) {
  if (text.empty()) return "it is empty";
  if (text.back() != '\n') return "its last line is not ended (cut short?)";
  std::array<std::optional<uint16_t>, kEepromRegisters.size()> words;
  bool inSection = false;
  int lineNo = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t end = text.find('\n', pos);
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = Text::Trim(line);
    const std::string where = "line " + std::to_string(lineNo);
    if (line.empty() || line.front() == ';') continue;
    const std::string_view header = kEepromHeader;
    if (inSection && line.front() == '[') return where + " starts a second section";
    if (!inSection) {
      if (!Text::EqualsNoCase(line, header))
        return where + " is not the section header " + std::string(header);
      inSection = true;
      continue;
    }
    const std::size_t eq = line.find('=');
    const std::string_view key = Text::Trim(line.substr(0, eq == std::string_view::npos ? 0 : eq));
    std::size_t k = 0;
    while (k < kEepromRegisters.size() && !Text::EqualsNoCase(key, EepromKey(k))) ++k;
    if (eq == std::string_view::npos || k == kEepromRegisters.size())
      return where + " is no trim word (" + EepromKey(0) + "=, " + EepromKey(1) + "= or " +
             EepromKey(2) + "=)";
    const std::string name = EepromKey(k);
    if (words[k]) return name + " appears twice";
    const std::string_view value = Text::Trim(line.substr(eq + 1));
    const std::optional<uint16_t> word =
        value.size() == 4 ? Text::ParseHexWord(value) : std::nullopt;
    if (!word) return "the value of " + name + " is not four hex digits (cut short?)";
    words[k] = word;
  }
  for (std::size_t k = 0; k < kEepromRegisters.size(); ++k)
    if (!words[k]) return "it holds no " + EepromKey(k);
  out = {*words[0], *words[1], *words[2]};
  return {};
}

// Whether the two paths name one file (either may not exist yet).
bool SameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  std::error_code ea, eb;
  const auto ca = std::filesystem::weakly_canonical(a, ea),
             cb = std::filesystem::weakly_canonical(b, eb);
  return !ea && !eb && ca == cb;
}

}  // namespace

Charger::Charger(const Conditions& conditions, std::string eepromFile, std::string settingsFile,
                 const std::optional<TrimEeprom>& fallback)
    : conditions_(conditions),
      eepromFile_(std::move(eepromFile)),
      settingsFile_(std::move(settingsFile)) {
  LoadEeprom(fallback);
  PowerCycle();
}

bool Charger::TestMode() const { return (regs_[kTestMode1] & kTestModeEnable) != 0; }

bool Charger::Has(uint8_t command) const {
  return (command >= kTrim0 && command <= kVdt) || command == kInputCurrent;
}

bool Charger::Charging() const {
  return conditions_.charging && conditions_.acPresent && conditions_.batteryPresent &&
         conditions_.batteryTemperature == BatteryTemperature::Normal &&
         !conditions_.thermalShutdown;
}

uint16_t Charger::ComputeStatus() const {
  if (statusOverride_) return *statusOverride_;
  uint16_t s = 0;
  if (conditions_.acPresent)
    s |= kStatusAcDet | kStatusAc2Sys;
  else if (conditions_.batteryPresent)
    s |= kStatusAcBelowBat | kStatusBat2Sys;
  if (conditions_.batteryTemperature == BatteryTemperature::Hot) s |= kStatusBHot;
  if (conditions_.batteryTemperature == BatteryTemperature::Cold) s |= kStatusBCold;
  if (conditions_.thermalShutdown) s |= kStatusTshut;
  if (!Charging()) s |= kStatusChgOff;
  return s;
}

uint16_t Charger::ComputeVdt() const {
  if (vdtOverride_) return *vdtOverride_;
  constexpr uint16_t kHigh = 1u << 15, kMid = 1u << 6, kLow = 1u << 5, kNineVolt = 1u << 4,
                     kInhibit = 1u << 3, kFour = 1u << 2, kThree = 1u << 1, kTwo = 1u << 0;
  const unsigned mv = regs_[kChargeVoltage] & kVoltageMask;
  auto vdac = [mv](unsigned base) {
    return static_cast<uint16_t>((((mv - base) / 32) & 0x7F) << 7);
  };
  if (mv == 9000) return kTwo | kNineVolt;
  if (mv >= 12000 && mv <= 14400) return kThree | vdac(12000);
  if (mv >= 16000 && mv <= 19200) return kFour | vdac(16000);
  if (mv > 19200) return kHigh | kInhibit;
  if (mv > 14400) return kMid | kInhibit;
  return kLow | kInhibit;
}

uint16_t Charger::Peek(uint8_t r) const {
  if (!Has(r)) return 0;
  if (r == kStatus) return ComputeStatus();
  if (r == kVdt) return ComputeVdt();
  return regs_[r];
}

void Charger::Poke(uint8_t r, uint16_t v) {
  if (!Has(r)) return;
  if (r == kStatus)
    statusOverride_ = v;
  else if (r == kVdt)
    vdtOverride_ = v;
  else
    regs_[r] = v;
}

void Charger::ClearOverrides() {
  statusOverride_.reset();
  vdtOverride_.reset();
}

void Charger::SetConditions(const Conditions& c) {
  const bool wasPowered = Powered();
  conditions_ = c;
  statusOverride_.reset();
  if (!wasPowered && Powered()) PowerCycle();
}

void Charger::ResetChargerRegisters() {
  regs_[kControl] = kPowerOnControl;
  regs_[kChargeCurrent] = kPowerOnChargeCurrent;
  regs_[kChargeVoltage] = kPowerOnChargeVoltage;
  regs_[kInputCurrent] = kPowerOnInputCurrent;
}

void Charger::PowerCycle() {
  regs_.fill(0);
  ResetChargerRegisters();
  regs_[kTrim0] = trimEeprom_.tr0;
  regs_[kTrim1] = trimEeprom_.tr1;
  regs_[kTrim2] = trimEeprom_.tr2;
  pointer_ = kTrim0;
  ClearOverrides();
}

void Charger::LeaveTestModeBits() {
  regs_[kControl] &= kControlMask;
  regs_[kChargeCurrent] &= kCurrentMask;
  regs_[kChargeVoltage] &= kVoltageMask;
  regs_[kInputCurrent] &= kCurrentMask;
}

bool Charger::Select(uint8_t command) {
  if (!Has(command)) return false;
  pointer_ = command;
  return true;
}

bool Charger::Read(uint8_t command, uint16_t& value) {
  if (!Select(command)) return false;
  value = Peek(command);
  return true;
}

int16_t Charger::Write(uint8_t command, uint16_t v, std::string& note) {
  if (!Select(command)) return VB_T2H_NACK;
  const bool testMode = TestMode();
  switch (command) {
    case kStatus:
    case kVdt: return VB_OK;  // read-only: acknowledged, nothing changes
    case kTrim0:
    case kTrim1:
    case kTrim2:
    case kTestMode2:
      if (testMode) regs_[command] = v;
      return VB_OK;
    case kTestMode1: return WriteTestMode(v, note);
    case kControl:
      if (v & kControlRst) {
        ResetChargerRegisters();
        return VB_OK;
      }
      regs_[command] = v & (kControlMask | (testMode ? kControlTestMask : 0));
      return VB_OK;
    case kChargeCurrent:
    case kInputCurrent:
      regs_[command] = v & (kCurrentMask | (testMode ? kCurrentTestMask : 0));
      return VB_OK;
    case kChargeVoltage:
      regs_[command] = v & (kVoltageMask | (testMode ? kVoltageTestMask : 0));
      return VB_OK;
    default: return VB_T2H_NACK;
  }
}

int16_t Charger::WriteTestMode(uint16_t v, std::string& note) {
  regs_[kTestMode1] = v;
  if (!(v & kTestModeEnable)) {
    LeaveTestModeBits();
    return VB_OK;
  }
  if (!(v & kTestModeBurn)) return VB_OK;
  trimEeprom_ = {regs_[kTrim0], regs_[kTrim1], regs_[kTrim2]};
  ++burnCount_;
  if (eepromFile_.empty()) return VB_OK;
  // The simulated control could not keep its promise: say so rather than pretend it burned.
  if (const std::string why = SaveEepromFile(); !why.empty()) {
    note = "The burn was not saved to the EEPROM file " + eepromFile_ + ": " + why + ".";
    return VB_ZENTIO_OCX_INTERNAL_ERROR;
  }
  return VB_OK;
}

// --- the charger's EEPROM ---

void Charger::LoadEeprom(const std::optional<TrimEeprom>& fallback) {
  trimEeprom_ = fallback.value_or(TrimEeprom{});
  if (eepromFile_.empty()) return;
  if (SameFile(eepromFile_, settingsFile_)) {
    eepromProblem_ =
        "it is the settings file, which the simulated board never writes. Name a file of its own.";
    return;
  }
  bool exists = false;
  std::string text;
  std::string why = ReadWholeEepromFile(eepromFile_, exists, text);
  if (!exists) return;  // not burned yet
  TrimEeprom burned;
  if (why.empty()) why = ParseEepromFile(text, burned);
  if (!why.empty()) {
    eepromProblem_ = why + ". The simulated adapter does not open: mend or remove the file.";
    return;
  }
  trimEeprom_ = burned;
}

std::string Charger::SaveEepromFile() const {
  // Checked again: the file may have changed since the start.
  if (SameFile(eepromFile_, settingsFile_)) return "it is the settings file";
  bool exists = false;
  std::string text;
  std::string why = ReadWholeEepromFile(eepromFile_, exists, text);
  TrimEeprom old;
  if (exists && why.empty()) why = ParseEepromFile(text, old);
  if (exists && !why.empty()) return "it is not an EEPROM file the board wrote (" + why + ")";

  // A fresh file of our own beside it, then renamed over it: whole or not at all.
  std::string tmp = eepromFile_ + ".XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return "a file beside it cannot be created (" + ErrnoText(errno) + ")";
  std::string contents = "; Trim words burned into the simulated rk5190's EEPROM (TR0, TR1, TR2)\n";
  const std::array<uint16_t, 3> words = {trimEeprom_.tr0, trimEeprom_.tr1, trimEeprom_.tr2};
  contents.append(kEepromHeader);
  for (std::size_t k = 0; k < words.size(); ++k)
    contents.append("\n").append(EepromKey(k)).append("=").append(Text::Hex(words[k], 4));
  contents.append("\n");
  std::size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      why = "it cannot be written (" + ErrnoText(n < 0 ? errno : EIO) + ")";
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && why.empty()) why = "it cannot be written (" + ErrnoText(errno) + ")";
  if (why.empty() && ::rename(tmp.c_str(), eepromFile_.c_str()) != 0)
    why = "it cannot be replaced (" + ErrnoText(errno) + ")";
  if (!why.empty()) ::unlink(tmp.c_str());
  return why;
}

std::string Charger::Describe() const {
  if (!Powered()) return ", no supply (no AC adapter, no battery)";
  std::string s = conditions_.acPresent ? ", AC adapter present" : ", no AC adapter";
  s += conditions_.batteryPresent ? ", battery present" : ", no battery";
  if (conditions_.batteryTemperature == BatteryTemperature::Hot) s += ", battery hot";
  if (conditions_.batteryTemperature == BatteryTemperature::Cold) s += ", battery cold";
  if (conditions_.thermalShutdown) s += ", thermal shutdown";
  s += Charging() ? ", charging" : ", not charging";
  return s;
}

}  // namespace sim
