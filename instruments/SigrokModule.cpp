// korvo-sigrok.so: libsigrokcxx's drivers, scan options, devices and analog packets behind the C
// functions of SigrokModule.h. libsigrok does all the instrument work; nothing here speaks an
// instrument's protocol. Every entry point catches all: no exception leaves the module.
#include "instruments/SigrokModule.h"

#include <fcntl.h>
#include <libsigrokcxx/libsigrokcxx.hpp>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "instruments/Instrument.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// libsigrokcxx 0.5.2 never frees the C packet behind a packet its create_*_packet make, nor some
// of what loading a session allocates: a few dozen bytes a packet, a chunk of ten seconds being
// a handful of packets. Under the leak checker those library allocations are left out, and only
// those: the scopes below hold library calls alone.
#if defined(__SANITIZE_ADDRESS__)
using LibraryAllocations = __lsan::ScopedDisabler;
#else
struct LibraryAllocations {};
#endif

using namespace instruments;

std::mutex g_logMutex;
int g_level = 0;
std::function<void(const std::string&)> g_onLine;
thread_local std::string t_lastError;  // of libsigrok
thread_local std::string t_reason;     // of the last failed entry point

std::string TakeLastLibraryError() {
  std::string e;
  e.swap(t_lastError);
  return e;
}

