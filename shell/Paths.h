// Where the program lives: its directory and base name, for the settings file and the error log.
#pragma once

#include <string>

namespace Paths {
std::string ProgramDir();       // directory of the running executable, no trailing separator
std::string ProgramBaseName();  // file name without extension
void SetProgramDirForTesting(std::string dir);  // empty restores the real one
std::string Join(const std::string& dir, const std::string& name);
}  // namespace Paths
