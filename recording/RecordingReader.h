// Reads a Korvo CSV recording back (the file the CSV recorder writes: kCsvHeader, one row per
// register access, one "measure" row per instrument reading) for review in the plot. Anything
// else is refused with the line and the reason, before any of it is used.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "observation/Clock.h"
#include "observation/Observation.h"

namespace recording {

struct RecordedAccess {
  int64_t us = 0;  // since the recording started
  AccessSource source = AccessSource::kScanTick;
  AccessKind kind = AccessKind::kRead;
  uint8_t address = 0;
  uint16_t value = 0;  // meaningful only when hasValue
  bool hasValue = false;
  int32_t status = 0;
  bool operator==(const RecordedAccess&) const = default;
};

// An instrument channel of the file. The CSV keeps no driver channel name: the caption names it.
struct RecordingChannel {
  std::string instrument;  // "PSU"
  std::string caption;     // "PSU CH1 current"
  std::string quantity;    // "current", "voltage", or empty when the caption does not say
  std::string unit;        // "mA", "mV", the unit in the caption's parentheses, or empty
  bool operator==(const RecordingChannel&) const = default;
};

struct RecordedReading {
  int64_t us = 0;
  uint32_t channel = 0;  // into Recording::channels
  double value = 0;
  bool operator==(const RecordedReading&) const = default;
};

struct Recording {
  WallTime start{};  // the wall-clock time at 0 s (from the first row; the epoch when empty)
  std::vector<RecordedAccess> accesses;
  std::vector<RecordingChannel> channels;
  std::vector<RecordedReading> readings;
};

struct RecordingError {
  int line = 0;  // 1 is the header
  std::string reason;
};

std::optional<Recording> ParseRecording(std::string_view text, RecordingError& error);
// Reads and parses path; nullopt with message ("FILE is not a Korvo recording: line N: reason."
// or "Cannot open FILE: reason.") on failure.
std::optional<Recording> ReadRecording(const std::string& path, std::string& message);

// "2024-05-01T12:34:56.789+02:00" (IsoTimeFormatter's form) as a time; nullopt otherwise.
std::optional<WallTime> ParseIsoTime(std::string_view text);

}  // namespace recording
