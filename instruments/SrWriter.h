// A sigrok session file (.sr: what PulseView and sigrok-cli -i open) written by libsigrok's own
// srzip output, through the instrument module (SigrokBackend.h): logic channels, then analog
// channels, at a whole sample rate in Hz. For any C++ caller; SrRecorder.h records with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "instruments/SigrokBackend.h"

namespace instruments {

struct SrLayout {
  uint64_t samplerate = 1;          // Hz
  std::vector<std::string> logic;   // channel names, in order
  std::vector<std::string> analog;  // channel names, in order, after the logic ones
};

class SrWriter {
 public:
  // Creates path with the layout and no samples (already a file sigrok opens). nullptr, with
  // reason set, when the module does not load or the file cannot be made.
  static std::unique_ptr<SrWriter> Create(const std::string& path, const SrLayout& layout,
                                          std::string& reason,
                                          const std::vector<std::string>& modulePaths);
  static std::unique_ptr<SrWriter> Create(const std::string& path, const SrLayout& layout,
                                          std::string& reason) {
    return Create(path, layout, reason, SigrokModulePaths());
  }
  ~SrWriter();  // closes
  SrWriter(const SrWriter&) = delete;
  SrWriter& operator=(const SrWriter&) = delete;

  // count samples: logic holds count units of LogicUnitSize() bytes (channel i in bit i % 8 of
  // byte i / 8), analog count values of each analog channel in turn. Every call makes a chunk
  // of the archive and rewrites it: append many samples at a time. false (with Error) when
  // writing failed; the writer takes no more then.
  bool Append(std::size_t count, const std::vector<uint8_t>& logic,
              const std::vector<float>& analog);
  // Ends the file. Idempotent; false (with Error) when the end could not be written.
  bool Close();
  const std::string& Error() const { return error_; }
  const SrLayout& Layout() const { return layout_; }
  std::size_t LogicUnitSize() const { return (layout_.logic.size() + 7) / 8; }

 private:
  struct Impl;
  SrWriter(std::unique_ptr<Impl> impl, SrLayout layout);
  std::unique_ptr<Impl> impl_;
  SrLayout layout_;
  std::string error_;
};

// Why this run cannot write .sr files (the module does not load); empty when it can.
std::string SrUnavailableReason(const std::vector<std::string>& modulePaths);
inline std::string SrUnavailableReason() { return SrUnavailableReason(SigrokModulePaths()); }

}  // namespace instruments
