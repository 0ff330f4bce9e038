// korvo._korvo: the charger boards, watches, recordings and bench instruments for Python. The
// pure-Python package (korvo/__init__.py) adds the registers by name on top of it.
#include <dlfcn.h>
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "adapter/ErrorCodes.h"
#include "adapter/frmUSB.h"
#include "foundation/Settings.h"
#include "instruments/Bench.h"
#include "instruments/InstrumentConfig.h"
#include "instruments/SigrokBackend.h"
#include "instruments/SrRecorder.h"
#include "python/Board.h"
#include "recording/BitNames.h"
#include "recording/Journal.h"
#include "recording/OutputFile.h"
#include "recording/Recorder.h"
#include "recording/Snapshot.h"
#include "registers/RegisterAccess.h"
#include "registers/RegisterTable.h"
#include "registers/Spins.h"

namespace py = pybind11;
using namespace std::chrono;
using korvo_py::Board;
using korvo_py::Failure;

namespace {

// Handles, not objects: the types live as long as the module, and a static object's destructor
// would run after the interpreter has gone.
py::handle g_error, g_busError, g_rangeError, g_settingsError, g_fileError;

[[noreturn]] void Raise(py::handle type, const std::string& message) {
  PyErr_SetString(type.ptr(), message.c_str());
  throw py::error_already_set();
}

[[noreturn]] void RaiseBus(int32_t status, std::string message, py::object values = py::none()) {
  if (message.empty()) message = TranslateErrorCode(status);
  py::object e = g_busError(message);
  e.attr("status") = status;
  e.attr("status_name") = std::string(StatusName(status));
  e.attr("values") = values;
  PyErr_SetObject(g_busError.ptr(), e.ptr());
  throw py::error_already_set();
}

[[noreturn]] void RaiseFailure(const Failure& f) {
  switch (f.kind) {
    case Failure::Kind::kBus: RaiseBus(f.status, f.message);
    case Failure::Kind::kRange: Raise(g_rangeError, f.message);
    case Failure::Kind::kSettings: Raise(g_settingsError, f.message);
    case Failure::Kind::kFile: Raise(g_fileError, f.message);
  }
  Raise(g_error, f.message);
}

uint8_t CheckAddress(long long address) {
  if (address < 0 || address > 0xFF)
    Raise(g_rangeError, "register address " + std::to_string(address) + " is outside 0 to 255");
  return static_cast<uint8_t>(address);
}

uint16_t CheckValue(long long value) {
  if (value < 0 || value > 0xFFFF)
    Raise(g_rangeError, "register value " + std::to_string(value) + " is outside 0 to 65535");
  return static_cast<uint16_t>(value);
}

void CheckOpen(const Board& b) {
  if (!b.IsOpen()) Raise(g_error, "the board is closed");
}

// Keeps the last failed access's status for an operation that reports only an outcome.
class LastFailure : public recording::RegisterObserver {
 public:
  explicit LastFailure(RegisterAccess& access) : access_(access) { access_.AddObserver(*this); }
  ~LastFailure() override { access_.RemoveObserver(*this); }
  void OnRegisterAccess(const recording::RegisterEvent& e) override {
    if (e.status != 0) status = e.status;
  }
  int32_t status = 0;

 private:
  RegisterAccess& access_;
};

// A Python confirmation for the span of one operation. An exception it raises declines and is
// raised again once the operation is over.
class ScopedConfirm {
 public:
  ScopedConfirm(Board& b, py::object confirm) : board_(b), confirm_(std::move(confirm)) {
    if (!PyCallable_Check(confirm_.ptr()))
      Raise(PyExc_TypeError_obj(), "confirm must be a callable taking the message text");
    board_.Sink().confirm = [this](const std::string& text) {
      py::gil_scoped_acquire gil;
      if (pending_) return false;
      try {
        return py::bool_(confirm_(text)).cast<bool>();
      } catch (py::error_already_set& e) {
        pending_ = std::make_unique<py::error_already_set>(std::move(e));
        return false;
      }
    };
  }
  ~ScopedConfirm() { board_.Sink().confirm = nullptr; }
  // With the GIL held, after the operation.
  void RethrowPending() {
    if (pending_) {
      py::error_already_set e = std::move(*pending_);
      pending_.reset();
      throw e;
    }
  }

