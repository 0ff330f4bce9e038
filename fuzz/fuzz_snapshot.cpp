// Feeds arbitrary bytes to the register snapshot reader and checks what it gives back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "recording/Snapshot.h"

using fuzz::Check;

namespace {

bool Same(const recording::Snapshot& a, const recording::Snapshot& b) {
  return a.caption == b.caption && a.description == b.description && a.values == b.values &&
         a.time == b.time && a.variant == b.variant && a.deviceAddress == b.deviceAddress &&
         a.version == b.version;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  recording::SnapshotError error;
  const std::optional<recording::Snapshot> s = recording::ParseSnapshot(text, error);
  if (!s) {
    Check(error.line >= 0 && static_cast<std::size_t>(error.line) <= size);
    fuzz::CheckMessage(error.reason);
  } else {
    // Complete, and written back it reads the same.
    Check(s->Complete());
    recording::SnapshotError again;
    const std::optional<recording::Snapshot> round =
        recording::ParseSnapshot(recording::FormatSnapshot(*s), again);
    Check(round.has_value() && Same(*round, *s));
  }

  // Any line end reads the same: the same snapshot, or the same refusal on the same line. One
  // of CR LF and CR a run, picked by the input, keeps the runs fast.
  if (text.find('\r') == std::string_view::npos) {
    const std::string_view end = size % 2 ? "\r\n" : "\r";
    recording::SnapshotError otherError;
    const std::optional<recording::Snapshot> other =
        recording::ParseSnapshot(fuzz::WithLineEnds(text, end), otherError);
    Check(other.has_value() == s.has_value());
    if (other)
      Check(Same(*other, *s));
    else
      Check(otherError.line == error.line && otherError.reason == error.reason);
  }
  return 0;
}
