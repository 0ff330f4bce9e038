#include "recording/Recorder.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <mutex>

#include "adapter/ErrorCodes.h"
#include "recording/Text.h"
#include "registers/RegisterTable.h"
#include "foundation/Messages.h"
#include "foundation/Text.h"
#include "foundation/Utils.h"
#include "foundation/Version.h"

namespace recording {

namespace {

const Clock& ClockOf(const RecorderOptions& o) { return o.clock ? *o.clock : SystemClock(); }

void AppendHex4(std::string& out, uint16_t v) {
  out += "0x";
  out += Text::Hex(v, 4);
}

// A reading to the seven significant digits an instrument's single-precision value holds,
// without trailing zeros: 19000, 1792.9, 2048 (not 2048.0001).
void AppendReading(std::string& out, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.7g", v);
  out += std::string_view(buf) == "-0" ? "0" : buf;
}

// --------------------------------------------------------------------------- CSV

class CsvRecorder final : public Recorder {
 public:
  CsvRecorder(std::unique_ptr<Sink> sink, const RecorderOptions& options)
      : Recorder(std::move(sink), RecordFormat::kCsv, options) {}

 private:
  void Begin(std::string& out) override {
    out += kCsvHeader;
    out += kCsvLineEnd;
  }

  bool Sample(std::string& out, const RegisterEvent& e) override {
    AppendSeconds(out, Origin().Since(e.time));
    out += ',';
    iso_.Append(out, Origin().WallAt(e.time));
    out += ',';
    out += SourceName(e.source);
    out += ',';
    out += KindName(e.kind);
    out += ',';
    out += AddressText(e.address);
    out += ',';
    if (const RegisterTable::Register* info = RegisterTable::Find(e.address))
      AppendCsvField(out, info->trimTitle);
    out += ',';
    // A failed read has no value; a failed write still says what it tried to write.
    const bool hasValue = e.status == 0 || e.kind == AccessKind::kWrite;
    if (hasValue) AppendHex4(out, e.value);
    out += ',';
    if (hasValue) out += std::to_string(e.value);
    out += ',';
    // The main window shows a DAC register's whole word as its mV or mA figure.
    if (hasValue && DacUnit(e.address)) out += std::to_string(e.value);
    out += ',';
    out += std::to_string(e.status);
    out += ',';
    AppendCsvField(out, StatusName(e.status));
    out += kCsvLineEnd;
    return true;
  }

  bool Measure(std::string& out, const InstrumentReading& r) override {
    AppendSeconds(out, Origin().Since(r.time));
    out += ',';
    iso_.Append(out, Origin().WallAt(r.time));
    out += ',';
    AppendCsvField(out, r.instrument);
    out += ",measure,,";
    const bool milli = r.unit == "mV" || r.unit == "mA";
    if (milli || r.unit.empty())
      AppendCsvField(out, r.caption);
    else
      AppendCsvField(out, std::string(r.caption) + " (" + std::string(r.unit) + ")");
    out += ",,";
    if (!milli) AppendReading(out, r.value);
    out += ',';
    if (milli) AppendReading(out, r.value);
    out += ",0,";
    AppendCsvField(out, StatusName(0));
    out += kCsvLineEnd;
    return true;
  }

  IsoTimeFormatter iso_;
};

// --------------------------------------------------------------------------- VCD

class VcdRecorder final : public Recorder {
 public:
  VcdRecorder(std::unique_ptr<Sink> sink, const RecorderOptions& options)
      : Recorder(std::move(sink), RecordFormat::kVcd, options) {
    std::vector<uint8_t> addresses = options.registers;
    if (addresses.empty())
      for (const RegisterTable::Register& r : RegisterTable::All()) addresses.push_back(r.address);
    int next = 0;
    for (uint8_t a : addresses) {
      if (Find(a) != nullptr) continue;  // declared once
      Reg reg;
      reg.address = a;
      reg.names = WireNames(a, options.variant);
      for (auto& id : reg.ids) id = Identifier(next++);
      if (options.vectors) reg.vectorId = Identifier(next++);
      regs_.push_back(std::move(reg));
    }
    for (const RecordedChannel& c : options.channels) {
      if (FindChannel(c.instrument, c.channel) != nullptr) continue;
      chans_.push_back({c.instrument, c.channel, ChannelVariableName(c), Identifier(next++)});
    }
  }

 private:
  struct Reg {
    uint8_t address = 0;
    std::array<std::string, 16> names;
    std::array<std::string, 16> ids;
    std::string vectorId;
    std::optional<uint16_t> value;  // nullopt: unknown (x)
  };

