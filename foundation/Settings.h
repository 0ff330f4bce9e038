// Application-wide settings, read once from the settings file (beside the executable, or the
// user's or the system's XDG configuration directory).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class IniFile;

namespace modGlobals {
extern int32_t BitHi;
extern int32_t BitLo;
extern int32_t BitUnknown;
extern int16_t DeviceAddress;
extern bool I2CMode;
extern bool VerifyWrite;
extern int16_t ReadRetryCount;
}  // namespace modGlobals

namespace Settings {

inline constexpr int32_t kDefaultBitHi = 8356095;        // 0x7F80FF
inline constexpr int32_t kDefaultBitLo = 8371968;        // 0x7FBF00
inline constexpr int32_t kDefaultBitUnknown = 13619151;  // 0xCFCFCF
inline constexpr int16_t kDefaultAddress = 103;          // 0x67

// <directory of the running executable>/<its base name>.ini when it exists, else the first
// readable XDG one (Paths::SettingsCandidates); unless SetFile chose another.
const std::string& File();
void SetFile(std::string path);
std::string DefaultFile();
// beside when it exists, else the first readable XDG settings file; beside when none is.
std::string LookUp(const std::string& beside);
// What About and korvoctl --version name: File() when it can be read, else "none: defaults".
std::string FileReadText();

// The settings file read and parsed once, for a load that reads several keys: the keys read
// with the private-profile rules, as GetInt and GetString below. A file that is absent or
// cannot be read holds no keys.
class Snapshot {
 public:
  Snapshot();  // File() as it is now
  // nullopt when path cannot be read.
  static std::optional<Snapshot> Load(const std::string& path);
  // No file at all: every key gives its default.
  static Snapshot Empty() { return Snapshot(nullptr, ""); }
  // This snapshot with one key set, for an option that overrides the file for one run.
  Snapshot With(std::string_view section, std::string_view key, std::string value) const;

  int32_t GetInt(std::string_view section, std::string_view key, int32_t def) const;
  std::string GetString(std::string_view section, std::string_view key,
                        const std::string& def = "") const;
  // The file it was read from (or meant to be): relative paths in it are relative to its folder.
  const std::string& Path() const { return path_; }

 private:
  Snapshot(std::shared_ptr<const IniFile> ini, std::string path)
      : ini_(std::move(ini)), path_(std::move(path)) {}
  std::shared_ptr<const IniFile> ini_;  // null: no file
  std::string path_;
};

// One key from the settings file as it is now (read and parsed for this key alone).
int32_t GetInt(std::string_view section, std::string_view key, int32_t def);
std::string GetString(std::string_view section, std::string_view key, const std::string& def = "");
int16_t ClampToInt16(int32_t v);

// What a register access needs to reach its charger. The windows and korvoctl use the
// process-wide variables above (CurrentCommSettings); a caller with several boards gives each
// its own (ReadCommSettings).
struct CommSettings {
  int16_t deviceAddress = kDefaultAddress;
  bool i2cMode = false;
  bool verifyWrite = true;
  int16_t readRetryCount = 0;  // never negative
  bool operator==(const CommSettings&) const = default;
};
// The keys LoadCommSettings reads, with the same rules, without touching the variables.
CommSettings ReadCommSettings(const Snapshot& file);
CommSettings CurrentCommSettings();

// First pass of the main window's load step: BitHi, BitLo, BitUnknown.
void LoadColors(const Snapshot& file);
void LoadColors();
// Second pass: DeviceAddress, I2CMode, VerifyWrite, ReadRetryCount.
void LoadCommSettings(const Snapshot& file);
void LoadCommSettings();
// Restores every variable to its value with no settings file (for tests and korvoctl).
void ResetToDefaults();

}  // namespace Settings
