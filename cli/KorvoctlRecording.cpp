#include "cli/KorvoctlRecording.h"

#include <sys/stat.h>
#include <algorithm>
#include <cmath>
#include <csignal>

#include <filesystem>
#include <ostream>

#include "adapter/ErrorCodes.h"
#include "adapter/frmUSB.h"
#include "cli/Korvoctl.h"
#include "cli/KorvoctlSpins.h"
#include "cli/RepeatSummary.h"
#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"
#include "foundation/Utils.h"
#include "instruments/SrRecorder.h"
#include "recording/Text.h"
#include "registers/RegisterAccess.h"
#include "registers/RegisterTable.h"
#include "registers/Spins.h"

namespace {

using recording::AccessSource;

// Every register access of korvoctl names the register the way the main window does.

constexpr int64_t kMaxPeriodMs = 3600000;
constexpr int64_t kMaxCount = 1000000000;
constexpr double kMaxDurationS = 31536000;

bool IsOperationName(const std::string& a) {
  for (const char* name :
       {"read", "write", "dump", "list", "spin", "burn", "watch", "snapshot", "compare", "restore"})
    if (a == name) return true;
  return false;
}

// Ctrl-C, a polite kill and a hang-up end a watch cleanly; the flag is all a handler may touch.
volatile std::sig_atomic_t g_stop = 0;
extern "C" void OnStopSignal(int) { g_stop = 1; }

class StopSignals {
 public:
  StopSignals() {
    g_stop = 0;
    struct sigaction sa {};
    sa.sa_handler = &OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &oldInt_);
    sigaction(SIGTERM, &sa, &oldTerm_);
    sigaction(SIGHUP, &sa, &oldHup_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
    sigaction(SIGHUP, &oldHup_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  bool Requested() const { return g_stop != 0; }

 private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
  struct sigaction oldHup_ {};
};

// One file however it is named: the same device and inode when both exist; else the same path
// once symlinks are followed (an output not created yet, or a dangling link to one).
struct FileId {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::filesystem::path path;

  explicit FileId(const std::string& name) {
    namespace fs = std::filesystem;
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0) {
      exists = true;
      device = st.st_dev;
      inode = st.st_ino;
      return;
    }
    std::error_code ec;
    fs::path p = fs::absolute(name, ec);
    for (int hops = 0; hops < 40 && fs::is_symlink(p, ec); ++hops) {
      const fs::path target = fs::read_symlink(p, ec);
      if (ec) break;
      p = target.is_absolute() ? target : p.parent_path() / target;
    }
    path = fs::weakly_canonical(p, ec);
  }
  bool operator==(const FileId& o) const {
    if (exists != o.exists) return false;
    return exists ? device == o.device && inode == o.inode : path == o.path;
  }
};

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

KorvoctlRecording::Taken KorvoctlRecording::Take(const std::vector<std::string>& args,
                                                 std::size_t& i) {
  Taken t;
  const std::string& a = args[i];
  auto value = [&](const std::string& what) -> std::optional<std::string> {
    if (i + 1 >= args.size()) {
      t.error = what + " is missing";
      return std::nullopt;
    }
    return args[++i];
  };
  auto integer = [&](const std::string& what, int64_t lo, int64_t hi) -> std::optional<int64_t> {
    const auto text = value(what);
    if (!text) return std::nullopt;
    const auto v = Utils::ParseInteger(*text, lo, hi);
    if (!v) {
      t.error = "invalid " + what + " '" + *text + "': expected " + std::to_string(lo) + " to " +
                std::to_string(hi);
    }
    return v;
  };
  auto operation = [&](Op op) {
    t.operation = true;
    t.index = ops_.size();
    ops_.push_back(std::move(op));
  };

  t.taken = true;
  if (a == "--period") {
    if (auto v = integer("period in milliseconds", 0, kMaxPeriodMs)) periodMs_ = *v;
  } else if (a == "--timescale") {
    if (auto text = value("time step")) {
      timescale_ = recording::ParseVcdTimescale(*text);
      if (!timescale_) {
        t.error = "invalid time step '" + *text +
                  "': expected 1, 10 or 100 ns, us or ms, or 1 s (as in 1ms)";
      }
    }
  } else if (a == "--count") {
    if (auto v = integer("count of ticks", 1, kMaxCount)) count_ = *v;
  } else if (a == "--duration") {
    if (auto text = value("duration in seconds")) {
      const auto v = Utils::ParseDecimal(*text);
      if (!v || !std::isfinite(*v) || *v <= 0 || *v > kMaxDurationS) {
        t.error = "invalid duration in seconds '" + *text + "': expected more than 0, at most " +
                  std::to_string(static_cast<int64_t>(kMaxDurationS));
      } else {
        durationS_ = *v;
      }
    }
  } else if (a == "--output") {
    if (auto text = value("--output file")) {
      // Refused before anything is opened, as is a .sr when libsigrok cannot be loaded.
      instruments::InstallSrRecordings();
      if (std::string refused = recording::CheckRecordingPath(*text); !refused.empty())
        t.error = std::move(refused);
      else
        output_ = *text;
    }
  } else if (a == "--format") {
    if (auto text = value("dump format")) {
      if (*text == "text")
        format_ = DumpFormat::kText;
      else if (*text == "csv")
        format_ = DumpFormat::kCsv;
      else if (*text == "json")
        format_ = DumpFormat::kJson;
      else
        t.error = "invalid dump format '" + *text + "': expected text, csv or json";
    }
  } else if (a == "--caption") {
    if (auto text = value("snapshot caption")) {
      if (auto c = Spins::FindCaption(*text))
        caption_ = *c;
      else
        t.error = UnknownSpinText(*text);
    }
  } else if (a == "--variant") {
    if (auto text = value("chip variant")) {
      if (auto v = recording::ParseVariant(*text))
        variant_ = *v;
      else
        t.error = "invalid chip variant '" + *text + "': expected rk5190 or rk5191";
    }
  } else if (a == "--journal") {
    if (auto text = value("--journal file")) journalPath_ = *text;
  } else if (a == "--stats") {
    stats_ = true;
  } else if (a == "watch") {
    operation({Op::Kind::kWatch, {}, {}, {}, {}});
  } else if (a == "snapshot" || a == "restore") {
    if (auto file = value(a + " file"))
      operation({a == "snapshot" ? Op::Kind::kSnapshot : Op::Kind::kRestore, *file, {}, {}, {}});
  } else if (a == "compare") {
    if (auto file = value("compare file")) {
      Op op{Op::Kind::kCompare, *file, {}, {}, {}};
      // A second file follows unless the next argument is an option or another operation.
      if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-' &&
          !IsOperationName(args[i + 1]))
        op.file2 = args[++i];
      operation(std::move(op));
    }
  } else {
    t.taken = false;
  }
  return t;
}

bool KorvoctlRecording::NeedsDevice(std::size_t index) const {
  const Op& op = ops_[index];
  return !(op.kind == Op::Kind::kCompare && !op.file2.empty());
}

bool KorvoctlRecording::Load(Op& op, std::ostream& err) {
  std::string message;
  if (!op.snapshot) op.snapshot = recording::LoadSnapshot(op.file, message);
  if (op.snapshot && !op.file2.empty() && !op.snapshot2)
    op.snapshot2 = recording::LoadSnapshot(op.file2, message);
  if (!op.snapshot || (!op.file2.empty() && !op.snapshot2)) {
    err << "korvoctl: " << message << '\n';
    return false;
  }
  return true;
}

std::string KorvoctlRecording::OutputClash() const {
  struct Named {
    std::string label;  // "--output", "snapshot", "compare"
    std::string path;
    FileId id;
  };
  std::vector<Named> outputs, read;
  if (output_) outputs.push_back({"--output", *output_, FileId(*output_)});
  if (journalPath_) outputs.push_back({"--journal", *journalPath_, FileId(*journalPath_)});
  for (const Op& op : ops_) {
    if (op.kind == Op::Kind::kSnapshot) outputs.push_back({"snapshot", op.file, FileId(op.file)});
    const char* reader = op.kind == Op::Kind::kCompare   ? "compare"
                         : op.kind == Op::Kind::kRestore ? "restore"
                                                         : nullptr;
    if (reader == nullptr) continue;
    read.push_back({reader, op.file, FileId(op.file)});
    if (!op.file2.empty()) read.push_back({reader, op.file2, FileId(op.file2)});
  }
  const std::string& settings = Settings::File();
  const FileId settingsId(settings);
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const Named& o = outputs[i];
    if (!settings.empty() && o.id == settingsId) {
      return o.label + " " + Quoted(o.path) + " is the settings file " + Quoted(settings) +
             ", which korvoctl never writes";
    }
    // A snapshot may write the file a compare or restore of the same run reads: they take
    // their turns. The files written all along may not.
    for (const Named& r : read) {
      if (o.label != "snapshot" && o.id == r.id) {
        return o.label + " " + Quoted(o.path) + " is the snapshot file " + Quoted(r.path) +
               " that " + r.label + " reads";
      }
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (outputs[j].id == o.id) {
        return outputs[j].label + " " + Quoted(outputs[j].path) + " and " + o.label + " " +
               Quoted(o.path) + " are the same file";
      }
    }
  }
  return {};
}

