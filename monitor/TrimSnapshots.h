// "Save Snapshot..." and "Compare..." of the test-mode window. Both read the eleven registers
// with the traffic and the messages of Read All, and the rows then show what was read.
#pragma once

#include <span>

class QWidget;
class RegisterAccess;
class ctlTrimRegister;

namespace monitor {

// `rows` are the test-mode window's register views, in its row order; `owner` owns the
// dialogs and the compare window.

// Asks for a file and writes the core's snapshot file of the registers as the chip holds them.
// Nothing is written when a register could not be read (its message has been shown).
void SaveSnapshot(QWidget& owner, std::span<ctlTrimRegister* const> rows, RegisterAccess& access);

// Asks for a snapshot file and shows, in a non-modal window, per register the bits in which
// the chip differs from it. A file that cannot be read is refused before the chip is read.
void CompareWithSnapshot(QWidget& owner, std::span<ctlTrimRegister* const> rows,
                         RegisterAccess& access);

}  // namespace monitor
