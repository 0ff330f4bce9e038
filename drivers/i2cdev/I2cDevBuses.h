// Bus discovery, selection and the notes of the i2c-dev driver: which /dev/i2c-N buses there
// are (from sysfs), which of them the [Adapter] Bus key picks, and what the user should be told
// about them. The transfers live in I2cDevDriver.cpp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "foundation/Settings.h"

// What the user should know about the buses: why each could not be opened (with the udev rule
// and i2c group hints for permission problems), addresses claimed by kernel drivers or not
// answering (in both address forms), adapters unplugged. One note per line, each ended by "\n";
// empty when there is nothing to say. Shared by every i2c-dev control of the process and renewed
// by each ListFreeDevices.
std::string I2cDevDiagnostics();
void ClearI2cDevDiagnostics();

struct I2cDevOptions {
  std::string bus;            // [Adapter] Bus, trimmed; empty = the USB-attached buses
  bool forceAddress = false;  // [Adapter] ForceAddress
  // [Adapter] Pec: SMBus word reads and writes as plain I2C transfers with the packet error code
  // computed and checked here, since common USB bridges accept I2C_PEC and skip the check.
  bool pec = false;
};
I2cDevOptions I2cDevOptionsFromSettings(const Settings::Snapshot& settings);
I2cDevOptions I2cDevOptionsFromSettings();

// One bus as sysfs shows it under class/i2c-dev.
struct I2cBusInfo {
  int number = 0;     // N of i2c-N
  std::string name;   // the adapter's name, trimmed
  bool usb = false;   // one of its sysfs parents is a USB device
  std::string usbId;  // "idVendor:idProduct" when usb
};
// The buses under <sysfsRoot>/class/i2c-dev, by number. When there is no such directory,
// problem (if given) says so.
std::vector<I2cBusInfo> EnumerateI2cBuses(const std::string& sysfsRoot,
                                          std::string* problem = nullptr);
// "i2c-3 CP2112 SMBus Bridge on hidraw0": the name ListFreeDevices gives; never holds a ",".
std::string ListedBusName(const I2cBusInfo& bus);

// A bus the driver may use.
struct I2cBusCandidate {
  std::string listedName;  // as ListFreeDevices gives it
  std::string devicePath;  // /dev/i2c-N or the path from the Bus key
  std::string label;       // for notes: the path and the adapter name
  int number = -1;         // N when known
};
// The buses under <sysfsRoot> the options pick: the Bus key's, or else every USB-attached one.
// Notes on why there are none go to notes (if given).
std::vector<I2cBusCandidate> I2cBusCandidates(const I2cDevOptions& options,
                                              const std::string& sysfsRoot,
                                              std::vector<std::string>* notes);

// --- the notes, shared by every i2c-dev control of the process ---
// An event (open failure, claimed address, unplug); the same note is kept once.
void AddI2cDevNote(const std::string& note);
// The notes of a new listing; the event notes of the last one are dropped.
void SetI2cDevListingNotes(std::vector<std::string> notes);
// The bus in use (empty label: none), for the About text.
void SetI2cDevOpenBus(const std::string& label, unsigned long funcs);

// Why a bus device could not be opened, in the user's terms.
std::string I2cDevOpenFailureText(const std::string& label, int err);
// What a path that is no i2c-dev device is instead ("a regular file", ...).
std::string I2cDevNodeKindText(unsigned fileType, unsigned major);
// The About text after its heading line: the bus in use, the setting, the buses, the notes.
std::string I2cDevBusesAboutText(const I2cDevOptions& options, const std::string& sysfsRoot);
