// The simulated evaluation board: one rk5190 charger at bus address 0x66/0x67, a 256-byte
// serial EEPROM at 0xA0/0xA1, the board conditions the charger reports, and the faults and
// latency that the simulated adapter adds to each transaction.
//
// Settings, section [Simulator] of the settings file (read when the shared board is created):
//   Absent=1           no adapter is listed (the start-up failure path); default 0
//   AcPresent=0|1      AC adapter plugged in; default 1
//   BatteryPresent=0|1 battery connected; default 1
//   Charging=0|1       the charger is charging when it can (AC and battery present); default 1
//   EepromFile=PATH    file holding the charger's burned trims, so a burn survives a restart;
//                      relative to the settings file's folder; default none (kept in memory).
//                      The board writes no other file: not the settings file, nor a file that
//                      exists and is not an EEPROM file as the board writes them. Such a file,
//                      or one that cannot be read whole (garbage, a value cut short, empty, a
//                      directory, a FIFO), is named with the reason and the adapter does not
//                      open, as the board would not know its trims.
//   FailEveryNth=N     every Nth transaction fails; default 0 (off)
//   FailRate=R         each transaction fails with probability R (0 to 1, e.g. 0.05); default 0
//   FailSeed=S         seed of the FailRate draws, so a run can be repeated; default 1
//   FailNext=K         the first K transactions fail; default 0
//   FailStatus=CODE    status the failing transactions return; default 8 (VB_TIMEOUT_ERROR)
//   FailScope=All|Reads|Writes  which transactions the three modes above count; default All
//   PendingError=CODE  the first successful write leaves CODE for QueryError; default 0 (off)
//   LatencyUs=US       added to every bus transaction, like a USB round trip; default 0
//   Scenario=FILE      conditions that change over time after the adapter opens (SimScenario.h);
//                      relative to the settings file's folder; a bad file keeps the adapter shut
//
// The charger:
// - Registers 0x10 to 0x19 and 0x3F; any other command code is not acknowledged.
// - 0x13 (status) is read-only and follows the conditions: AC present sets ACDET (15) and
//   AC2SYS (7); battery alone sets AC<BT (13) and BAT2SYS (6); CHGOFF (1) is set whenever the
//   charger is not charging (Charging off, or no AC, or no battery, or the battery hot or cold,
//   or thermal shutdown). A hot battery sets BHOT (10), a cold one BCOLD (9) (the rk5191's
//   names; reserved bits on the rk5190), thermal shutdown TSHUT (8). With neither AC nor battery
//   the charger has no supply and acknowledges nothing; when power returns it starts afresh
//   from its power-on values (trims reloaded from the EEPROM).
// - The DAC registers keep their DAC bits, as the test-mode window names them: 0x15 (charging
//   voltage) bits 15 to 1 ("VREG DAC 0" is bit 1: 2 mV steps), 0x14 (charge current) and 0x3F
//   (input current) bits 15 to 7 ("ICHG DAC 0", "IAC DAC 0": 128 mA steps); the other bits are
//   test bits.
// - 0x12 (control) keeps bits 0 and 3 to 11. A write with RST (bit 2) set resets 0x12, 0x14,
//   0x15 and 0x3F to their power-on values (the rest of that write is ignored); RST reads 0.
// - Test mode is on while 0x17 bit 0 (TMEN) is set. 0x17 is always writable. 0x10, 0x11,
//   0x16 and 0x18 take writes only in test mode; outside it a write is acknowledged and
//   changes nothing (they keep what test mode left in them). In test mode the test bits of 0x12 (15 to 12, 1), 0x14 (6 to 0), 0x15
//   (0) and 0x3F (6 to 0) are writable too; they clear when test mode ends.
// - 0x19 (VDT) is read-only, derived from the charging voltage: cell range (bit 0 two cells
//   with bit 4 "Nine Volt" at exactly 9000 mV, bit 1 three cells 12000-14400, bit 2 four cells
//   16000-19200), VDAC 6..0 (bits 13..7) the position in the range in 32 mV steps, and for
//   voltages outside the ranges Low (5), Mid (6) or High (15) OutOf Range with Chg Inhibit (3).
// - A write to 0x17 with TMEN and TMEE BURN (bit 2) both set burns TR0 (0x10), TR1 (0x11) and
//   TR2 (0x16) into the charger's EEPROM; a new board (or a power cycle) loads them from there.
//
// Transactions that fail (a fault, a NACK, a closed adapter) change nothing on the board. The
// one exception: a burn whose EepromFile cannot be written (or may not be: see EepromFile)
// still burns, and its write fails with VB_ZENTIO_OCX_INTERNAL_ERROR so the user hears of it;
// the board's notes say why.
// The board is used from one thread; only Shared()/ResetShared() may be called from any.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drivers/sim/SimScenario.h"
#include "recording/Clock.h"

