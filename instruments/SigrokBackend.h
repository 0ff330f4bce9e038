// The instruments through libsigrok. libsigrok lives in a module of its own (korvo-sigrok.so,
// SigrokModule.h) that is loaded the first time an instrument is used, so a run without
// instruments never loads it and its forty libraries.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "instruments/Instrument.h"
#include "instruments/SigrokModule.h"

namespace instruments {

// libsigrok's log levels, as sigrok-cli's --loglevel counts them.
enum class LibraryLog : int {
  kNone = 0,
  kError = 1,
  kWarning = 2,
  kInfo = 3,
  kDebug = 4,
  kSpew = 5
};

// Where libsigrok's log lines at or below level go (instead of the terminal), from whichever
// thread the library logs on. Process-wide, as libsigrok's log is; replaces the previous one.
// Never loads the module itself: the route is handed over when something does.
void RouteLibraryLog(LibraryLog level, std::function<void(const std::string& line)> onLine);

// Where the module is looked for: beside the running program (the build tree), then in
// ../lib/korvo/ from it (an installed program).
std::vector<std::string> SigrokModulePaths();

// Loads the first of modulePaths that exists. When none loads, every instrument is absent with
// the reason (the module's path and the loader's error); configs are not checked then.
std::shared_ptr<Backend> MakeSigrokBackend(const std::vector<std::string>& modulePaths);
inline std::shared_ptr<Backend> MakeSigrokBackend() {
  return MakeSigrokBackend(SigrokModulePaths());
}

// A sigrok session file read through the module: the contents are handed to use while they
// last. kNoModule: the module does not load; kUnreadable: libsigrok cannot read the file. reason
// says why either way.
enum class SessionRead { kOk, kNoModule, kUnreadable };
SessionRead ReadSession(const std::string& path, const std::vector<std::string>& modulePaths,
                        const std::function<void(const korvo_sigrok_session_data&)>& use,
                        std::string& reason);

}  // namespace instruments
