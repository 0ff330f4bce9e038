#include "drivers/Drivers.h"

#include <array>
#include <cstdlib>

#include "adapter/ZentioDefaults.h"
#include "drivers/i2cdev/I2cDevDriver.h"
#include "drivers/sim/SimDriver.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"

namespace {

constexpr std::array<DriverInfo, 2> kDrivers{{
    {"i2cdev", "Linux i2c-dev: USB-to-I2C/SMBus bridges seen as /dev/i2c-N", false,
     &CreateI2cDevControl, &CreateI2cDevControl, &I2cDevDiagnostics},
    {"sim", "simulated evaluation board with one rk5190 charger", true, &CreateSimControl,
     &CreateOwnSimControl, &SimDiagnostics},
}};

constexpr std::string_view kDefaultDriver = "i2cdev";

// Other names users type for a driver: the kernel module is i2c-dev.
constexpr std::array<std::pair<std::string_view, std::string_view>, 1> kAliases{{
    {"i2c-dev", "i2cdev"},
}};

}  // namespace

std::span<const DriverInfo> AllDrivers() { return kDrivers; }

const DriverInfo* FindDriver(std::string_view name) {
  for (const auto& [alias, driver] : kAliases)
    if (Text::EqualsNoCase(name, alias)) name = driver;
  for (const auto& d : kDrivers)
    if (Text::EqualsNoCase(d.name, name)) return &d;
  return nullptr;
}

std::string SelectedDriverName(const Settings::Snapshot& settings) {
  if (const char* env = std::getenv("KORVO_ADAPTER"); env != nullptr && *env != '\0') return env;
  std::string fromFile = settings.GetString("Adapter", "Driver", "");
  if (!fromFile.empty()) return fromFile;
  return std::string(kDefaultDriver);
}

std::string SelectedDriverName() {
  if (const char* env = std::getenv("KORVO_ADAPTER"); env != nullptr && *env != '\0') return env;
  return SelectedDriverName(Settings::Snapshot());
}

std::unique_ptr<Zentio> CreateSelectedControl() { return CreateSelectedControlFrom(Settings::Snapshot()); }

std::unique_ptr<Zentio> CreateSelectedControlFrom(const Settings::Snapshot& settings) {
  const DriverInfo* d = FindDriver(SelectedDriverName(settings));
  if (d == nullptr) return CreateAbsentControl();
  return d->create(settings);
}

std::unique_ptr<Zentio> CreateOwnControl(std::string_view driverName,
                                         const Settings::Snapshot& settings) {
  const DriverInfo* d = FindDriver(driverName);
  return d != nullptr ? d->createOwn(settings) : nullptr;
}

std::string SelectedDriverDiagnostics() {
  const DriverInfo* d = FindDriver(SelectedDriverName());
  if (d == nullptr) {
    std::string known;
    for (const auto& info : kDrivers) known += (known.empty() ? "" : ", ") + std::string(info.name);
    return "Unknown adapter driver '" + SelectedDriverName() + "' (known: " + known + ").\n";
  }
  return d->diagnostics != nullptr ? d->diagnostics() : std::string();
}