int KorvoctlRecording::Prepare(std::ostream& err, recording::Clock& clock) {
  clock_ = &clock;
  // Refused before anything is opened: one output would overwrite or interleave with another
  // file of the run.
  if (const std::string clash = OutputClash(); !clash.empty()) {
    err << "korvoctl: " << clash << '\n';
    return kExitUsage;
  }
  // Snapshot files are checked before the adapter opens, except those an earlier snapshot of
  // this run writes: they are read when their turn comes.
  std::vector<std::string> written;
  for (Op& op : ops_) {
    if (op.kind == Op::Kind::kSnapshot) written.push_back(op.file);
    if (op.kind != Op::Kind::kCompare && op.kind != Op::Kind::kRestore) continue;
    auto later = [&](const std::string& f) {
      return std::find(written.begin(), written.end(), f) != written.end();
    };
    if (later(op.file) || (!op.file2.empty() && later(op.file2))) continue;
    if (!Load(op, err)) return kExitUsage;
  }
  if (output_) {
    std::string message;
    recording::RecorderOptions options = RecorderOptionsFor({});
    if (companion_ && recording::FormatForPath(*output_) != recording::RecordFormat::kCsv)
      options.channels = companion_->RecordedChannels();
    recorder_ = recording::Recorder::Open(*output_, options, message);
    if (!recorder_) {
      MsgBox(message);
      outputFailed_ = true;
    } else {
      recorder_->SetErrorHandler([this](const std::string& m) {
        MsgBox(m);
        outputFailed_ = true;
      });
    }
  }
  if (journalPath_) {
    std::string message;
    journalFile_ = recording::JournalFile::Create(*journalPath_, clock, message);
    if (!journalFile_) {
      MsgBox(message);
      outputFailed_ = true;
    } else {
      journalFile_->SetErrorHandler([this](const std::string& m) {
        MsgBox(m);
        outputFailed_ = true;
      });
    }
  }
  if (stats_) journal_ = std::make_unique<recording::Journal>(clock);
  return kExitOk;
}