 private:
  static py::handle PyExc_TypeError_obj() { return PyExc_TypeError; }
  Board& board_;
  py::object confirm_;
  std::unique_ptr<py::error_already_set> pending_;
};

// Spins, restores: declined is False, clean is True, anything else raises.
bool SpinResult(const Spins::SpinReport& r, int32_t lastStatus, const std::string& messages) {
  if (r.outcome == Spins::SpinReport::Outcome::kDeclined) return false;
  if (r.Clean()) return true;
  if (r.outcome == Spins::SpinReport::Outcome::kApplied && r.writeFailed == 0 &&
      r.readFailed == 0) {
    if (r.refused > 0) Raise(g_settingsError, messages);
    RaiseBus(VB_COMPARE_DIFFERENT, messages);
  }
  RaiseBus(lastStatus != 0 ? lastStatus : VB_UNKNOWN, messages);
}

// ---- the bench's instruments ----

std::vector<std::string> ModulePaths() {
  std::vector<std::string> paths;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ModulePaths), &info) != 0 && info.dli_fname != nullptr) {
    const std::filesystem::path here = std::filesystem::path(info.dli_fname).parent_path();
    paths.push_back((here.parent_path().parent_path() / "korvo-sigrok.so").string());  // build tree
    paths.push_back((here / "korvo-sigrok.so").string());
  }
  paths.push_back(KORVO_INSTALL_LIBDIR "/korvo/korvo-sigrok.so");
  for (const std::string& p : instruments::SigrokModulePaths()) paths.push_back(p);
  return paths;
}

class Instrument {
 public:
  explicit Instrument(const std::string& entry) {
    const instruments::ConfigResult parsed = instruments::ParseInstrument(entry);
    if (!parsed.config) Raise(g_settingsError, parsed.error);
    config_ = *parsed.config;
    std::shared_ptr<instruments::Backend> backend;
    std::string reason;
    {
      py::gil_scoped_release release;
      backend = instruments::MakeSigrokBackend(ModulePaths());
      reason = backend->Check(config_);
    }
    if (!reason.empty()) Raise(g_settingsError, instruments::InvalidInstrumentText(entry, reason));
    instruments::BenchOptions o;
    o.clock = &recording::SystemClock();
    bench_ = std::make_unique<instruments::Bench>(backend, std::vector{config_}, o);
    bench_->Start();
  }
  ~Instrument() { Close(); }
  // Ends the instrument's thread; it reads nothing more.
  void Close() {
    py::gil_scoped_release release;
    bench_.reset();
  }
  void CheckOpen() const {
    if (!bench_) Raise(g_error, "the instrument " + config_.label + " is closed");
  }

  const std::string& Label() const { return config_.label; }
  instruments::Bench& Bench() { return *bench_; }

  // Waits for the instrument and one reading; caption -> value.
  py::dict Read(double timeout) {
    CheckOpen();
    std::vector<instruments::LatestReading> latest;
    {
      py::gil_scoped_release release;
      const auto t = milliseconds(static_cast<int64_t>(timeout * 1000));
      bench_->WaitSettled(t);
      bench_->ReadOnce(t);
      bench_->Deliver({});
      latest = bench_->Latest();
    }
    py::dict d;
    for (const auto& r : latest) d[py::str(r.caption)] = r.value;
    return d;
  }
  py::dict Units() {
    CheckOpen();
    py::dict d;
    for (const auto& r : bench_->Latest()) d[py::str(r.caption)] = r.unit;
    return d;
  }
  bool Present() const {
    if (!bench_) return false;
    const auto s = bench_->States();
    return !s.empty() && s[0].present;
  }
  std::string Reason() const {
    if (!bench_) return "closed";
    const auto s = bench_->States();
    return s.empty() ? std::string() : s[0].reason;
  }
  // The channels a VCD declares for it (its newest readings name caption and unit).
  std::vector<recording::RecordedChannel> Channels() {
    std::vector<recording::RecordedChannel> channels;
    bench_->WaitSettled(seconds(5));
    bench_->ReadOnce(seconds(5));
    bench_->Deliver({});
    for (const auto& r : bench_->Latest())
      channels.push_back({r.instrument, r.channel, r.caption, r.unit});
    return channels;
  }

 private:
  instruments::InstrumentConfig config_;
  std::unique_ptr<instruments::Bench> bench_;
};

// Hands the readings to the board's observers (recordings) and keeps them for the sample.
class ReadingCollector : public recording::RegisterObserver {
 public:
  explicit ReadingCollector(RegisterAccess& access) : access_(access) {}
  void OnRegisterAccess(const recording::RegisterEvent&) override {}
  void OnInstrumentReading(const recording::InstrumentReading& r) override {
    access_.NotifyInstrumentReading(r);
    readings.emplace_back(std::string(r.caption), r.value);
  }
  std::vector<std::pair<std::string, double>> readings;

 private:
  RegisterAccess& access_;
};

// ---- watch ----

