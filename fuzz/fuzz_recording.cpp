// Feeds arbitrary bytes to the CSV recording reader and checks what it gives back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "recording/RecordingReader.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  recording::RecordingError error;
  const std::optional<recording::Recording> r = recording::ParseRecording(text, error);
  if (!r) {
    // A line of the file, one past its last at most.
    std::size_t lines = 1;
    for (std::size_t i = 0; i < text.size(); ++i)
      lines += text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
    Check(error.line >= 1 && static_cast<std::size_t>(error.line) <= lines + 1);
    fuzz::CheckMessage(error.reason);
    return 0;
  }
  for (const recording::RecordedReading& reading : r->readings)
    Check(reading.channel < r->channels.size());
  for (const recording::RecordedAccess& a : r->accesses) Check(a.hasValue || a.status != 0);
  return 0;
}
