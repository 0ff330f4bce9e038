// The instruments through libsigrok (libsigrokcxx 0.5.2): its drivers, scan options, devices and
// analog packets. libsigrok does all the instrument work; nothing here speaks an instrument's
// protocol.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "instruments/Instrument.h"

namespace instruments {

// libsigrok's log levels, as sigrok-cli's --loglevel counts them.
enum class LibraryLog : int { kNone = 0, kError = 1, kWarning = 2, kInfo = 3, kDebug = 4, kSpew = 5 };

// Where libsigrok's log lines at or below level go (instead of the terminal), from whichever
// thread the library logs on. Process-wide, as libsigrok's log is; replaces the previous one.
void RouteLibraryLog(LibraryLog level, std::function<void(const std::string& line)> onLine);

std::shared_ptr<Backend> MakeSigrokBackend();

// The libsigrok error logged last on the calling thread ("scpi_tcp: Failed to connect to
// 127.0.0.1:5555: Connection refused"), empty when none; cleared by reading it.
std::string TakeLastLibraryError();

}  // namespace instruments
