// Register snapshots: the eleven registers of the test-mode window, with the time, the chip
// variant and the bus address, kept in a file that is a valid spin preset section:
//
//   [SpinCustom 1]
//   Desc=Snapshot 2024-05-01 12:34:56
//   0x10=4A52            the eight keys a preset writes, 4 hex digits, in write order
//   ...
//   0x3F=1000
//   ; 0x13=8082          read-only and test-mode registers: comments, so nothing writes them
//   ; 0x17=0000
//   ; 0x19=0004
//   ; Time=2024-05-01T12:34:56.789+02:00
//   ; Variant=rk5190
//   ; Address=0x67
//   ; Version=2.0.10
//
// Pasted into the settings file, the section is a preset; RestoreSnapshot writes it back with
// the spin writer (Spins::SpinProgrammer::ApplyPreset), so both behave the same.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recording/BitNames.h"
#include "observation/Clock.h"
#include "registers/Spins.h"

class RegisterAccess;

namespace recording {

inline constexpr std::string_view kDefaultSnapshotCaption = "Custom 1";

// The test-mode window's rows, in row order (0x10 to 0x19, then 0x3F).
std::span<const uint8_t> SnapshotRegisters();
// The registers a snapshot holds as preset keys; the others (0x13, 0x17, 0x19) only as comments.
bool IsSnapshotKey(uint8_t address);

struct Snapshot {
  std::string caption{kDefaultSnapshotCaption};    // one of Spins::kButtonCaptions
  std::string description;                         // Desc=
  std::array<std::optional<uint16_t>, 11> values;  // by row; nullopt: not read
  std::string time;                                // ISO 8601 wall time of the reading
  Variant variant = Variant::rk5190;
  int16_t deviceAddress = 0;
  std::string version;  // Korvo's, "2.0.10"

  std::optional<uint16_t> Value(uint8_t address) const;
  void SetValue(uint8_t address, std::optional<uint16_t> value);
  bool Complete() const;  // every register read
};

// Reads the registers of rows (default: all eleven, in row order) through access, as the
// test-mode window's Read All does. regName names the register in failure messages; empty
// uses the row titles, as the test-mode window does. Time and version are filled in.
Snapshot ReadSnapshot(RegisterAccess& access, int16_t target, std::string_view regName,
                      Variant variant, const Clock& clock,
                      std::span<const uint8_t> rows = SnapshotRegisters());

// The file text of a complete snapshot.
std::string FormatSnapshot(const Snapshot& s);

// Strict: a missing, truncated, binary or malformed file is refused with its line. Read by the
// rules of foundation/TextFile.h: at most 1 MB, a byte order mark and any line end taken.
struct SnapshotError {
  int line = 0;  // 0: the file as a whole
  std::string reason;
};
std::optional<Snapshot> ParseSnapshot(std::string_view text, SnapshotError& error);
// Reads and parses path. nullopt, with message "FILE:LINE: reason" (or "FILE: reason"), on
// failure.
std::optional<Snapshot> LoadSnapshot(const std::string& path, std::string& message);

// Bit by bit, over the registers the reference holds as keys.
struct BitChange {
  int bit;
  std::string_view name;  // the test-mode window's name
  bool from;
  bool to;
};
struct RegisterChange {
  uint8_t address;
  std::optional<uint16_t> from;  // nullopt: not read
  std::optional<uint16_t> to;
  std::vector<BitChange> bits;
};
std::vector<RegisterChange> CompareSnapshots(const Snapshot& reference, const Snapshot& other);
// Text lines for a terminal: one per differing register, one per differing bit below it.
std::string FormatComparison(const std::vector<RegisterChange>& changes, std::string_view from,
                             std::string_view to);

// Writes the snapshot's keys back through the spin writer.
Spins::SpinReport RestoreSnapshot(Spins::SpinProgrammer& writer, const Snapshot& s);

}  // namespace recording
