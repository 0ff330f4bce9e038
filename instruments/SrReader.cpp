#include "instruments/SrReader.h"


#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>

#include "adapter/ErrorCodes.h"
#include "instruments/SigrokBackend.h"
#include "instruments/SigrokModule.h"
#include "instruments/SrWriter.h"
#include "recording/BitNames.h"

namespace instruments {

namespace {

using recording::Recording;
using recording::RecordingChannel;

bool IsZip(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::array<char, 4> magic{};
  return in.read(magic.data(), magic.size()) && std::memcmp(magic.data(), "PK\x03\x04", 4) == 0;
}

struct Bit {
  uint8_t address;
  int bit;
};

// Where each logic channel's bit goes, by the variant that names the most of them (the status
// register's names differ between the chips); channels of neither are left out.
std::vector<std::optional<Bit>> LogicBits(const korvo_sigrok_session_data& d) {
  std::vector<std::optional<Bit>> best;
  std::size_t bestCount = 0;
  for (recording::Variant v : {recording::Variant::rk5190, recording::Variant::rk5191}) {
    std::map<std::string, Bit> names;
    for (uint8_t a : {uint8_t{0x12}, uint8_t{0x13}}) {
      const std::array<std::string, 16> wires = recording::WireNames(a, v);
      for (int bit = 0; bit < 16; ++bit) names[wires[static_cast<std::size_t>(bit)]] = {a, bit};
    }
    std::vector<std::optional<Bit>> bits;
    std::size_t count = 0;
    for (std::size_t i = 0; i < d.logic_count; ++i) {
      const auto it = names.find(d.logic_names[i]);
      bits.push_back(it == names.end() ? std::nullopt : std::optional<Bit>(it->second));
      count += it != names.end();
    }
    if (best.empty() || count > bestCount) {
      best = std::move(bits);
      bestCount = count;
    }
  }
  return best;
}

// "PSU.CH1_current_mA": instrument PSU, caption "PSU CH1 current", unit mA. A last part longer
// than a unit symbol is part of the caption (a channel recorded without a unit).
RecordingChannel ChannelOf(const std::string& name) {
  RecordingChannel c;
  const std::size_t dot = name.find('.');
  c.instrument = name.substr(0, dot);
  std::string rest = name.substr(dot + 1);
  if (const std::size_t u = rest.rfind('_'); u != std::string::npos && rest.size() - u - 1 <= 4) {
    c.unit = rest.substr(u + 1);
    rest.erase(u);
  }
  for (char& ch : rest)
    if (ch == '_') ch = ' ';
  c.caption = rest.empty() ? c.instrument : c.instrument + " " + rest;
  if (c.unit == "mA" || c.unit == "A") c.quantity = "current";
  if (c.unit == "mV" || c.unit == "V") c.quantity = "voltage";
  return c;
}

struct Fail {
  std::string reason;
};

Recording Convert(const korvo_sigrok_session_data& d, const std::string& path) {
  if (d.samplerate == 0) throw Fail{"the session names no sample rate"};
  const std::vector<std::optional<Bit>> bits = LogicBits(d);
  bool status = false;
  std::vector<uint8_t> words;  // the logic registers, in the file's order
  for (const auto& b : bits) {
    if (!b) continue;
    status |= b->address == 0x13;
    if (std::find(words.begin(), words.end(), b->address) == words.end())
      words.push_back(b->address);
  }
  if (!status) throw Fail{"no channels of the status register (0x13.*)"};

  Recording rec;
  std::vector<std::optional<uint8_t>> dac(d.analog_count);
  std::vector<std::optional<uint32_t>> channel(d.analog_count);
  for (std::size_t i = 0; i < d.analog_count; ++i) {
    const std::string name = d.analog_names[i];
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size())
      throw Fail{"channel '" + name + "' is not named LABEL.NAME"};
    for (uint8_t a : {uint8_t{0x14}, uint8_t{0x15}, uint8_t{0x3F}})
      if (name.rfind(recording::AddressText(a) + ".", 0) == 0) dac[i] = a;
    if (dac[i]) continue;
    channel[i] = static_cast<uint32_t>(rec.channels.size());
    rec.channels.push_back(ChannelOf(name));
  }

