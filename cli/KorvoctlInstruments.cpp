#include "cli/KorvoctlInstruments.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "adapter/ErrorCodes.h"
#include "cli/Korvoctl.h"
#include "foundation/IniFile.h"
#include "foundation/Messages.h"
#include "foundation/Utils.h"
#include "instruments/SigrokBackend.h"
#include "recording/Text.h"

namespace {

using namespace std::chrono;

constexpr int64_t kMaxPeriodMs = 3600000;

// The seven significant digits an instrument's single-precision value holds: 19000, 2048.
std::string ReadingText(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.7g", v);
  return std::string(buf) == "-0" ? "0" : buf;
}

}  // namespace

KorvoctlInstruments::KorvoctlInstruments() = default;

KorvoctlInstruments::~KorvoctlInstruments() { Finish(); }
KorvoctlInstruments::KorvoctlInstruments(KorvoctlInstruments&&) noexcept = default;
KorvoctlInstruments& KorvoctlInstruments::operator=(KorvoctlInstruments&&) noexcept = default;

KorvoctlInstruments::Taken KorvoctlInstruments::Take(const std::vector<std::string>& args,
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
  t.taken = true;
  if (a == "--instrument") {
    if (auto text = value("instrument config")) {
      // Refused here, before anything opens; libsigrok's check follows in Prepare.
      const instruments::ConfigResult r = instruments::ParseInstrument(*text);
      if (!r.config)
        t.error = r.error;
      else
        entries_.push_back(*text);
    }
  } else if (a == "--instrument-period") {
    if (auto text = value("instrument period in milliseconds")) {
      const auto v = Utils::ParseInteger(*text, 1, kMaxPeriodMs);
      if (!v)
        t.error = "invalid instrument period in milliseconds '" + *text + "': expected 1 to " +
                  std::to_string(kMaxPeriodMs);
      else
        periodMs_ = *v;
    }
  } else if (a == "--instrument-log") {
    if (auto text = value("instrument log level")) {
      const auto v = Utils::ParseInteger(*text, 0, 5);
      if (!v)
        t.error = "invalid instrument log level '" + *text + "': expected 0 (none) to 5 (all)";
      else
        logLevel_ = static_cast<int>(*v);
    }
  } else if (a == "instruments") {
    t.operation = true;
    scan_ = true;
    used_ = true;
  } else {
    t.taken = false;
  }
  return t;
}

int KorvoctlInstruments::Prepare(std::ostream& err, recording::Clock& clock,
                                 const std::string& settingsFile) {
  if (!used_) return kExitOk;
  instruments::InstrumentList list;
  if (!entries_.empty()) {
    list = instruments::InstrumentsFromArgs(entries_);
  } else if (const std::optional<IniFile> ini = IniFile::Load(settingsFile)) {
    list = instruments::InstrumentsFromIni(*ini);
  }
  for (const std::string& e : list.errors) err << "korvoctl: " << e << '\n';
  if (!list.errors.empty()) return kExitUsage;
  if (list.configs.empty()) {
    if (scan_) {
      err << "korvoctl: no instrument configured: give --instrument ENTRY or an [Instruments] "
             "section in the settings file\n";
      return kExitUsage;
    }
    return kExitOk;  // nothing beside the registers
  }
  const std::shared_ptr<instruments::Backend> backend = instruments::MakeSigrokBackend();
  bool bad = false;
  for (const instruments::InstrumentConfig& s : list.configs) {
    if (const std::string reason = backend->Check(s); !reason.empty()) {
      err << "korvoctl: " << instruments::InvalidInstrumentText(s.text, reason) << '\n';
      bad = true;
    }
  }
  if (bad) return kExitUsage;
  configs_ = list.configs;
  instruments::BenchOptions o;
  o.clock = &clock;
  if (periodMs_) o.period = milliseconds(*periodMs_);
  bench_ = std::make_unique<instruments::Bench>(backend, configs_, o);
  // libsigrok's log goes through the message interface, delivered on this thread.
  instruments::RouteLibraryLog(static_cast<instruments::LibraryLog>(logLevel_), bench_->LogRoute());
  bench_->Start();
  return kExitOk;
}

