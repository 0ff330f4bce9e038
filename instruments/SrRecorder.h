// Recordings as sigrok sessions (.sr), written by libsigrok's srzip output (SrWriter.h), so
// PulseView and sigrok-cli open them beside their own captures.
//
// What a .sr holds: the bits the main window names (control and status registers) as logic
// channels "<address>.<bit name>", as a VCD names its wires; the DAC registers' set points as
// analog channels "<address>.<caption>_<unit>" ("0x15.BATTERY_VOLTAGE_mV"); each instrument
// channel given up front (RecorderOptions::channels) as an analog channel
// "<label>.<caption>_<unit>" ("PSU.CH1_current_mA"). Values in the units of the CSV (mV, mA);
// sigrok keeps no unit in the file, hence the names.
//
// One sample a tick: a tick is the register reads up to the next read of a register it already
// read. Its sample holds the registers as that tick read them and, of each instrument channel,
// the last reading that came by the tick's last read: a reading between ticks is held until
// the next tick. A register not read yet, or whose read failed, is NaN (analog) or keeps its
// bits (logic; 0 before the first read). A recording's readings after its last tick get a
// closing sample of their own.
//
// The sample rate is 1 / period where that is a whole number of hertz (period 1 s, 500 ms,
// 200 ms, 50 ms ...); otherwise the slowest whole rate whose step divides the period, with each
// tick repeated (period 300 ms: 10 Hz, three samples a tick); a period of 0 (as fast as it
// goes): 1 kHz. libsigrok rewrites the archive for every chunk, so samples reach the file in
// chunks of ten seconds of recording and at the end: a crash loses at most the last ten seconds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "instruments/SigrokBackend.h"
#include "instruments/SrWriter.h"
#include "recording/Recorder.h"

namespace instruments {

struct SrPlan {
  SrLayout layout;
  uint64_t samplesPerTick = 1;
};
// The channels and rate of a .sr recording made with options.
SrPlan PlanSr(const recording::RecorderOptions& options);

// A .sr recorder, as recording::Recorder::Open makes one once InstallSrRecordings ran. nullptr,
// with message set ("Cannot create FILE: reason."), when that fails.
std::unique_ptr<recording::Recorder> OpenSrRecorder(const std::string& path,
                                                    const recording::RecorderOptions& options,
                                                    std::string& message,
                                                    const std::vector<std::string>& modulePaths);

// Hands the .sr format to recording::Recorder::Open and CheckRecordingPath, written through the
// module found at modulePaths (checked when a .sr path is, not now).
void InstallSrRecordings(std::vector<std::string> modulePaths);
inline void InstallSrRecordings() { InstallSrRecordings(SigrokModulePaths()); }

}  // namespace instruments
