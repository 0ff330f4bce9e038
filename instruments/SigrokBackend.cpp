// Loads korvo-sigrok.so and puts its C functions behind Backend and Device. Only C types cross:
// the module has a C++ runtime of its own, so no exception may travel through it either way.
#include "instruments/SigrokBackend.h"

#include <dlfcn.h>
#include <unistd.h>

#include <exception>
#include <filesystem>
#include <map>
#include <mutex>

#include "instruments/SigrokModule.h"
#include "instruments/SrWriter.h"

namespace instruments {

namespace {

struct Api {
  decltype(&korvo_sigrok_last_error) lastError;
  decltype(&korvo_sigrok_route_log) routeLog;
  decltype(&korvo_sigrok_create) create;
  decltype(&korvo_sigrok_destroy) destroy;
  decltype(&korvo_sigrok_check) check;
  decltype(&korvo_sigrok_open) open;
  decltype(&korvo_sigrok_info) info;
  decltype(&korvo_sigrok_read) read;
  decltype(&korvo_sigrok_interrupt) interrupt;
  decltype(&korvo_sigrok_close) close;
  decltype(&korvo_sigrok_writer_open) writerOpen;
  decltype(&korvo_sigrok_writer_append) writerAppend;
  decltype(&korvo_sigrok_writer_close) writerClose;
  decltype(&korvo_sigrok_session_read) sessionRead;
  decltype(&korvo_sigrok_session_contents) sessionContents;
  decltype(&korvo_sigrok_session_free) sessionFree;
};

// Modules stay loaded for the rest of the run: libsigrok's threads and glib do not take being
// unloaded. By path, so each is loaded (and handed the log route) once.
std::mutex g_mutex;
std::map<std::string, std::shared_ptr<const Api>> g_loaded;
int g_level = 0;
std::function<void(const std::string&)> g_onLine;

void OnLine(void* /*context*/, const char* line) {
  try {
    std::function<void(const std::string&)> onLine;
    {
      const std::lock_guard lock(g_mutex);
      onLine = g_onLine;
    }
    if (onLine) onLine(line);
  } catch (...) {
    // A failing route loses the line; it must not unwind through libsigrok.
  }
}

// dlerror() without the path it starts with, which the reason names already.
std::string DlError(const std::string& path) {
  const char* e = ::dlerror();
  std::string text = e ? e : "unknown error";
  if (text.rfind(path + ": ", 0) == 0) text.erase(0, path.size() + 2);
  return text;
}

// The module at path, or nullptr with the reason.
std::shared_ptr<const Api> Load(const std::string& path, std::string& reason) {
  const std::lock_guard lock(g_mutex);
  if (const auto it = g_loaded.find(path); it != g_loaded.end()) return it->second;
  const std::string failed = "cannot load the instrument module " + path + ": ";
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    reason = failed + DlError(path);
    return nullptr;
  }
  bool missing = false;
  auto sym = [&](const char* name) {
    void* p = ::dlsym(handle, name);
    if (p == nullptr && !missing) {
      missing = true;
      reason = failed + DlError(path);
    }
    return p;
  };
  auto version =
      reinterpret_cast<decltype(&korvo_sigrok_abi_version)>(sym("korvo_sigrok_abi_version"));
  if (missing) {
    ::dlclose(handle);
    return nullptr;
  }
  if (const int v = version(); v != KORVO_SIGROK_ABI_VERSION) {
    reason = failed + "interface version " + std::to_string(v) + ", expected " +
             std::to_string(KORVO_SIGROK_ABI_VERSION);
    ::dlclose(handle);
    return nullptr;
  }
  auto api = std::make_shared<Api>();
#define KORVO_SYM(field, name) api->field = reinterpret_cast<decltype(&name)>(sym(#name))
  KORVO_SYM(lastError, korvo_sigrok_last_error);
  KORVO_SYM(routeLog, korvo_sigrok_route_log);
  KORVO_SYM(create, korvo_sigrok_create);
  KORVO_SYM(destroy, korvo_sigrok_destroy);
  KORVO_SYM(check, korvo_sigrok_check);
  KORVO_SYM(open, korvo_sigrok_open);
  KORVO_SYM(info, korvo_sigrok_info);
  KORVO_SYM(read, korvo_sigrok_read);
  KORVO_SYM(interrupt, korvo_sigrok_interrupt);
  KORVO_SYM(close, korvo_sigrok_close);
  KORVO_SYM(writerOpen, korvo_sigrok_writer_open);
  KORVO_SYM(writerAppend, korvo_sigrok_writer_append);
  KORVO_SYM(writerClose, korvo_sigrok_writer_close);
  KORVO_SYM(sessionRead, korvo_sigrok_session_read);
  KORVO_SYM(sessionContents, korvo_sigrok_session_contents);
  KORVO_SYM(sessionFree, korvo_sigrok_session_free);
#undef KORVO_SYM
  if (missing) {
    ::dlclose(handle);
    return nullptr;
  }
  // Before the module makes a libsigrok context, so not one line reaches the terminal.
  api->routeLog(g_level, &OnLine, nullptr);
  g_loaded[path] = api;
  return api;
}

// The first of modulePaths that exists, loaded; when none does, the first one's error says where
// it was looked for.
std::shared_ptr<const Api> LoadFirst(const std::vector<std::string>& modulePaths,
                                     std::string& reason) {
  if (modulePaths.empty()) {
    reason = "no instrument module to load";
    return nullptr;
  }
  const std::string* chosen = &modulePaths.front();
  for (const std::string& path : modulePaths) {
    if (::access(path.c_str(), F_OK) == 0) {
      chosen = &path;
      break;
    }
  }
  const std::shared_ptr<const Api> api = Load(*chosen, reason);
  if (!api && ::access(chosen->c_str(), F_OK) != 0) {
    for (std::size_t i = 1; i < modulePaths.size(); ++i)
      reason +=
          (i == 1 ? " (nor at " : ", ") + modulePaths[i] + (i + 1 == modulePaths.size() ? ")" : "");
  }
  return api;
}

// A config as C sees it; valid while config and this live.
class CConfig {
 public:
  explicit CConfig(const InstrumentConfig& config) {
    for (const auto& [key, value] : config.options) {
      keys_.push_back(key.c_str());
      values_.push_back(value.c_str());
    }
    for (const std::string& c : config.channels) channels_.push_back(c.c_str());
    c_ = {config.driver.c_str(), keys_.data(),     values_.data(),
          keys_.size(),          channels_.data(), channels_.size()};
  }
  const korvo_sigrok_config* get() const { return &c_; }

