#include "instruments/SigrokBackend.h"

#include <libsigrokcxx/libsigrokcxx.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>

namespace instruments {

namespace {

std::mutex g_logMutex;
LibraryLog g_level = LibraryLog::kNone;
std::function<void(const std::string&)> g_onLine;
thread_local std::string t_lastError;

int OnLibraryLog(void* /*data*/, int level, const char* format, va_list args) {
  char buf[1024];
  std::vsnprintf(buf, sizeof buf, format, args);
  std::string line(buf);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (level <= SR_LOG_ERR) t_lastError = line;
  std::function<void(const std::string&)> onLine;
  {
    const std::lock_guard lock(g_logMutex);
    if (level <= static_cast<int>(g_level)) onLine = g_onLine;
  }
  if (onLine) onLine(line);
  return SR_OK;
}

// Installed before any context exists, so not one line reaches the terminal.
void InstallLogOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    sr_log_callback_set(&OnLibraryLog, nullptr);
    // Errors are always taken: they name why an instrument is absent.
    sr_log_loglevel_set(SR_LOG_ERR);
  });
}

std::string Lower(std::string s) {
  for (char& c : s) c = c == '_' ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string UnitSymbol(const sigrok::Unit* unit) {
  switch (unit->id()) {
    case SR_UNIT_VOLT: return "V";
    case SR_UNIT_AMPERE: return "A";
    case SR_UNIT_OHM: return "Ohm";
    case SR_UNIT_FARAD: return "F";
    case SR_UNIT_KELVIN: return "K";
    case SR_UNIT_CELSIUS: return "degC";
    case SR_UNIT_FAHRENHEIT: return "degF";
    case SR_UNIT_HERTZ: return "Hz";
    case SR_UNIT_PERCENTAGE: return "%";
    case SR_UNIT_SECOND: return "s";
    case SR_UNIT_SIEMENS: return "S";
    case SR_UNIT_DECIBEL_MW: return "dBm";
    case SR_UNIT_DECIBEL_VOLT: return "dBV";
    case SR_UNIT_UNITLESS: return "";
    case SR_UNIT_VOLT_AMPERE: return "VA";
    case SR_UNIT_WATT: return "W";
    case SR_UNIT_WATT_HOUR: return "Wh";
    case SR_UNIT_HENRY: return "H";
    case SR_UNIT_GRAM: return "g";
    default: return Lower(unit->name());
  }
}

std::string What(const std::exception& e) {
  std::string reason = e.what();
  std::string lib = TakeLastLibraryError();
  return lib.empty() ? reason : lib;
}

class SigrokDevice final : public Device {
 public:
  SigrokDevice(std::shared_ptr<sigrok::Context> context, std::shared_ptr<std::mutex> driverMutex,
               std::shared_ptr<sigrok::HardwareDevice> device, DeviceInfo info)
      : context_(std::move(context)),
        driverMutex_(std::move(driverMutex)),
        device_(std::move(device)),
        info_(std::move(info)) {
    session_ = context_->create_session();
    session_->add_device(device_);
    session_->add_datafeed_callback(
        [this](std::shared_ptr<sigrok::Device>, std::shared_ptr<sigrok::Packet> packet) {
          OnPacket(*packet);
        });
    limited_ = device_->config_check(sigrok::ConfigKey::LIMIT_SAMPLES, sigrok::Capability::SET);
    if (limited_)
      device_->config_set(sigrok::ConfigKey::LIMIT_SAMPLES, Glib::Variant<guint64>::create(1));
  }
  ~SigrokDevice() override {
    const std::lock_guard lock(*driverMutex_);
    try {
      session_->remove_datafeed_callbacks();
      session_->remove_devices();
      device_->close();
    } catch (const std::exception&) {
      // Closing an instrument that is gone fails; there is nothing left to do.
    }
  }

  const DeviceInfo& Info() const override { return info_; }

  bool Read(const std::function<void(const RawValue&)>& onValue, std::string& reason) override {
    onValue_ = &onValue;
    values_ = 0;
    interrupted_ = false;
    try {
      session_->start();
      if (!limited_) stopAfterOne_ = true;
      session_->run();
    } catch (const std::exception& e) {
      onValue_ = nullptr;
      reason = What(e);
      return false;
    }
    onValue_ = nullptr;
    stopAfterOne_ = false;
    if (values_ == 0) {
      reason = TakeLastLibraryError();
      if (reason.empty()) reason = interrupted_ ? "no answer in time" : "no reading";
      return false;
    }
    return true;
  }

  void Interrupt() override {
    interrupted_ = true;
    try {
      session_->stop();
    } catch (const std::exception&) {
      // Not running (any more): the read is over anyway.
    }
  }

 private:
  void OnPacket(sigrok::Packet& packet) {
    if (packet.type() != sigrok::PacketType::ANALOG || onValue_ == nullptr) return;
    auto analog = std::dynamic_pointer_cast<sigrok::Analog>(packet.payload());
    if (!analog) return;
    const unsigned n = analog->num_samples();
    const auto channels = analog->channels();
    if (n == 0 || channels.empty()) return;
    std::vector<float> data(static_cast<std::size_t>(n) * channels.size());
    analog->get_data_as_float(data.data());
    RawValue v;
    v.quantity = Lower(analog->mq()->name());
    v.unit = UnitSymbol(analog->unit());
    // The last sample of each channel: the newest reading.
    for (std::size_t c = 0; c < channels.size(); ++c) {
      v.channel = channels[c]->name();
      v.value = data[(n - 1) * channels.size() + c];
      ++values_;
      (*onValue_)(v);
    }
    if (stopAfterOne_ && values_ >= EnabledCount()) {
      try {
        session_->stop();
      } catch (const std::exception&) {
      }
    }
  }
  std::size_t EnabledCount() const {
    return static_cast<std::size_t>(std::count_if(info_.channels.begin(), info_.channels.end(),
                                                  [](const ChannelInfo& c) { return c.enabled; }));
  }

  std::shared_ptr<sigrok::Context> context_;
  std::shared_ptr<std::mutex> driverMutex_;
  std::shared_ptr<sigrok::HardwareDevice> device_;
  std::shared_ptr<sigrok::Session> session_;
  DeviceInfo info_;
  const std::function<void(const RawValue&)>* onValue_ = nullptr;
  std::size_t values_ = 0;
  bool limited_ = false;
  bool stopAfterOne_ = false;
  std::atomic<bool> interrupted_{false};
};

class SigrokBackend final : public Backend {
 public:
  SigrokBackend() {
    InstallLogOnce();
    context_ = sigrok::Context::create();
  }

  std::string Check(const InstrumentSpec& spec) override {
    const std::lock_guard lock(*mutex_);
    return CheckLocked(spec);
  }

  std::string CheckLocked(const InstrumentSpec& spec) {
    const auto drivers = context_->drivers();
    const auto d = drivers.find(spec.driver);
    if (d == drivers.end())
      return "unknown driver '" + spec.driver + "' (sigrok-cli -L lists the drivers)";
    std::set<const sigrok::ConfigKey*> scanOptions;
    try {
      scanOptions = d->second->scan_options();
    } catch (const std::exception&) {
      // A driver without scan options takes none.
    }
    for (const auto& [key, value] : spec.options) {
      const sigrok::ConfigKey* k = nullptr;
      try {
        k = sigrok::ConfigKey::get_by_identifier(key);
      } catch (const std::exception&) {
      }
      if (k == nullptr || scanOptions.count(k) == 0) {
        std::string known;
        for (const sigrok::ConfigKey* o : scanOptions) known += (known.empty() ? "" : ", ") + o->identifier();
        return "driver '" + spec.driver + "' has no option '" + key + "' (it takes: " +
               (known.empty() ? std::string("none") : known) + ")";
      }
      try {
        (void)k->parse_string(value);
      } catch (const std::exception&) {
        return "invalid value '" + value + "' for option '" + key + "'";
      }
    }
    return {};
  }

  std::unique_ptr<Device> Open(const InstrumentSpec& spec, std::string& reason) override {
    // libsigrok keeps a driver's state in the driver itself, whatever the context: scanning,
    // opening and closing take turns. Readings do not: each device has its own session.
    const std::lock_guard lock(*mutex_);
    if (reason = CheckLocked(spec); !reason.empty()) return nullptr;
    TakeLastLibraryError();
    try {
      auto driver = context_->drivers().at(spec.driver);
      std::map<const sigrok::ConfigKey*, Glib::VariantBase> options;
      for (const auto& [key, value] : spec.options) {
        const sigrok::ConfigKey* k = sigrok::ConfigKey::get_by_identifier(key);
        options[k] = k->parse_string(value);
      }
      const auto found = driver->scan(options);
      if (found.empty()) {
        reason = TakeLastLibraryError();
        reason = reason.empty() ? "no device found" : "no device found (" + reason + ")";
        return nullptr;
      }
      auto device = found.front();
      device->open();
      DeviceInfo info;
      info.driver = spec.driver;
      info.vendor = device->vendor();
      info.model = device->model();
      info.version = device->version();
      info.serial = device->serial_number();
      info.connection = device->connection_id();
      const auto groups = device->channel_groups();
      std::vector<std::string> unknown = spec.channels;
      for (const auto& ch : device->channels()) {
        if (ch->type() != sigrok::ChannelType::ANALOG) {
          ch->set_enabled(false);  // logic channels are not readings
          continue;
        }
        ChannelInfo c;
        c.name = ch->name();
        // The smallest group that holds the channel names its output ("CH1").
        std::size_t best = SIZE_MAX;
        for (const auto& [name, group] : groups) {
          const auto members = group->channels();
          const bool holds = std::any_of(members.begin(), members.end(),
                                         [&](const auto& m) { return m->name() == c.name; });
          if (holds && members.size() < best) {
            best = members.size();
            c.group = name;
          }
        }
        c.enabled = spec.channels.empty() ||
                    std::find(spec.channels.begin(), spec.channels.end(), c.name) != spec.channels.end();
        std::erase(unknown, c.name);
        ch->set_enabled(c.enabled);
        info.channels.push_back(std::move(c));
      }
      if (!unknown.empty()) {
        std::string names;
        for (const auto& ch : info.channels) names += (names.empty() ? "" : " ") + ch.name;
        reason = "no analog channel '" + unknown.front() + "' (it has: " +
                 (names.empty() ? std::string("none") : names) + ")";
        device->close();
        return nullptr;
      }
      return std::make_unique<SigrokDevice>(context_, mutex_, device, std::move(info));
    } catch (const std::exception& e) {
      reason = What(e);
      return nullptr;
    }
  }

 private:
  std::shared_ptr<std::mutex> mutex_ = std::make_shared<std::mutex>();
  std::shared_ptr<sigrok::Context> context_;
};

}  // namespace

void RouteLibraryLog(LibraryLog level, std::function<void(const std::string& line)> onLine) {
  InstallLogOnce();
  const std::lock_guard lock(g_logMutex);
  g_level = level;
  g_onLine = std::move(onLine);
  sr_log_loglevel_set(std::max<int>(SR_LOG_ERR, static_cast<int>(level)));
}

std::string TakeLastLibraryError() {
  std::string e;
  e.swap(t_lastError);
  return e;
}

std::shared_ptr<Backend> MakeSigrokBackend() { return std::make_shared<SigrokBackend>(); }

}  // namespace instruments
