// Where the program lives: its directory and base name, for the settings file and the error log.
// And where the settings file is looked for when the program is installed.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace Paths {
std::string ProgramDir();       // directory of the running executable, no trailing separator
std::string ProgramBaseName();  // file name without extension
void SetProgramDirForTesting(std::string dir);  // empty restores the real one
std::string Join(const std::string& dir, const std::string& name);

// The XDG base directory variables that the settings lookup uses; an empty field is an unset
// variable. FromEnvironment reads the process's; tests fill their own.
struct ConfigDirs {
  std::string home;           // $HOME
  std::string xdgConfigHome;  // $XDG_CONFIG_HOME
  std::string xdgConfigDirs;  // $XDG_CONFIG_DIRS, ':'-separated
  static ConfigDirs FromEnvironment();
};

// The places a settings file is looked for, in order: beside (the program's own file), then
// korvo/korvo.ini under $XDG_CONFIG_HOME (default ~/.config), then under each entry of
// $XDG_CONFIG_DIRS (default /etc/xdg). A relative directory counts as unset: freedesktop.org's
// base-directory rules say so.
std::vector<std::string> SettingsCandidates(const std::string& beside, const ConfigDirs& dirs);

// The first candidate that is a regular file the program can read; nullopt when there is none.
// Candidates are looked for under root (a scratch directory standing in for "/" in tests); the
// path returned does not include root.
std::optional<std::string> FindSettingsFile(const std::string& beside, const ConfigDirs& dirs,
                                            const std::string& root = "");

bool IsReadableFile(const std::string& path);
}  // namespace Paths
