// korvoctl's recording side: the operations watch, snapshot, compare and restore, the options
// that go with them (--period, --count, --duration, --output, --format, --caption, --variant,
// --journal, --stats), and dump's CSV and JSON forms. One KorvoctlRecording lives for one
// invocation: it parses its arguments, checks its input files before the adapter opens,
// attaches the recorder and the journal, runs its operations and writes the journal at the end.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recording/BitNames.h"
#include "recording/Journal.h"
#include "recording/OutputFile.h"
#include "recording/Recorder.h"
#include "recording/Snapshot.h"
#include "observation/Clock.h"

class RegisterAccess;
class frmUSB;

class KorvoctlRecording {
 public:
  enum class DumpFormat { kText, kCsv, kJson };

  struct Taken {
    bool taken = false;      // args[i] was ours (i moved past its values)
    bool operation = false;  // it was an operation: run it with Run(index)
    std::size_t index = 0;
    std::string error;  // a usage error
  };
  Taken Take(const std::vector<std::string>& args, std::size_t& i);

  bool NeedsDevice(std::size_t index) const;
  DumpFormat Format() const { return format_; }

  // Before the adapter opens: reads the snapshot files of compare and restore (a bad one is a
  // usage error: the message, and kExitUsage) and creates the --output and --journal files (a
  // file that cannot be created is reported; the run goes on without it). Returns an exit code.
  int Prepare(std::ostream& err, recording::Clock& clock);
  // Attaches the recorder to access and the journal to link for the whole invocation.
  void Attach(RegisterAccess& access, frmUSB& link);
  // The exit code of operation index. A watch ended by Ctrl-C returns kExitOk and sets
  // Interrupted(); a compare that finds differences returns kExitDiffer.
  int Run(std::size_t index, RegisterAccess& access, std::ostream& out, std::ostream& err);
  bool Interrupted() const { return interrupted_; }
  // dump in CSV or JSON; false when a register could not be read.
  bool Dump(RegisterAccess& access, std::ostream& out) const;
  // Detaches, closes the recording, writes the journal and the statistics. Returns rc, or
  // kExitBus when rc was kExitOk (or kExitDiffer) and an output file failed.
  int Finish(int rc, RegisterAccess* access, frmUSB* link, std::ostream& err);

 private:
  struct Op {
    enum class Kind { kWatch, kSnapshot, kCompare, kRestore } kind;
    std::string file;
    std::string file2;  // compare with a second snapshot instead of the chip
    std::optional<recording::Snapshot> snapshot, snapshot2;
  };
  bool Load(Op& op, std::ostream& err);  // the op's snapshot files; false: reported on err
  int Watch(RegisterAccess& access, std::ostream& out);
  int TakeSnapshot(const Op& op, RegisterAccess& access);
  int Compare(const Op& op, RegisterAccess& access, std::ostream& out);
  int Restore(const Op& op, RegisterAccess& access);
  recording::RecorderOptions RecorderOptionsFor(const std::vector<uint8_t>& registers) const;

  std::vector<Op> ops_;
  int64_t periodMs_ = 500;
  std::optional<int64_t> count_;
  std::optional<double> durationS_;
  std::optional<std::string> output_;
  std::optional<std::chrono::nanoseconds> timescale_;  // a .vcd's time step; default: by period
  std::optional<std::string> journalFile_;
  bool stats_ = false;
  DumpFormat format_ = DumpFormat::kText;
  std::string caption_{recording::kDefaultSnapshotCaption};
  recording::Variant variant_ = recording::Variant::rk5190;

  recording::Clock* clock_ = nullptr;
  std::unique_ptr<recording::Recorder> recorder_;
  std::unique_ptr<recording::Journal> journal_;
  std::unique_ptr<recording::FileSink> journalSink_;
  bool outputFailed_ = false;
  bool interrupted_ = false;
};

// The --help lines of the operations and options above.
std::string KorvoctlRecordingUsage();
std::string KorvoctlRecordingOptionsUsage();