  const std::size_t unit = (d.logic_count + 7) / 8;
  const std::size_t n = std::max(d.logic_samples, d.analog_samples);
  const auto logicAt = [&](std::size_t s) -> const unsigned char* {
    return s < d.logic_samples ? d.logic + s * unit : nullptr;
  };
  const auto analogAt = [&](std::size_t c, std::size_t s) {
    return s < d.analog_samples ? d.analog[c * d.analog_samples + s] : NAN;
  };
  const auto same = [&](std::size_t s, std::size_t t) {
    const unsigned char *a = logicAt(s), *b = logicAt(t);
    if ((a == nullptr) != (b == nullptr) || (a && std::memcmp(a, b, unit) != 0)) return false;
    for (std::size_t c = 0; c < d.analog_count; ++c) {
      const float x = analogAt(c, s), y = analogAt(c, t);
      if (std::memcmp(&x, &y, sizeof x) != 0) return false;
    }
    return true;
  };
  // The recorder repeats a tick to keep a whole rate: every run of equal samples is a whole
  // number of ticks, so the runs' common length is the tick.
  std::size_t tick = 0, run = 1, runs = 0;
  for (std::size_t s = 1; s <= n; ++s) {
    if (s < n && same(s, s - 1)) {
      ++run;
      continue;
    }
    tick = std::gcd(tick, run);
    run = 1;
    ++runs;
  }
  if (runs <= 1) tick = 1;

  std::map<uint8_t, uint16_t> word;
  for (std::size_t s = 0; s < n; s += tick) {
    const auto us = static_cast<int64_t>(static_cast<long double>(s) * 1e6L /
                                         static_cast<long double>(d.samplerate));
    word.clear();
    if (const unsigned char* u = logicAt(s)) {
      for (std::size_t i = 0; i < bits.size(); ++i)
        if (bits[i] && ((u[i / 8] >> (i % 8)) & 1) != 0)
          word[bits[i]->address] |= static_cast<uint16_t>(1u << bits[i]->bit);
      for (uint8_t a : words) {
        recording::RecordedAccess x;
        x.us = us;
        x.address = a;
        x.value = word[a];
        x.hasValue = true;
        rec.accesses.push_back(x);
      }
    }
    for (std::size_t c = 0; c < d.analog_count; ++c) {
      const float v = analogAt(c, s);
      if (dac[c]) {
        recording::RecordedAccess x;
        x.us = us;
        x.address = *dac[c];
        if (std::isnan(v)) {
          x.status = VB_UNKNOWN;
        } else {
          x.value = static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 0xFFFFL));
          x.hasValue = true;
        }
        rec.accesses.push_back(x);
      } else if (!std::isnan(v)) {
        rec.readings.push_back({us, *channel[c], static_cast<double>(v)});
      }
    }
  }

  // The session keeps no start time: the recording ended when the file was last written.
  std::error_code ec;
  const auto written = std::filesystem::last_write_time(path, ec);
  if (!ec) {
    const auto length = std::chrono::microseconds(static_cast<int64_t>(
        static_cast<long double>(n) * 1e6L / static_cast<long double>(d.samplerate)));
    rec.start = std::chrono::time_point_cast<recording::WallTime::duration>(
                    std::chrono::file_clock::to_sys(written)) -
                std::chrono::duration_cast<recording::WallTime::duration>(length);
  }
  return rec;
}

}  // namespace

std::optional<Recording> ReadSrRecording(const std::string& path, std::string& message,
                                         const std::vector<std::string>& modulePaths) {
  const std::string refused = path + " is not a Korvo recording: ";
  if (std::ifstream probe(path, std::ios::binary); !probe) {
    message = "Cannot open " + path + ": no such file or no permission.";
    return std::nullopt;
  }
  if (!IsZip(path)) {
    message = refused + "not a sigrok session (no zip archive).";
    return std::nullopt;
  }
  std::string reason;
  std::optional<Recording> rec;
  std::string failed;
  const SessionRead read = ReadSession(
      path, modulePaths,
      [&](const korvo_sigrok_session_data& d) {
        try {
          rec = Convert(d, path);
        } catch (const Fail& f) {
          failed = f.reason;
        }
      },
      reason);
  if (read == SessionRead::kNoModule) {
    message = "Cannot open " + path + ": " + reason + ".";
    return std::nullopt;
  }
  if (read == SessionRead::kUnreadable) {
    message = refused + "libsigrok cannot read it (" + reason + ").";
    return std::nullopt;
  }
  if (!rec) message = refused + failed + ".";
  return rec;
}

}  // namespace instruments
