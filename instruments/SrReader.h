// Reads a .sr session that Korvo's .sr recorder wrote (SrRecorder.h) back into a recording for
// review in the plot, through the instrument module: libsigrok loads only when a .sr is read.
//
// Each sample is a tick: the status and control registers read as the words their bit channels
// rebuild, the set points as their values (NaN: a failed read, VB_UNKNOWN), the instrument
// channels as readings (NaN: none yet). A tick the recorder repeated to keep a whole sample rate
// comes back as one. A session that is not one of Korvo's is refused with the reason.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "instruments/SigrokBackend.h"
#include "recording/RecordingReader.h"

namespace instruments {

// nullopt with message ("FILE is not a Korvo recording: reason." or "Cannot open FILE: reason.")
// on failure.
std::optional<recording::Recording> ReadSrRecording(const std::string& path, std::string& message,
                                                    const std::vector<std::string>& modulePaths);
inline std::optional<recording::Recording> ReadSrRecording(const std::string& path,
                                                           std::string& message) {
  return ReadSrRecording(path, message, SigrokModulePaths());
}

}  // namespace instruments