namespace Settings {
class Snapshot;
}

namespace sim {

inline constexpr const char* kAdapterName = "Tarn88 simulator";
inline constexpr int16_t kAdapterVersion = 1;
inline constexpr int16_t kAdapterRevision = 0;

inline constexpr uint8_t kChargerAddress = 0x66;  // 8-bit form; 0x67 reaches it too
inline constexpr uint8_t kEepromAddress = 0xA0;
inline constexpr std::size_t kEepromDeviceSize = 256;

namespace reg {
inline constexpr uint8_t TR0 = 0x10;
inline constexpr uint8_t TR1 = 0x11;
inline constexpr uint8_t Control = 0x12;
inline constexpr uint8_t Status = 0x13;
inline constexpr uint8_t ChargeCurrent = 0x14;
inline constexpr uint8_t ChargeVoltage = 0x15;
inline constexpr uint8_t TR2 = 0x16;
inline constexpr uint8_t TM1 = 0x17;
inline constexpr uint8_t TM2 = 0x18;
inline constexpr uint8_t VDT = 0x19;
inline constexpr uint8_t InputCurrent = 0x3F;
}  // namespace reg

// Status bits.
inline constexpr uint16_t kStatusAcDet = 1u << 15;
inline constexpr uint16_t kStatusAcBelowBat = 1u << 13;
inline constexpr uint16_t kStatusBHot = 1u << 10;
inline constexpr uint16_t kStatusBCold = 1u << 9;
inline constexpr uint16_t kStatusTshut = 1u << 8;
inline constexpr uint16_t kStatusAc2Sys = 1u << 7;
inline constexpr uint16_t kStatusBat2Sys = 1u << 6;
inline constexpr uint16_t kStatusChgOff = 1u << 1;

// Control and test-mode bits.
inline constexpr uint16_t kControlRst = 1u << 2;
inline constexpr uint16_t kTestModeEnable = 1u << 0;  // TMEN
inline constexpr uint16_t kTestModeBurn = 1u << 2;    // TMEE BURN

// Implemented bits outside test mode, and the test bits that test mode adds.
inline constexpr uint16_t kControlMask = 0x0FF9;
inline constexpr uint16_t kControlTestMask = 0xF002;
inline constexpr uint16_t kCurrentMask = 0xFF80;
inline constexpr uint16_t kCurrentTestMask = 0x007F;
inline constexpr uint16_t kVoltageMask = 0xFFFE;
inline constexpr uint16_t kVoltageTestMask = 0x0001;

// Power-on values.
inline constexpr uint16_t kPowerOnControl = 0x0040;        // ACOCEN
inline constexpr uint16_t kPowerOnChargeCurrent = 0;       // not charging until told
inline constexpr uint16_t kPowerOnChargeVoltage = 16800;   // four cells
inline constexpr uint16_t kPowerOnInputCurrent = 4096;

// The charger's own EEPROM: the three trim words that a burn stores.
struct TrimEeprom {
  uint16_t tr0 = 0x4A52;
  uint16_t tr1 = 0x8C63;
  uint16_t tr2 = 0x0E10;
  bool operator==(const TrimEeprom&) const = default;
};

enum class BatteryTemperature : uint8_t { Normal, Hot, Cold };

struct Conditions {
  bool acPresent = true;
  bool batteryPresent = true;
  bool charging = true;
  BatteryTemperature batteryTemperature = BatteryTemperature::Normal;
  bool thermalShutdown = false;
  bool operator==(const Conditions&) const = default;
};

// Read: word, block and byte reads, one-wire reads. Write: word, block and byte writes, send
// command, one-wire writes. Other: write-then-read, I2C power and wire control, flash.
struct Transaction {
  enum class Kind : uint8_t { Read, Write, Other };
  Kind kind;
  uint8_t command;  // command code, register, word or byte address (low byte)
  uint16_t value;   // word read or written (first two bytes, low first, of a block)
  int16_t target;   // bus address as passed
  int16_t status;
};

enum class FaultScope { All, Reads, Writes };

class Board {
 public:
  struct Faults {
    int everyNth = 0;     // 0: off
    double rate = 0.0;    // 0: off
    uint32_t seed = 1;
    int next = 0;         // 0: off
    int16_t status = 8;   // VB_TIMEOUT_ERROR
    FaultScope scope = FaultScope::All;
    int16_t pendingErrorAfterWrite = 0;  // 0: off
  };
  struct Options {
    std::string eepromFile;             // empty: the EEPROM lives in memory only
    std::string settingsFile;           // never written, even when eepromFile names it
    std::optional<TrimEeprom> eeprom;   // contents when eepromFile is empty or not there yet
    Conditions conditions;
    bool absent = false;
    Faults faults;
    std::chrono::microseconds latency{0};
    Scenario scenario;
    // Why the adapter must not open (a settings error such as a bad scenario file); empty: it may.
    std::string refusal;
    const recording::Clock* clock = nullptr;  // the scenario's time; nullptr: the machine's
  };

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

