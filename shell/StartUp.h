// The entry routine's start-up sequence: splash, wait, main window (its load step runs in
// full before it appears), wait, splash gone.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "instruments/InstrumentConfig.h"

class frmBasic;
namespace instruments {
class Backend;
}

struct StartUpWaits {
  float splash = 1.5f;     // splash alone
  float afterShow = 0.5f;  // splash and main window together
  // Runs right after the main window has been shown (before the second wait).
  std::function<void(frmBasic&)> onShown;
};

// Returns the main window, shown; it lives until the caller deletes it.
frmBasic* RunStartUp(const StartUpWaits& waits = {});

// The settings file's [Instruments] section (nothing when it cannot be read); never written.
instruments::InstrumentList ConfiguredInstruments(const std::string& settingsFile);

// Hands the main window's monitor a bench of the configured instruments, read once per scan
// tick, and the instrument library for those the user adds. An entry that is refused (here or by
// the library) is named in one message and left out; the others are read. With none
// configured, makeBackend is not called: nothing of the instrument library is loaded.
void AttachInstruments(frmBasic& main, const instruments::InstrumentList& configured,
                       std::function<std::shared_ptr<instruments::Backend>()> makeBackend);
