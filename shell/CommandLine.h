// The program's command-line argument string: everything after the program name, the
// arguments joined by single blanks. Windows that depend on the chip variant read it at load.
#pragma once

#include <optional>
#include <string>

namespace CommandLine {
std::string ArgumentString();
// Replaces what ArgumentString returns (nullopt: the real command line again).
void SetArgumentStringForTesting(std::optional<std::string> args);
// The exact, case-sensitive argument that selects the rk5191 variant.
inline bool IsRk5191(const std::string& sArg) { return sArg == "rk5191"; }
}  // namespace CommandLine
