#include "dialogs/Registry.h"

#include <QFileInfo>
#include <QProcess>
#include <QString>

long PlatformRegistry::RegOpenKeyEx(int32_t, const std::string&, uint32_t, RegistryKey& key) {
  key = 0;
  return ERROR_FILE_NOT_FOUND;
}

long PlatformRegistry::RegQueryValueEx(RegistryKey, const std::string&, uint32_t&, std::string&,
                                       uint32_t&) {
  return ERROR_FILE_NOT_FOUND;
}

long PlatformRegistry::RegCloseKey(RegistryKey) { return ERROR_SUCCESS; }

bool PlatformRegistry::FileExists(const std::string& path) {
  return QFileInfo(QString::fromStdString(path)).isFile();
}

bool PlatformRegistry::StartProgram(const std::string& path) {
  return !path.empty() && QProcess::startDetached(QString::fromStdString(path), {});
}

namespace {
Registry* g_registry = nullptr;
}

Registry& CurrentRegistry() {
  static PlatformRegistry platform;
  return g_registry ? *g_registry : platform;
}

void SetRegistry(Registry* registry) { g_registry = registry; }