recording::RecorderOptions KorvoctlRecording::RecorderOptionsFor(
    const std::vector<uint8_t>& registers) const {
  recording::RecorderOptions o;
  o.variant = variant_;
  o.registers = registers;
  o.clock = clock_;
  o.noticeRemoval = true;  // nothing else would see it
  o.period = std::chrono::milliseconds(periodMs_);
  o.timescale =
      timescale_.value_or(recording::VcdTimescaleFor(std::chrono::milliseconds(periodMs_)));
  return o;
}

void KorvoctlRecording::Attach(RegisterAccess& access, frmUSB& link) {
  access.SetClock(*clock_);
  link.SetClock(*clock_);
  if (recorder_) access.AddObserver(*recorder_);
  if (journalFile_) {
    link.AddObserver(*journalFile_);
    access.AddObserver(*journalFile_);  // on disk when a tick or an access is complete
  }
  if (journal_) link.AddObserver(*journal_);
}

int KorvoctlRecording::Run(std::size_t index, RegisterAccess& access, std::ostream& out,
                           std::ostream& err) {
  Op& op = ops_[index];
  if ((op.kind == Op::Kind::kCompare || op.kind == Op::Kind::kRestore) && !Load(op, err))
    return kExitUsage;
  switch (op.kind) {
    case Op::Kind::kWatch: return Watch(access, out, err);
    case Op::Kind::kSnapshot: return TakeSnapshot(op, access);
    case Op::Kind::kCompare: return Compare(op, access, out);
    case Op::Kind::kRestore: return Restore(op, access);
  }
  return kExitUsage;
}

