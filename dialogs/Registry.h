// The configuration registry and the two other platform services that looking up the system
// information program needs. The platform has no configuration registry on Linux, so the
// real one fails every lookup; tests put a fake in its place.
#pragma once

#include <cstdint>
#include <string>

using RegistryKey = intptr_t;

inline constexpr int32_t HKEY_LOCAL_MACHINE = static_cast<int32_t>(0x80000002u);
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr long ERROR_SUCCESS = 0;
inline constexpr long ERROR_FILE_NOT_FOUND = 2;
inline constexpr long ERROR_MORE_DATA = 234;
// Query, set, create subkey, enumerate, notify, create link, read control.
inline constexpr uint32_t kKeyAllAccess = 0x2003F;

class Registry {
 public:
  virtual ~Registry() = default;
  virtual long RegOpenKeyEx(int32_t root, const std::string& subKey, uint32_t access,
                            RegistryKey& key) = 0;
  // data holds size bytes on entry (the buffer); size receives how many the value has.
  // A value longer than the buffer gives ERROR_MORE_DATA.
  virtual long RegQueryValueEx(RegistryKey key, const std::string& valueName, uint32_t& type,
                               std::string& data, uint32_t& size) = 0;
  virtual long RegCloseKey(RegistryKey key) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  // Starts a program in a normal window with the focus; false when it cannot be started.
  virtual bool StartProgram(const std::string& path) = 0;
};

// The platform's: no registry, real files and processes.
class PlatformRegistry : public Registry {
 public:
  long RegOpenKeyEx(int32_t root, const std::string& subKey, uint32_t access,
                    RegistryKey& key) override;
  long RegQueryValueEx(RegistryKey key, const std::string& valueName, uint32_t& type,
                       std::string& data, uint32_t& size) override;
  long RegCloseKey(RegistryKey key) override;
  bool FileExists(const std::string& path) override;
  bool StartProgram(const std::string& path) override;
};

// The registry the windows use (the platform's unless replaced; not owned, nullptr restores).
Registry& CurrentRegistry();
void SetRegistry(Registry* registry);
