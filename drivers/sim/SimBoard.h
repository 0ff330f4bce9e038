// The simulated evaluation board: one rk5190 charger at bus address 0x66/0x67 (SimCharger.h),
// a 256-byte serial EEPROM at 0xA0/0xA1 (SimEeprom.h), the board conditions the charger
// reports, and the faults, latency and history that the simulated adapter adds to each
// transaction (SimFaults.h). The [Simulator] settings keys are listed in SimSettings.cpp.
//
// Board ties the parts together and is what every simulated control shares. The faults and
// the history belong to the adapter, not to the chips, yet live here because all controls on
// one board share them (the link's and the About box's). The charger, EEPROM and fault members
// below forward to the parts, because tests and benchmarks across the project reach them
// through the board.
//
// The board is used from one thread; only Shared()/ResetShared() may be called from any.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "drivers/sim/SimCharger.h"
#include "drivers/sim/SimEeprom.h"
#include "drivers/sim/SimFaults.h"
#include "drivers/sim/SimScenario.h"
#include "observation/Clock.h"

namespace Settings {
class Snapshot;
}

namespace sim {

inline constexpr const char* kAdapterName = "Tarn88 simulator";
inline constexpr int16_t kAdapterVersion = 1;
inline constexpr int16_t kAdapterRevision = 0;

inline constexpr uint8_t kChargerAddress = 0x66;  // 8-bit form; 0x67 reaches it too
inline constexpr uint8_t kEepromAddress = 0xA0;

inline constexpr std::string_view kSettingsSection = "Simulator";

class Board {
 public:
  struct Options {
    std::string eepromFile;            // empty: the EEPROM lives in memory only
    std::string settingsFile;          // never written, even when eepromFile names it
    std::optional<TrimEeprom> eeprom;  // contents when eepromFile is empty or not there yet
    Conditions conditions;
    bool absent = false;
    FaultSettings faults;
    std::chrono::microseconds latency{0};
    Scenario scenario;
    // Why the adapter must not open (a settings error such as a bad scenario file); empty: it may.
    std::string refusal;
    const recording::Clock* clock = nullptr;  // the scenario's time; nullptr: the machine's
  };

  // From section [Simulator] (SimSettings.cpp).
  static Options OptionsFromSettings(const Settings::Snapshot& settings);
  static Options OptionsFromSettings();

  Board();
  explicit Board(Options options);
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  // The board behind every control that CreateSimControl makes; built from the settings on
  // first use. ResetShared(nullptr) drops it, so the next use builds a fresh one.
  static std::shared_ptr<Board> Shared();
  // The same, built from these settings when there is none yet.
  static std::shared_ptr<Board> Shared(const Settings::Snapshot& settings);
  static void ResetShared(std::shared_ptr<Board> board = nullptr);
  // Changes whenever ResetShared is called: controls that follow the shared board compare it.
  static uint64_t SharedGeneration();

  // --- the charger (see Charger) ---
  uint16_t Peek(uint8_t reg) const { return charger_.Peek(reg); }
  void Poke(uint8_t reg, uint16_t v) { charger_.Poke(reg, v); }
  void ClearOverrides() { charger_.ClearOverrides(); }
  void SetConditions(const Conditions& c) { charger_.SetConditions(c); }
  Conditions GetConditions() const { return charger_.GetConditions(); }
  void PowerCycle() { charger_.PowerCycle(); }
  bool TestMode() const { return charger_.TestMode(); }
  TrimEeprom Eeprom() const { return charger_.Eeprom(); }
  void SetEeprom(const TrimEeprom& e) { charger_.SetEeprom(e); }
  int BurnCount() const { return charger_.BurnCount(); }
  const std::string& EepromFile() const { return charger_.EepromFile(); }

  void SetAbsent(bool absent) { absent_ = absent; }
  bool Absent() const { return absent_; }

