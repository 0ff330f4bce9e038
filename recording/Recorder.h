// Recorders: register traffic written to a file as it happens, one sample per ReadRegister or
// WriteRegister, put on disk after every tick or single access (RegisterObserver::OnFlush), so
// a crash or a pulled plug loses at most what is being written.
//
//   CSV (.csv): RFC 4180, a header row, one row per access (see kCsvHeader).
//   VCD (.vcd): IEEE 1364 value change dump, every bit of every recorded register as a 1-bit
//   wire "<address>.<bit name>" (BitNames.h), one $scope per register; only changes are
//   written, a failed read sets the register's bits to x. Writes are not in it: a write says
//   what was sent, the next read what the chip holds. Its time step ($timescale) follows the
//   scan period (VcdTimescaleFor): sigrok's import (PulseView, sigrok-cli) takes one sample
//   per step, and a 1 us step would make a 20 s run 20 million samples. A read that changes something
//   gets a step after the last change written, so reads of one tick faster than a step keep
//   their order instead of landing on one time. A bench instrument's channel, when given up
//   front (RecorderOptions::channels), is a `real` variable "<label>.<channel>_<unit>" in a
//   $scope of its instrument, after the registers; a reading writes "r<value> <id>" under the
//   same time-step rule. sigrok's import skips reals, so its wires stay as they are.
//   sigrok session (.sr): written through libsigrok, outside the core; its part hands it over
//   with SetFormatWriter (instruments/SrRecorder.h says what it holds).
//
// A window attaches a recorder with RegisterAccess::AddObserver and removes it (then destroys
// it) to stop. A write failure stops the recorder: it reports once through its error handler
// (a message by default) and ignores everything after; what was written stays valid.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recording/BitNames.h"
#include "recording/OutputFile.h"
#include "observation/Clock.h"
#include "observation/Observation.h"

namespace recording {

enum class RecordFormat : uint8_t { kCsv, kVcd, kSr };

// By the file's extension, ignoring case: ".csv", ".vcd" or ".sr"; nullopt for anything else.
std::optional<RecordFormat> FormatForPath(std::string_view path);
// The usage text for a path whose extension names no format.
std::string UnknownFormatText(std::string_view path);

inline constexpr std::string_view kCsvHeader =
    "seconds,time,source,operation,register,caption,hex,decimal,mV_mA,status,status_name";

// A VCD's time step is 1, 10 or 100 ns, us or ms, or 1 s.
// The step for a scan period: the longest at most a hundredth of it, from 1 us (a period of 0:
// as fast as it goes) to 1 s. At the default 500 ms scan, 1 ms: 1,000 samples a second.
constexpr std::chrono::nanoseconds VcdTimescaleFor(std::chrono::milliseconds period) {
  std::chrono::nanoseconds step = std::chrono::seconds(1);
  while (step > std::chrono::microseconds(1) && step * 100 > period) step /= 10;
  return step;
}
// "1 us", "10 ms": as a VCD header writes it.
std::string VcdTimescaleText(std::chrono::nanoseconds step);
// "1us", "1 us", "1 µs", "10ms", "100 ns", "1s" and the like; nullopt for anything that is not a
// step VcdTimescaleText writes.
std::optional<std::chrono::nanoseconds> ParseVcdTimescale(std::string_view text);
// Every step, shortest first.
std::vector<std::chrono::nanoseconds> VcdTimescales();

// An instrument channel a VCD declares: readings of other channels are left out of it (the
// header is written before the first reading arrives).
struct RecordedChannel {
  std::string instrument;  // the instrument's label: "PSU"
  std::string channel;     // the driver's channel name: "I1"
  std::string caption;     // "PSU CH1 current"
  std::string unit;        // "mA"
  bool operator==(const RecordedChannel&) const = default;
};

// How a recording names a channel's variable: "CH1_current_mA", the caption without the
// instrument's label, then the unit (the driver's channel name when there is no caption), and
// "PSU", the label, as its scope ("instrument" when there is none); blanks as underscores.
std::string ChannelVariableName(const RecordedChannel& c);
std::string ChannelScopeName(const std::string& label);

struct RecorderOptions {
  Variant variant = Variant::rk5190;  // bit names in a VCD
  // Registers a VCD declares, in this order; empty: the eleven the program knows. Accesses to
  // other registers are left out of a VCD (a CSV has every access).
  std::vector<uint8_t> registers;
  // A VCD also gets one 16-bit vector per register. Off by default: some readers (libsigrok
  // 0.5, behind PulseView and sigrok-cli) stop at the first vector value.
  bool vectors = false;
  // A VCD's time step: one of VcdTimescales(). The default suits the default 500 ms scan.
  std::chrono::nanoseconds timescale = VcdTimescaleFor(std::chrono::milliseconds(500));
  // Where the start time comes from; must be the clock of the register access observed.
  const Clock* clock = nullptr;  // nullptr: the machine's clock
  // Instrument channels a VCD declares as real variables, in this order; none: only wires.
  std::vector<RecordedChannel> channels;
  // A file removed while recording stops it at the next flush (korvoctl; the windows check the
  // file on their own timer).
  bool noticeRemoval = false;
  // The scan or watch period: a .sr's sample step (a sample a tick).
  std::chrono::milliseconds period{500};
};

class Recorder;

// A format the core does not write itself (.sr: libsigrok's, which only the instruments' module
// links). Whoever links its writer hands it over once; Open refuses the format without one.
struct FormatWriter {
  // Why the format cannot be written in this run; empty when it can.
  std::function<std::string()> unavailable;
  // As Recorder::Open: nullptr with message set when the file cannot be made.
  std::function<std::unique_ptr<Recorder>(const std::string& path, const RecorderOptions& options,
                                          std::string& message)>
      open;
};
void SetFormatWriter(RecordFormat format, FormatWriter writer);
// Before anything opens: empty when path names a format this run can record; else why not
// (UnknownFormatText, or "cannot record to 'PATH': reason").
std::string CheckRecordingPath(std::string_view path);

class Recorder : public RegisterObserver {
 public:
  using ErrorHandler = std::function<void(const std::string& message)>;