constexpr std::array<const char*, 5> kSampleNames = {"status", "control", "charge_voltage_mV",
                                                     "input_current_mA", "charge_current_mA"};

struct Sample {
  double time = 0;  // seconds since the watch started
  std::array<uint16_t, 5> values{};
  std::array<int32_t, 5> statuses{};  // in the scan's order (MainReadOrder)
  std::vector<std::pair<std::string, double>> readings;

  py::object Value(std::size_t i) const {
    return statuses[i] == 0 ? py::object(py::int_(values[i])) : py::object(py::none());
  }
  py::dict Errors() const {
    py::dict d;
    const auto order = RegisterTable::MainReadOrder();
    for (std::size_t i = 0; i < statuses.size(); ++i)
      if (statuses[i] != 0) d[py::int_(order[i])] = std::string(StatusName(statuses[i]));
    return d;
  }
  py::dict Readings() const {
    py::dict d;
    for (const auto& [caption, value] : readings) d[py::str(caption)] = value;
    return d;
  }
  py::dict AsDict() const {
    py::dict d;
    d["time"] = time;
    for (std::size_t i = 0; i < kSampleNames.size(); ++i) d[kSampleNames[i]] = Value(i);
    for (const auto& [caption, value] : readings) d[py::str(caption)] = value;
    return d;
  }
};

constexpr int64_t kMaxPeriodMs = 3600000;

class Watch {
 public:
  Watch(Board& board, long long periodMs, std::optional<long long> count,
        std::optional<double> duration, std::vector<Instrument*> instruments)
      : board_(board), instruments_(std::move(instruments)) {
    if (periodMs < 0 || periodMs > kMaxPeriodMs)
      Raise(g_rangeError, "period " + std::to_string(periodMs) + " ms is outside 0 to 3600000");
    if (count && *count < 1) Raise(g_rangeError, "count must be at least 1");
    if (duration && !(*duration > 0)) Raise(g_rangeError, "duration must be more than 0 seconds");
    period_ = milliseconds(periodMs);
    count_ = count;
    duration_ = duration;
  }

  Sample Next() {
    recording::Clock& clock = recording::SystemClock();
    if (!started_) {
      started_ = true;
      start_ = clock.Now();
      next_ = start_;
      end_ = duration_ ? start_ + duration_cast<nanoseconds>(duration<double>(*duration_))
                       : recording::MonoTime::max();
    }
    if (done_ || (count_ && ticks_ >= *count_)) Stop();
    // In slices, so Ctrl-C is noticed soon; the GIL is free while waiting.
    for (;;) {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      const recording::MonoTime now = clock.Now();
      if (now >= end_) Stop();
      if (now >= next_) break;
      py::gil_scoped_release release;
      clock.SleepUntil(std::min(next_, now + milliseconds(100)));
    }
    CheckOpen(board_);
    for (Instrument* i : instruments_) i->CheckOpen();
    Sample s;
    bool gone = false;
    {
      py::gil_scoped_release release;
      std::lock_guard lock(board_.Mutex());
      for (Instrument* i : instruments_) i->Bench().Trigger();
      RegisterAccess& access = board_.Access();
      const recording::MonoTime tickStart = clock.Now();
      {
        const RegisterAccess::SourceScope tick(access, recording::AccessSource::kScanTick, true);
        const auto order = RegisterTable::MainReadOrder();
        for (std::size_t i = 0; i < order.size(); ++i) {
          s.statuses[i] = board_.Read(order[i], s.values[i]);
          // The adapter has gone: every later read would fail the same way.
          gone = s.statuses[i] == VB_NO_USB;
          if (gone) {
            for (std::size_t j = i + 1; j < order.size(); ++j) s.statuses[j] = VB_NO_USB;
            break;
          }
        }
      }
      if (!instruments_.empty()) {
        ReadingCollector collector(access);
        for (Instrument* i : instruments_) i->Bench().Deliver({&collector});
        s.readings = std::move(collector.readings);
      }
      board_.Sink().Clear();  // the sample holds the statuses
      s.time = duration<double>(tickStart - start_).count();
      ++ticks_;
      // Ticks do not pile up: after a slow tick the next one comes at once, then the period.
      next_ = std::min(std::max(next_ + period_, clock.Now()), end_);
    }
    if (gone) {
      done_ = true;
      RaiseBus(VB_NO_USB, "watch stopped: the adapter has gone (" +
                              std::string(StatusName(VB_NO_USB)) + ").");
    }
    return s;
  }

