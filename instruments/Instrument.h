// What Korvo needs of an instrument library: check a config, open the first device a config finds,
// and take one reading of its enabled channels. libsigrok is the one implementation
// (SigrokBackend); tests put a scripted one in its place.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "instruments/InstrumentConfig.h"

namespace instruments {

struct ChannelInfo {
  std::string name;      // the driver's name: "I1"
  std::string group;     // what the instrument calls the output it belongs to: "CH1"; may be empty
  std::string quantity;  // "current"; empty until the first reading when the driver does not say
  std::string unit;      // Korvo's unit: "mA"
  bool enabled = true;
};

struct DeviceInfo {
  std::string driver;
  std::string vendor, model, version, serial, connection;
  std::vector<ChannelInfo> channels;  // every analog channel
};

// What sigrok-cli --scan says of a device: "Rigol DP832 00.01.14 [S/N: DP8A000001]".
std::string DeviceText(const DeviceInfo& d);

// One value as the library delivers it, in SI units.
struct RawValue {
  std::string channel;
  std::string quantity;  // "voltage", "current", "power", ...
  std::string unit;      // SI symbol: "V", "A", "W", "Hz", ...
  double value = 0;
};

// In Korvo's units: V as mV, A as mA; other units unchanged.
struct KorvoValue {
  std::string unit;
  double value;
};
KorvoValue ToKorvoUnits(std::string_view siUnit, double value);

// "PSU CH1 current": the label, the output (or the channel's name) and the quantity.
std::string Caption(std::string_view label, const ChannelInfo& channel, std::string_view quantity);

class Device {
 public:
  virtual ~Device() = default;
  virtual const DeviceInfo& Info() const = 0;
  // One reading of every enabled channel; each value is handed to onValue as it arrives.
  // Blocks until done; false with reason when the instrument gave nothing (it may have given
  // some values first).
  virtual bool Read(const std::function<void(const RawValue&)>& onValue, std::string& reason) = 0;
  // From another thread: a Read in progress returns as soon as the library lets it.
  virtual void Interrupt() = 0;
};

class Backend {
 public:
  virtual ~Backend() = default;
  // Empty when the library knows the driver and every option of config; else the reason.
  virtual std::string Check(const InstrumentConfig& config) = 0;
  // Scans with the config's options and opens the first device found, with only the config's
  // channels enabled (all analog channels when it selects none). nullptr with reason when
  // nothing was found or it would not open.
  virtual std::unique_ptr<Device> Open(const InstrumentConfig& config, std::string& reason) = 0;
};

}  // namespace instruments
