#include "drivers/sim/SimBoard.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "adapter/ErrorCodes.h"
#include "shell/IniFile.h"
#include "shell/Settings.h"

namespace sim {

namespace {

constexpr std::string_view kSection = "Simulator";
constexpr std::string_view kEepromSection = "Eeprom";

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

}  // namespace

const char* FaultScopeName(FaultScope scope) {
  switch (scope) {
    case FaultScope::All: return "All";
    case FaultScope::Reads: return "Reads";
    case FaultScope::Writes: return "Writes";
  }
  return "All";
}

Board::Options Board::OptionsFromSettings() {
  Options o;
  auto flag = [](std::string_view key, bool def) {
    return Settings::GetInt(kSection, key, def ? 1 : 0) != 0;
  };
  o.absent = flag("Absent", false);
  o.conditions.acPresent = flag("AcPresent", true);
  o.conditions.batteryPresent = flag("BatteryPresent", true);
  o.conditions.charging = flag("Charging", true);

  std::string file(Trim(Settings::GetString(kSection, "EepromFile", "")));
  if (!file.empty()) {
    std::filesystem::path p(file);
    if (p.is_relative()) p = std::filesystem::path(Settings::File()).parent_path() / p;
    o.eepromFile = p.string();
  }

  o.faults.everyNth = std::max(0, Settings::GetInt(kSection, "FailEveryNth", 0));
  o.faults.rate = ParseRate(Settings::GetString(kSection, "FailRate", ""));
  o.faults.seed = static_cast<uint32_t>(Settings::GetInt(kSection, "FailSeed", 1));
  o.faults.next = std::max(0, Settings::GetInt(kSection, "FailNext", 0));
  o.faults.status = Settings::ClampToInt16(Settings::GetInt(kSection, "FailStatus", VB_TIMEOUT_ERROR));
  o.faults.scope = ParseScope(Settings::GetString(kSection, "FailScope", "All"));
  o.faults.pendingErrorAfterWrite = Settings::ClampToInt16(Settings::GetInt(kSection, "PendingError", 0));
  o.latency = std::chrono::microseconds(std::max(0, Settings::GetInt(kSection, "LatencyUs", 0)));

  std::string scenario(Trim(Settings::GetString(kSection, "Scenario", "")));
  if (!scenario.empty()) {
    std::filesystem::path p(scenario);
    if (p.is_relative()) p = std::filesystem::path(Settings::File()).parent_path() / p;
    if (auto loaded = LoadScenario(p.string(), o.refusal)) o.scenario = std::move(*loaded);
  }
  return o;
}

Board::Board() : Board(Options{}) {}

Board::Board(Options options)
    : conditions_(options.conditions),
      absent_(options.absent),
      eepromFile_(std::move(options.eepromFile)),
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
  std::lock_guard lock(SharedMutex());
  auto& slot = SharedSlot();
  if (!slot) slot = std::make_shared<Board>(OptionsFromSettings());
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
  // The simulated control could not keep its promise: say so rather than pretend it burned.
  if (!eepromFile_.empty() && !SaveEepromFile()) return VB_ZENTIO_OCX_INTERNAL_ERROR;
  return VB_OK;
}

// --- the charger's EEPROM ---

void Board::LoadEeprom(const std::optional<TrimEeprom>& fallback) {
  trimEeprom_ = fallback.value_or(TrimEeprom{});
  if (eepromFile_.empty()) return;
  std::optional<IniFile> ini = IniFile::Load(eepromFile_);
  if (!ini) return;  // not burned yet
  auto take = [&](std::string_view key, uint16_t& word) {
    if (auto text = ini->Value(kEepromSection, key))
      if (auto v = ParseWord(*text)) word = *v;
  };
  take("0x10", trimEeprom_.tr0);
  take("0x11", trimEeprom_.tr1);
  take("0x16", trimEeprom_.tr2);
}

bool Board::SaveEepromFile() const {
  const std::filesystem::path path(eepromFile_);
  std::filesystem::path tmp = path;
  tmp += ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << "; Trim words burned into the simulated rk5190's EEPROM (TR0, TR1, TR2)\n"
        << "[" << kEepromSection << "]\n"
        << "0x10=" << Hex4(trimEeprom_.tr0) << "\n"
        << "0x11=" << Hex4(trimEeprom_.tr1) << "\n"
        << "0x16=" << Hex4(trimEeprom_.tr2) << "\n";
    out.flush();
    if (!out) return false;
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);  // whole file or none, even if the program dies here
  if (ec) {
    std::filesystem::remove(tmp, ec);
    return false;
  }
  return true;
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
  return s;
}

}  // namespace sim
