#include "drivers/sim/SimBoard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "adapter/ErrorCodes.h"
#include "shell/Settings.h"

namespace sim {

namespace {

constexpr std::string_view kSection = "Simulator";
constexpr std::string_view kEepromHeader = "[Eeprom]";

std::mutex& SharedMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<Board>& SharedSlot() {
  static std::shared_ptr<Board> board;
  return board;
}
std::atomic<uint64_t> g_sharedGeneration{0};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// 1 to 4 hex digits, nothing else.
std::optional<uint16_t> ParseWord(std::string_view text) {
  text = Trim(text);
  if (text.empty() || text.size() > 4) return std::nullopt;
  unsigned v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return static_cast<uint16_t>(v);
}

// A fraction 0..1; anything that does not read as one switches the mode off.
double ParseRate(std::string_view text) {
  text = Trim(text);
  double v = 0.0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || !(v > 0.0)) return 0.0;
  return std::min(v, 1.0);
}

FaultScope ParseScope(std::string_view text) {
  text = Trim(text);
  if (EqualsNoCase(text, "Reads")) return FaultScope::Reads;
  if (EqualsNoCase(text, "Writes")) return FaultScope::Writes;
  return FaultScope::All;
}

bool InScope(FaultScope scope, Transaction::Kind kind) {
  switch (scope) {
    case FaultScope::All: return true;
    case FaultScope::Reads: return kind == Transaction::Kind::Read;
    case FaultScope::Writes: return kind == Transaction::Kind::Write;
  }
  return false;
}

uint64_t SplitMix64(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::string Hex4(uint16_t v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s(4, '0');
  for (int i = 3; i >= 0; --i, v >>= 4) s[static_cast<std::size_t>(i)] = kDigits[v & 0xF];
  return s;
}

std::string Ordinal(int n) {
  const int tens = n % 100;
  const char* suffix = (tens >= 11 && tens <= 13) ? "th"
                       : n % 10 == 1              ? "st"
                       : n % 10 == 2              ? "nd"
                       : n % 10 == 3              ? "rd"
                                                  : "th";
  return std::to_string(n) + suffix;
}

std::string StatusText(int16_t status) {
  return std::to_string(status) + " " + TranslateErrorCode(status);
}

constexpr std::size_t kMaxNotes = 32;
// Far more than any EEPROM file the board writes; a larger file is something else.
constexpr off_t kMaxEepromFileSize = 4096;

// The trim words of an EEPROM file and their keys, in the order the board writes them.
constexpr std::array<std::string_view, 3> kEepromKeys = {"0x10", "0x11", "0x16"};

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
    if (n > 0 && text.size() + static_cast<std::size_t>(n) <= static_cast<std::size_t>(kMaxEepromFileSize))
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
  std::array<std::optional<uint16_t>, kEepromKeys.size()> words;
  bool inSection = false;
  int lineNo = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t end = text.find('\n', pos);
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = Trim(line);
    const std::string where = "line " + std::to_string(lineNo);
    if (line.empty() || line.front() == ';') continue;
    const std::string_view header = kEepromHeader;
    if (inSection && line.front() == '[') return where + " starts a second section";
    if (!inSection) {
      if (!EqualsNoCase(line, header))
        return where + " is not the section header " + std::string(header);
      inSection = true;
      continue;
    }
    const std::size_t eq = line.find('=');
    const std::string_view key = Trim(line.substr(0, eq == std::string_view::npos ? 0 : eq));
    std::size_t k = 0;
    while (k < kEepromKeys.size() && !EqualsNoCase(key, kEepromKeys[k])) ++k;
    if (eq == std::string_view::npos || k == kEepromKeys.size())
      return where + " is no trim word (0x10=, 0x11= or 0x16=)";
    const std::string name(kEepromKeys[k]);
    if (words[k]) return name + " appears twice";
    const std::string_view value = Trim(line.substr(eq + 1));
    const std::optional<uint16_t> word = value.size() == 4 ? ParseWord(value) : std::nullopt;
    if (!word) return "the value of " + name + " is not four hex digits (cut short?)";
    words[k] = word;
  }
  for (std::size_t k = 0; k < kEepromKeys.size(); ++k)
    if (!words[k]) return "it holds no " + std::string(kEepromKeys[k]);
  out = {*words[0], *words[1], *words[2]};
  return {};
}