  // --- test API ---
  // Back door: what a read of reg would return / store v unchecked (no faults, latency, masks
  // or read-only rules). Poke on 0x13 or 0x19 pins the computed value until ClearOverrides,
  // PowerCycle or (for 0x13) SetConditions. Unknown registers peek as 0 and ignore pokes.
  uint16_t Peek(uint8_t reg) const;
  void Poke(uint8_t reg, uint16_t v);
  void ClearOverrides();

  void SetConditions(const Conditions& c);
  Conditions GetConditions() const { return conditions_; }
  void SetAbsent(bool absent) { absent_ = absent; }
  bool Absent() const { return absent_; }
  // Registers back to their power-on values, trims from the EEPROM, test mode off.
  void PowerCycle();
  bool TestMode() const { return (regs_[reg::TM1] & kTestModeEnable) != 0; }

  // A status of 0 or a count/rate of 0 switches the mode off. The modes combine; each counts
  // only the transactions in its scope.
  void FailEveryNth(int n, int16_t status, FaultScope scope = FaultScope::All);
  void FailAtRate(double rate, uint32_t seed, int16_t status, FaultScope scope = FaultScope::All);
  void FailNext(int k, int16_t status, FaultScope scope = FaultScope::All);
  void ClearFaults();
  // The next successful write leaves status for QueryError, once.
  void SetPendingErrorAfterWrite(int16_t status);
  void SetLatency(std::chrono::microseconds latency);
  std::chrono::microseconds Latency() const { return latency_; }

  // The most recent transactions, oldest first (at least the last kHistoryKept of them).
  static constexpr std::size_t kHistoryKept = 4096;
  const std::vector<Transaction>& History() const { return history_; }
  void ClearHistory();
  // Transactions since construction or the last ClearHistory (not bounded by the history).
  std::size_t TransactionCount() const { return transactionCount_; }
  // How many of the kept transactions are of kind (and, when command >= 0, of that command).
  std::size_t Count(Transaction::Kind kind, int command = -1) const;

