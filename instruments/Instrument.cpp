#include "instruments/Instrument.h"

namespace instruments {

KorvoValue ToKorvoUnits(std::string_view siUnit, double value) {
  if (siUnit == "V") return {"mV", value * 1000.0};
  if (siUnit == "A") return {"mA", value * 1000.0};
  return {std::string(siUnit), value};
}

std::string DeviceText(const DeviceInfo& d) {
  std::string s;
  for (const std::string* part : {&d.vendor, &d.model, &d.version}) {
    if (part->empty()) continue;
    if (!s.empty()) s += ' ';
    s += *part;
  }
  if (!d.serial.empty()) s += " [S/N: " + d.serial + "]";
  return s;
}

std::string Caption(std::string_view label, const ChannelInfo& channel, std::string_view quantity) {
  std::string c(label);
  c += ' ';
  // An output named by a bare number ("1") is shown the way the instrument's panel says it.
  const std::string& group = channel.group;
  const bool numeric = !group.empty() && group.find_first_not_of("0123456789") == std::string::npos;
  c += group.empty() ? channel.name : numeric ? "CH" + group : group;
  if (!quantity.empty()) {
    c += ' ';
    c += quantity;
  }
  return c;
}

}  // namespace instruments
