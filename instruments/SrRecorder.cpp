#include "instruments/SrRecorder.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>

#include "recording/BitNames.h"
#include "recording/OutputFile.h"
#include "registers/RegisterTable.h"

namespace instruments {

namespace {

using recording::InstrumentReading;
using recording::MonoTime;
using recording::RecordedChannel;
using recording::RecorderOptions;
using recording::RegisterEvent;

constexpr float kUnknown = std::numeric_limits<float>::quiet_NaN();
// How much recording time a chunk of the archive holds (see SrRecorder.h).
constexpr uint64_t kChunkSeconds = 10;

std::string Underscored(std::string s) {
  for (char& c : s)
    if (std::isspace(static_cast<unsigned char>(c)) != 0) c = '_';
  return s;
}

std::vector<uint8_t> Addresses(const RecorderOptions& o) {
  std::vector<uint8_t> addresses;
  if (o.registers.empty()) {
    for (const RegisterTable::Register& r : RegisterTable::All()) addresses.push_back(r.address);
  } else {
    for (uint8_t a : o.registers)
      if (std::find(addresses.begin(), addresses.end(), a) == addresses.end())
        addresses.push_back(a);
  }
  return addresses;
}

// "0x15.BATTERY_VOLTAGE_mV": the main window's caption without its address, then the unit.
std::string DacName(uint8_t address, std::string_view unit) {
  const RegisterTable::Register* r = RegisterTable::Find(address);
  std::string_view caption = r->mainCaption.empty() ? r->trimTitle : r->mainCaption;
  if (const std::size_t paren = caption.find(" ("); paren != std::string_view::npos)
    caption = caption.substr(0, paren);
  return recording::AddressText(address) + "." + Underscored(std::string(caption)) + "_" +
         std::string(unit);
}

// "PSU.CH1_current_mA": the label, then the channel as a VCD names it.
std::string ChannelName(const RecordedChannel& c) {
  return recording::ChannelScopeName(c.instrument) + "." + recording::ChannelVariableName(c);
}

struct LogicBit {
  uint8_t address;
  int bit;
};

// Where each channel's value comes from, in the layout's order.
struct Sources {
  std::vector<LogicBit> logic;
  std::vector<uint8_t> dacs;                  // the first analog channels
  std::vector<RecordedChannel> instruments;  // the analog channels after them
};

Sources SourcesOf(const RecorderOptions& o, SrLayout& layout) {
  Sources s;
  for (uint8_t a : Addresses(o)) {
    if (const auto unit = recording::DacUnit(a)) {
      s.dacs.push_back(a);
      layout.analog.push_back(DacName(a, *unit));
      continue;
    }
    const std::array<std::string, 16> wires = recording::WireNames(a, o.variant);
    for (int bit = 15; bit >= 0; --bit) {
      if (recording::MainBitName(a, bit, o.variant).empty()) continue;
      s.logic.push_back({a, bit});
      layout.logic.push_back(wires[static_cast<std::size_t>(bit)]);
    }
  }
  for (const RecordedChannel& c : o.channels) {
    const bool known = std::any_of(s.instruments.begin(), s.instruments.end(), [&](const auto& k) {
      return k.instrument == c.instrument && k.channel == c.channel;
    });
    if (known) continue;
    s.instruments.push_back(c);
    layout.analog.push_back(ChannelName(c));
  }
  return s;
}

// Holds samples until a chunk is due, then hands them to the writer. Writes no text: a flush
// (Check) is when a chunk may go out.
class SrSink final : public recording::Sink {
 public:
  SrSink(std::unique_ptr<SrWriter> writer, std::string path, uint64_t chunk, bool noticeRemoval)
      : writer_(std::move(writer)),
        path_(std::move(path)),
        chunk_(std::max<uint64_t>(chunk, 1)),
        noticeRemoval_(noticeRemoval),
        analog_(writer_->Layout().analog.size()) {}