 private:
  [[noreturn]] void Stop() {
    done_ = true;
    throw py::stop_iteration();
  }
  Board& board_;
  std::vector<Instrument*> instruments_;
  milliseconds period_{0};
  std::optional<long long> count_;
  std::optional<double> duration_;
  bool started_ = false;
  bool done_ = false;
  long long ticks_ = 0;
  recording::MonoTime start_{}, next_{}, end_{};
};

// ---- recordings ----

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (a.empty() || b.empty()) return false;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

class Recording {
 public:
  Recording(Board& board, const std::string& path, std::optional<std::string> timescale,
            bool vectors, long long periodMs, const std::vector<Instrument*>& instruments)
      : board_(board), path_(path) {
    CheckOpen(board);
    if (periodMs < 0 || periodMs > kMaxPeriodMs)
      Raise(g_rangeError, "period " + std::to_string(periodMs) + " ms is outside 0 to 3600000");
    const auto format = recording::FormatForPath(path);
    if (!format) Raise(g_fileError, recording::UnknownFormatText(path));
    // A .sr goes through libsigrok: refused here, with the reason, when the module cannot load.
    if (*format == recording::RecordFormat::kSr) instruments::InstallSrRecordings(ModulePaths());
    if (std::string refused = recording::CheckRecordingPath(path); !refused.empty())
      Raise(g_fileError, refused);
    if (SameFile(path, board.SettingsPath()))
      Raise(g_fileError, "'" + path + "' is the settings file, which korvo never writes");
    recording::RecorderOptions o;
    o.variant = board.Variant();
    o.vectors = vectors;
    o.noticeRemoval = true;
    o.period = std::chrono::milliseconds(periodMs);
    if (timescale) {
      const auto step = recording::ParseVcdTimescale(*timescale);
      if (!step)
        Raise(g_rangeError, "invalid time step '" + *timescale +
                                "': expected 1, 10 or 100 ns, us or ms, or 1 s (as in 1ms)");
      o.timescale = *step;
    }
    std::string message;
    {
      py::gil_scoped_release release;
      if (*format != recording::RecordFormat::kCsv)
        for (Instrument* i : instruments)
          for (auto& c : i->Channels()) o.channels.push_back(std::move(c));
      recorder_ = recording::Recorder::Open(path, o, message);
    }
    if (!recorder_) Raise(g_fileError, message);
    recorder_->SetErrorHandler([this](const std::string& m) { error_ = m; });
    py::gil_scoped_release release;
    std::lock_guard lock(board_.Mutex());
    board_.Access().AddObserver(*recorder_);
  }
  ~Recording() {
    if (!recorder_) return;
    py::gil_scoped_release release;
    Stop();
  }
  // Closes the file; raises when writing it failed at some time.
  void Close() {
    {
      py::gil_scoped_release release;
      Stop();
    }
    if (!error_.empty()) Raise(g_fileError, error_);
  }
  uint64_t Samples() const { return recorder_ ? recorder_->Samples() : samples_; }
  const std::string& Path() const { return path_; }
  bool Active() const { return recorder_ != nullptr; }

 private:
  void Stop() {
    if (!recorder_) return;
    std::lock_guard lock(board_.Mutex());
    board_.Access().RemoveObserver(*recorder_);
    recorder_->Close();
    samples_ = recorder_->Samples();
    recorder_.reset();
  }
  Board& board_;
  std::string path_;
  std::unique_ptr<recording::Recorder> recorder_;
  std::string error_;
  uint64_t samples_ = 0;
};

// Every adapter transaction of the board's link, as korvoctl --journal writes them.
class JournalRecording {
 public:
  JournalRecording(Board& board, const std::string& path) : board_(board), path_(path) {
    CheckOpen(board);
    if (SameFile(path, board.SettingsPath()))
      Raise(g_fileError, "'" + path + "' is the settings file, which korvo never writes");
    std::string message;
    journal_ = recording::JournalFile::Create(path, recording::SystemClock(), message);
    if (!journal_) Raise(g_fileError, message);
    journal_->SetErrorHandler([this](const std::string& m) { error_ = m; });
    py::gil_scoped_release release;
    std::lock_guard lock(board_.Mutex());
    board_.Link().AddObserver(*journal_);
    board_.Access().AddObserver(*journal_);  // on disk when a tick or an access is complete
  }
  ~JournalRecording() {
    py::gil_scoped_release release;
    Stop();
  }
  void Close() {
    {
      py::gil_scoped_release release;
      Stop();
    }
    if (!error_.empty()) Raise(g_fileError, error_);
  }
  const std::string& Path() const { return path_; }

 private:
  void Stop() {
    if (!journal_) return;
    std::lock_guard lock(board_.Mutex());
    if (board_.IsOpen()) board_.Link().RemoveObserver(*journal_);
    board_.Access().RemoveObserver(*journal_);
    journal_->Close();
    journal_.reset();
  }
  Board& board_;
  std::string path_;
  std::unique_ptr<recording::JournalFile> journal_;
  std::string error_;
};

