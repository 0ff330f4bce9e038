#include "drivers/i2cdev/I2cDevBuses.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>

#include "foundation/Messages.h"
#include "foundation/Text.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMaxNotes = 32;

// Shared by every control of the process: the About box is asked of a second control instance
// that never opens a bus, and korvoctl reads the notes after the link has gone.
struct SharedState {
  std::mutex mutex;
  std::vector<std::string> listingNotes;  // from the last ListFreeDevices
  std::vector<std::string> eventNotes;    // open failures, claimed addresses, unplugs
  std::string openBus;                    // label of the bus in use, empty when none
  unsigned long openFuncs = 0;
};

SharedState& Shared() {
  static SharedState state;
  return state;
}

// Adapter names go into a ","-joined list: no "," and no control characters in them.
std::string Sanitize(std::string s) {
  for (char& c : s) {
    if (c == ',')
      c = ';';
    else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      c = ' ';
  }
  return s;
}

std::string ReadSmallFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return {};
  std::string s(256, '\0');
  in.read(s.data(), static_cast<std::streamsize>(s.size()));
  s.resize(static_cast<std::size_t>(in.gcount()));
  return std::string(Text::Trim(s));
}

bool IsRegularFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

// "i2c-12" gives 12; anything else -1.
int BusNumberOf(std::string_view s) {
  if (s.size() < 5 || !Text::StartsWithNoCase(s, "i2c-")) return -1;
  int n = -1;
  auto digits = s.substr(4);
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || ptr != digits.data() + digits.size() || n < 0) return -1;
  return n;
}

int NumberOfDigits(std::string_view s) {
  if (s.empty()) return -1;
  int n = -1;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
  if (ec != std::errc() || ptr != s.data() + s.size() || n < 0) return -1;
  return n;
}

std::string DevicePathOf(int number) { return "/dev/i2c-" + std::to_string(number); }

std::string LabelOf(const std::string& path, const std::string& adapterName) {
  return adapterName.empty() ? path : path + " (" + adapterName + ")";
}

// The kernel's function bits are 32 bits wide (I2C_FUNC_*), whatever unsigned long is.
std::string FuncsText(unsigned long funcs) {
  return "0x" + Text::Hex(static_cast<uint32_t>(funcs), 8);
}

}  // namespace

void AddI2cDevNote(const std::string& note) {
  SharedState& s = Shared();
  std::lock_guard lock(s.mutex);
  if (std::find(s.eventNotes.begin(), s.eventNotes.end(), note) != s.eventNotes.end()) return;
  if (static_cast<int>(s.eventNotes.size()) >= kMaxNotes) s.eventNotes.erase(s.eventNotes.begin());
  s.eventNotes.push_back(note);
}

void SetI2cDevListingNotes(std::vector<std::string> notes) {
  SharedState& s = Shared();
  std::lock_guard lock(s.mutex);
  s.listingNotes = std::move(notes);
  s.eventNotes.clear();
}

void SetI2cDevOpenBus(const std::string& label, unsigned long funcs) {
  SharedState& s = Shared();
  std::lock_guard lock(s.mutex);
  s.openBus = label;
  s.openFuncs = funcs;
}

std::string I2cDevOpenFailureText(const std::string& label, int err) {
  std::string why;
  switch (err) {
    case EACCES:
    case EPERM:
      why =
          "permission denied. Install Korvo's udev rule 70-korvo-i2c.rules (the package does) "
          "and replug the bridge, or add your user to the i2c group (sudo usermod -aG i2c $USER, "
          "then log out and in again); see docs/i2cdev.md";
      break;
    case ENOENT:
      why = "no such device file (is the i2c-dev module loaded? sudo modprobe i2c-dev)";
      break;
    case ENODEV:
    case ENXIO: why = "no such device (unplugged?)"; break;
    case EBUSY: why = "busy (in use by a kernel driver or another program)"; break;
    default: why = std::generic_category().message(err); break;
  }
  return "Cannot open " + label + ": " + why + ".";
}

