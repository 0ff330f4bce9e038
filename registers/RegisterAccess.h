// Reading and writing one 16-bit charger register: bus mode, read retries, failure messages.
// The only place that turns adapter statuses into messages for the user, and the one place
// where register traffic can be observed (recorders, plots).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Settings.h"
#include "observation/Observation.h"

class MessageSink;
class frmUSB;

class RegisterAccess {
 public:
  // The process's main link (frmUSB::Get()), the process-wide settings as they are at each
  // access, and the process's message sink: the windows' and korvoctl's access.
  RegisterAccess() = default;
  // A board of the caller's own: its link, its settings and where its messages go (nullptr:
  // nowhere; the statuses still tell the caller). Several may live side by side.
  RegisterAccess(frmUSB& link, Settings::CommSettings comm, MessageSink* messages);
  RegisterAccess(const RegisterAccess&) = delete;
  RegisterAccess& operator=(const RegisterAccess&) = delete;

  frmUSB& Link() const;
  Settings::CommSettings Comm() const;
  // From now on the access uses comm rather than the process-wide settings.
  void SetComm(const Settings::CommSettings& comm) { comm_ = comm; }
  // The access's message, and a confirmation (always true when messages go nowhere).
  void ShowMessage(const std::string& text) const;
  bool Confirm(const std::string& text) const;

  // The register name every read and write of the main window passes (korvoctl's too): the
  // failure messages tell the registers apart by address.
  static inline const std::string kMainRegisterName = "CS: Status";

  // Up to ReadRetryCount + 1 attempts; on failure shows the read message once and returns the
  // last status. nResult is only meaningful on success.
  int32_t ReadRegister(const std::string& sRegName, uint8_t nRegAddr, int16_t& nResult,
                       int16_t nTargetAddr);
  // One attempt; on failure shows the write message and returns the status.
  int32_t WriteRegister(const std::string& sRegName, uint8_t nRegAddr, int16_t nWord,
                        int16_t nTargetAddr);
  static int16_t UIntToInt(int32_t nLong);
  // An access is in progress (its failure message may be open): every window's accesses pass
  // here, so the scan never starts a tick inside one of them.
  bool Busy() const { return depth_ > 0; }

  // --- observation ---
  // Names the caller of every access made while it lives. Scopes nest; the outermost one names
  // the caller (a spin's read-backs inside korvoctl are korvoctl's). A batch scope (a scan
  // tick) holds observers' flushing back until it ends, so a tick reaches the disk whole.
  class SourceScope {
   public:
    SourceScope(RegisterAccess& access, recording::AccessSource source, bool batch = false);
    ~SourceScope();
    SourceScope(const SourceScope&) = delete;
    SourceScope& operator=(const SourceScope&) = delete;

   private:
    RegisterAccess& access_;
    bool named_;
    bool batch_;
  };

  // Not owned; an observer is told of every access until it is removed. Removing one while it
  // is being told is allowed.
  void AddObserver(recording::RegisterObserver& observer);
  void RemoveObserver(recording::RegisterObserver& observer);
  // Hands a bench instrument's reading to the same observers as the register accesses, so
  // recordings, plots and journals see both on one timeline. Flushed at once outside a batch.
  void NotifyInstrumentReading(const recording::InstrumentReading& reading);
  // Where event times come from (the machine's clock unless a test or benchmark sets one).
  void SetClock(const recording::Clock& clock) { clock_ = &clock; }
  const recording::Clock& Clock() const { return *clock_; }

 private:
  void Notify(recording::AccessKind kind, uint8_t address, uint16_t value, int32_t status,
              int16_t target);
  void FlushObservers();

  frmUSB* link_ = nullptr;  // nullptr: the main link
  std::optional<Settings::CommSettings> comm_;  // empty: the process-wide settings
  bool ownMessages_ = false;
  MessageSink* messages_ = nullptr;

  std::vector<recording::RegisterObserver*> observers_;
  const recording::Clock* clock_ = &recording::SystemClock();
  bool hasSource_ = false;
  recording::AccessSource source_ = recording::AccessSource::kSingleRead;
  int depth_ = 0;
  int batchDepth_ = 0;
  int notifying_ = 0;
  bool removedWhileNotifying_ = false;
};

// Message texts, shared with korvoctl and the tests.
std::string ReadFailureText(const std::string& sRegName, uint8_t nRegAddr, int32_t status);
std::string WriteFailureText(const std::string& sRegName, uint8_t nRegAddr, int32_t status);
