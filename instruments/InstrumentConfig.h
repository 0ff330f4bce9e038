// How a bench instrument is named: the way sigrok users name it, a driver and its options
// ("scpi-pps:conn=tcp-raw/192.168.1.20/5555", "demo"), plus Korvo's own label and channel
// selection. The same entry text serves the settings file's [Instruments] section and
// korvoctl's --instrument.
//
//   entry   = config { blank attribute }
//   config    = driver { ":" key "=" value }
//   attribute = "label=" text | "channels=" name { "," name }
//
// In the settings file the key is the label ("PSU=scpi-pps:conn=... channels=V1,I1").
// Parsing is strict: anything not in that form is refused with the entry and the reason,
// before any instrument is opened.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class IniFile;

namespace instruments {

struct InstrumentConfig {
  std::string text;                                          // the config as given, for messages
  std::string driver;                                        // "scpi-pps"
  std::vector<std::pair<std::string, std::string>> options;  // in the order given
  std::string label;                                         // "PSU"; never empty once parsed
  std::vector<std::string> channels;                         // empty: every analog channel
};

struct ConfigResult {
  std::optional<InstrumentConfig> config;
  std::string error;  // "invalid instrument 'TEXT': reason"
};

// One entry. label, when not empty, is the label unless the entry names one itself (a
// settings key gives the label this way); otherwise the driver's name is the label.
ConfigResult ParseInstrument(std::string_view entry, std::string_view label = {});

// The message of a refused entry.
std::string InvalidInstrumentText(std::string_view entry, std::string_view reason);

struct InstrumentList {
  std::vector<InstrumentConfig> configs;
  std::vector<std::string> errors;  // one per refused entry
};

// The [Instruments] section, one key per instrument in file order.
InstrumentList InstrumentsFromIni(const IniFile& ini);
// Entries from the command line (--instrument, repeated).
InstrumentList InstrumentsFromArgs(const std::vector<std::string>& entries);

// Labels must tell instruments apart in recordings: a repeated one gets " 2", " 3"...
void MakeLabelsUnique(std::vector<InstrumentConfig>& configs);

inline constexpr std::string_view kInstrumentsSection = "Instruments";

}  // namespace instruments
