#include "foundation/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Paths {

namespace {

std::string& DirOverride() {
  static std::string dir;
  return dir;
}

// Full path of the running executable; empty when the kernel does not tell.
std::string ExecutablePath() {
  std::vector<char> buf(PATH_MAX);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) {
      std::string path(buf.data(), static_cast<size_t>(n));
      // A binary replaced while running (a rebuild) still names its old place.
      constexpr std::string_view kDeleted = " (deleted)";
      if (path.size() > kDeleted.size() && path.ends_with(kDeleted))
        path.erase(path.size() - kDeleted.size());
      return path;
    }
    buf.resize(buf.size() * 2);  // possibly truncated: try again with room to spare
  }
}

}  // namespace

std::string ProgramDir() {
  if (!DirOverride().empty()) return DirOverride();
  const std::string exe = ExecutablePath();
  const size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return exe.substr(0, slash);
}

std::string ProgramBaseName() {
  std::string name = ExecutablePath();
  const size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot != 0) name.erase(dot);
  if (name.empty()) name = "korvo";
  return name;
}

void SetProgramDirForTesting(std::string dir) { DirOverride() = std::move(dir); }

std::string Join(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

ConfigDirs ConfigDirs::FromEnvironment() {
  auto get = [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v ? v : "");
  };
  return {get("HOME"), get("XDG_CONFIG_HOME"), get("XDG_CONFIG_DIRS")};
}

std::vector<std::string> SettingsCandidates(const std::string& beside, const ConfigDirs& dirs) {
  constexpr const char* kRelative = "korvo/korvo.ini";
  auto absolute = [](const std::string& dir) { return !dir.empty() && dir.front() == '/'; };
  std::vector<std::string> out{beside};
  if (absolute(dirs.xdgConfigHome)) {
    out.push_back(Join(dirs.xdgConfigHome, kRelative));
  } else if (absolute(dirs.home)) {  // unset, or relative and so ignored
    out.push_back(Join(Join(dirs.home, ".config"), kRelative));
  }
  std::vector<std::string> system;
  const std::string& list = dirs.xdgConfigDirs;
  for (std::size_t start = 0; start < list.size();) {
    std::size_t colon = list.find(':', start);
    if (colon == std::string::npos) colon = list.size();
    const std::string dir = list.substr(start, colon - start);
    if (absolute(dir)) system.push_back(dir);
    start = colon + 1;
  }
  if (system.empty()) system.push_back("/etc/xdg");
  for (const std::string& dir : system) out.push_back(Join(dir, kRelative));
  return out;
}

bool IsReadableFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return std::ifstream(path).is_open();
}

std::optional<std::string> FindSettingsFile(const std::string& beside, const ConfigDirs& dirs,
                                            const std::string& root) {
  for (const std::string& candidate : SettingsCandidates(beside, dirs)) {
    if (IsReadableFile(root + candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace Paths