  // Printable identifiers from '!' to '~', as many characters as needed; '$' is left out so
  // that no identifier looks like a keyword to a simple reader.
  static std::string Identifier(int n) {
    static constexpr std::string_view kChars =
        "!\"#%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`"
        "abcdefghijklmnopqrstuvwxyz{|}~";
    std::string id;
    do {
      id += kChars[static_cast<std::size_t>(n) % kChars.size()];
      n /= static_cast<int>(kChars.size());
    } while (n != 0);
    return id;
  }

  struct Chan {
    std::string instrument, channel, name, id;
  };



  const Chan* FindChannel(std::string_view instrument, std::string_view channel) const {
    for (const Chan& c : chans_)
      if (c.instrument == instrument && c.channel == channel) return &c;
    return nullptr;
  }

  // The time of a change at t: a step after the change before it, not on top of it.
  void Stamp(std::string& out, MonoTime time) {
    int64_t t = Steps(time);
    if (changed_ && t == lastTime_) ++t;
    changed_ = true;
    if (t != lastTime_) {
      out += '#';
      out += std::to_string(t);
      out += '\n';
      lastTime_ = t;
    }
  }

  Reg* Find(uint8_t address) {
    for (Reg& r : regs_)
      if (r.address == address) return &r;
    return nullptr;
  }

  void Begin(std::string& out) override {
    IsoTimeFormatter iso;
    out += "$date\n  ";
    iso.Append(out, Origin().wall);
    out += "\n$end\n$version\n  Korvo " + std::to_string(kVersionMajor) + "." +
           std::to_string(kVersionMinor) + "." + std::to_string(kVersionRevision) + "\n$end\n";
    out += "$comment\n  ";
    out += VariantName(Options().variant);
    out += " register bits; x: the read failed or nothing was read yet\n$end\n";
    out += "$timescale " + VcdTimescaleText(Options().timescale) + " $end\n";
    for (const Reg& r : regs_) {
      out += "$scope module " + AddressText(r.address) + " $end\n";
      for (int bit = 15; bit >= 0; --bit) {
        const auto i = static_cast<std::size_t>(bit);
        out += "$var wire 1 " + r.ids[i] + " " + r.names[i] + " $end\n";
      }
      if (!r.vectorId.empty())
        out += "$var wire 16 " + r.vectorId + " " + AddressText(r.address) + " [15:0] $end\n";
      out += "$upscope $end\n";
    }
    for (std::size_t i = 0; i < chans_.size(); ++i) {
      if (i == 0 || chans_[i].instrument != chans_[i - 1].instrument)
        out += "$scope module " + ChannelScopeName(chans_[i].instrument) + " $end\n";
      out += "$var real 64 " + chans_[i].id + " " + chans_[i].name + " $end\n";
      if (i + 1 == chans_.size() || chans_[i + 1].instrument != chans_[i].instrument)
        out += "$upscope $end\n";
    }
    out += "$enddefinitions $end\n#0\n$dumpvars\n";
    for (const Reg& r : regs_) {
      for (int bit = 15; bit >= 0; --bit) out += "x" + r.ids[static_cast<std::size_t>(bit)] + "\n";
      if (!r.vectorId.empty()) out += "bx " + r.vectorId + "\n";
    }
    out += "$end\n";
    lastTime_ = 0;
    changed_ = false;
  }

  // In steps since the start; never before what was written last.
  int64_t Steps(MonoTime t) const {
    const int64_t ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(t - Origin().mono).count();
    return std::max<int64_t>(ns / std::max<int64_t>(Options().timescale.count(), 1), lastTime_);
  }

  bool Sample(std::string& out, const RegisterEvent& e) override {
    if (e.kind != AccessKind::kRead) return false;
    Reg* r = Find(e.address);
    if (r == nullptr) return false;
    const std::optional<uint16_t> now =
        e.status == 0 ? std::optional<uint16_t>(e.value) : std::nullopt;
    if (now == r->value) return true;  // a sample, but nothing changed
    Stamp(out, e.time);
    for (int bit = 15; bit >= 0; --bit) {
      const auto i = static_cast<std::size_t>(bit);
      const char before = r->value ? ((*r->value >> bit) & 1 ? '1' : '0') : 'x';
      const char after = now ? ((*now >> bit) & 1 ? '1' : '0') : 'x';
      if (before == after) continue;
      out += after;
      out += r->ids[i];
      out += '\n';
    }
    if (!r->vectorId.empty()) {
      out += 'b';
      if (now) {
        for (int bit = 15; bit >= 0; --bit) out += (*now >> bit) & 1 ? '1' : '0';
      } else {
        out += 'x';
      }
      out += ' ' + r->vectorId + '\n';
    }
    r->value = now;
    return true;
  }

