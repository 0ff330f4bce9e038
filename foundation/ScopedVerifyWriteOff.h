// Switches VerifyWrite off for a scope and puts the previous setting back at its end: the
// Write All commands write without single read-backs and then, when it was on, read
// everything once (while it is still off).
#pragma once

#include "foundation/Settings.h"

class ScopedVerifyWriteOff {
 public:
  ScopedVerifyWriteOff() : wasOn_(modGlobals::VerifyWrite) { modGlobals::VerifyWrite = false; }
  ~ScopedVerifyWriteOff() { modGlobals::VerifyWrite = wasOn_; }
  ScopedVerifyWriteOff(const ScopedVerifyWriteOff&) = delete;
  ScopedVerifyWriteOff& operator=(const ScopedVerifyWriteOff&) = delete;

  // Whether VerifyWrite was on when the scope began.
  bool WasOn() const { return wasOn_; }

 private:
  bool wasOn_;
};