int OnLibraryLog(void* /*data*/, int level, const char* format, va_list args) {
  char buf[1024];
  std::vsnprintf(buf, sizeof buf, format, args);
  std::string line(buf);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (level <= SR_LOG_ERR) t_lastError = line;
  std::function<void(const std::string&)> onLine;
  {
    const std::lock_guard lock(g_logMutex);
    if (level <= g_level) onLine = g_onLine;
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
  for (char& c : s)
    c = c == '_' ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
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

// An analog packet's samples as floats, sample by sample, each sample holding every channel in
// channels' order; empty when the packet holds none.
struct AnalogSamples {
  std::shared_ptr<sigrok::Analog> analog;
  std::vector<std::shared_ptr<sigrok::Channel>> channels;
  unsigned count = 0;
  std::vector<float> values;
  float At(unsigned sample, std::size_t channel) const {
    return values[sample * channels.size() + channel];
  }
};

AnalogSamples SamplesOf(sigrok::Packet& packet) {
  AnalogSamples a;
  a.analog = std::dynamic_pointer_cast<sigrok::Analog>(packet.payload());
  if (!a.analog) return a;
  const unsigned n = a.analog->num_samples();
  a.channels = a.analog->channels();
  if (n == 0 || a.channels.empty()) return a;
  a.count = n;
  a.values.resize(static_cast<std::size_t>(n) * a.channels.size());
  a.analog->get_data_as_float(a.values.data());
  return a;
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
    const AnalogSamples a = SamplesOf(packet);
    if (a.count == 0) return;
    RawValue v;
    v.quantity = Lower(a.analog->mq()->name());
    v.unit = UnitSymbol(a.analog->unit());
    // The last sample of each channel: the newest reading.
    for (std::size_t c = 0; c < a.channels.size(); ++c) {
      v.channel = a.channels[c]->name();
      v.value = a.At(a.count - 1, c);
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

  std::string Check(const InstrumentConfig& config) override {
    const std::lock_guard lock(*mutex_);
    return CheckLocked(config);
  }

  std::string CheckLocked(const InstrumentConfig& config) {
    const auto drivers = context_->drivers();
    const auto d = drivers.find(config.driver);
    if (d == drivers.end())
      return "unknown driver '" + config.driver + "' (sigrok-cli -L lists the drivers)";
    std::set<const sigrok::ConfigKey*> scanOptions;
    try {
      scanOptions = d->second->scan_options();
    } catch (const std::exception&) {
      // A driver without scan options takes none.
    }
    for (const auto& [key, value] : config.options) {
      const sigrok::ConfigKey* k = nullptr;
      try {
        k = sigrok::ConfigKey::get_by_identifier(key);
      } catch (const std::exception&) {
      }
      if (k == nullptr || scanOptions.count(k) == 0) {
        std::string known;
        for (const sigrok::ConfigKey* o : scanOptions)
          known += (known.empty() ? "" : ", ") + o->identifier();
        return "driver '" + config.driver + "' has no option '" + key +
               "' (it takes: " + (known.empty() ? std::string("none") : known) + ")";
      }
      try {
        (void)k->parse_string(value);
      } catch (const std::exception&) {
        return "invalid value '" + value + "' for option '" + key + "'";
      }
    }
    return {};
  }

  std::unique_ptr<Device> Open(const InstrumentConfig& config, std::string& reason) override {
    // libsigrok keeps a driver's state in the driver itself, whatever the context: scanning,
    // opening and closing take turns. Readings do not: each device has its own session.
    const std::lock_guard lock(*mutex_);
    if (reason = CheckLocked(config); !reason.empty()) return nullptr;
    TakeLastLibraryError();
    try {
      auto driver = context_->drivers().at(config.driver);
      std::map<const sigrok::ConfigKey*, Glib::VariantBase> options;
      for (const auto& [key, value] : config.options) {
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
      info.driver = config.driver;
      info.vendor = device->vendor();
      info.model = device->model();
      info.version = device->version();
      info.serial = device->serial_number();
      info.connection = device->connection_id();
      const auto groups = device->channel_groups();
      std::vector<std::string> unknown = config.channels;
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
        c.enabled = config.channels.empty() ||
                    std::find(config.channels.begin(), config.channels.end(), c.name) !=
                        config.channels.end();
        std::erase(unknown, c.name);
        ch->set_enabled(c.enabled);
        info.channels.push_back(std::move(c));
      }
      if (!unknown.empty()) {
        std::string names;
        for (const auto& ch : info.channels) names += (names.empty() ? "" : " ") + ch.name;
        reason = "no analog channel '" + unknown.front() +
                 "' (it has: " + (names.empty() ? std::string("none") : names) + ")";
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

// A .sr file through libsigrok's srzip output, fed as a device of our own would feed it. The
// output opens, appends to and closes the zip archive for every packet: callers send few, large
// ones.
class SrzipWriter {
 public:
  SrzipWriter(const std::string& path, uint64_t samplerate, const std::vector<std::string>& logic,
              const std::vector<std::string>& analog) {
    InstallLogOnce();
    // srzip makes the file with the first packet and says little when it cannot: try it here,
    // for the system's own reason.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) throw std::runtime_error(std::strerror(errno));
    ::close(fd);
    context_ = sigrok::Context::create();
    device_ = context_->create_user_device("Korvo", "recording", "");
    unsigned index = 0;
    for (const std::string& name : logic)
      device_->add_channel(index++, sigrok::ChannelType::LOGIC, name);
    // srzip ends its list of analog channels at index 0: none may have it.
    if (index == 0) index = 1;
    for (const std::string& name : analog)
      analog_.push_back(device_->add_channel(index++, sigrok::ChannelType::ANALOG, name));
    unitSize_ = (logic.size() + 7) / 8;
    TakeLastLibraryError();
    try {
      [[maybe_unused]] const LibraryAllocations library;
      output_ = context_->output_formats().at("srzip")->create_output(path, device_);
      output_->receive(context_->create_meta_packet(
          {{sigrok::ConfigKey::SAMPLERATE, Glib::Variant<guint64>::create(samplerate)}}));
      // An empty first chunk makes the archive, its channels and rate now.
      unsigned char none = 0;
      if (unitSize_ > 0) {
        output_->receive(context_->create_logic_packet(&none, 0, unitSize_));
      } else if (!analog_.empty()) {
        float nothing = 0;
        output_->receive(context_->create_analog_packet({analog_.front()}, &nothing, 0,
                                                        sigrok::Quantity::VOLTAGE,
                                                        sigrok::Unit::VOLT, {}));
      }
    } catch (const std::exception& e) {
      throw std::runtime_error(What(e));
    }
  }

  void Append(std::size_t count, const unsigned char* logic, const float* analog) {
    if (count == 0) return;
    TakeLastLibraryError();
    try {
      [[maybe_unused]] const LibraryAllocations library;
      if (unitSize_ > 0)
        output_->receive(context_->create_logic_packet(const_cast<unsigned char*>(logic),
                                                       count * unitSize_, unitSize_));
      // One channel a packet: what srzip takes. Units are in the names; the file keeps none.
      std::vector<float> run(count);
      for (std::size_t c = 0; c < analog_.size(); ++c) {
        std::copy(analog + c * count, analog + (c + 1) * count, run.begin());
        output_->receive(context_->create_analog_packet({analog_[c]}, run.data(),
                                                        static_cast<unsigned>(count),
                                                        sigrok::Quantity::VOLTAGE,
                                                        sigrok::Unit::VOLT, {}));
      }
    } catch (const std::exception& e) {
      throw std::runtime_error(What(e));
    }
  }

  void Close() {
    TakeLastLibraryError();
    try {
      [[maybe_unused]] const LibraryAllocations library;
      output_->receive(context_->create_end_packet());
      output_.reset();
    } catch (const std::exception& e) {
      throw std::runtime_error(What(e));
    }
  }

 private:
  std::shared_ptr<sigrok::Context> context_;
  std::shared_ptr<sigrok::UserDevice> device_;
  std::vector<std::shared_ptr<sigrok::Channel>> analog_;
  std::shared_ptr<sigrok::Output> output_;
  std::size_t unitSize_ = 0;
};

// A .sr file read whole through libsigrok's session loader, as sigrok-cli -i reads one: its
// samples arrive as the datafeed of a session that replays the file.
class SessionReader {
 public:
  explicit SessionReader(const std::string& path) {
    InstallLogOnce();
    // The loader says little about a file it cannot open: try it here, for the system's reason.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error(std::strerror(errno));
    ::close(fd);
    TakeLastLibraryError();
    try {
      [[maybe_unused]] const LibraryAllocations library;
      context_ = sigrok::Context::create();
      std::shared_ptr<sigrok::Session> session = context_->load_session(path);
      const auto devices = session->devices();
      if (devices.empty()) throw std::runtime_error("the session holds no device");
      const std::shared_ptr<sigrok::Device> device = devices.front();
      for (const auto& ch : device->channels()) {
        if (ch->type() == sigrok::ChannelType::LOGIC) {
          logicIndex_.push_back(ch->index());
          logicNames_.push_back(ch->name());
        } else if (ch->type() == sigrok::ChannelType::ANALOG) {
          analogOf_[ch->name()] = analogNames_.size();
          analogNames_.push_back(ch->name());
        }
      }
      analog_.resize(analogNames_.size());
      try {
        const Glib::VariantBase rate = device->config_get(sigrok::ConfigKey::SAMPLERATE);
        data_.samplerate =
            Glib::VariantBase::cast_dynamic<Glib::Variant<guint64>>(rate).get();
      } catch (const std::exception&) {
        // Not every session names its rate up front; a meta packet may.
      }
      session->add_datafeed_callback(
          [this](std::shared_ptr<sigrok::Device>, std::shared_ptr<sigrok::Packet> packet) {
            OnPacket(*packet);
          });
      session->start();
      session->run();
      session->remove_datafeed_callbacks();
    } catch (const std::exception& e) {
      throw std::runtime_error(What(e));
    }
    Finish();
  }

  const korvo_sigrok_session_data& Data() const { return data_; }

 private:
  void OnPacket(sigrok::Packet& packet) {
    if (packet.type() == sigrok::PacketType::META) {
      auto meta = std::dynamic_pointer_cast<sigrok::Meta>(packet.payload());
      if (!meta) return;
      for (const auto& [key, value] : meta->config())
        if (key == sigrok::ConfigKey::SAMPLERATE)
          data_.samplerate =
              Glib::VariantBase::cast_dynamic<Glib::Variant<guint64>>(value).get();
    } else if (packet.type() == sigrok::PacketType::LOGIC) {
      auto logic = std::dynamic_pointer_cast<sigrok::Logic>(packet.payload());
      if (!logic || logic->unit_size() == 0) return;
      const std::size_t in = logic->unit_size(), out = (logicIndex_.size() + 7) / 8;
      const std::size_t n = logic->data_length() / in;
      const auto* from = static_cast<const unsigned char*>(logic->data_pointer());
      // Channel i of ours in bit i, wherever the file kept it.
      for (std::size_t s = 0; s < n; ++s) {
        const unsigned char* unit = from + s * in;
        const std::size_t at = logic_.size();
        logic_.resize(at + out, 0);
        for (std::size_t i = 0; i < logicIndex_.size(); ++i) {
          const unsigned idx = logicIndex_[i];
          if (idx / 8 < in && ((unit[idx / 8] >> (idx % 8)) & 1) != 0)
            logic_[at + i / 8] |= static_cast<unsigned char>(1u << (i % 8));
        }
      }
      logicSamples_ += n;
    } else if (packet.type() == sigrok::PacketType::ANALOG) {
      const AnalogSamples a = SamplesOf(packet);
      for (std::size_t c = 0; c < a.channels.size() && a.count > 0; ++c) {
        const auto it = analogOf_.find(a.channels[c]->name());
        if (it == analogOf_.end()) continue;
        std::vector<float>& to = analog_[it->second];
        for (unsigned s = 0; s < a.count; ++s) to.push_back(a.At(s, c));
      }
    }
  }

  // The C view of what came: names, logic units and the analog channels end to end.
  void Finish() {
    std::size_t most = 0;
    for (const auto& a : analog_) most = std::max(most, a.size());
    flat_.reserve(most * analog_.size());
    for (auto& a : analog_) {
      a.resize(most, std::numeric_limits<float>::quiet_NaN());
      flat_.insert(flat_.end(), a.begin(), a.end());
      a = {};
    }
    for (const std::string& n : logicNames_) logicC_.push_back(n.c_str());
    for (const std::string& n : analogNames_) analogC_.push_back(n.c_str());
    data_.logic_names = logicC_.data();
    data_.logic_count = logicC_.size();
    data_.analog_names = analogC_.data();
    data_.analog_count = analogC_.size();
    data_.logic_samples = logicSamples_;
    data_.logic = logic_.data();
    data_.analog_samples = most;
    data_.analog = flat_.data();
  }

  std::shared_ptr<sigrok::Context> context_;
  std::vector<unsigned> logicIndex_;
  std::vector<std::string> logicNames_, analogNames_;
  std::map<std::string, std::size_t> analogOf_;
  std::vector<unsigned char> logic_;
  std::size_t logicSamples_ = 0;
  std::vector<std::vector<float>> analog_;
  std::vector<float> flat_;
  std::vector<const char*> logicC_, analogC_;
  korvo_sigrok_session_data data_{};
};

InstrumentConfig ConfigOf(const korvo_sigrok_config& c) {
  InstrumentConfig s;
  s.driver = c.driver ? c.driver : "";
  for (size_t i = 0; i < c.option_count; ++i)
    s.options.emplace_back(c.option_keys[i], c.option_values[i]);
  for (size_t i = 0; i < c.channel_count; ++i) s.channels.emplace_back(c.channels[i]);
  return s;
}

// Runs an entry point: whatever escapes it becomes the calling thread's last error.
template <typename R, typename F>
R Guarded(R failed, F&& f) noexcept {
  try {
    return f();
  } catch (const std::exception& e) {
    t_reason = e.what();
  } catch (...) {
    t_reason = "unexpected failure in " KORVO_SIGROK_MODULE_NAME;
  }
  return failed;
}

}  // namespace

struct korvo_sigrok_backend {
  SigrokBackend backend;
};

struct korvo_sigrok_device {
  std::unique_ptr<Device> device;
  // The device's info as C sees it, pointing into the device's own DeviceInfo.
  std::vector<korvo_sigrok_channel> channels;
  korvo_sigrok_device_info info{};
};

struct korvo_sigrok_writer {
  std::unique_ptr<SrzipWriter> writer;
};

struct korvo_sigrok_session {
  std::unique_ptr<SessionReader> reader;
};

#define KORVO_EXPORT __attribute__((visibility("default")))

extern "C" {

KORVO_EXPORT int korvo_sigrok_abi_version(void) { return KORVO_SIGROK_ABI_VERSION; }

KORVO_EXPORT const char* korvo_sigrok_last_error(void) { return t_reason.c_str(); }

KORVO_EXPORT void korvo_sigrok_route_log(int level, korvo_sigrok_log_fn on_line, void* context) {
  Guarded(0, [&] {
    InstallLogOnce();
    const std::lock_guard lock(g_logMutex);
    g_level = level;
    g_onLine = nullptr;
    if (on_line != nullptr)
      g_onLine = [on_line, context](const std::string& line) { on_line(context, line.c_str()); };
    sr_log_loglevel_set(std::max<int>(SR_LOG_ERR, level));
    return 0;
  });
}

KORVO_EXPORT korvo_sigrok_backend* korvo_sigrok_create(void) {
  return Guarded<korvo_sigrok_backend*>(nullptr, [] { return new korvo_sigrok_backend; });
}

KORVO_EXPORT void korvo_sigrok_destroy(korvo_sigrok_backend* backend) {
  Guarded(0, [&] {
    delete backend;
    return 0;
  });
}

KORVO_EXPORT int korvo_sigrok_check(korvo_sigrok_backend* backend,
                                    const korvo_sigrok_config* config) {
  return Guarded(0, [&] {
    t_reason = backend->backend.Check(ConfigOf(*config));
    return t_reason.empty() ? 1 : 0;
  });
}

KORVO_EXPORT korvo_sigrok_device* korvo_sigrok_open(korvo_sigrok_backend* backend,
                                                    const korvo_sigrok_config* config) {
  return Guarded<korvo_sigrok_device*>(nullptr, [&]() -> korvo_sigrok_device* {
    std::string reason;
    std::unique_ptr<Device> device = backend->backend.Open(ConfigOf(*config), reason);
    if (!device) {
      t_reason = reason;
      return nullptr;
    }
    auto d = std::make_unique<korvo_sigrok_device>();
    d->device = std::move(device);
    const DeviceInfo& i = d->device->Info();
    for (const ChannelInfo& c : i.channels)
      d->channels.push_back({c.name.c_str(), c.group.c_str(), c.enabled ? 1 : 0});
    d->info = {i.driver.c_str(), i.vendor.c_str(),     i.model.c_str(),    i.version.c_str(),
               i.serial.c_str(), i.connection.c_str(), d->channels.data(), d->channels.size()};
    return d.release();
  });
}

KORVO_EXPORT const korvo_sigrok_device_info* korvo_sigrok_info(const korvo_sigrok_device* device) {
  return &device->info;
}

KORVO_EXPORT int korvo_sigrok_read(korvo_sigrok_device* device, korvo_sigrok_value_fn on_value,
                                   void* context) {
  return Guarded(0, [&] {
    std::string reason;
    const bool ok = device->device->Read(
        [&](const RawValue& v) {
          on_value(context, v.channel.c_str(), v.quantity.c_str(), v.unit.c_str(), v.value);
        },
        reason);
    if (!ok) t_reason = reason;
    return ok ? 1 : 0;
  });
}

KORVO_EXPORT void korvo_sigrok_interrupt(korvo_sigrok_device* device) {
  Guarded(0, [&] {
    device->device->Interrupt();
    return 0;
  });
}

KORVO_EXPORT void korvo_sigrok_close(korvo_sigrok_device* device) {
  Guarded(0, [&] {
    delete device;
    return 0;
  });
}

KORVO_EXPORT korvo_sigrok_writer* korvo_sigrok_writer_open(const char* path,
                                                           unsigned long long samplerate,
                                                           const char* const* logic_names,
                                                           size_t logic_count,
                                                           const char* const* analog_names,
                                                           size_t analog_count) {
  return Guarded<korvo_sigrok_writer*>(nullptr, [&] {
    const std::vector<std::string> logic(logic_names, logic_names + logic_count);
    const std::vector<std::string> analog(analog_names, analog_names + analog_count);
    auto w = std::make_unique<korvo_sigrok_writer>();
    w->writer = std::make_unique<SrzipWriter>(path, samplerate, logic, analog);
    return w.release();
  });
}

KORVO_EXPORT int korvo_sigrok_writer_append(korvo_sigrok_writer* writer, size_t count,
                                            const unsigned char* logic, const float* analog) {
  return Guarded(0, [&] {
    writer->writer->Append(count, logic, analog);
    return 1;
  });
}

KORVO_EXPORT int korvo_sigrok_writer_close(korvo_sigrok_writer* writer) {
  const int ok = Guarded(0, [&] {
    writer->writer->Close();
    return 1;
  });
  Guarded(0, [&] {
    delete writer;
    return 0;
  });
  return ok;
}

KORVO_EXPORT korvo_sigrok_session* korvo_sigrok_session_read(const char* path) {
  return Guarded<korvo_sigrok_session*>(nullptr, [&] {
    auto s = std::make_unique<korvo_sigrok_session>();
    s->reader = std::make_unique<SessionReader>(path);
    return s.release();
  });
}

KORVO_EXPORT const korvo_sigrok_session_data* korvo_sigrok_session_contents(
    const korvo_sigrok_session* session) {
  return &session->reader->Data();
}

KORVO_EXPORT void korvo_sigrok_session_free(korvo_sigrok_session* session) {
  Guarded(0, [&] {
    delete session;
    return 0;
  });
}

}  // extern "C"
