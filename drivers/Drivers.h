// The one list of backends behind the adapter contract, and the choice among them.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "adapter/Zentio.h"
#include "foundation/Settings.h"

struct DriverInfo {
  std::string_view name;         // the value of [Adapter] Driver / KORVO_ADAPTER
  std::string_view description;  // one line for --help and the About text
  bool simulated;                // true for a backend that needs no hardware
  // A control whose options come from the settings file as read once for the link.
  std::unique_ptr<Zentio> (*create)(const Settings::Snapshot& settings);
  // The same with a board of its own, for a caller with several boards in one process: it shares
  // nothing with the controls that create makes (the simulator builds a fresh board).
  std::unique_ptr<Zentio> (*createOwn)(const Settings::Snapshot& settings);
  // Why the backend found or opened no adapter, one note per line; may be null.
  std::string (*diagnostics)();
};

std::span<const DriverInfo> AllDrivers();
// The driver of that name, ignoring case; "i2c-dev" is another name of "i2cdev".
const DriverInfo* FindDriver(std::string_view name);

// KORVO_ADAPTER when set, else [Adapter] Driver from the settings file, else the default.
std::string SelectedDriverName(const Settings::Snapshot& settings);
std::string SelectedDriverName();
// A control of the selected driver; when the name is unknown, the absent control
// (adapter/ZentioDefaults.h). The settings file is read once. The entry routines hand this
// to the link (frmUSB::SetControlFactory).
std::unique_ptr<Zentio> CreateSelectedControl();
// The same from these settings (a file with options of the command line set over it).
std::unique_ptr<Zentio> CreateSelectedControlFrom(const Settings::Snapshot& settings);
// A control of the named driver with a board of its own (DriverInfo::createOwn), its options
// from settings; nullptr when no driver has that name.
std::unique_ptr<Zentio> CreateOwnControl(std::string_view driverName,
                                         const Settings::Snapshot& settings);
// The selected driver's notes on why no adapter was found or opened; empty when it has none.
std::string SelectedDriverDiagnostics();
