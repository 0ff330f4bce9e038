#include "shell/Paths.h"

#include <unistd.h>

#include <climits>
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
      if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) path.erase(path.size() - kDeleted.size());
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

}  // namespace Paths