  // Every reading of a declared channel is written: a meter's repeated value is still a reading.
  bool Measure(std::string& out, const InstrumentReading& reading) override {
    const Chan* c = FindChannel(reading.instrument, reading.channel);
    if (c == nullptr) return false;
    Stamp(out, reading.time);
    out += 'r';
    AppendReading(out, reading.value);
    out += ' ' + c->id + '\n';
    return true;
  }

  // A last time after the last change: readers show a value up to the next time only.
  void End(std::string& out) override {
    int64_t t = Steps(ClockOf(Options()).Now());
    if (changed_ && t == lastTime_) ++t;
    if (t > lastTime_) out += "#" + std::to_string(t) + "\n";
  }

  std::vector<Reg> regs_;
  std::vector<Chan> chans_;
  int64_t lastTime_ = 0;  // in steps
  bool changed_ = false;  // a change is written at lastTime_
};

std::unique_ptr<Recorder> Make(std::unique_ptr<Sink> sink, RecordFormat format,
                               const RecorderOptions& options) {
  if (format == RecordFormat::kVcd) return std::make_unique<VcdRecorder>(std::move(sink), options);
  return std::make_unique<CsvRecorder>(std::move(sink), options);
}

}  // namespace

namespace {

struct Unit {
  std::string_view name;
  std::chrono::nanoseconds size;
};
constexpr Unit kUnits[] = {{"ns", std::chrono::nanoseconds(1)},
                           {"us", std::chrono::microseconds(1)},
                           {"ms", std::chrono::milliseconds(1)},
                           {"s", std::chrono::seconds(1)}};

}  // namespace

std::vector<std::chrono::nanoseconds> VcdTimescales() {
  std::vector<std::chrono::nanoseconds> steps;
  for (std::chrono::nanoseconds s(1); s <= std::chrono::seconds(1); s *= 10) steps.push_back(s);
  return steps;
}

std::string VcdTimescaleText(std::chrono::nanoseconds step) {
  for (auto u = std::rbegin(kUnits); u != std::rend(kUnits); ++u) {
    if (step >= u->size && step % u->size == std::chrono::nanoseconds(0))
      return std::to_string(step / u->size) + " " + std::string(u->name);
  }
  return std::to_string(step.count()) + " ns";
}

std::optional<std::chrono::nanoseconds> ParseVcdTimescale(std::string_view text) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  const std::string_view number = text.substr(0, digits);
  std::string_view unit = text.substr(digits);
  if (!unit.empty() && unit.front() == ' ') unit.remove_prefix(1);
  const std::string micro = "\xC2\xB5s";  // µs
  if (unit == micro) unit = "us";
  const int factor = number == "1" ? 1 : number == "10" ? 10 : number == "100" ? 100 : 0;
  for (const Unit& u : kUnits) {
    if (factor == 0 || unit != u.name) continue;
    const std::chrono::nanoseconds step = u.size * factor;
    if (step <= std::chrono::seconds(1)) return step;
  }
  return std::nullopt;
}

namespace {
std::string Underscored(std::string s) {
  for (char& ch : s)
    if (std::isspace(static_cast<unsigned char>(ch)) != 0) ch = '_';  // names have no blanks
  return s;
}
}  // namespace

std::string ChannelVariableName(const RecordedChannel& c) {
  std::string_view caption = c.caption;
  if (caption.substr(0, c.instrument.size()) == c.instrument) {
    caption.remove_prefix(c.instrument.size());
    while (!caption.empty() && caption.front() == ' ') caption.remove_prefix(1);
  }
  std::string name(caption.empty() ? std::string_view(c.channel) : caption);
  if (!c.unit.empty()) name += "_" + c.unit;
  return Underscored(std::move(name));
}

std::string ChannelScopeName(const std::string& label) {
  return Underscored(label.empty() ? std::string("instrument") : label);
}

