#include "drivers/Drivers.h"

#include <array>
#include <cstdlib>

#include "adapter/ErrorCodes.h"
#include "drivers/i2cdev/I2cDevDriver.h"
#include "drivers/sim/SimDriver.h"
#include "shell/Settings.h"
#include "shell/Text.h"

namespace {

constexpr std::array<DriverInfo, 2> kDrivers{{
    {"i2cdev", "Linux i2c-dev: USB-to-I2C/SMBus bridges seen as /dev/i2c-N", false,
     &CreateI2cDevControl, &I2cDevDiagnostics},
    {"sim", "simulated evaluation board with one rk5190 charger", true, &CreateSimControl,
     &SimDiagnostics},
}};

constexpr std::string_view kDefaultDriver = "i2cdev";

// Other names users type for a driver: the kernel module is i2c-dev.
constexpr std::array<std::pair<std::string_view, std::string_view>, 1> kAliases{{
    {"i2c-dev", "i2cdev"},
}};

std::string Hex2(int v) { return "0x" + Text::Hex(static_cast<uint32_t>(v & 0xFF), 2); }

// What the link hosts when no known driver is chosen: no adapter is ever listed.
class AbsentControl final : public Zentio {
 public:
  void ListFreeDevices(int32_t, int32_t& count, std::string& names) override {
    count = 0;
    names.clear();
  }
  int16_t OpenDevice(const std::string&) override { return -1; }
  void DeviceClose() override {}
  void ShowAboutBox() override {}
  int16_t QueryError() override { return VB_OK; }
  int16_t SmbWriteWord(int16_t, int16_t, int16_t) override { return VB_NO_USB; }
  int16_t SmbReadWord(int16_t, int16_t&, int16_t) override { return VB_NO_USB; }
  int16_t SmbSendCommand(int16_t, int16_t) override { return VB_NO_USB; }
  int16_t SmbWriteBlock(int16_t, const std::vector<uint8_t>&, int16_t, int16_t) override {
    return VB_NO_USB;
  }
  int16_t SmbReadBlock(int16_t, std::vector<uint8_t>&, int16_t& length, int16_t) override {
    length = 0;
    return VB_NO_USB;
  }
  int16_t SmbReadI2CBlock(int16_t, std::vector<uint8_t>&, int16_t& length, int16_t) override {
    length = 0;
    return VB_NO_USB;
  }
  int16_t SmbReadI2CBlockNoCmd(std::vector<uint8_t>&, int16_t& length, int16_t) override {
    length = 0;
    return VB_NO_USB;
  }
  int16_t SmbWriteI2CBlock(int16_t, const std::vector<uint8_t>&, int16_t, int16_t) override {
    return VB_NO_USB;
  }
  int16_t SmbWriteReadI2CBlock(int16_t, int16_t, int16_t, std::vector<uint8_t>&,
                               int16_t& lengthRead, int16_t) override {
    lengthRead = 0;
    return VB_NO_USB;
  }
  int16_t I2CBlockRead(int16_t, std::vector<uint8_t>&, int16_t, int16_t) override {
    return VB_NO_USB;
  }
  int16_t I2CBlockWrite(int16_t, const std::vector<uint8_t>&, int16_t, int16_t) override {
    return VB_NO_USB;
  }
  int16_t I2CByteOp(int32_t, int16_t, int16_t, int16_t&) override { return VB_NO_USB; }
  int16_t OneWireRead(int32_t, int16_t, int16_t&) override { return VB_NO_USB; }
  int16_t OneWireWrite(int32_t, int16_t, int16_t) override { return VB_NO_USB; }
  void Wait(int32_t) override {}
  int16_t GetVersion(int16_t&, int16_t&) override { return VB_NO_USB; }
  int16_t FlashFromSrec(const std::string&, const std::string&, const std::string&) override {
    return VB_NO_USB;
  }
  int16_t FlashProgram(int32_t, int32_t, const std::vector<uint8_t>&, int32_t, int32_t,
                       const std::vector<uint8_t>&, int32_t, int16_t) override {
    return VB_NO_USB;
  }
  int16_t FlashRead(int32_t, int32_t, std::vector<uint8_t>&, int32_t, std::vector<uint8_t>&,
                    int32_t, int16_t) override {
    return VB_NO_USB;
  }
};

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

std::unique_ptr<Zentio> CreateSelectedControl() {
  const Settings::Snapshot settings;
  const DriverInfo* d = FindDriver(SelectedDriverName(settings));
  if (d == nullptr) return CreateAbsentControl();
  return d->create(settings);
}

std::unique_ptr<Zentio> CreateAbsentControl() { return std::make_unique<AbsentControl>(); }

std::string SelectedDriverDiagnostics() {
  const DriverInfo* d = FindDriver(SelectedDriverName());
  if (d == nullptr) {
    std::string known;
    for (const auto& info : kDrivers) known += (known.empty() ? "" : ", ") + std::string(info.name);
    return "Unknown adapter driver '" + SelectedDriverName() + "' (known: " + known + ").\n";
  }
  return d->diagnostics != nullptr ? d->diagnostics() : std::string();
}

std::string NoAnswerNote(int target) {
  std::string note = "no answer at 8-bit " + Hex2(target) + " (7-bit " + Hex2(target >> 1) + ")";
  // The same number read as i2cdetect's 7-bit form, when it can be one.
  if (target >= 0 && target <= 0x7F)
    note += "; i2cdetect's " + Hex2(target) + " is Korvo's " + Hex2(target << 1);
  return note;
}