  // --- faults, latency and history (see sim::Faults) ---
  void FailEveryNth(int n, int16_t status, FaultScope scope = FaultScope::All) {
    faults_.FailEveryNth(n, status, scope);
  }
  void FailAtRate(double rate, uint32_t seed, int16_t status, FaultScope scope = FaultScope::All) {
    faults_.FailAtRate(rate, seed, status, scope);
  }
  void FailNext(int k, int16_t status, FaultScope scope = FaultScope::All) {
    faults_.FailNext(k, status, scope);
  }
  void ClearFaults() { faults_.ClearFaults(); }
  const std::vector<Transaction>& History() const { return faults_.History(); }
  void ClearHistory() { faults_.ClearHistory(); }
  std::size_t TransactionCount() const { return faults_.TransactionCount(); }
  std::size_t Count(Transaction::Kind kind, int command = -1) const {
    return faults_.Count(kind, command);
  }

  // Short lines for the About text: conditions, faults, latency, EEPROM file, notes.
  std::string Describe(const char* lineBreak) const;
  // What the user should know: addresses nobody answered at, burns not saved. One per line.
  std::string Notes() const;
  void AddNote(const std::string& note);

  // --- scenario ---
  // The scenario's time starts when the adapter first opens; each transaction first applies
  // the steps whose time has come.
  void StartScenario();
  void AdvanceScenario();
  const Scenario& GetScenario() const { return scenario_; }
  std::size_t ScenarioStepsApplied() const { return nextStep_; }
  void SetClock(const recording::Clock& clock) { clock_ = &clock; }
  // Not empty: the adapter does not open, and this says why (a bad scenario file, an unusable
  // EEPROM file).
  const std::string& OpenRefusal() const { return refusal_; }

  // --- the bus, as sim::Adapter drives it ---
  enum class Device { None, Charger, Eeprom };
  bool Present() const { return !absent_; }
  // Applies the scenario's due steps, then the latency and faults: 0 to go on, else the status
  // the transaction fails with.
  int16_t BeginTransaction(Transaction::Kind kind);
  // Records the transaction and returns status; a successful write arms the pending error.
  int16_t EndTransaction(Transaction::Kind kind, uint8_t command, uint16_t value, int16_t target,
                         int16_t status) {
    return faults_.End({kind, command, value, target, status});
  }
  // Hands out the pending error once; 0 when there is none.
  int16_t TakeQueryError() { return faults_.TakeQueryError(); }
  // Who answers at an 8-bit bus address (bit 0 ignored; outside 0..255 nobody).
  Device DeviceAt(int16_t target) const;

  bool ChargerHas(uint8_t command) const { return charger_.Has(command); }
  bool ChargerSelect(uint8_t command) { return charger_.Select(command); }
  uint8_t ChargerPointer() const { return charger_.Pointer(); }
  bool ChargerRead(uint8_t command, uint16_t& value) { return charger_.Read(command, value); }
  // As Charger::Write; a burn that could not be saved leaves a note.
  int16_t ChargerWrite(uint8_t command, uint16_t value);

  void EepromDeviceRead(uint8_t start, uint8_t* out, std::size_t n) { eeprom_.Read(start, out, n); }
  void EepromDeviceWrite(uint8_t start, const uint8_t* in, std::size_t n) {
    eeprom_.Write(start, in, n);
  }
  void EepromDeviceSelect(uint8_t address) { eeprom_.Select(address); }
  uint8_t EepromDevicePointer() const { return eeprom_.Pointer(); }

 private:
  // Adds a reason why the adapter does not open.
  void Refuse(const std::string& why);

  Charger charger_;
  EepromDevice eeprom_;
  sim::Faults faults_;
  bool absent_ = false;
  std::vector<std::string> notes_;

  Scenario scenario_;
  std::size_t nextStep_ = 0;
  std::optional<recording::MonoTime> scenarioStart_;
  std::string refusal_;
  const recording::Clock* clock_ = &recording::SystemClock();
};

}  // namespace sim
