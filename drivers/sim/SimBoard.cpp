#include "drivers/sim/SimBoard.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "foundation/Settings.h"

namespace sim {

namespace {

std::mutex& SharedMutex() {
  static std::mutex m;
  return m;
}
std::shared_ptr<Board>& SharedSlot() {
  static std::shared_ptr<Board> board;
  return board;
}
std::atomic<uint64_t> g_sharedGeneration{0};

constexpr std::size_t kMaxNotes = 32;

}  // namespace

Board::Board() : Board(Options{}) {}

Board::Board(Options options)
    : charger_(options.conditions, std::move(options.eepromFile), std::move(options.settingsFile),
               options.eeprom),
      faults_(options.faults, options.latency),
      absent_(options.absent),
      scenario_(std::move(options.scenario)),
      refusal_(std::move(options.refusal)) {
  if (options.clock != nullptr) clock_ = options.clock;
  if (!charger_.EepromProblem().empty()) {
    Refuse("EEPROM file " + charger_.EepromFile() + " (EepromFile= in section [" +
           std::string(kSettingsSection) + "]) not used: " + charger_.EepromProblem());
  }
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

int16_t Board::ChargerWrite(uint8_t command, uint16_t value) {
  std::string note;
  const int16_t status = charger_.Write(command, value, note);
  if (!note.empty()) AddNote(note);
  return status;
}

Board::Device Board::DeviceAt(int16_t target) const {
  if (target < 0 || target > 0xFF) return Device::None;
  const int a = target & 0xFE;
  if (a == kChargerAddress) return charger_.Powered() ? Device::Charger : Device::None;
  if (a == kEepromAddress) return Device::Eeprom;
  return Device::None;
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

void Board::StartScenario() {
  if (!scenarioStart_) scenarioStart_ = clock_->Now();
}

void Board::AdvanceScenario() {
  if (!scenarioStart_ || nextStep_ >= scenario_.steps.size()) return;
  const auto elapsed = clock_->Now() - *scenarioStart_;
  Conditions c = charger_.GetConditions();
  bool changed = false;
  while (nextStep_ < scenario_.steps.size() && scenario_.steps[nextStep_].at <= elapsed) {
    ApplyStep(c, scenario_.steps[nextStep_++]);
    changed = true;
  }
  if (changed) SetConditions(c);  // as a test would: power returning starts the chip afresh
}

int16_t Board::BeginTransaction(Transaction::Kind kind) {
  AdvanceScenario();
  return faults_.Begin(kind);
}

std::string Board::Describe(const char* nl) const {
  std::string s = "Board: rk5190 charger at 66/67" + charger_.Describe();
  if (TestMode()) s += ", test mode on";
  s += nl + faults_.Describe(nl) + nl;
  if (!scenario_.steps.empty()) {
    s += "Scenario: " + scenario_.file + ", " + std::to_string(nextStep_) + " of " +
         std::to_string(scenario_.steps.size()) + " steps applied" + nl;
  }
  s += "EEPROM: " + (EepromFile().empty() ? std::string("in memory only") : EepromFile()) +
       ", burned " + std::to_string(BurnCount()) + " time(s)";
  if (!refusal_.empty()) s += nl + refusal_;
  for (const std::string& n : notes_) s += nl + n;
  return s;
}

}  // namespace sim