std::string I2cDevNodeKindText(unsigned fileType, unsigned major) {
  switch (fileType) {
    case S_IFREG: return "a regular file";
    case S_IFDIR: return "a directory";
    case S_IFIFO: return "a FIFO";
    case S_IFSOCK: return "a socket";
    case S_IFBLK: return "a block device";
    case S_IFCHR:
      return "the character device of another driver (major " + std::to_string(major) + ")";
    default: return "no device";
  }
}

std::string I2cDevDiagnostics() {
  SharedState& s = Shared();
  std::lock_guard lock(s.mutex);
  std::string text;
  for (const auto& n : s.listingNotes) text += n + "\n";
  for (const auto& n : s.eventNotes) text += n + "\n";
  return text;
}

void ClearI2cDevDiagnostics() {
  SharedState& s = Shared();
  std::lock_guard lock(s.mutex);
  s.listingNotes.clear();
  s.eventNotes.clear();
}

I2cDevOptions I2cDevOptionsFromSettings(const Settings::Snapshot& settings) {
  I2cDevOptions o;
  o.bus = std::string(Text::Trim(settings.GetString("Adapter", "Bus", "")));
  o.forceAddress = settings.GetInt("Adapter", "ForceAddress", 0) != 0;
  o.pec = settings.GetInt("Adapter", "Pec", 0) != 0;
  return o;
}

I2cDevOptions I2cDevOptionsFromSettings() {
  return I2cDevOptionsFromSettings(Settings::Snapshot());
}

std::vector<I2cBusInfo> EnumerateI2cBuses(const std::string& sysfsRoot, std::string* problem) {
  std::vector<I2cBusInfo> buses;
  const fs::path root(sysfsRoot);
  const fs::path classDir = root / "class" / "i2c-dev";
  std::error_code ec;
  fs::directory_iterator it(classDir, ec);
  if (ec) {
    if (problem != nullptr)
      *problem = "No I2C buses: " + classDir.string() +
                 " is missing (load the i2c-dev module: sudo modprobe i2c-dev).";
    return buses;
  }
  const fs::path canonicalRoot = fs::weakly_canonical(root, ec);
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::path entry = it->path();
    int number = BusNumberOf(entry.filename().string());
    if (number < 0) continue;
    I2cBusInfo bus;
    bus.number = number;
    bus.name = ReadSmallFile(entry / "name");
    // Walk up from the adapter device: a USB device among its parents has idVendor and
    // idProduct (a PCI device has "vendor" instead).
    std::error_code ec2;
    fs::path dev = fs::canonical(entry / "device", ec2);
    if (ec2) dev = fs::canonical(entry, ec2);
    if (!ec2) {
      for (fs::path p = dev; !p.empty() && p != canonicalRoot && p != p.root_path();
           p = p.parent_path()) {
        if (IsRegularFile(p / "idVendor") && IsRegularFile(p / "idProduct")) {
          bus.usb = true;
          bus.usbId = ReadSmallFile(p / "idVendor") + ":" + ReadSmallFile(p / "idProduct");
          break;
        }
      }
    }
    buses.push_back(std::move(bus));
  }
  std::sort(buses.begin(), buses.end(),
            [](const I2cBusInfo& a, const I2cBusInfo& b) { return a.number < b.number; });
  return buses;
}

std::string ListedBusName(const I2cBusInfo& bus) {
  std::string s = "i2c-" + std::to_string(bus.number);
  if (!bus.name.empty()) s += " " + Sanitize(bus.name);
  return s;
}