  TrimEeprom Eeprom() const { return trimEeprom_; }
  void SetEeprom(const TrimEeprom& e) { trimEeprom_ = e; }  // memory only, file untouched
  int BurnCount() const { return burnCount_; }
  const std::string& EepromFile() const { return eepromFile_; }
  // The board's EEPROM device at 0xA0 (erased bytes read 0xFF).
  uint8_t PeekEepromDevice(uint8_t address) const { return eepromDevice_[address]; }
  void PokeEepromDevice(uint8_t address, uint8_t v) { eepromDevice_[address] = v; }

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
  // Waits the latency and applies the faults: 0 to go on, else the status the transaction
  // fails with.
  int16_t BeginTransaction(Transaction::Kind kind);
  // Records the transaction and returns status; a successful write arms the pending error.
  int16_t EndTransaction(Transaction::Kind kind, uint8_t command, uint16_t value, int16_t target,
                         int16_t status);
  // Hands out the pending error once; 0 when there is none.
  int16_t TakeQueryError();
  // Who answers at an 8-bit bus address (bit 0 ignored; outside 0..255 nobody).
  Device DeviceAt(int16_t target) const;

  bool ChargerHas(uint8_t command) const;
  // A command byte on its own: selects the register for a read without command.
  bool ChargerSelect(uint8_t command);
  uint8_t ChargerPointer() const { return chargerPointer_; }
  // false: the command is not acknowledged.
  bool ChargerRead(uint8_t command, uint16_t& value);
  // 0, VB_T2H_NACK, or VB_ZENTIO_OCX_INTERNAL_ERROR when a burn could not be saved to the file.
  int16_t ChargerWrite(uint8_t command, uint16_t value);

  // Sequential transfers wrap at the end of the 256 bytes; the address pointer follows.
  void EepromDeviceRead(uint8_t start, uint8_t* out, std::size_t n);
  void EepromDeviceWrite(uint8_t start, const uint8_t* in, std::size_t n);
  void EepromDeviceSelect(uint8_t address) { eepromPointer_ = address; }
  uint8_t EepromDevicePointer() const { return eepromPointer_; }

 private:
  struct FaultMode {
    int16_t status = 0;
    FaultScope scope = FaultScope::All;
  };
  bool Powered() const { return conditions_.acPresent || conditions_.batteryPresent; }
  bool Charging() const;
  uint16_t ComputeStatus() const;
  uint16_t ComputeVdt() const;
  void ResetChargerRegisters();
  void LeaveTestModeBits();
  int16_t WriteTestMode(uint16_t v);
  // Adds a reason why the adapter does not open.
  void Refuse(const std::string& why);
  // Empty when saved, else why not.
  std::string SaveEepromFile() const;
  void LoadEeprom(const std::optional<TrimEeprom>& fallback);
  void UpdateFaultFlag();
  double NextRandom();
  void Record(const Transaction& t);

  std::array<uint16_t, 0x40> regs_{};
  std::optional<uint16_t> statusOverride_;
  std::optional<uint16_t> vdtOverride_;
  uint8_t chargerPointer_ = reg::TR0;
  Conditions conditions_;
  bool absent_ = false;

  TrimEeprom trimEeprom_;
  std::string eepromFile_;
  std::string settingsFile_;
  std::vector<std::string> notes_;
  int burnCount_ = 0;
  std::array<uint8_t, kEepromDeviceSize> eepromDevice_;
  uint8_t eepromPointer_ = 0;

  bool anyFault_ = false;
  int everyNth_ = 0;
  uint64_t everyNthCount_ = 0;
  FaultMode everyNthMode_;
  double rate_ = 0.0;
  uint64_t rngState_ = 0;
  FaultMode rateMode_;
  int nextLeft_ = 0;
  FaultMode nextMode_;
  int16_t pendingArmed_ = 0;
  int16_t queryError_ = 0;
  std::chrono::microseconds latency_{0};

  std::vector<Transaction> history_;
  std::size_t transactionCount_ = 0;

  Scenario scenario_;
  std::size_t nextStep_ = 0;
  std::optional<recording::MonoTime> scenarioStart_;
  std::string refusal_;
  const recording::Clock* clock_ = &recording::SystemClock();
};

const char* FaultScopeName(FaultScope scope);

}  // namespace sim