  // Creates the file and writes the format's header. nullptr, with message set ("Cannot
  // create FILE: reason." or "Cannot write FILE: reason."), when that fails. The format comes from
  // the extension; check CheckRecordingPath first, before anything is opened.
  static std::unique_ptr<Recorder> Open(const std::string& path, const RecorderOptions& options,
                                        std::string& message);
  // Records into a stream (korvoctl's standard output); name is used in messages. CSV or VCD.
  static std::unique_ptr<Recorder> ToStream(std::ostream& out, std::string name,
                                            RecordFormat format, const RecorderOptions& options);
  ~Recorder() override;

  // Stops the recording: puts what is pending on disk and closes the file (a VCD gets a last
  // timestamp, so readers show the values up to the moment it stopped). Idempotent.
  void Close();

  bool Active() const { return active_; }
  // Empty until the recording failed; then the message that was reported.
  const std::string& Error() const { return error_; }
  const std::string& Name() const { return sink_->Name(); }
  RecordFormat Format() const { return format_; }
  const TimeBase& Start() const { return start_; }
  // Samples taken (accesses written to the file, or held for the next flush).
  uint64_t Samples() const { return samples_; }

  // Called once, when writing fails. Default: a message (MsgBox).
  void SetErrorHandler(ErrorHandler handler) { onError_ = std::move(handler); }

  void OnRegisterAccess(const RegisterEvent& event) final;
  // A bench instrument's reading: a CSV row of its own (source: the instrument's label,
  // operation "measure", the value in the mV/mA column when it is in mV or mA, else in the
  // decimal column with the unit in the caption); formats without instruments leave it out.
  void OnInstrumentReading(const InstrumentReading& reading) final;
  void OnFlush() final;

 protected:
  Recorder(std::unique_ptr<Sink> sink, RecordFormat format, const RecorderOptions& options);
  virtual void Begin(std::string& out) = 0;                           // header
  virtual bool Sample(std::string& out, const RegisterEvent& e) = 0;  // false: not recorded
  virtual void End(std::string& /*out*/) {}                           // when it is closed
  virtual bool Measure(std::string& /*out*/, const InstrumentReading& /*r*/) { return false; }
  const TimeBase& Origin() const { return start_; }
  const RecorderOptions& Options() const { return options_; }

 private:
  void Fail();

  std::unique_ptr<Sink> sink_;
  RecordFormat format_;
  RecorderOptions options_;
  TimeBase start_;
  std::string pending_;
  bool begun_ = false;
  bool active_ = true;
  uint64_t samples_ = 0;
  std::string error_;
  ErrorHandler onError_;
};

// The message of a recording that stopped: "Recording to FILE stopped: reason."
std::string RecordingStoppedText(const std::string& name, const std::string& reason);
std::string CannotCreateText(const std::string& path, const std::string& reason);

}  // namespace recording