std::vector<I2cBusCandidate> I2cBusCandidates(const I2cDevOptions& options,
                                              const std::string& sysfsRoot,
                                              std::vector<std::string>* notes) {
  using Candidate = I2cBusCandidate;
  std::string problem;
  const std::vector<I2cBusInfo> buses = EnumerateI2cBuses(sysfsRoot, &problem);
  auto note = [&](const std::string& s) {
    if (notes != nullptr) notes->push_back(s);
  };
  auto fromBus = [](const I2cBusInfo& b) {
    return Candidate{ListedBusName(b), DevicePathOf(b.number),
                     LabelOf(DevicePathOf(b.number), b.name), b.number};
  };
  auto fromNumber = [&](int number) {
    for (const auto& b : buses)
      if (b.number == number) return fromBus(b);
    return Candidate{"i2c-" + std::to_string(number), DevicePathOf(number), DevicePathOf(number),
                     number};
  };
  auto seen = [&] {
    std::string s;
    for (const auto& b : buses) {
      if (!s.empty()) s += "; ";
      s += ListedBusName(b) + (b.usb ? " (USB)" : " (not USB)");
    }
    return s.empty() ? std::string("none") : s;
  };

  std::vector<Candidate> out;
  const std::string& wanted = options.bus;
  if (wanted.empty()) {
    for (const auto& b : buses)
      if (b.usb) out.push_back(fromBus(b));
    if (out.empty()) {
      if (!problem.empty())
        note(problem);
      else
        note("No USB-attached I2C bus found (buses seen: " + seen() +
             "). Plug in a USB-to-I2C/SMBus bridge, or name a bus with Bus= in section [Adapter].");
    }
    return out;
  }

  if (wanted.front() == '/') {
    // A path; a udev symlink such as /dev/i2c-cp2112 is listed under its own name.
    const int number = BusNumberOf(fs::path(wanted).filename().string());
    std::string adapterName;
    for (const auto& b : buses)
      if (b.number == number) adapterName = b.name;
    Candidate c =
        number >= 0 ? fromNumber(number) : Candidate{Sanitize(wanted), wanted, wanted, -1};
    c.devicePath = wanted;
    c.label = LabelOf(wanted, adapterName);
    out.push_back(std::move(c));
    return out;
  }
  // "3", "i2c-3", or a listed name "i2c-3 CP2112 ..." copied into the key.
  int number = NumberOfDigits(wanted);
  if (number < 0) number = BusNumberOf(wanted.substr(0, wanted.find(' ')));
  if (number >= 0) {
    out.push_back(fromNumber(number));
    return out;
  }
  // An adapter name: the buses whose name is the key, or else those whose name begins with it.
  for (const auto& b : buses)
    if (Text::EqualsNoCase(b.name, wanted)) out.push_back(fromBus(b));
  if (out.empty())
    for (const auto& b : buses)
      if (Text::StartsWithNoCase(b.name, wanted)) out.push_back(fromBus(b));
  if (out.empty()) {
    if (!problem.empty()) note(problem);
    note("Bus=" + wanted +
         " in section [Adapter]: no bus has that path, number or adapter name "
         "(buses seen: " +
         seen() + ").");
  }
  return out;
}

std::string I2cDevBusesAboutText(const I2cDevOptions& options, const std::string& sysfsRoot) {
  std::string problem;
  const std::vector<I2cBusInfo> buses = EnumerateI2cBuses(sysfsRoot, &problem);
  std::string openBus;
  unsigned long openFuncs = 0;
  {
    SharedState& s = Shared();
    std::lock_guard lock(s.mutex);
    openBus = s.openBus;
    openFuncs = s.openFuncs;
  }
  std::string text = openBus.empty()
                         ? std::string("Bus in use: none")
                         : "Bus in use: " + openBus + ", functions " + FuncsText(openFuncs);
  text += kNewLine;
  text +=
      "Bus setting: " + (options.bus.empty() ? std::string("(USB-attached buses)") : options.bus) +
      ", ForceAddress=" + (options.forceAddress ? "1" : "0");
  text += kNewLine;
  text += "Buses found:";
  if (buses.empty()) text += problem.empty() ? std::string(" none") : " none. " + problem;
  for (const auto& b : buses) {
    text += kNewLine;
    text +=
        "  " + ListedBusName(b) + (b.usb ? " (USB " + b.usbId + ")" : std::string(" (not USB)"));
  }
  const std::string notes = I2cDevDiagnostics();
  if (!notes.empty()) {
    text += kNewLine;
    text += "Notes:";
    std::size_t start = 0;
    while (start < notes.size()) {
      std::size_t end = notes.find('\n', start);
      if (end == std::string::npos) end = notes.size();
      text += kNewLine;
      text += "  " + notes.substr(start, end - start);
      start = end + 1;
    }
  }
  return text;
}
