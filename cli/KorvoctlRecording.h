// korvoctl's recording side: the operations watch, snapshot, compare and restore, the options
// that go with them (--period, --count, --duration, --output, --format, --caption, --variant,
// --journal, --stats), and dump's CSV and JSON forms. One KorvoctlRecording lives for one
// invocation: it parses its arguments, checks its input and output files before anything is
// opened, attaches the recorder and the journal file (both written as the run goes), and runs
// its operations.
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

// What runs beside a watch and a dump (the bench's instruments): told of every watch tick with
// the run's recorders, and asked for its part of a CSV or JSON dump.
class WatchCompanion {
 public:
  virtual ~WatchCompanion() = default;
  virtual void OnTickStart() {}
  virtual void OnTickEnd(const std::vector<recording::RegisterObserver*>& /*observers*/) {}
  virtual void OnWatchEnd(const std::vector<recording::RegisterObserver*>& /*observers*/) {}
  // Rows after the registers' (CSV), or members after "registers" (JSON: ", \"name\": ...").
  virtual void AppendDump(std::string& /*text*/, bool /*json*/) {}
  // The channels a .vcd output declares as real variables; asked once, before it is created.
  virtual std::vector<recording::RecordedChannel> RecordedChannels() { return {}; }
  // Comment lines after a snapshot's own ("; ...\n"), never keys: it stays a spin preset.
  virtual std::string SnapshotComments() { return {}; }
};

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
  bool IsWatch(std::size_t index) const { return ops_[index].kind == Op::Kind::kWatch; }
  bool IsSnapshot(std::size_t index) const { return ops_[index].kind == Op::Kind::kSnapshot; }
  DumpFormat Format() const { return format_; }
  recording::Variant Variant() const { return variant_; }

  // Before the adapter opens: refuses an output file that is the settings file, a snapshot
  // file read, or another output of the run; reads the snapshot files of compare and restore (a
  // bad one is a usage error: the message, and kExitUsage); creates the --output and --journal
  // files (a file that cannot be created is reported; the run goes on without it). Returns an
  // exit code.
  int Prepare(std::ostream& err, recording::Clock& clock);
  // Attaches the recorder to access and the journal to link for the whole invocation.
  void Attach(RegisterAccess& access, frmUSB& link);
  // The exit code of operation index. A watch ended by Ctrl-C, SIGTERM or SIGHUP returns
  // kExitOk and sets Interrupted(); a compare that finds differences returns kExitDiffer.
  int Run(std::size_t index, RegisterAccess& access, std::ostream& out, std::ostream& err);
  bool Interrupted() const { return interrupted_; }
  // A watch found standard output closed and has said so.
  bool OutputLost() const { return outputLost_; }
  // Not owned; nullptr (the default): nothing beside the registers.
  void SetCompanion(WatchCompanion* companion) { companion_ = companion; }
  // dump: every register read once, written as text, CSV or JSON; false when one could not be
  // read (the rest are still read).
  bool Dump(RegisterAccess& access, std::ostream& out) const;
  // Detaches, closes the recording and the journal file, prints the statistics. Returns rc, or
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
  // The first output that would overwrite another file of the run, as a message; empty: none.
  std::string OutputClash() const;
  int Watch(RegisterAccess& access, std::ostream& out, std::ostream& err);
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
  std::optional<std::string> journalPath_;
  bool stats_ = false;
  DumpFormat format_ = DumpFormat::kText;
  std::string caption_{recording::kDefaultSnapshotCaption};
  recording::Variant variant_ = recording::Variant::rk5190;

  recording::Clock* clock_ = nullptr;
  std::unique_ptr<recording::Recorder> recorder_;
  std::unique_ptr<recording::Journal> journal_;  // for --stats
  std::unique_ptr<recording::JournalFile> journalFile_;
  bool outputFailed_ = false;
  bool interrupted_ = false;
  bool outputLost_ = false;
  WatchCompanion* companion_ = nullptr;
};

// The --help lines of the operations and options above.
std::string KorvoctlRecordingUsage();
std::string KorvoctlRecordingOptionsUsage();
