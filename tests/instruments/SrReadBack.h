// A .sr file as sigrok-cli reads it: its rate, channels, sample counts, every analog value and
// the bits of the logic channels asked for. Through files, not pipes (see the korvoctl tests).
#pragma once

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

struct SrContents {
  bool ok = false;
  std::string show;  // what --show printed
  uint64_t samplerate = 0;
  std::vector<std::string> logic, analog;
  uint64_t logicSamples = 0, analogSamples = 0;
  std::map<std::string, std::vector<double>> values;  // analog, sample by sample
  std::map<std::string, std::string> bits;            // logic asked for: "0110"
};

inline std::string SrRun(const std::string& args, const std::string& outFile) {
  const std::string command = "sigrok-cli " + args + " > " + outFile + " 2>&1";
  if (std::system(command.c_str()) != 0) return {};
  std::ifstream f(outFile, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// workDir: where sigrok-cli's answers go.
inline SrContents ReadSr(const std::string& path, const std::string& workDir,
                         const std::vector<std::string>& bitsOf = {}) {
  SrContents c;
  c.show = SrRun("-i '" + path + "' --show", workDir + "/show.txt");
  std::istringstream show(c.show);
  for (std::string line; std::getline(show, line);) {
    const auto number = [&](const std::string& prefix, uint64_t& v) {
      if (line.rfind(prefix, 0) == 0) v = std::stoull(line.substr(prefix.size()));
    };
    number("Samplerate: ", c.samplerate);
    number("Logic sample count: ", c.logicSamples);
    number("Analog sample count: ", c.analogSamples);
    if (line.rfind("- ", 0) == 0) {
      const std::size_t colon = line.rfind(": ");
      const std::string name = line.substr(2, colon - 2), type = line.substr(colon + 2);
      (type == "logic" ? c.logic : c.analog).push_back(name);
    }
  }
  std::string names;
  for (const std::string& b : bitsOf) names += (names.empty() ? "" : ",") + b;
  // Analog values print as "NAME: 16.80000 kV DC" (sigrok takes every analog channel for volts).
  const std::string data =
      SrRun("-i '" + path + "' -O bits:width=0" + (names.empty() ? "" : " -C '" + names + "'"),
            workDir + "/data.txt");
  std::istringstream lines(data);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string name = line.substr(0, colon);
    std::istringstream rest(line.substr(colon + 1));
    if (std::find(bitsOf.begin(), bitsOf.end(), name) != bitsOf.end()) {
      rest >> c.bits[name];
      continue;
    }
    std::string number, unit;
    if (!(rest >> number >> unit)) continue;
    double v = number == "nan" ? NAN : std::strtod(number.c_str(), nullptr);
    if (unit.size() == 2 && unit[0] == 'k') v *= 1e3;
    if (unit.size() == 2 && unit[0] == 'm') v *= 1e-3;
    if (unit.size() == 2 && unit[0] == 'M') v *= 1e6;
    c.values[name].push_back(v);
  }
  c.ok = c.samplerate != 0;
  return c;
}
