#include "foundation/Settings.h"

#include <algorithm>
#include <utility>

#include "foundation/IniFile.h"
#include "foundation/Paths.h"

namespace modGlobals {
int32_t BitHi = Settings::kDefaultBitHi;
int32_t BitLo = Settings::kDefaultBitLo;
int32_t BitUnknown = Settings::kDefaultBitUnknown;
int16_t DeviceAddress = Settings::kDefaultAddress;
bool I2CMode = false;
bool VerifyWrite = true;
int16_t ReadRetryCount = 0;
}  // namespace modGlobals

namespace Settings {

namespace {
std::string& ChosenFile() {
  static std::string file;
  return file;
}
}  // namespace

std::string DefaultFile() {
  return Paths::Join(Paths::ProgramDir(), Paths::ProgramBaseName() + ".ini");
}

std::string LookUp(const std::string& beside) {
  return Paths::FindSettingsFile(beside, Paths::ConfigDirs::FromEnvironment()).value_or(beside);
}

const std::string& File() {
  if (!ChosenFile().empty()) return ChosenFile();
  // Worked out afresh each time, so a test that moves the program directory is followed.
  static std::string found;
  found = LookUp(DefaultFile());
  return found;
}

std::string FileReadText() {
  const std::string& file = File();
  return Paths::IsReadableFile(file) ? file : "none: defaults";
}

// An empty path goes back to the lookup: beside the executable, then the XDG directories.
void SetFile(std::string path) { ChosenFile() = std::move(path); }

Snapshot::Snapshot() : Snapshot(Load(File()).value_or(Snapshot(nullptr, File()))) {}

std::optional<Snapshot> Snapshot::Load(const std::string& path) {
  std::optional<IniFile> ini = IniFile::Load(path);
  if (!ini) return std::nullopt;
  return Snapshot(std::make_shared<const IniFile>(std::move(*ini)), path);
}

Snapshot Snapshot::With(std::string_view section, std::string_view key, std::string value) const {
  IniFile copy = ini_ ? *ini_ : IniFile();
  copy.Set(section, key, std::move(value));
  return Snapshot(std::make_shared<const IniFile>(std::move(copy)), path_);
}

int32_t Snapshot::GetInt(std::string_view section, std::string_view key, int32_t def) const {
  return ini_ ? ini_->Int(section, key, def) : def;
}

std::string Snapshot::GetString(std::string_view section, std::string_view key,
                                const std::string& def) const {
  static const IniFile kNoFile;
  return (ini_ ? *ini_ : kNoFile).String(section, key, def);
}

int32_t GetInt(std::string_view section, std::string_view key, int32_t def) {
  return GetPrivateProfileInt(section, key, def, File());
}

std::string GetString(std::string_view section, std::string_view key, const std::string& def) {
  return GetPrivateProfileString(section, key, def, File());
}

int16_t ClampToInt16(int32_t v) {
  if (v > INT16_MAX) return INT16_MAX;
  if (v < INT16_MIN) return INT16_MIN;
  return static_cast<int16_t>(v);
}

void LoadColors(const Snapshot& file) {
  modGlobals::BitHi = file.GetInt("Colors", "BitHi", kDefaultBitHi);
  modGlobals::BitLo = file.GetInt("Colors", "BitLo", kDefaultBitLo);
  modGlobals::BitUnknown = file.GetInt("Colors", "BitUnknown", kDefaultBitUnknown);
}

void LoadColors() { LoadColors(Snapshot()); }

CommSettings ReadCommSettings(const Snapshot& file) {
  CommSettings c;
  c.deviceAddress = ClampToInt16(file.GetInt("Target", "Address", kDefaultAddress));
  c.i2cMode = file.GetInt("Settings", "CommMode", 1) == 0;
  c.verifyWrite = file.GetInt("Settings", "VerifyWrite", 1) != 0;
  c.readRetryCount = std::max<int16_t>(ClampToInt16(file.GetInt("Settings", "ReadRetryCount", 0)), 0);
  return c;
}

CommSettings CurrentCommSettings() {
  return {modGlobals::DeviceAddress, modGlobals::I2CMode, modGlobals::VerifyWrite,
          modGlobals::ReadRetryCount};
}

void LoadCommSettings(const Snapshot& file) {
  const CommSettings c = ReadCommSettings(file);
  modGlobals::DeviceAddress = c.deviceAddress;
  modGlobals::I2CMode = c.i2cMode;
  modGlobals::VerifyWrite = c.verifyWrite;
  modGlobals::ReadRetryCount = c.readRetryCount;
}

void LoadCommSettings() { LoadCommSettings(Snapshot()); }

void ResetToDefaults() {
  modGlobals::BitHi = kDefaultBitHi;
  modGlobals::BitLo = kDefaultBitLo;
  modGlobals::BitUnknown = kDefaultBitUnknown;
  modGlobals::DeviceAddress = kDefaultAddress;
  modGlobals::I2CMode = false;
  modGlobals::VerifyWrite = true;
  modGlobals::ReadRetryCount = 0;
}

}  // namespace Settings