int KorvoctlInstruments::Run(std::ostream& out) {
  if (!bench_) return kExitUsage;
  bench_->WaitSettled(milliseconds(kWaitMs));
  bench_->ReadOnce(milliseconds(kWaitMs));
  Deliver({});
  const std::vector<instruments::LatestReading> latest = bench_->Latest();
  bool absent = false;
  for (const instruments::InstrumentState& s : bench_->States()) {
    out << s.label << ": " << s.config << " - ";
    if (!s.present) {
      absent = true;
      out << "absent: "
          << (s.settled ? s.reason : "no answer within " + std::to_string(kWaitMs / 1000) + " s")
          << '\n';
      continue;
    }
    out << instruments::DeviceText(s.info) << " with " << s.info.channels.size() << " channels:";
    for (const instruments::ChannelInfo& c : s.info.channels) out << ' ' << c.name;
    out << '\n';
    for (const instruments::ChannelInfo& c : s.info.channels) {
      if (!c.enabled) continue;
      out << "  " << c.name << "  ";
      bool read = false;
      for (const instruments::LatestReading& r : latest) {
        if (r.instrument != s.label || r.channel != c.name) continue;
        out << r.caption << "  " << ReadingText(r.value) << (r.unit.empty() ? "" : " ") << r.unit;
        read = true;
      }
      if (!read) out << "no reading";
      out << '\n';
    }
  }
  return absent ? kExitBus : kExitOk;
}

std::vector<std::string> KorvoctlInstruments::Labels() const {
  std::vector<std::string> labels;
  if (bench_)
    for (const instruments::InstrumentConfig& s : configs_) labels.push_back(s.label);
  return labels;
}

void KorvoctlInstruments::Follow(std::shared_ptr<recording::RegisterObserver> observer,
                                 std::function<void(const std::string&, bool)> presence) {
  follower_ = std::move(observer);
  presence_ = std::move(presence);
}

void KorvoctlInstruments::Deliver(const std::vector<recording::RegisterObserver*>& observers) {
  if (!follower_) {
    bench_->Deliver(observers);
  } else {
    std::vector<recording::RegisterObserver*> all = observers;
    all.push_back(follower_.get());
    bench_->Deliver(all);
  }
  // After the readings: one that came just before its instrument went absent is hidden again.
  if (presence_)
    for (const instruments::InstrumentState& s : bench_->States()) presence_(s.label, s.present);
}

void KorvoctlInstruments::OnTickStart() {
  if (bench_ && !periodMs_) bench_->Trigger();
}

void KorvoctlInstruments::OnTickEnd(const std::vector<recording::RegisterObserver*>& observers) {
  if (!bench_) return;
  Deliver(observers);
  for (recording::RegisterObserver* o : observers) o->OnFlush();
}

void KorvoctlInstruments::OnWatchEnd(const std::vector<recording::RegisterObserver*>& observers) {
  if (!bench_) return;
  // The last tick's readings, if they come soon; the run ends on time all the same.
  bench_->WaitAnswered(milliseconds(periodMs_ ? 0 : 1000));
  OnTickEnd(observers);
}

std::vector<recording::RecordedChannel> KorvoctlInstruments::RecordedChannels() {
  std::vector<recording::RecordedChannel> channels;
  if (!bench_) return channels;
  // Many drivers name a channel's quantity and unit only with its first reading.
  bench_->WaitSettled(milliseconds(kWaitMs));
  bench_->ReadOnce(milliseconds(kWaitMs));
  Deliver({});
  const std::vector<instruments::LatestReading> latest = bench_->Latest();
  for (const instruments::InstrumentState& s : bench_->States()) {
    if (!s.present) continue;
    for (const instruments::ChannelInfo& c : s.info.channels) {
      if (!c.enabled) continue;
      const auto r = std::find_if(latest.begin(), latest.end(), [&](const auto& l) {
        return l.instrument == s.label && l.channel == c.name;
      });
      if (r != latest.end())
        channels.push_back({s.label, c.name, r->caption, r->unit});
      else
        channels.push_back({s.label, c.name, instruments::Caption(s.label, c, c.quantity), c.unit});
    }
  }
  return channels;
}