int KorvoctlRecording::Watch(RegisterAccess& access, std::ostream& out, std::ostream& err) {
  using namespace std::chrono;
  // Without --output the rows go to standard output, as they come.
  std::unique_ptr<recording::Recorder> onStdout;
  if (!output_) {
    onStdout = recording::Recorder::ToStream(out, "standard output", recording::RecordFormat::kCsv,
                                             RecorderOptionsFor({}));
    onStdout->SetErrorHandler([](const std::string& m) { MsgBox(m); });
    access.AddObserver(*onStdout);
  }
  RepeatSummary messages(*clock_);  // a failing register fails on every tick
  const StopSignals stop;
  recording::Clock& clock = *clock_;
  const milliseconds period(periodMs_);
  const recording::MonoTime start = clock.Now();
  const recording::MonoTime end =
      durationS_ ? start + duration_cast<nanoseconds>(duration<double>(*durationS_))
                 : recording::MonoTime::max();
  recording::MonoTime next = start;
  // Standard output is gone (a closed pipe): said once by the recorder; nothing more is read.
  auto lost = [&] {
    if (outputLost_) return true;
    if (!onStdout || onStdout->Active()) return false;
    access.RemoveObserver(*onStdout);
    outputLost_ = true;
    return true;
  };
  bool failed = false;
  bool gone = false;
  int64_t ticks = 0;
  std::vector<recording::RegisterObserver*> observers;
  for (recording::Recorder* r : {recorder_.get(), onStdout.get()})
    if (r != nullptr) observers.push_back(r);
  while (!stop.Requested() && clock.Now() < end && !lost()) {
    if (companion_) companion_->OnTickStart();
    {
      const RegisterAccess::SourceScope tick(access, AccessSource::kKorvoctl, true);
      for (uint8_t address : RegisterTable::MainReadOrder()) {  // the scan's order
        int16_t value = 0;
        const int32_t status = access.ReadRegister(RegisterAccess::kMainRegisterName, address,
                                                   value, modGlobals::DeviceAddress);
        failed |= status != 0;
        // The adapter has gone: every later read would fail the same way, as fast as it can.
        gone = status == VB_NO_USB;
        if (gone) break;
      }
    }
    if (companion_) companion_->OnTickEnd(observers);
    if (lost()) break;
    if (gone) {
      messages.Flush();
      err << "korvoctl: watch stopped: the adapter has gone (" << StatusName(VB_NO_USB) << ").\n";
      break;
    }
    messages.Poll();
    if (count_ && ++ticks >= *count_) break;
    // Ticks do not pile up: after a slow tick the next one comes at once, then the period.
    next = std::max(next + period, clock.Now());
    next = std::min(next, end);
    // In slices, so Ctrl-C is noticed soon.
    while (!stop.Requested() && clock.Now() < next)
      clock.SleepUntil(std::min(next, clock.Now() + milliseconds(100)));
  }
  interrupted_ = stop.Requested();
  if (companion_) companion_->OnWatchEnd(observers);
  if (onStdout && !outputLost_) access.RemoveObserver(*onStdout);
  return failed || outputLost_ ? kExitBus : kExitOk;
}