  // times copies of one sample: its logic unit and its analog values.
  void Push(const std::vector<uint8_t>& unit, const std::vector<float>& values, uint64_t times) {
    for (uint64_t i = 0; i < times; ++i) {
      logic_.insert(logic_.end(), unit.begin(), unit.end());
      for (std::size_t c = 0; c < analog_.size(); ++c) analog_[c].push_back(values[c]);
    }
    count_ += times;
  }

  bool Write(std::string_view /*data*/) override { return Check(); }
  bool Ok() const override { return error_.empty(); }
  const std::string& Error() const override { return error_; }
  const std::string& Name() const override { return path_; }
  bool Check() override {
    if (!Ok()) return false;
    if (Removed()) {
      error_ = recording::kRemovedReason;
      return false;
    }
    return count_ < chunk_ || Commit();
  }
  bool Close() override {
    if (Ok() && Removed())
      error_ = recording::kRemovedReason;
    else if (Ok())
      Commit();
    if (!writer_->Close() && error_.empty()) error_ = writer_->Error();
    return Ok();
  }

 private:
  bool Removed() const { return noticeRemoval_ && ::access(path_.c_str(), F_OK) != 0; }

  bool Commit() {
    if (count_ == 0) return true;
    std::vector<float> flat;
    flat.reserve(count_ * analog_.size());
    for (std::vector<float>& a : analog_) {
      flat.insert(flat.end(), a.begin(), a.end());
      a.clear();
    }
    const bool ok = writer_->Append(count_, logic_, flat);
    logic_.clear();
    count_ = 0;
    if (!ok) error_ = writer_->Error();
    return ok;
  }

  std::unique_ptr<SrWriter> writer_;
  std::string path_;
  uint64_t chunk_;
  bool noticeRemoval_;
  std::vector<uint8_t> logic_;
  std::vector<std::vector<float>> analog_;  // by channel
  uint64_t count_ = 0;
  std::string error_;
};

class SrRecorder final : public recording::Recorder {
 public:
  SrRecorder(std::unique_ptr<SrSink> sink, const RecorderOptions& options, Sources sources,
             uint64_t samplesPerTick)
      : Recorder(std::move(sink), recording::RecordFormat::kSr, options),
        sources_(std::move(sources)),
        perTick_(samplesPerTick) {
    for (uint8_t a : sources_.dacs) Track(a);
    for (const LogicBit& b : sources_.logic) Track(b.address);
    readings_.assign(sources_.instruments.size(), kUnknown);
    unit_.resize((sources_.logic.size() + 7) / 8);
    values_.resize(sources_.dacs.size() + sources_.instruments.size());
  }
  // The base closes too, but by then End is no longer ours.
  ~SrRecorder() override { Close(); }

  void Attach(SrSink* sink) { sink_ = sink; }

 private:
  struct Reg {
    uint8_t address;
    std::optional<uint16_t> value;  // nullopt: not read, or the read failed
    uint16_t bits = 0;              // the last value read: what the logic channels hold
    bool readThisTick = false;
  };
  struct Pending {
    std::size_t channel;
    MonoTime time;
    float value;
  };

  void Track(uint8_t address) {
    if (Find(address) == nullptr) regs_.push_back({address, std::nullopt});
  }
  Reg* Find(uint8_t address) {
    for (Reg& r : regs_)
      if (r.address == address) return &r;
    return nullptr;
  }

  void Begin(std::string& /*out*/) override {}

  bool Sample(std::string& /*out*/, const RegisterEvent& e) override {
    if (e.kind != recording::AccessKind::kRead) return false;
    Reg* r = Find(e.address);
    if (r == nullptr) return false;
    if (r->readThisTick) EndTick();
    r->readThisTick = true;
    r->value = e.status == 0 ? std::optional<uint16_t>(e.value) : std::nullopt;
    if (r->value) r->bits = *r->value;
    tickOpen_ = true;
    tickEnd_ = e.time;
    return true;
  }