std::optional<RecordFormat> FormatForPath(std::string_view path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = file.find_last_of('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const std::string_view ext = file.substr(dot + 1);
  if (Text::EqualsNoCase(ext, "csv")) return RecordFormat::kCsv;
  if (Text::EqualsNoCase(ext, "vcd")) return RecordFormat::kVcd;
  if (Text::EqualsNoCase(ext, "sr")) return RecordFormat::kSr;
  return std::nullopt;
}

std::string UnknownFormatText(std::string_view path) {
  return "cannot record to '" + std::string(path) +
         "': the file name must end in .csv (CSV) or .vcd (value change dump), or .sr (sigrok "
         "session)";
}

namespace {

std::mutex g_writersMutex;
std::map<RecordFormat, FormatWriter> g_writers;

std::optional<FormatWriter> WriterFor(RecordFormat format) {
  const std::lock_guard lock(g_writersMutex);
  const auto it = g_writers.find(format);
  if (it == g_writers.end()) return std::nullopt;
  return it->second;
}

}  // namespace

void SetFormatWriter(RecordFormat format, FormatWriter writer) {
  const std::lock_guard lock(g_writersMutex);
  if (writer.open)
    g_writers[format] = std::move(writer);
  else
    g_writers.erase(format);
}

std::string CheckRecordingPath(std::string_view path) {
  const std::optional<RecordFormat> format = FormatForPath(path);
  if (!format) return UnknownFormatText(path);
  if (*format != RecordFormat::kSr) return {};
  const std::optional<FormatWriter> writer = WriterFor(*format);
  std::string reason = !writer ? "this program does not write sigrok sessions"
                       : writer->unavailable ? writer->unavailable()
                                             : std::string();
  return reason.empty() ? reason : "cannot record to '" + std::string(path) + "': " + reason;
}

std::string RecordingStoppedText(const std::string& name, const std::string& reason) {
  return "Recording to " + name + " stopped: " + reason + ".";
}

std::string CannotCreateText(const std::string& path, const std::string& reason) {
  return "Cannot create " + path + ": " + reason + ".";
}

std::unique_ptr<Recorder> Recorder::Open(const std::string& path, const RecorderOptions& options,
                                         std::string& message) {
  const std::optional<RecordFormat> format = FormatForPath(path);
  if (!format) {
    message = UnknownFormatText(path);
    return nullptr;
  }
  std::unique_ptr<Recorder> r;
  if (*format == RecordFormat::kSr) {
    if (message = CheckRecordingPath(path); !message.empty()) return nullptr;
    if (r = WriterFor(*format)->open(path, options, message); !r) return nullptr;
  } else {
    std::string reason;
    std::unique_ptr<FileSink> sink = FileSink::Create(path, reason);
    if (!sink) {
      message = CannotCreateText(path, reason);
      return nullptr;
    }
    if (options.noticeRemoval) sink->NoticeRemoval();
    r = Make(std::move(sink), *format, options);
  }
  r->SetErrorHandler(nullptr);
  r->OnFlush();  // the header: even an empty recording is a valid file
  if (!r->Active()) {
    message = "Cannot write " + path + ": " + r->sink_->Error() + ".";
    return nullptr;
  }
  r->SetErrorHandler([](const std::string& m) { MsgBox(m); });
  return r;
}

std::unique_ptr<Recorder> Recorder::ToStream(std::ostream& out, std::string name,
                                             RecordFormat format, const RecorderOptions& options) {
  std::unique_ptr<Recorder> r =
      Make(std::make_unique<StreamSink>(out, std::move(name)), format, options);
  r->OnFlush();
  return r;
}

Recorder::Recorder(std::unique_ptr<Sink> sink, RecordFormat format, const RecorderOptions& options)
    : sink_(std::move(sink)),
      format_(format),
      options_(options),
      start_(TimeBase::Start(ClockOf(options))),
      onError_([](const std::string& m) { MsgBox(m); }) {}

Recorder::~Recorder() { Close(); }

void Recorder::OnRegisterAccess(const RegisterEvent& event) {
  if (!active_) return;
  if (!begun_) OnFlush();
  if (Sample(pending_, event)) ++samples_;
}

void Recorder::OnInstrumentReading(const InstrumentReading& reading) {
  if (!active_) return;
  if (!begun_) OnFlush();
  if (Measure(pending_, reading)) ++samples_;
}

void Recorder::OnFlush() {
  if (!active_) return;
  if (!begun_) {
    Begin(pending_);
    begun_ = true;
  }
  if (pending_.empty() ? !sink_->Check() : !sink_->Write(pending_)) {
    Fail();
    return;
  }
  pending_.clear();
}

void Recorder::Close() {
  if (!active_) return;
  if (begun_) End(pending_);
  OnFlush();
  if (!active_) return;
  if (!sink_->Close()) {
    Fail();
    return;
  }
  active_ = false;
}

void Recorder::Fail() {
  active_ = false;
  pending_.clear();
  error_ = RecordingStoppedText(sink_->Name(), sink_->Error());
  if (onError_) onError_(error_);
}

}  // namespace recording