int KorvoctlRecording::TakeSnapshot(const Op& op, RegisterAccess& access) {
  // The settings file was refused as a snapshot before anything was opened (OutputClash).
  recording::Snapshot s = recording::ReadSnapshot(
      access, modGlobals::DeviceAddress, RegisterAccess::kMainRegisterName, variant_, *clock_);
  if (!s.Complete()) {
    MsgBox("Snapshot not written: a register could not be read.");
    return kExitBus;
  }
  s.caption = caption_;
  std::string reason;
  std::string text = recording::FormatSnapshot(s);
  if (companion_) text += companion_->SnapshotComments();
  if (!recording::WriteWholeFile(op.file, text, reason)) {
    MsgBox("Cannot write " + op.file + ": " + reason + ".");
    return kExitBus;
  }
  return kExitOk;
}

int KorvoctlRecording::Compare(const Op& op, RegisterAccess& access, std::ostream& out) {
  const recording::Snapshot& reference = *op.snapshot;
  std::string otherName = op.file2;
  recording::Snapshot other;
  bool readFailed = false;
  if (op.snapshot2) {
    other = *op.snapshot2;
  } else {
    otherName = "chip";
    std::vector<uint8_t> keys;
    for (uint8_t a : recording::SnapshotRegisters())
      if (recording::IsSnapshotKey(a)) keys.push_back(a);
    other = recording::ReadSnapshot(access, modGlobals::DeviceAddress,
                                    RegisterAccess::kMainRegisterName, variant_, *clock_, keys);
    for (uint8_t a : keys) readFailed |= !other.Value(a).has_value();
  }
  const auto changes = recording::CompareSnapshots(reference, other);
  out << recording::FormatComparison(changes, op.file, otherName);
  out.flush();
  if (readFailed) return kExitBus;
  return changes.empty() ? kExitOk : kExitDiffer;
}

int KorvoctlRecording::Restore(const Op& op, RegisterAccess& access) {
  Spins::SpinProgrammer writer(access);
  const Spins::SpinReport r = recording::RestoreSnapshot(writer, *op.snapshot);
  switch (r.outcome) {
    case Spins::SpinReport::Outcome::kDeclined: return kExitDeclined;
    case Spins::SpinReport::Outcome::kAborted: return kExitBus;
    case Spins::SpinReport::Outcome::kApplied: break;
  }
  return r.Clean() ? kExitOk : kExitBus;
}

bool KorvoctlRecording::Dump(RegisterAccess& access, std::ostream& out) const {
  bool ok = true;
  std::string text;
  if (format_ == DumpFormat::kCsv) {
    text = "register,caption,hex,decimal,status,status_name";
    text += recording::kCsvLineEnd;
  } else if (format_ == DumpFormat::kJson) {
    text = "{\"registers\": [\n";
  }
  bool first = true;
  for (const RegisterTable::Register& r : RegisterTable::All()) {
    int16_t value = 0;
    const int32_t status = access.ReadRegister(RegisterAccess::kMainRegisterName, r.address, value,
                                               modGlobals::DeviceAddress);
    ok = ok && status == 0;
    const auto u = static_cast<uint16_t>(value);
    if (format_ == DumpFormat::kText) {  // line by line, between the failure messages
      out << Text::Byte(r.address) << ' ' << (status == 0 ? Text::Word(u) : std::string("------"))
          << ' ' << r.trimTitle << '\n';
    } else if (format_ == DumpFormat::kCsv) {
      text += recording::AddressText(r.address) + ",";
      recording::AppendCsvField(text, r.trimTitle);
      text += ",";
      if (status == 0)
        text += Text::Word(u) + "," + std::to_string(u);
      else
        text += ",";
      text += "," + std::to_string(status) + ",";
      recording::AppendCsvField(text, StatusName(status));
      text += recording::kCsvLineEnd;
    } else {
      text += first ? "  " : ",\n  ";
      text += "{\"address\": " + recording::JsonString(recording::AddressText(r.address)) +
              ", \"caption\": " + recording::JsonString(r.trimTitle) +
              ", \"value\": " + (status == 0 ? std::to_string(u) : std::string("null")) +
              ", \"hex\": " +
              (status == 0 ? recording::JsonString(Text::Word(u)) : std::string("null")) +
              ", \"status\": " + recording::JsonString(StatusName(status)) + "}";
    }
    first = false;
  }
  if (format_ == DumpFormat::kJson) text += "\n]";
  if (companion_) companion_->AppendDump(text, format_ == DumpFormat::kJson);
  if (format_ == DumpFormat::kJson) text += "}\n";
  out << text;
  return ok;
}

