// What the register access layer and the adapter link tell their observers. Observers only
// watch: they never change a value, a status or the order of anything on the bus.
#pragma once

#include <cstdint>
#include <string_view>

#include "observation/Clock.h"

namespace recording {

// Which caller made a register access. The outermost scope on the register access names it
// (see RegisterAccess::SourceScope); an access outside every scope is a single read or a write.
enum class AccessSource : uint8_t {
  kScanTick,
  kSingleRead,
  kWrite,
  kVerifyReadBack,
  kSpin,
  kBurn,
  kKorvoctl,
};
std::string_view SourceName(AccessSource source);  // "scan tick", "single read", ...

enum class AccessKind : uint8_t { kRead, kWrite };
std::string_view KindName(AccessKind kind);  // "read", "write"

// The outcome of one ReadRegister (after its retries) or WriteRegister.
struct RegisterEvent {
  MonoTime time;  // when the outcome was known
  AccessSource source;
  AccessKind kind;
  uint8_t address;  // register
  uint16_t value;   // read: the value read (only meaningful when status is 0); write: the word
  int32_t status;   // 0, or the adapter status of the last attempt
  int16_t target;   // the charger's bus address
};

// One reading of one channel of a bench instrument, in the units of Korvo's files: volts as mV,
// amperes as mA (like the DAC registers), other quantities in their SI unit.
struct InstrumentReading {
  MonoTime time;                // when the instrument delivered it, on the register accesses' clock
  std::string_view instrument;  // the instrument's label: "PSU"
  std::string_view channel;     // the driver's channel name: "I1"
  std::string_view caption;     // "PSU CH1 current"
  std::string_view quantity;    // "current"
  std::string_view unit;        // "mA"
  double value;
};

class RegisterObserver {
 public:
  virtual ~RegisterObserver() = default;
  virtual void OnRegisterAccess(const RegisterEvent& event) = 0;
  // Delivered on the thread that owns the observers, never on the instrument's own thread.
  virtual void OnInstrumentReading(const InstrumentReading& /*reading*/) {}
  // A tick or a single access is complete (or a message is about to be shown): a good moment
  // to put what was observed on disk.
  virtual void OnFlush() {}
};

// One transaction of the adapter link, named as the communication error log names it.
struct TransactionEvent {
  MonoTime time;               // when it ended
  std::string_view operation;  // "WriteSMBusWord_"
  std::string_view detail;     // "15,41A0": the text between the parentheses of the log entry
  int32_t target;              // bus address as passed, or kNoTarget
  int32_t status;              // the status the link returned
  std::chrono::nanoseconds duration;
  // A target that is no bus address: a bench instrument's label ("PSU"). Empty for the link.
  std::string_view targetName{};

  static constexpr int32_t kNoTarget = -1;
};

class TransactionObserver {
 public:
  virtual ~TransactionObserver() = default;
  virtual void OnTransaction(const TransactionEvent& event) = 0;
};

}  // namespace recording