// ---- the board's operations ----

std::unique_ptr<Board> OpenBoard(const std::string& driver, std::optional<std::string> settings,
                                 std::optional<std::string> bus, std::optional<int> address,
                                 const std::string& variant, bool pec) {
  korvo_py::OpenOptions o{driver, std::move(settings), std::move(bus), pec, address, variant};
  try {
    py::gil_scoped_release release;
    return std::make_unique<Board>(o);
  } catch (const Failure& f) {
    RaiseFailure(f);
  }
}

uint16_t Read(Board& b, long long address) {
  const uint8_t a = CheckAddress(address);
  CheckOpen(b);
  uint16_t v = 0;
  int32_t status;
  std::string message;
  {
    py::gil_scoped_release release;
    std::lock_guard lock(b.Mutex());
    status = b.Read(a, v);
    if (status != 0) message = b.Sink().Take();
  }
  if (status != 0) RaiseBus(status, message);
  return v;
}

void Write(Board& b, long long address, long long value) {
  const uint8_t a = CheckAddress(address);
  const uint16_t v = CheckValue(value);
  CheckOpen(b);
  std::optional<Failure> failure;
  {
    py::gil_scoped_release release;
    std::lock_guard lock(b.Mutex());
    failure = b.Write(a, v);
  }
  if (failure) RaiseFailure(*failure);
}

// Every register is attempted; a failure raises BusError with the values read in .values.
py::dict Dump(Board& b) {
  CheckOpen(b);
  const auto all = RegisterTable::All();
  std::vector<uint16_t> values(all.size());
  std::vector<int32_t> statuses(all.size());
  std::string message;
  {
    py::gil_scoped_release release;
    std::lock_guard lock(b.Mutex());
    for (std::size_t i = 0; i < all.size(); ++i) statuses[i] = b.Read(all[i].address, values[i]);
    message = b.Sink().Take();
  }
  py::dict d;
  int32_t failed = 0;
  for (std::size_t i = 0; i < all.size(); ++i) {
    d[py::int_(all[i].address)] =
        statuses[i] == 0 ? py::object(py::int_(values[i])) : py::object(py::none());
    if (statuses[i] != 0 && failed == 0) failed = statuses[i];
  }
  if (failed != 0) RaiseBus(failed, message, d);
  return d;
}

void TakeSnapshot(Board& b, const std::string& path, const std::string& captionText) {
  CheckOpen(b);
  const auto caption = Spins::FindCaption(captionText);
  if (!caption) Raise(g_rangeError, "unknown spin caption '" + captionText + "'");
  if (SameFile(path, b.SettingsPath()))
    Raise(g_fileError, "'" + path + "' is the settings file, which korvo never writes");
  recording::Snapshot s;
  int32_t status = 0;
  std::string message;
  {
    py::gil_scoped_release release;
    std::lock_guard lock(b.Mutex());
    LastFailure last(b.Access());
    s = recording::ReadSnapshot(b.Access(), b.Target(), RegisterAccess::kMainRegisterName,
                                b.Variant(), recording::SystemClock());
    status = last.status;
    if (!s.Complete()) b.Sink().ShowMessage("Snapshot not written: a register could not be read.");
    message = b.Sink().Take();
  }
  if (!s.Complete()) RaiseBus(status != 0 ? status : VB_UNKNOWN, message);
  s.caption = *caption;
  std::string reason;
  if (!recording::WriteWholeFile(path, recording::FormatSnapshot(s), reason))
    Raise(g_fileError, "Cannot write " + path + ": " + reason + ".");
}

recording::Snapshot LoadSnapshot(const std::string& path) {
  std::string message;
  std::optional<recording::Snapshot> s = recording::LoadSnapshot(path, message);
  if (!s) Raise(g_fileError, message);
  return *s;
}

py::list Changes(const std::vector<recording::RegisterChange>& changes) {
  py::list out;
  for (const auto& c : changes) {
    py::dict d;
    d["address"] = c.address;
    d["from"] = c.from ? py::object(py::int_(*c.from)) : py::object(py::none());
    d["to"] = c.to ? py::object(py::int_(*c.to)) : py::object(py::none());
    py::list bits;
    for (const auto& bit : c.bits)
      bits.append(py::make_tuple(bit.bit, std::string(bit.name), bit.from, bit.to));
    d["bits"] = bits;
    out.append(d);
  }
  return out;
}

