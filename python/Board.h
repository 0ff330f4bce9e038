// One charger board of a Python script: its own adapter link, settings, register access and
// messages, so several can be open in one interpreter. The bus is touched only with the GIL
// released and the board's mutex held; failures come back as statuses and collected message
// texts, turned into Python exceptions by the binding (Module.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "observation/Observation.h"
#include "recording/BitNames.h"
#include "recording/Recorder.h"
#include "registers/RegisterAccess.h"

class frmUSB;

namespace korvo_py {

// Messages are kept for the exception that follows; confirmations go to the caller's function.
class CollectingSink : public MessageSink {
 public:
  void ShowMessage(const std::string& text) override;
  bool Confirm(const std::string& text) override;
  // The texts since the last Take, one per line ("\r\n" inside a text becomes "\n").
  std::string Take();
  void Clear() { texts_.clear(); }
  // For the span of one operation; empty: every confirmation is declined.
  std::function<bool(const std::string&)> confirm;

 private:
  std::vector<std::string> texts_;
};

// What a failed operation hands the binding.
struct Failure {
  enum class Kind { kBus, kRange, kSettings, kFile } kind;
  int32_t status = 0;
  std::string message;
};

// Every adapter transaction of the link, for the caller's trace of the bus.
struct TraceEntry {
  std::string operation;
  std::string detail;
  int32_t status;
};

struct OpenOptions {
  std::string driver = "sim";
  std::optional<std::string> settings;  // a settings file; none: the user's or the system's
  std::optional<std::string> bus;       // i2cdev: [Adapter] Bus
  bool pec = false;                     // i2cdev: [Adapter] Pec=1
  std::optional<int> address;           // the charger's 8-bit bus address
  std::string variant = "rk5190";
};

class Board {
 public:
  // Throws Failure (settings) or opens the adapter (Failure kBus when it does not open).
  explicit Board(const OpenOptions& options);
  ~Board();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  void Close();
  bool IsOpen() const { return open_; }
  RegisterAccess& Access() { return *access_; }
  frmUSB& Link() { return *link_; }
  std::mutex& Mutex() { return mutex_; }
  CollectingSink& Sink() { return sink_; }
  recording::Variant Variant() const { return variant_; }
  int16_t Target() const { return access_->Comm().deviceAddress; }
  const std::string& SettingsPath() const { return settingsPath_; }
  const std::string& DriverName() const { return driver_; }

  // The caller holds the mutex and has released the GIL for these.
  int32_t Read(uint8_t address, uint16_t& value);
  // With VerifyWrite on, read back as korvoctl does; a different value fails with
  // VB_COMPARE_DIFFERENT and the spin window's words.
  std::optional<Failure> Write(uint8_t address, uint16_t value);

  void StartTrace();
  std::vector<TraceEntry> StopTrace();

 private:
  class Tracer;
  std::string driver_;
  std::string settingsPath_;  // the file the board's settings came from; empty: none
  recording::Variant variant_ = recording::Variant::rk5190;
  CollectingSink sink_;
  std::unique_ptr<frmUSB> link_;
  std::unique_ptr<RegisterAccess> access_;
  std::unique_ptr<Tracer> tracer_;
  std::mutex mutex_;
  bool open_ = false;
};

// "Written 0x41A0 (16800 mV), read back ...": the spin window's mismatch text and the values.
std::string WriteMismatchText(uint8_t address, uint16_t written, uint16_t readBack);

}  // namespace korvo_py