int KorvoctlRecording::Finish(int rc, RegisterAccess* access, frmUSB* link, std::ostream& err) {
  if (recorder_) {
    if (access) access->RemoveObserver(*recorder_);
    recorder_->Close();
  }
  if (journalFile_) {
    if (link) link->RemoveObserver(*journalFile_);
    if (access) access->RemoveObserver(*journalFile_);
    journalFile_->Close();  // a failure is reported by its handler
  }
  if (journal_) {
    if (link) link->RemoveObserver(*journal_);
    if (stats_) err << recording::FormatStatistics(journal_->Statistics());
  }
  if (outputFailed_ && (rc == kExitOk || rc == kExitDiffer)) return kExitBus;
  return rc;
}

std::string KorvoctlRecordingUsage() {
  return "  watch              re-read the five main registers in the scan's order (0x13 0x12\n"
         "                     0x15 0x3F 0x14) every --period MS, for --count ticks or\n"
         "                     --duration seconds or until Ctrl-C; CSV rows on standard output,\n"
         "                     or recorded to --output FILE. Ctrl-C (or SIGTERM, SIGHUP) ends\n"
         "                     the run cleanly; an adapter that has gone ends it at once.\n"
         "  snapshot FILE      save the eleven registers as a spin preset section\n"
         "                     ([SpinCustom 1], or [Spin CAPTION] with --caption)\n"
         "  compare FILE [FILE2]\n"
         "                     compare the chip (or snapshot FILE2) with snapshot FILE, bit by\n"
         "                     bit; exit 4 when they differ\n"
         "  restore FILE       write snapshot FILE back as a spin preset is applied. Asks first.\n";
}

std::string KorvoctlRecordingOptionsUsage() {
  return "  --period MS        watch period, 0 to 3600000 ms (default 500; 0: as fast as it goes)\n"
         "  --count N          watch: stop after N ticks (1 to 1000000000)\n"
         "  --duration S       watch: stop after S seconds (fractions allowed)\n"
         "  --output FILE      record every register access to FILE: .csv, .vcd or .sr (a\n"
         "                     sigrok session for PulseView and sigrok-cli: the named bits as\n"
         "                     logic channels, the set points and instrument readings as analog\n"
         "                     ones in mV/mA; one sample a watch tick, at 1/--period; a reading\n"
         "                     between ticks is held until the next tick)\n"
         "  --timescale STEP   a .vcd's time step: 1, 10 or 100 ns, us or ms, or 1 s (default:\n"
         "                     a hundredth of --period, from 1us to 1s; 1ms at 500 ms)\n"
         "  --format FMT       dump as text (default), csv or json\n"
         "  --caption CAPTION  snapshot: the spin caption that names the section (default\n"
         "                     \"Custom 1\")\n"
         "  --variant VARIANT  rk5190 (default) or rk5191: the status bit names in a .vcd or .sr\n"
         "  --journal FILE     write every adapter transaction of this run to FILE (CSV)\n"
         "  --stats            print the transaction statistics to standard error at the end\n";
}
