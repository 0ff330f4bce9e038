// The entry routine's start-up sequence: splash, wait, main window (its load step runs in
// full before it appears), wait, splash gone.
#pragma once

#include <functional>

class frmBasic;

struct StartUpWaits {
  float splash = 1.5f;     // splash alone
  float afterShow = 0.5f;  // splash and main window together
  // Runs right after the main window has been shown (before the second wait).
  std::function<void(frmBasic&)> onShown;
};

// Returns the main window, shown; it lives until the caller deletes it.
frmBasic* RunStartUp(const StartUpWaits& waits = {});