 private:
  std::vector<const char*> keys_, values_, channels_;
  korvo_sigrok_config c_{};
};

std::string Text(const char* s) { return s ? s : ""; }

class ModuleDevice final : public Device {
 public:
  ModuleDevice(std::shared_ptr<const Api> api, korvo_sigrok_device* device)
      : api_(std::move(api)), device_(device) {
    const korvo_sigrok_device_info& i = *api_->info(device_);
    info_.driver = Text(i.driver);
    info_.vendor = Text(i.vendor);
    info_.model = Text(i.model);
    info_.version = Text(i.version);
    info_.serial = Text(i.serial);
    info_.connection = Text(i.connection);
    for (std::size_t c = 0; c < i.channel_count; ++c) {
      ChannelInfo ch;
      ch.name = Text(i.channels[c].name);
      ch.group = Text(i.channels[c].group);
      ch.enabled = i.channels[c].enabled != 0;
      info_.channels.push_back(std::move(ch));
    }
  }
  ~ModuleDevice() override { api_->close(device_); }

  const DeviceInfo& Info() const override { return info_; }

  bool Read(const std::function<void(const RawValue&)>& onValue, std::string& reason) override {
    Reading r{&onValue, {}, {}};
    const bool ok = api_->read(device_, &OnValue, &r) != 0;
    if (r.error) std::rethrow_exception(r.error);
    if (!ok) reason = Text(api_->lastError());
    return ok;
  }

  void Interrupt() override { api_->interrupt(device_); }

 private:
  struct Reading {
    const std::function<void(const RawValue&)>* onValue;
    RawValue value;
    std::exception_ptr error;  // thrown by onValue; rethrown once the module has returned
  };
  static void OnValue(void* context, const char* channel, const char* quantity, const char* unit,
                      double value) {
    auto& r = *static_cast<Reading*>(context);
    if (r.error) return;
    try {
      r.value.channel = Text(channel);
      r.value.quantity = Text(quantity);
      r.value.unit = Text(unit);
      r.value.value = value;
      (*r.onValue)(r.value);
    } catch (...) {
      r.error = std::current_exception();
    }
  }

  std::shared_ptr<const Api> api_;
  korvo_sigrok_device* device_;
  DeviceInfo info_;
};

class ModuleBackend final : public Backend {
 public:
  ModuleBackend(std::shared_ptr<const Api> api, korvo_sigrok_backend* backend)
      : api_(std::move(api)), backend_(backend) {}
  ~ModuleBackend() override { api_->destroy(backend_); }

  std::string Check(const InstrumentConfig& config) override {
    return api_->check(backend_, CConfig(config).get()) ? std::string() : Text(api_->lastError());
  }

  std::unique_ptr<Device> Open(const InstrumentConfig& config, std::string& reason) override {
    korvo_sigrok_device* d = api_->open(backend_, CConfig(config).get());
    if (d == nullptr) {
      reason = Text(api_->lastError());
      return nullptr;
    }
    return std::make_unique<ModuleDevice>(api_, d);
  }