// The chip (or a second snapshot) against the snapshot at path: the differing registers.
py::list Compare(Board& b, const std::string& path, std::optional<std::string> other) {
  const recording::Snapshot reference = LoadSnapshot(path);
  recording::Snapshot second;
  if (other) {
    second = LoadSnapshot(*other);
  } else {
    CheckOpen(b);
    std::vector<uint8_t> keys;
    for (uint8_t a : recording::SnapshotRegisters())
      if (recording::IsSnapshotKey(a)) keys.push_back(a);
    int32_t status = 0;
    std::string message;
    bool failed = false;
    {
      py::gil_scoped_release release;
      std::lock_guard lock(b.Mutex());
      LastFailure last(b.Access());
      second = recording::ReadSnapshot(b.Access(), b.Target(), RegisterAccess::kMainRegisterName,
                                       b.Variant(), recording::SystemClock(), keys);
      for (uint8_t a : keys) failed |= !second.Value(a).has_value();
      status = last.status;
      message = b.Sink().Take();
    }
    if (failed) RaiseBus(status, message);
  }
  return Changes(recording::CompareSnapshots(reference, second));
}

template <class Operation>
bool WithConfirm(Board& b, py::object confirm, Operation operation) {
  CheckOpen(b);
  ScopedConfirm scoped(b, std::move(confirm));
  Spins::SpinReport report;
  int32_t status = 0;
  std::string message;
  {
    py::gil_scoped_release release;
    std::lock_guard lock(b.Mutex());
    b.Sink().Clear();
    LastFailure last(b.Access());
    report = operation();
    status = last.status;
    message = b.Sink().Take();
  }
  scoped.RethrowPending();
  return SpinResult(report, status, message);
}

bool Restore(Board& b, const std::string& path, py::object confirm) {
  const recording::Snapshot s = LoadSnapshot(path);
  return WithConfirm(b, std::move(confirm), [&] {
    Spins::SpinProgrammer writer(b.Access());
    return recording::RestoreSnapshot(writer, s);
  });
}

// As the spin window applies a preset, from this board's settings file read afresh.
bool Spin(Board& b, const std::string& captionText, py::object confirm) {
  const auto caption = Spins::FindCaption(captionText);
  if (!caption) {
    std::string known;
    for (std::string_view c : Spins::kButtonCaptions) known += (known.empty() ? "'" : ", '") + std::string(c) + "'";
    Raise(g_rangeError, "unknown spin '" + captionText + "': expected one of " + known);
  }
  std::optional<Settings::Snapshot> settings;
  if (!b.SettingsPath().empty()) settings = Settings::Snapshot::Load(b.SettingsPath());
  if (!settings) Raise(g_settingsError, "no settings file to hold the spin presets");
  return WithConfirm(b, std::move(confirm), [&] {
    const RegisterAccess::SourceScope tag(b.Access(), recording::AccessSource::kSpin);
    const std::string section = Spins::SectionName(*caption);
    return Spins::SpinProgrammer(b.Access()).ApplyPreset(section, [&](std::string_view key) {
      return settings->GetString(section, key, "");
    });
  });
}

bool Burn(Board& b, py::object confirm) {
  CheckOpen(b);
  ScopedConfirm scoped(b, std::move(confirm));
  Spins::BurnOutcome outcome;
  int32_t status = 0;
  std::string message;
  {
    py::gil_scoped_release release;
    std::lock_guard lock(b.Mutex());
    b.Sink().Clear();
    LastFailure last(b.Access());
    outcome = Spins::SpinProgrammer(b.Access()).BurnEeprom();
    status = last.status;
    message = b.Sink().Take();
  }
  scoped.RethrowPending();
  switch (outcome) {
    case Spins::BurnOutcome::kDeclined: return false;
    case Spins::BurnOutcome::kFailed: RaiseBus(status != 0 ? status : VB_UNKNOWN, message);
    case Spins::BurnOutcome::kComplete: break;
  }
  return true;
}

py::list RegisterList(const std::string& variantText) {
  const auto variant = recording::ParseVariant(variantText);
  if (!variant) Raise(g_settingsError, "invalid chip variant '" + variantText + "'");
  py::list out;
  for (const RegisterTable::Register& r : RegisterTable::All()) {
    py::dict d;
    d["address"] = r.address;
    d["title"] = std::string(r.trimTitle);
    d["caption"] = std::string(r.mainCaption);
    d["read_only"] = r.readOnly;
    py::list mainBits, trimBits;
    for (int bit = 0; bit < 16; ++bit) {
      mainBits.append(std::string(RegisterTable::MainBitName(r, bit, *variant)));
      trimBits.append(std::string(RegisterTable::TrimBitName(r, bit)));
    }
    d["main_bits"] = mainBits;  // bit 0 first
    d["trim_bits"] = trimBits;
    if (r.dac != nullptr) {
      d["unit"] = std::string(r.dac->unit);
      d["resolution"] = r.dac->Resolution();
      py::list ranges;
      for (const RegisterTable::Range& range : r.dac->valid)
        ranges.append(py::make_tuple(range.low, range.high));
      d["valid"] = ranges;
    } else {
      d["unit"] = py::none();
    }
    out.append(d);
  }
  return out;
}