// Whether the two paths name one file (either may not exist yet).
bool SameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  std::error_code ea, eb;
  const auto ca = std::filesystem::weakly_canonical(a, ea), cb = std::filesystem::weakly_canonical(b, eb);
  return !ea && !eb && ca == cb;
}

}  // namespace

const char* FaultScopeName(FaultScope scope) {
  switch (scope) {
    case FaultScope::All: return "All";
    case FaultScope::Reads: return "Reads";
    case FaultScope::Writes: return "Writes";
  }
  return "All";
}

Board::Options Board::OptionsFromSettings() { return OptionsFromSettings(Settings::Snapshot()); }

Board::Options Board::OptionsFromSettings(const Settings::Snapshot& settings) {
  Options o;
  auto flag = [&](std::string_view key, bool def) {
    return settings.GetInt(kSection, key, def ? 1 : 0) != 0;
  };
  o.absent = flag("Absent", false);
  o.conditions.acPresent = flag("AcPresent", true);
  o.conditions.batteryPresent = flag("BatteryPresent", true);
  o.conditions.charging = flag("Charging", true);

  o.settingsFile = Settings::File();
  std::string file(Trim(settings.GetString(kSection, "EepromFile", "")));
  if (!file.empty()) {
    std::filesystem::path p(file);
    if (p.is_relative()) p = std::filesystem::path(o.settingsFile).parent_path() / p;
    o.eepromFile = p.string();
  }

  o.faults.everyNth = std::max(0, settings.GetInt(kSection, "FailEveryNth", 0));
  o.faults.rate = ParseRate(settings.GetString(kSection, "FailRate", ""));
  o.faults.seed = static_cast<uint32_t>(settings.GetInt(kSection, "FailSeed", 1));
  o.faults.next = std::max(0, settings.GetInt(kSection, "FailNext", 0));
  o.faults.status = Settings::ClampToInt16(settings.GetInt(kSection, "FailStatus", VB_TIMEOUT_ERROR));
  o.faults.scope = ParseScope(settings.GetString(kSection, "FailScope", "All"));
  o.faults.pendingErrorAfterWrite = Settings::ClampToInt16(settings.GetInt(kSection, "PendingError", 0));
  o.latency = std::chrono::microseconds(std::max(0, settings.GetInt(kSection, "LatencyUs", 0)));

  std::string scenario(Trim(settings.GetString(kSection, "Scenario", "")));
  if (!scenario.empty()) {
    std::filesystem::path p(scenario);
    if (p.is_relative()) p = std::filesystem::path(o.settingsFile).parent_path() / p;
    if (auto loaded = LoadScenario(p.string(), o.refusal)) o.scenario = std::move(*loaded);
  }
  return o;
}

Board::Board() : Board(Options{}) {}

Board::Board(Options options)
    : conditions_(options.conditions),
      absent_(options.absent),
      eepromFile_(std::move(options.eepromFile)),
      settingsFile_(std::move(options.settingsFile)),
      scenario_(std::move(options.scenario)),
      refusal_(std::move(options.refusal)) {
  if (options.clock != nullptr) clock_ = options.clock;
  eepromDevice_.fill(0xFF);
  history_.reserve(2 * kHistoryKept);
  LoadEeprom(options.eeprom);
  PowerCycle();
  const Faults& f = options.faults;
  FailEveryNth(f.everyNth, f.status, f.scope);
  FailAtRate(f.rate, f.seed, f.status, f.scope);
  FailNext(f.next, f.status, f.scope);
  SetPendingErrorAfterWrite(f.pendingErrorAfterWrite);
  SetLatency(options.latency);
}