  bool Measure(std::string& /*out*/, const InstrumentReading& reading) override {
    for (std::size_t c = 0; c < sources_.instruments.size(); ++c) {
      const RecordedChannel& k = sources_.instruments[c];
      if (k.instrument != reading.instrument || k.channel != reading.channel) continue;
      pending_.push_back({c, reading.time, static_cast<float>(reading.value)});
      return true;
    }
    return false;
  }

  void End(std::string& /*out*/) override {
    if (tickOpen_) EndTick();
    if (!pending_.empty()) {
      tickEnd_ = MonoTime::max();
      Emit();
    }
  }

  void EndTick() {
    Emit();
    for (Reg& r : regs_) r.readThisTick = false;
    tickOpen_ = false;
  }

  // The sample of the state at tickEnd_: readings up to it taken, later ones kept for the next.
  void Emit() {
    std::size_t kept = 0;
    for (const Pending& p : pending_) {
      if (p.time <= tickEnd_)
        readings_[p.channel] = p.value;
      else
        pending_[kept++] = p;
    }
    pending_.resize(kept);
    std::fill(unit_.begin(), unit_.end(), 0);
    for (std::size_t i = 0; i < sources_.logic.size(); ++i) {
      const LogicBit& b = sources_.logic[i];
      if ((Find(b.address)->bits >> b.bit) & 1) unit_[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
    std::size_t v = 0;
    for (uint8_t a : sources_.dacs) {
      const Reg* r = Find(a);
      values_[v++] = r->value ? static_cast<float>(*r->value) : kUnknown;
    }
    for (float reading : readings_) values_[v++] = reading;
    sink_->Push(unit_, values_, perTick_);
  }

  Sources sources_;
  uint64_t perTick_;
  SrSink* sink_ = nullptr;  // owned by the base
  std::vector<Reg> regs_;
  std::vector<float> readings_;  // by instrument channel
  std::vector<Pending> pending_;
  bool tickOpen_ = false;
  MonoTime tickEnd_{};
  std::vector<uint8_t> unit_;
  std::vector<float> values_;
};

}  // namespace

SrPlan PlanSr(const RecorderOptions& options) {
  SrPlan plan;
  (void)SourcesOf(options, plan.layout);
  const int64_t ms = options.period.count();
  if (ms <= 0) {
    plan.layout.samplerate = 1000;
  } else {
    const int64_t g = std::gcd(ms, int64_t{1000});
    plan.layout.samplerate = static_cast<uint64_t>(1000 / g);
    plan.samplesPerTick = static_cast<uint64_t>(ms / g);
  }
  return plan;
}

std::unique_ptr<recording::Recorder> OpenSrRecorder(const std::string& path,
                                                    const RecorderOptions& options,
                                                    std::string& message,
                                                    const std::vector<std::string>& modulePaths) {
  SrPlan plan = PlanSr(options);
  SrLayout check;
  Sources sources = SourcesOf(options, check);
  std::string reason;
  std::unique_ptr<SrWriter> writer = SrWriter::Create(path, plan.layout, reason, modulePaths);
  if (!writer) {
    message = recording::CannotCreateText(path, reason);
    return nullptr;
  }
  const uint64_t chunk = kChunkSeconds * plan.layout.samplerate;
  auto sink = std::make_unique<SrSink>(std::move(writer), path, chunk, options.noticeRemoval);
  SrSink* raw = sink.get();
  auto r = std::make_unique<SrRecorder>(std::move(sink), options, std::move(sources),
                                        plan.samplesPerTick);
  r->Attach(raw);
  return r;
}

void InstallSrRecordings(std::vector<std::string> modulePaths) {
  recording::FormatWriter w;
  w.unavailable = [modulePaths] { return SrUnavailableReason(modulePaths); };
  w.open = [modulePaths](const std::string& path, const RecorderOptions& options,
                         std::string& message) {
    return OpenSrRecorder(path, options, message, modulePaths);
  };
  recording::SetFormatWriter(recording::RecordFormat::kSr, std::move(w));
}

}  // namespace instruments