// The module keeps the type; the handle borrows it.
py::handle NewError(py::module_& m, const char* name, py::handle base, const char* doc) {
  const std::string full = std::string("korvo.") + name;
  py::object type = py::reinterpret_steal<py::object>(
      PyErr_NewExceptionWithDoc(full.c_str(), doc, base.ptr(), nullptr));
  m.attr(name) = type;
  return type;
}

std::vector<Instrument*> Instruments(const py::object& list) {
  std::vector<Instrument*> out;
  if (list.is_none()) return out;
  for (py::handle h : list) {
    Instrument* i = h.cast<Instrument*>();
    i->CheckOpen();
    out.push_back(i);
  }
  return out;
}

}  // namespace

PYBIND11_MODULE(_korvo, m) {
  m.doc() = "The charger boards, watches, recordings and instruments behind the korvo package.";

  g_error = NewError(m, "Error", PyExc_Exception, "Every korvo failure.");
  g_busError = NewError(m, "BusError", g_error,
                        "A register access failed: .status (the adapter status), .status_name.");
  g_rangeError = NewError(
      m, "RangeError",
      py::reinterpret_steal<py::object>(PyTuple_Pack(2, g_error.ptr(), PyExc_ValueError)).ptr(),
      "An address, value or option out of range; raised before the bus is touched.");
  g_settingsError = NewError(m, "SettingsError", g_error,
                             "A settings file, driver, bus or instrument entry that cannot be used.");
  g_fileError = NewError(m, "FileError", g_error,
                         "A snapshot or recording file that cannot be read or written.");

  py::class_<Sample>(m, "Sample", "One watch tick: the five main registers in the scan's order.")
      .def_readonly("time", &Sample::time, "Seconds since the watch started.")
      .def_property_readonly("status", [](const Sample& s) { return s.Value(0); })
      .def_property_readonly("control", [](const Sample& s) { return s.Value(1); })
      .def_property_readonly("charge_voltage_mV", [](const Sample& s) { return s.Value(2); })
      .def_property_readonly("input_current_mA", [](const Sample& s) { return s.Value(3); })
      .def_property_readonly("charge_current_mA", [](const Sample& s) { return s.Value(4); })
      .def_property_readonly("errors", &Sample::Errors,
                             "Register address -> status name of the reads that failed.")
      .def_property_readonly("readings", &Sample::Readings,
                             "Instrument caption -> value (mV, mA) delivered during the tick.")
      .def("as_dict", &Sample::AsDict)
      .def("__repr__", [](const Sample& s) {
        return "<korvo.Sample " + py::repr(s.AsDict()).cast<std::string>() + ">";
      });

  py::class_<Watch>(m, "Watch", "An iterator of samples; see Board.watch.")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &Watch::Next);

  py::class_<Recording>(m, "Recording", "A recording of every register access; see Board.record.")
      .def("close", &Recording::Close)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__",
           [](Recording& r, py::object type, py::object, py::object) {
             if (type.is_none()) {
               r.Close();
             } else {
               try {
                 r.Close();
               } catch (py::error_already_set&) {
                 // the exception already on its way is the one to see
               }
             }
             return false;
           })
      .def_property_readonly("samples", &Recording::Samples)
      .def_property_readonly("path", &Recording::Path)
      .def_property_readonly("active", &Recording::Active);

  py::class_<JournalRecording>(m, "Journal",
                               "The board's adapter transactions in a CSV file; see Board.journal.")
      .def("close", &JournalRecording::Close)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__",
           [](JournalRecording& j, py::object type, py::object, py::object) {
             try {
               j.Close();
             } catch (py::error_already_set&) {
               if (type.is_none()) throw;
             }
             return false;
           })
      .def_property_readonly("path", &JournalRecording::Path);

  py::class_<Instrument>(m, "Instrument", "A bench instrument read through libsigrok.")
      .def(py::init<const std::string&>(), py::arg("entry"))
      .def_property_readonly("label", &Instrument::Label)
      .def_property_readonly("present", &Instrument::Present)
      .def_property_readonly("reason", &Instrument::Reason)
      .def("read", &Instrument::Read, py::arg("timeout") = 5.0,
           "One reading of every channel: caption -> value (volts in mV, amperes in mA).")
      .def("units", &Instrument::Units)
      .def("close", &Instrument::Close)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Instrument& i, py::object, py::object, py::object) {
        i.Close();
        return false;
      });

  py::class_<Board>(m, "_Board")
      .def(py::init(&OpenBoard), py::arg("driver") = "sim", py::arg("settings") = py::none(),
           py::arg("bus") = py::none(), py::arg("address") = py::none(),
           py::arg("variant") = "rk5190", py::arg("pec") = false)
      .def("close",
           [](Board& b) {
             py::gil_scoped_release release;
             std::lock_guard lock(b.Mutex());
             b.Close();
           })
      .def_property_readonly("is_open", &Board::IsOpen)
      .def_property_readonly("driver", &Board::DriverName)
      .def_property_readonly("address", [](Board& b) { return static_cast<int>(b.Target()); })
      .def_property_readonly("variant",
                             [](Board& b) { return std::string(recording::VariantName(b.Variant())); })
      .def_property_readonly("settings_path", [](Board& b) -> py::object {
        return b.SettingsPath().empty() ? py::object(py::none()) : py::object(py::str(b.SettingsPath()));
      })
      .def_property_readonly("verify_write", [](Board& b) { return b.Access().Comm().verifyWrite; })
      .def("read", &Read, py::arg("address"),
           "Reads register address (0 to 255) with the settings' retries; BusError when it fails.")
      .def("write", &Write, py::arg("address"), py::arg("value"),
           "Writes value (0 to 65535) to register address; with VerifyWrite on, reads it back and "
           "raises BusError (VB_COMPARE_DIFFERENT) when it differs.")
      .def("dump", &Dump,
           "All eleven registers, {address: value}; when one fails, BusError with the others in "
           ".values.")
      .def("snapshot", &TakeSnapshot, py::arg("path"), py::arg("caption") = "Custom 1")
      .def("compare", &Compare, py::arg("path"), py::arg("other") = py::none())
      .def("restore", &Restore, py::arg("path"), py::kw_only(), py::arg("confirm"))
      .def("spin", &Spin, py::arg("caption"), py::kw_only(), py::arg("confirm"),
           "Applies the spin preset [Spin<caption>] of the board's settings file after "
           "confirm(text) agrees; False when it does not.")
      .def("burn", &Burn, py::kw_only(), py::arg("confirm"),
           "Burns the trim registers into the EEPROM after confirm(text) agrees; False when it "
           "does not, BusError when the burn failed.")
      .def(
          "watch",
          [](Board& b, long long periodMs, std::optional<long long> count,
             std::optional<double> duration, py::object instruments) {
            CheckOpen(b);
            return std::make_unique<Watch>(b, periodMs, count, duration, Instruments(instruments));
          },
          py::arg("period_ms") = 500, py::arg("count") = py::none(),
          py::arg("duration") = py::none(), py::arg("instruments") = py::none(),
          py::keep_alive<0, 1>(), py::keep_alive<0, 5>(),
          "Samples of the five main registers every period_ms (0: as fast as it goes), for count "
          "ticks or duration seconds or until Ctrl-C; the instruments are read each tick.")
      .def(
          "record",
          [](Board& b, const std::string& path, std::optional<std::string> timescale,
             bool vectors, long long periodMs, py::object instruments) {
            return std::make_unique<Recording>(b, path, timescale, vectors, periodMs,
                                               Instruments(instruments));
          },
          py::arg("path"), py::kw_only(), py::arg("timescale") = py::none(),
          py::arg("vectors") = false, py::arg("period_ms") = 500,
          py::arg("instruments") = py::none(),
          py::keep_alive<0, 1>())
      .def(
          "journal",
          [](Board& b, const std::string& path) {
            return std::make_unique<JournalRecording>(b, path);
          },
          py::arg("path"), py::keep_alive<0, 1>())
      .def("start_trace",
           [](Board& b) {
             py::gil_scoped_release release;
             std::lock_guard lock(b.Mutex());
             b.StartTrace();
           })
      .def("stop_trace", [](Board& b) {
        std::vector<korvo_py::TraceEntry> entries;
        {
          py::gil_scoped_release release;
          std::lock_guard lock(b.Mutex());
          entries = b.StopTrace();
        }
        py::list out;
        for (const auto& e : entries) out.append(py::make_tuple(e.operation, e.detail, e.status));
        return out;
      });

  m.def("_registers", &RegisterList, py::arg("variant") = "rk5190");
  m.def("status_name", [](int32_t code) { return std::string(StatusName(code)); });
}