 private:
  std::shared_ptr<const Api> api_;
  korvo_sigrok_backend* backend_;
};

// Without the module: nothing to check against, and every instrument absent for one reason.
class MissingBackend final : public Backend {
 public:
  explicit MissingBackend(std::string reason) : reason_(std::move(reason)) {}
  std::string Check(const InstrumentConfig&) override { return {}; }
  std::unique_ptr<Device> Open(const InstrumentConfig&, std::string& reason) override {
    reason = reason_;
    return nullptr;
  }

 private:
  std::string reason_;
};

}  // namespace

void RouteLibraryLog(LibraryLog level, std::function<void(const std::string& line)> onLine) {
  std::vector<std::shared_ptr<const Api>> loaded;
  {
    const std::lock_guard lock(g_mutex);
    g_level = static_cast<int>(level);
    g_onLine = std::move(onLine);
    for (const auto& [path, api] : g_loaded) loaded.push_back(api);
  }
  for (const auto& api : loaded) api->routeLog(static_cast<int>(level), &OnLine, nullptr);
}

std::vector<std::string> SigrokModulePaths() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::filesystem::path dir = ec ? std::filesystem::path(".") : exe.parent_path();
  return {(dir / KORVO_SIGROK_MODULE_NAME).string(),
          (dir / ".." / "lib" / "korvo" / KORVO_SIGROK_MODULE_NAME).lexically_normal().string()};
}

std::shared_ptr<Backend> MakeSigrokBackend(const std::vector<std::string>& modulePaths) {
  std::string reason;
  const std::shared_ptr<const Api> api = LoadFirst(modulePaths, reason);
  if (!api) return std::make_shared<MissingBackend>(reason);
  korvo_sigrok_backend* backend = api->create();
  if (backend == nullptr) return std::make_shared<MissingBackend>(Text(api->lastError()));
  return std::make_shared<ModuleBackend>(api, backend);
}

struct SrWriter::Impl {
  std::shared_ptr<const Api> api;
  korvo_sigrok_writer* writer = nullptr;
};

std::unique_ptr<SrWriter> SrWriter::Create(const std::string& path, const SrLayout& layout,
                                           std::string& reason,
                                           const std::vector<std::string>& modulePaths) {
  auto impl = std::make_unique<Impl>();
  impl->api = LoadFirst(modulePaths, reason);
  if (!impl->api) return nullptr;
  std::vector<const char*> logic, analog;
  for (const std::string& n : layout.logic) logic.push_back(n.c_str());
  for (const std::string& n : layout.analog) analog.push_back(n.c_str());
  impl->writer = impl->api->writerOpen(path.c_str(), layout.samplerate, logic.data(), logic.size(),
                                       analog.data(), analog.size());
  if (impl->writer == nullptr) {
    reason = Text(impl->api->lastError());
    return nullptr;
  }
  return std::unique_ptr<SrWriter>(new SrWriter(std::move(impl), layout));
}

SrWriter::SrWriter(std::unique_ptr<Impl> impl, SrLayout layout)
    : impl_(std::move(impl)), layout_(std::move(layout)) {}

SrWriter::~SrWriter() { Close(); }

bool SrWriter::Append(std::size_t count, const std::vector<uint8_t>& logic,
                      const std::vector<float>& analog) {
  if (impl_->writer == nullptr || !error_.empty()) return false;
  if (logic.size() < count * LogicUnitSize() || analog.size() < count * layout_.analog.size()) {
    error_ = "too few samples for the channels";
    return false;
  }
  if (impl_->api->writerAppend(impl_->writer, count, logic.data(), analog.data()) == 0) {
    error_ = Text(impl_->api->lastError());
    if (error_.empty()) error_ = "libsigrok could not write the file";
    return false;
  }
  return true;
}

bool SrWriter::Close() {
  if (impl_->writer == nullptr) return error_.empty();
  const bool ok = impl_->api->writerClose(impl_->writer) != 0;
  impl_->writer = nullptr;
  if (!ok && error_.empty()) {
    error_ = Text(impl_->api->lastError());
    if (error_.empty()) error_ = "libsigrok could not end the file";
  }
  return error_.empty();
}

SessionRead ReadSession(const std::string& path, const std::vector<std::string>& modulePaths,
                        const std::function<void(const korvo_sigrok_session_data&)>& use,
                        std::string& reason) {
  const std::shared_ptr<const Api> api = LoadFirst(modulePaths, reason);
  if (!api) return SessionRead::kNoModule;
  korvo_sigrok_session* session = api->sessionRead(path.c_str());
  if (session == nullptr) {
    reason = Text(api->lastError());
    if (reason.empty()) reason = "unknown error";
    return SessionRead::kUnreadable;
  }
  // Freed however use ends.
  const std::unique_ptr<korvo_sigrok_session, decltype(api->sessionFree)> held(session,
                                                                              api->sessionFree);
  use(*api->sessionContents(session));
  return SessionRead::kOk;
}

std::string SrUnavailableReason(const std::vector<std::string>& modulePaths) {
  std::string reason;
  return LoadFirst(modulePaths, reason) ? std::string() : reason;
}

}  // namespace instruments
