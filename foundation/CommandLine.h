// The program's command-line argument string: everything after the program name, the
// arguments joined by single blanks. The entry routine sets it once; windows that depend on the
// chip variant read it at load.
#pragma once

#include <optional>
#include <string>

namespace CommandLine {
std::string ArgumentString();
// Set once by the entry routine, from the arguments Qt leaves after its own options.
void SetArgumentString(std::string args);
// Replaces what ArgumentString returns (nullopt: the program's own arguments again).
void SetArgumentStringForTesting(std::optional<std::string> args);
// The exact, case-sensitive argument that selects the rk5191 variant.
inline bool IsRk5191(const std::string& sArg) { return sArg == "rk5191"; }
}  // namespace CommandLine
