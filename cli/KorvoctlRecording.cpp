#include "cli/KorvoctlRecording.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <ostream>

#include "adapter/frmUSB.h"
#include "cli/Korvoctl.h"
#include "cli/KorvoctlSpins.h"
#include "recording/Text.h"
#include "registers/RegisterAccess.h"
#include "registers/RegisterTable.h"
#include "registers/Spins.h"
#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"
#include "foundation/Utils.h"

namespace {

using recording::AccessSource;

// Every register access of korvoctl names the register the way the main window does.
constexpr const char* kRegName = "CS: Status";

constexpr int64_t kMaxPeriodMs = 3600000;
constexpr int64_t kMaxCount = 1000000000;
constexpr double kMaxDurationS = 31536000;

bool IsOperationName(const std::string& a) {
  for (const char* name :
       {"read", "write", "dump", "list", "spin", "burn", "watch", "snapshot", "compare", "restore"})
    if (a == name) return true;
  return false;
}

// Ctrl-C (and a polite kill) end a watch cleanly; the flag is all a handler may touch.
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
  }
  ~StopSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  bool Requested() const { return g_stop != 0; }

 private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
};

std::string JsonString(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Hex4(uint16_t v) { return "0x" + Text::Hex(v, 4); }

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
      // Refused before anything is opened.
      if (!recording::FormatForPath(*text))
        t.error = recording::UnknownFormatText(*text);
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
    if (auto text = value("--journal file")) journalFile_ = *text;
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

int KorvoctlRecording::Prepare(std::ostream& err, recording::Clock& clock) {
  clock_ = &clock;
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
    recorder_ = recording::Recorder::Open(*output_, RecorderOptionsFor({}), message);
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
  if (journalFile_) {
    std::string reason;
    journalSink_ = recording::FileSink::Create(*journalFile_, reason);
    if (!journalSink_) {
      MsgBox(recording::CannotCreateText(*journalFile_, reason));
      outputFailed_ = true;
    }
  }
  if (journalSink_ || stats_) journal_ = std::make_unique<recording::Journal>(clock);
  return kExitOk;
}

recording::RecorderOptions KorvoctlRecording::RecorderOptionsFor(
    const std::vector<uint8_t>& registers) const {
  recording::RecorderOptions o;
  o.variant = variant_;
  o.registers = registers;
  o.clock = clock_;
  o.timescale =
      timescale_.value_or(recording::VcdTimescaleFor(std::chrono::milliseconds(periodMs_)));
  return o;
}

void KorvoctlRecording::Attach(RegisterAccess& access, frmUSB& link) {
  access.SetClock(*clock_);
  link.SetClock(*clock_);
  if (recorder_) access.AddObserver(*recorder_);
  if (journal_) link.AddObserver(*journal_);
}

int KorvoctlRecording::Run(std::size_t index, RegisterAccess& access, std::ostream& out,
                           std::ostream& err) {
  Op& op = ops_[index];
  if ((op.kind == Op::Kind::kCompare || op.kind == Op::Kind::kRestore) && !Load(op, err))
    return kExitUsage;
  switch (op.kind) {
    case Op::Kind::kWatch: return Watch(access, out);
    case Op::Kind::kSnapshot: return TakeSnapshot(op, access);
    case Op::Kind::kCompare: return Compare(op, access, out);
    case Op::Kind::kRestore: return Restore(op, access);
  }
  return kExitUsage;
}

int KorvoctlRecording::Watch(RegisterAccess& access, std::ostream& out) {
  using namespace std::chrono;
  // Without --output the rows go to standard output, as they come.
  std::unique_ptr<recording::Recorder> onStdout;
  if (!output_) {
    onStdout = recording::Recorder::ToStream(out, "standard output", recording::RecordFormat::kCsv,
                                             RecorderOptionsFor({}));
    onStdout->SetErrorHandler([](const std::string& m) { MsgBox(m); });
    access.AddObserver(*onStdout);
  }
  const StopSignals stop;
  recording::Clock& clock = *clock_;
  const milliseconds period(periodMs_);
  const recording::MonoTime start = clock.Now();
  const recording::MonoTime end =
      durationS_ ? start + duration_cast<nanoseconds>(duration<double>(*durationS_))
                 : recording::MonoTime::max();
  recording::MonoTime next = start;
  bool failed = false;
  int64_t ticks = 0;
  while (!stop.Requested() && clock.Now() < end) {
    {
      const RegisterAccess::SourceScope tick(access, AccessSource::kKorvoctl, true);
      for (uint8_t address : RegisterTable::MainReadOrder()) {  // the scan's order
        int16_t value = 0;
        failed |= access.ReadRegister(kRegName, address, value, modGlobals::DeviceAddress) != 0;
      }
    }
    if (onStdout && !onStdout->Active()) {  // standard output is gone (a closed pipe)
      access.RemoveObserver(*onStdout);
      return kExitBus;
    }
    if (count_ && ++ticks >= *count_) break;
    // Ticks do not pile up: after a slow tick the next one comes at once, then the period.
    next = std::max(next + period, clock.Now());
    next = std::min(next, end);
    // In slices, so Ctrl-C is noticed soon.
    while (!stop.Requested() && clock.Now() < next)
      clock.SleepUntil(std::min(next, clock.Now() + milliseconds(100)));
  }
  interrupted_ = stop.Requested();
  if (onStdout) access.RemoveObserver(*onStdout);
  return failed ? kExitBus : kExitOk;
}

int KorvoctlRecording::TakeSnapshot(const Op& op, RegisterAccess& access) {
  // The settings file is never written, not even as a snapshot.
  std::error_code ec;
  if (std::filesystem::equivalent(op.file, Settings::File(), ec)) {
    MsgBox("Snapshot not written: " + op.file + " is the settings file, which Korvo never writes.");
    return kExitUsage;
  }
  recording::Snapshot s =
      recording::ReadSnapshot(access, modGlobals::DeviceAddress, kRegName, variant_, *clock_);
  if (!s.Complete()) {
    MsgBox("Snapshot not written: a register could not be read.");
    return kExitBus;
  }
  s.caption = caption_;
  std::string reason;
  if (!recording::WriteWholeFile(op.file, recording::FormatSnapshot(s), reason)) {
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
    other = recording::ReadSnapshot(access, modGlobals::DeviceAddress, kRegName, variant_, *clock_,
                                    keys);
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
  } else {
    text = "{\"registers\": [\n";
  }
  bool first = true;
  for (const RegisterTable::Register& r : RegisterTable::All()) {
    int16_t value = 0;
    const int32_t status =
        access.ReadRegister(kRegName, r.address, value, modGlobals::DeviceAddress);
    ok = ok && status == 0;
    const auto u = static_cast<uint16_t>(value);
    if (format_ == DumpFormat::kCsv) {
      text += recording::AddressText(r.address) + ",";
      recording::AppendCsvField(text, r.trimTitle);
      text += ",";
      if (status == 0)
        text += Hex4(u) + "," + std::to_string(u);
      else
        text += ",";
      text += "," + std::to_string(status) + ",";
      recording::AppendCsvField(text, recording::StatusName(status));
      text += recording::kCsvLineEnd;
    } else {
      text += first ? "  " : ",\n  ";
      text += "{\"address\": " + JsonString(recording::AddressText(r.address)) +
              ", \"caption\": " + JsonString(r.trimTitle) +
              ", \"value\": " + (status == 0 ? std::to_string(u) : std::string("null")) +
              ", \"hex\": " + (status == 0 ? JsonString(Hex4(u)) : std::string("null")) +
              ", \"status\": " + JsonString(recording::StatusName(status)) + "}";
    }
    first = false;
  }
  if (format_ == DumpFormat::kJson) text += "\n]}\n";
  out << text;
  return ok;
}

int KorvoctlRecording::Finish(int rc, RegisterAccess* access, frmUSB* link, std::ostream& err) {
  if (recorder_) {
    if (access) access->RemoveObserver(*recorder_);
    recorder_->Close();
  }
  if (journal_) {
    if (link) link->RemoveObserver(*journal_);
    if (journalSink_) {
      const bool written = journal_->WriteCsv(*journalSink_);
      if (!written || !journalSink_->Close()) {
        MsgBox("Writing the journal to " + *journalFile_ + " failed: " + journalSink_->Error() +
               ".");
        outputFailed_ = true;
      }
    }
    if (stats_) err << recording::FormatStatistics(journal_->Statistics());
  }
  if (outputFailed_ && (rc == kExitOk || rc == kExitDiffer)) return kExitBus;
  return rc;
}

std::string KorvoctlRecordingUsage() {
  return "  watch              re-read the five main registers in the scan's order (0x13 0x12\n"
         "                     0x15 0x3F 0x14) every --period MS, for --count ticks or\n"
         "                     --duration seconds or until Ctrl-C; CSV rows on standard output,\n"
         "                     or recorded to --output FILE. Ctrl-C ends the run cleanly.\n"
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
         "  --output FILE      record every register access to FILE: .csv or .vcd\n"
         "  --timescale STEP   a .vcd's time step: 1, 10 or 100 ns, us or ms, or 1 s (default:\n"
         "                     a hundredth of --period, from 1us to 1s; 1ms at 500 ms)\n"
         "  --format FMT       dump as text (default), csv or json\n"
         "  --caption CAPTION  snapshot: the spin caption that names the section (default\n"
         "                     \"Custom 1\")\n"
         "  --variant VARIANT  rk5190 (default) or rk5191: the status bit names in a .vcd\n"
         "  --journal FILE     write every adapter transaction of this run to FILE (CSV)\n"
         "  --stats            print the transaction statistics to standard error at the end\n";
}