void KorvoctlInstruments::AppendDump(std::string& text, bool json) {
  if (!bench_) return;
  bench_->WaitSettled(milliseconds(kWaitMs));
  bench_->ReadOnce(milliseconds(kWaitMs));
  Deliver({});
  const std::vector<instruments::LatestReading> latest = bench_->Latest();
  if (json) text += ", \"instruments\": [\n";
  bool first = true;
  for (const instruments::InstrumentState& s : bench_->States()) {
    const std::string reason =
        s.settled ? s.reason : "no answer within " + std::to_string(kWaitMs / 1000) + " s";
    if (json) {
      text += first ? "  " : ",\n  ";
      text += "{\"label\": " + recording::JsonString(s.label) +
              ", \"config\": " + recording::JsonString(s.config) +
              ", \"present\": " + (s.present ? "true" : "false");
      if (!s.present) {
        text += ", \"reason\": " + recording::JsonString(reason) + "}";
      } else {
        text += ", \"readings\": [";
        bool firstReading = true;
        for (const instruments::LatestReading& r : latest) {
          if (r.instrument != s.label) continue;
          text += firstReading ? "" : ", ";
          text += "{\"channel\": " + recording::JsonString(r.channel) +
                  ", \"caption\": " + recording::JsonString(r.caption) +
                  ", \"quantity\": " + recording::JsonString(r.quantity) +
                  ", \"value\": " + ReadingText(r.value) +
                  ", \"unit\": " + recording::JsonString(r.unit) + "}";
          firstReading = false;
        }
        text += "]}";
      }
    } else if (!s.present) {
      recording::AppendCsvField(text, s.label);
      text += ",,,,,";
      recording::AppendCsvField(text, "absent: " + reason);
      text += recording::kCsvLineEnd;
    } else {
      for (const instruments::LatestReading& r : latest) {
        if (r.instrument != s.label) continue;
        recording::AppendCsvField(text, s.label);
        text += ',';
        recording::AppendCsvField(text, r.caption + (r.unit.empty() ? "" : " (" + r.unit + ")"));
        text += ",," + ReadingText(r.value) + ",0,";
        recording::AppendCsvField(text, StatusName(0));
        text += recording::kCsvLineEnd;
      }
    }
    first = false;
  }
  if (json) text += "\n]";
}

std::string KorvoctlInstruments::SnapshotComments() {
  if (!bench_) return {};
  bench_->WaitSettled(milliseconds(kWaitMs));
  bench_->ReadOnce(milliseconds(kWaitMs));
  Deliver({});
  const std::vector<instruments::LatestReading> latest = bench_->Latest();
  std::string text;
  auto clean = [](std::string s) {
    for (char& c : s)
      if (c == '=' || c == '\n' || c == '\r') c = c == '=' ? ':' : ' ';
    return s;
  };
  for (const instruments::InstrumentState& s : bench_->States()) {
    if (!s.present) {
      text += clean("; Instrument " + s.label + ": absent (" +
                    (s.settled ? s.reason : "no answer in time") + ")") +
              "\n";
      continue;
    }
    for (const instruments::LatestReading& r : latest)
      if (r.instrument == s.label)
        text += clean("; Instrument " + r.caption + ": " + ReadingText(r.value) +
                      (r.unit.empty() ? "" : " " + r.unit)) +
                "\n";
  }
  return text;
}

void KorvoctlInstruments::Finish() {
  if (!bench_) return;
  Deliver({});
  bench_->Stop();
  const std::vector<std::string> absent = bench_->EverAbsent();
  if (!absent.empty() && !scan_) {
    std::string names;
    for (const std::string& a : absent) names += (names.empty() ? "" : ", ") + a;
    MsgBox("Instruments absent during the run: " + names + ".");
  }
  instruments::RouteLibraryLog(instruments::LibraryLog::kNone, nullptr);
  bench_.reset();
}

std::string KorvoctlInstrumentsUsage() {
  return "  instruments        open each configured bench instrument and print what it is and\n"
         "                     reads (like sigrok-cli --scan); exit 2 when one is absent\n";
}

std::string KorvoctlInstrumentsOptionsUsage() {
  return "  --instrument ENTRY  a bench instrument as sigrok names it, DRIVER[:KEY=VALUE...]\n"
         "                     [label=NAME] [channels=A,B] (repeatable; replaces the settings\n"
         "                     file's [Instruments]); read beside the registers by watch and\n"
         "                     dump --format csv|json, e.g. scpi-pps:conn=tcp-raw/HOST/5555\n"
         "  --instrument-period MS\n"
         "                     read the instruments every MS ms (default: once per watch tick)\n"
         "  --instrument-log N libsigrok's log on standard error: 0 none (default), 1 errors,\n"
         "                     2 warnings, 3 information, 4 debug, 5 all\n";
}