std::shared_ptr<Board> Board::Shared() {
  {
    std::lock_guard lock(SharedMutex());
    if (SharedSlot()) return SharedSlot();
  }
  return Shared(Settings::Snapshot());
}

std::shared_ptr<Board> Board::Shared(const Settings::Snapshot& settings) {
  std::lock_guard lock(SharedMutex());
  auto& slot = SharedSlot();
  if (!slot) slot = std::make_shared<Board>(OptionsFromSettings(settings));
  return slot;
}

void Board::ResetShared(std::shared_ptr<Board> board) {
  std::lock_guard lock(SharedMutex());
  SharedSlot() = std::move(board);
  g_sharedGeneration.fetch_add(1, std::memory_order_release);
}

uint64_t Board::SharedGeneration() { return g_sharedGeneration.load(std::memory_order_acquire); }

// --- registers ---

bool Board::ChargerHas(uint8_t command) const {
  return (command >= reg::TR0 && command <= reg::VDT) || command == reg::InputCurrent;
}

bool Board::Charging() const {
  return conditions_.charging && conditions_.acPresent && conditions_.batteryPresent &&
         conditions_.batteryTemperature == BatteryTemperature::Normal && !conditions_.thermalShutdown;
}

uint16_t Board::ComputeStatus() const {
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

uint16_t Board::ComputeVdt() const {
  if (vdtOverride_) return *vdtOverride_;
  constexpr uint16_t kHigh = 1u << 15, kMid = 1u << 6, kLow = 1u << 5, kNineVolt = 1u << 4,
                     kInhibit = 1u << 3, kFour = 1u << 2, kThree = 1u << 1, kTwo = 1u << 0;
  const unsigned mv = regs_[reg::ChargeVoltage] & kVoltageMask;
  auto vdac = [mv](unsigned base) { return static_cast<uint16_t>((((mv - base) / 32) & 0x7F) << 7); };
  if (mv == 9000) return kTwo | kNineVolt;
  if (mv >= 12000 && mv <= 14400) return kThree | vdac(12000);
  if (mv >= 16000 && mv <= 19200) return kFour | vdac(16000);
  if (mv > 19200) return kHigh | kInhibit;
  if (mv > 14400) return kMid | kInhibit;
  return kLow | kInhibit;
}

uint16_t Board::Peek(uint8_t r) const {
  if (!ChargerHas(r)) return 0;
  if (r == reg::Status) return ComputeStatus();
  if (r == reg::VDT) return ComputeVdt();
  return regs_[r];
}

void Board::Poke(uint8_t r, uint16_t v) {
  if (!ChargerHas(r)) return;
  if (r == reg::Status)
    statusOverride_ = v;
  else if (r == reg::VDT)
    vdtOverride_ = v;
  else
    regs_[r] = v;
}

void Board::ClearOverrides() {
  statusOverride_.reset();
  vdtOverride_.reset();
}

void Board::SetConditions(const Conditions& c) {
  const bool wasPowered = Powered();
  conditions_ = c;
  statusOverride_.reset();
  if (!wasPowered && Powered()) PowerCycle();
}

void Board::ResetChargerRegisters() {
  regs_[reg::Control] = kPowerOnControl;
  regs_[reg::ChargeCurrent] = kPowerOnChargeCurrent;
  regs_[reg::ChargeVoltage] = kPowerOnChargeVoltage;
  regs_[reg::InputCurrent] = kPowerOnInputCurrent;
}

void Board::PowerCycle() {
  regs_.fill(0);
  ResetChargerRegisters();
  regs_[reg::TR0] = trimEeprom_.tr0;
  regs_[reg::TR1] = trimEeprom_.tr1;
  regs_[reg::TR2] = trimEeprom_.tr2;
  chargerPointer_ = reg::TR0;
  ClearOverrides();
}

void Board::LeaveTestModeBits() {
  regs_[reg::Control] &= kControlMask;
  regs_[reg::ChargeCurrent] &= kCurrentMask;
  regs_[reg::ChargeVoltage] &= kVoltageMask;
  regs_[reg::InputCurrent] &= kCurrentMask;
}

bool Board::ChargerSelect(uint8_t command) {
  if (!ChargerHas(command)) return false;
  chargerPointer_ = command;
  return true;
}

bool Board::ChargerRead(uint8_t command, uint16_t& value) {
  if (!ChargerSelect(command)) return false;
  value = Peek(command);
  return true;
}

int16_t Board::ChargerWrite(uint8_t command, uint16_t v) {
  if (!ChargerSelect(command)) return VB_T2H_NACK;
  const bool testMode = TestMode();
  switch (command) {
    case reg::Status:
    case reg::VDT:
      return VB_OK;  // read-only: acknowledged, nothing changes
    case reg::TR0:
    case reg::TR1:
    case reg::TR2:
    case reg::TM2:
      if (testMode) regs_[command] = v;
      return VB_OK;
    case reg::TM1:
      return WriteTestMode(v);
    case reg::Control:
      if (v & kControlRst) {
        ResetChargerRegisters();
        return VB_OK;
      }
      regs_[command] = v & (kControlMask | (testMode ? kControlTestMask : 0));
      return VB_OK;
    case reg::ChargeCurrent:
    case reg::InputCurrent:
      regs_[command] = v & (kCurrentMask | (testMode ? kCurrentTestMask : 0));
      return VB_OK;
    case reg::ChargeVoltage:
      regs_[command] = v & (kVoltageMask | (testMode ? kVoltageTestMask : 0));
      return VB_OK;
    default:
      return VB_T2H_NACK;
  }
}

int16_t Board::WriteTestMode(uint16_t v) {
  regs_[reg::TM1] = v;
  if (!(v & kTestModeEnable)) {
    LeaveTestModeBits();
    return VB_OK;
  }
  if (!(v & kTestModeBurn)) return VB_OK;
  trimEeprom_ = {regs_[reg::TR0], regs_[reg::TR1], regs_[reg::TR2]};
  ++burnCount_;
  if (eepromFile_.empty()) return VB_OK;
  // The simulated control could not keep its promise: say so rather than pretend it burned.
  if (const std::string why = SaveEepromFile(); !why.empty()) {
    AddNote("The burn was not saved to the EEPROM file " + eepromFile_ + ": " + why + ".");
    return VB_ZENTIO_OCX_INTERNAL_ERROR;
  }
  return VB_OK;
}

// --- the charger's EEPROM ---

void Board::LoadEeprom(const std::optional<TrimEeprom>& fallback) {
  trimEeprom_ = fallback.value_or(TrimEeprom{});
  if (eepromFile_.empty()) return;
  const std::string unusable = "EEPROM file " + eepromFile_ + " (EepromFile= in section [" +
                               std::string(kSection) + "]) not used: ";
  if (SameFile(eepromFile_, settingsFile_)) {
    Refuse(unusable + "it is the settings file, which the simulated board never writes. Name a file "
                      "of its own.");
    return;
  }
  bool exists = false;
  std::string text;
  std::string why = ReadWholeEepromFile(eepromFile_, exists, text);
  if (!exists) return;  // not burned yet
  TrimEeprom burned;
  if (why.empty()) why = ParseEepromFile(text, burned);
  if (!why.empty()) {
    Refuse(unusable + why + ". The simulated adapter does not open: mend or remove the file.");
    return;
  }
  trimEeprom_ = burned;
}

std::string Board::SaveEepromFile() const {
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
  contents.append(kEepromHeader).append("\n0x10=").append(Hex4(trimEeprom_.tr0));
  contents.append("\n0x11=").append(Hex4(trimEeprom_.tr1));
  contents.append("\n0x16=").append(Hex4(trimEeprom_.tr2)).append("\n");
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

void Board::Refuse(const std::string& why) { refusal_ += (refusal_.empty() ? "" : "\n") + why; }

void Board::AddNote(const std::string& note) {
  if (std::find(notes_.begin(), notes_.end(), note) != notes_.end()) return;
  if (notes_.size() >= kMaxNotes) notes_.erase(notes_.begin());
  notes_.push_back(note);
}

std::string Board::Notes() const {
  std::string text;
  for (const std::string& n : notes_) text += n + "\n";
  return text;
}

// --- the EEPROM device at 0xA0 ---

void Board::EepromDeviceRead(uint8_t start, uint8_t* out, std::size_t n) {
  uint8_t a = start;
  for (std::size_t i = 0; i < n; ++i) out[i] = eepromDevice_[a++];
  eepromPointer_ = a;
}

void Board::EepromDeviceWrite(uint8_t start, const uint8_t* in, std::size_t n) {
  uint8_t a = start;
  for (std::size_t i = 0; i < n; ++i) eepromDevice_[a++] = in[i];
  eepromPointer_ = a;
}

Board::Device Board::DeviceAt(int16_t target) const {
  if (target < 0 || target > 0xFF) return Device::None;
  const int a = target & 0xFE;
  if (a == kChargerAddress) return Powered() ? Device::Charger : Device::None;
  if (a == kEepromAddress) return Device::Eeprom;
  return Device::None;
}

// --- faults, latency, history ---

void Board::UpdateFaultFlag() {
  anyFault_ = (everyNth_ > 0 && everyNthMode_.status != 0) || (rate_ > 0.0 && rateMode_.status != 0) ||
              (nextLeft_ > 0 && nextMode_.status != 0);
}

void Board::FailEveryNth(int n, int16_t status, FaultScope scope) {
  everyNth_ = status != 0 ? std::max(0, n) : 0;
  everyNthCount_ = 0;
  everyNthMode_ = {status, scope};
  UpdateFaultFlag();
}

void Board::FailAtRate(double rate, uint32_t seed, int16_t status, FaultScope scope) {
  rate_ = (status != 0 && rate > 0.0) ? std::min(rate, 1.0) : 0.0;
  rngState_ = seed;
  rateMode_ = {status, scope};
  UpdateFaultFlag();
}

void Board::FailNext(int k, int16_t status, FaultScope scope) {
  nextLeft_ = status != 0 ? std::max(0, k) : 0;
  nextMode_ = {status, scope};
  UpdateFaultFlag();
}

void Board::ClearFaults() {
  FailEveryNth(0, 0);
  FailAtRate(0.0, 1, 0);
  FailNext(0, 0);
  pendingArmed_ = 0;
  queryError_ = 0;
}

void Board::SetPendingErrorAfterWrite(int16_t status) { pendingArmed_ = status; }

void Board::SetLatency(std::chrono::microseconds latency) {
  latency_ = std::max(latency, std::chrono::microseconds(0));
}

double Board::NextRandom() { return static_cast<double>(SplitMix64(rngState_) >> 11) * 0x1.0p-53; }

void Board::StartScenario() {
  if (!scenarioStart_) scenarioStart_ = clock_->Now();
}

void Board::AdvanceScenario() {
  if (!scenarioStart_ || nextStep_ >= scenario_.steps.size()) return;
  const auto elapsed = clock_->Now() - *scenarioStart_;
  Conditions c = conditions_;
  bool changed = false;
  while (nextStep_ < scenario_.steps.size() && scenario_.steps[nextStep_].at <= elapsed) {
    ApplyStep(c, scenario_.steps[nextStep_++]);
    changed = true;
  }
  if (changed) SetConditions(c);  // as a test would: power returning starts the chip afresh
}

int16_t Board::BeginTransaction(Transaction::Kind kind) {
  AdvanceScenario();
  if (latency_.count() > 0) std::this_thread::sleep_for(latency_);
  if (!anyFault_) return VB_OK;
  // Every mode counts each transaction in its scope, so one mode's pattern does not depend on
  // whether another fired.
  int16_t status = VB_OK;
  if (nextLeft_ > 0 && InScope(nextMode_.scope, kind)) {
    --nextLeft_;
    status = nextMode_.status;
  }
  if (everyNth_ > 0 && InScope(everyNthMode_.scope, kind)) {
    if (++everyNthCount_ % static_cast<uint64_t>(everyNth_) == 0 && status == VB_OK)
      status = everyNthMode_.status;
  }
  if (rate_ > 0.0 && InScope(rateMode_.scope, kind)) {
    if (NextRandom() < rate_ && status == VB_OK) status = rateMode_.status;
  }
  if (nextLeft_ == 0) UpdateFaultFlag();
  return status;
}

int16_t Board::EndTransaction(Transaction::Kind kind, uint8_t command, uint16_t value,
                              int16_t target, int16_t status) {
  Record({kind, command, value, target, status});
  if (kind == Transaction::Kind::Write && status == VB_OK && pendingArmed_ != 0) {
    queryError_ = pendingArmed_;
    pendingArmed_ = 0;
  }
  return status;
}

int16_t Board::TakeQueryError() {
  const int16_t e = queryError_;
  queryError_ = 0;
  return e;
}

void Board::Record(const Transaction& t) {
  ++transactionCount_;
  // Drop the older half in one go: amortised constant time, and the capacity reserved up
  // front is never exceeded, so recording never allocates.
  if (history_.size() == 2 * kHistoryKept)
    history_.erase(history_.begin(), history_.begin() + static_cast<std::ptrdiff_t>(kHistoryKept));
  history_.push_back(t);
}

void Board::ClearHistory() {
  history_.clear();
  transactionCount_ = 0;
}

std::size_t Board::Count(Transaction::Kind kind, int command) const {
  return static_cast<std::size_t>(std::count_if(history_.begin(), history_.end(), [&](const Transaction& t) {
    return t.kind == kind && (command < 0 || t.command == command);
  }));
}

std::string Board::Describe(const char* nl) const {
  std::string s = "Board: rk5190 charger at 66/67";
  if (!Powered()) {
    s += ", no supply (no AC adapter, no battery)";
  } else {
    s += conditions_.acPresent ? ", AC adapter present" : ", no AC adapter";
    s += conditions_.batteryPresent ? ", battery present" : ", no battery";
    if (conditions_.batteryTemperature == BatteryTemperature::Hot) s += ", battery hot";
    if (conditions_.batteryTemperature == BatteryTemperature::Cold) s += ", battery cold";
    if (conditions_.thermalShutdown) s += ", thermal shutdown";
    s += Charging() ? ", charging" : ", not charging";
  }
  if (TestMode()) s += ", test mode on";
  s += nl;

  std::string faults;
  auto add = [&](const std::string& what, const FaultMode& m) {
    if (!faults.empty()) faults += "; ";
    faults += what + " fails with " + StatusText(m.status);
    if (m.scope != FaultScope::All) faults += std::string(" (") + FaultScopeName(m.scope) + " only)";
  };
  if (everyNth_ > 0) add("every " + Ordinal(everyNth_) + " transaction", everyNthMode_);
  if (rate_ > 0.0) {
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g", rate_);
    add(std::string("a share of ") + rate + " of transactions (seeded)", rateMode_);
  }
  if (nextLeft_ > 0) add("the next " + std::to_string(nextLeft_) + " transaction(s)", nextMode_);
  if (pendingArmed_ != 0) {
    if (!faults.empty()) faults += "; ";
    faults += "the next write leaves " + StatusText(pendingArmed_) + " pending";
  }
  s += "Faults: " + (faults.empty() ? std::string("none") : faults) + nl;
  s += "Latency: " + std::to_string(latency_.count()) + " us per transaction" + nl;
  if (!scenario_.steps.empty()) {
    s += "Scenario: " + scenario_.file + ", " + std::to_string(nextStep_) + " of " +
         std::to_string(scenario_.steps.size()) + " steps applied" + nl;
  }
  s += "EEPROM: " + (eepromFile_.empty() ? std::string("in memory only") : eepromFile_) + ", burned " +
       std::to_string(burnCount_) + " time(s)";
  if (!refusal_.empty()) s += nl + refusal_;
  for (const std::string& n : notes_) s += nl + n;
  return s;
}

}  // namespace sim
