#include "drivers/i2cdev/I2cDevDriver.h"

#include <linux/i2c.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>

#include "adapter/ErrorCodes.h"
#include "drivers/Drivers.h"
#include "shell/Messages.h"
#include "shell/Settings.h"

namespace fs = std::filesystem;

namespace {

// Kernel errors as adapter statuses. The i2c bus drivers do not agree on errno values, so
// several map to one status; what a given bridge reports is noted where it matters.
constexpr std::array<ErrnoStatus, 12> kErrnoTable{{
    {ENXIO, VB_T2H_NACK},              // the address was not acknowledged
    {EREMOTEIO, VB_T2H_NACK},          // a NACK, as some bus drivers report it
    {ETIMEDOUT, VB_TIMEOUT_ERROR},     // the CP2112 reports an address NACK this way
    {EAGAIN, VB_BUS_BUSY},             // arbitration lost
    {EBUSY, VB_BUS_BUSY},              // bus busy, or the address is claimed by a kernel driver
    {EBADMSG, VB_BAD_PEC},             // PEC mismatch
    {EPROTO, VB_WRONG_NUM_BYTES},      // block count out of range
    {ENODEV, VB_NO_USB},               // adapter gone
    {ESHUTDOWN, VB_NO_USB},            // adapter suspended or being removed
    {EOPNOTSUPP, VB_INCORRECT_PARAM},  // transfer type not supported by the adapter
    {EINVAL, VB_INCORRECT_PARAM},      // the kernel refused the arguments
    {EIO, VB_UNKNOWN},                 // the FT260 reports a NACK this way; anything else too
}};
// Any errno not in the table reads as VB_UNKNOWN as well.

constexpr std::size_t kBlockMax = I2cDevKernel::kBlockMax;
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

void AddNote(const std::string& note) {
  SharedState& s = Shared();
  std::lock_guard lock(s.mutex);
  if (std::find(s.eventNotes.begin(), s.eventNotes.end(), note) != s.eventNotes.end()) return;
  if (static_cast<int>(s.eventNotes.size()) >= kMaxNotes) s.eventNotes.erase(s.eventNotes.begin());
  s.eventNotes.push_back(note);
}

void SetOpenBus(const std::string& label, unsigned long funcs) {
  SharedState& s = Shared();
  std::lock_guard lock(s.mutex);
  s.openBus = label;
  s.openFuncs = funcs;
}

std::string Trim(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
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
  return Trim(s);
}

bool IsRegularFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

// "i2c-12" gives 12; anything else -1.
int BusNumberOf(std::string_view s) {
  if (s.size() < 5 || Lower(std::string(s.substr(0, 4))) != "i2c-") return -1;
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

std::string Hex2(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
  return buf;
}

// Why a bus device could not be opened, in the user's terms.
std::string OpenFailureText(const std::string& label, int err) {
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
    case ENXIO:
      why = "no such device (unplugged?)";
      break;
    case EBUSY:
      why = "busy (in use by a kernel driver or another program)";
      break;
    default:
      why = std::generic_category().message(err);
      break;
  }
  return "Cannot open " + label + ": " + why + ".";
}

std::string LabelOf(const std::string& path, const std::string& adapterName) {
  return adapterName.empty() ? path : path + " (" + adapterName + ")";
}

std::string FuncsText(unsigned long funcs) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08lX", funcs);
  return buf;
}

bool InByteRange(int v) { return v >= 0 && v <= 0xFF; }

// What a path that is no i2c-dev device is instead.
std::string KindOf(unsigned fileType, unsigned major) {
  switch (fileType) {
    case S_IFREG: return "a regular file";
    case S_IFDIR: return "a directory";
    case S_IFIFO: return "a FIFO";
    case S_IFSOCK: return "a socket";
    case S_IFBLK: return "a block device";
    case S_IFCHR: return "the character device of another driver (major " + std::to_string(major) + ")";
    default: return "no device";
  }
}

// The kernel errors with which a bridge reports that nobody acknowledged the address.
bool IsNoAnswer(int err) { return err == ENXIO || err == EREMOTEIO || err == ETIMEDOUT || err == EIO; }

}  // namespace

// ---------------------------------------------------------------------------------------------

std::span<const ErrnoStatus> I2cDevErrnoTable() { return kErrnoTable; }

int16_t StatusFromErrno(int err) {
  for (const auto& e : kErrnoTable)
    if (e.error == err) return e.status;
  return VB_UNKNOWN;
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
  o.bus = Trim(settings.GetString("Adapter", "Bus", ""));
  o.forceAddress = settings.GetInt("Adapter", "ForceAddress", 0) != 0;
  return o;
}

I2cDevOptions I2cDevOptionsFromSettings() { return I2cDevOptionsFromSettings(Settings::Snapshot()); }

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

std::unique_ptr<Zentio> CreateI2cDevControl(const Settings::Snapshot& settings) {
  return std::make_unique<I2cDevDriver>(CurrentI2cDevKernel(), I2cDevOptionsFromSettings(settings));
}

// ---------------------------------------------------------------------------------------------

I2cDevDriver::I2cDevDriver(I2cDevKernel& kernel, I2cDevOptions options)
    : kernel_(kernel), options_(std::move(options)) {}

I2cDevDriver::~I2cDevDriver() {
  CloseFd();
  CloseProbed();
}

void I2cDevDriver::CloseProbed() {
  for (const Probed& p : probed_) kernel_.Close(p.fd);
  probed_.clear();
}

void I2cDevDriver::CloseFd() {
  if (fd_ < 0) return;
  kernel_.Close(fd_);
  fd_ = -1;
  address_ = -1;
  funcs_ = 0;
  SetOpenBus("", 0);
}

std::vector<I2cDevDriver::Candidate> I2cDevDriver::Candidates(std::vector<std::string>* notes) {
  std::string problem;
  const std::vector<I2cBusInfo> buses = EnumerateI2cBuses(kernel_.SysfsRoot(), &problem);
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
  const std::string& wanted = options_.bus;
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
    Candidate c = number >= 0 ? fromNumber(number) : Candidate{Sanitize(wanted), wanted, wanted, -1};
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
  const std::string want = Lower(wanted);
  for (const auto& b : buses)
    if (Lower(b.name) == want) out.push_back(fromBus(b));
  if (out.empty())
    for (const auto& b : buses)
      if (Lower(b.name).starts_with(want)) out.push_back(fromBus(b));
  if (out.empty()) {
    if (!problem.empty()) note(problem);
    note("Bus=" + wanted +
         " in section [Adapter]: no bus has that path, number or adapter name "
         "(buses seen: " +
         seen() + ").");
  }
  return out;
}

std::string I2cDevDriver::NodeProblem(const Candidate& bus) {
  unsigned fileType = 0, major = 0;
  if (int r = kernel_.Inspect(bus.devicePath, fileType, major); r < 0)
    return OpenFailureText(bus.label, -r);
  if (fileType == S_IFCHR && major == I2cDevKernel::kI2cDevMajor) return {};
  std::string why = "Not opening " + bus.label + ": it is " + KindOf(fileType, major) +
                    ", not an i2c-dev bus device.";
  if (!options_.bus.empty())
    why += " Bus= in section [Adapter] takes /dev/i2c-N, a bus number or an adapter name.";
  return why;
}

int I2cDevDriver::OpenBus(const Candidate& bus, unsigned long& funcs, std::string& why) {
  if (why = NodeProblem(bus); !why.empty()) return -1;
  const int fd = kernel_.Open(bus.devicePath);
  if (fd < 0) {
    why = OpenFailureText(bus.label, -fd);
    return -1;
  }
  if (int r = kernel_.Functionality(fd, funcs); r < 0) {
    kernel_.Close(fd);
    why = "Cannot use " + bus.label + ": the functionality query failed (" +
          std::generic_category().message(-r) + ").";
    return -1;
  }
  return fd;
}

void I2cDevDriver::ListFreeDevices(int32_t limit, int32_t& count, std::string& names) {
  count = 0;
  names.clear();
  CloseProbed();  // a new listing looks afresh
  std::vector<std::string> notes;
  std::vector<Candidate> candidates = Candidates(&notes);
  {
    SharedState& s = Shared();
    std::lock_guard lock(s.mutex);
    s.listingNotes.clear();
    s.eventNotes.clear();
  }
  for (const Candidate& c : candidates) {
    if (count >= limit) break;
    // The bus in use by this control counts as ours, not as taken.
    if (fd_ < 0 || c.label != openLabel_) {
      unsigned long funcs = 0;
      std::string why;
      const int fd = OpenBus(c, funcs, why);
      if (fd < 0) {
        notes.push_back(why);
        continue;
      }
      probed_.push_back({c, fd, funcs});
    }
    names += (count > 0 ? "," : "") + c.listedName;
    ++count;
  }
  SharedState& s = Shared();
  std::lock_guard lock(s.mutex);
  s.listingNotes = std::move(notes);
}

int16_t I2cDevDriver::Adopt(const Candidate& bus, int fd, unsigned long funcs) {
  fd_ = fd;
  funcs_ = funcs;
  address_ = -1;
  lastStatus_ = VB_OK;
  openLabel_ = bus.label;
  SetOpenBus(openLabel_, funcs_);
  return static_cast<int16_t>(bus.number >= 0 && bus.number <= 0x7FFF ? bus.number : 0);
}

int16_t I2cDevDriver::OpenDevice(const std::string& name) {
  if (unplugged_) {
    CloseProbed();
    AddNote("The adapter was unplugged; restart the program after plugging it back in.");
    return -1;
  }
  CloseFd();
  // The listed name, or else its bus token ("i2c-3").
  const std::string token = name.substr(0, name.find(' '));
  auto pick = [&](const auto& items, auto busOf) -> std::ptrdiff_t {
    for (std::size_t i = 0; i < items.size(); ++i)
      if (busOf(items[i]).listedName == name) return static_cast<std::ptrdiff_t>(i);
    for (std::size_t i = 0; i < items.size(); ++i) {
      const std::string& listed = busOf(items[i]).listedName;
      if (!token.empty() && listed.substr(0, listed.find(' ')) == token)
        return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
  };
  // A bus the last listing opened is taken over as it is; the others are closed.
  if (const std::ptrdiff_t i = pick(probed_, [](const Probed& p) -> const Candidate& { return p.bus; }); i >= 0) {
    const Probed chosen = probed_[static_cast<std::size_t>(i)];
    probed_.erase(probed_.begin() + i);
    CloseProbed();
    return Adopt(chosen.bus, chosen.fd, chosen.funcs);
  }
  CloseProbed();
  const std::vector<Candidate> candidates = Candidates(nullptr);
  const std::ptrdiff_t i = pick(candidates, [](const Candidate& c) -> const Candidate& { return c; });
  if (i < 0) {
    AddNote("No bus named \"" + name + "\" is available" +
            (options_.bus.empty() ? " (only USB-attached buses are used unless Bus= in section "
                                    "[Adapter] names one)."
                                  : " (Bus=" + options_.bus + " in section [Adapter])."));
    return -1;
  }
  const Candidate& chosen = candidates[static_cast<std::size_t>(i)];
  unsigned long funcs = 0;
  std::string why;
  const int fd = OpenBus(chosen, funcs, why);
  if (fd < 0) {
    AddNote(why);
    return -1;
  }
  return Adopt(chosen, fd, funcs);
}

void I2cDevDriver::DeviceClose() {
  CloseFd();
  CloseProbed();
}

void I2cDevDriver::ShowAboutBox() {
  std::string problem;
  const std::vector<I2cBusInfo> buses = EnumerateI2cBuses(kernel_.SysfsRoot(), &problem);
  std::string openBus;
  unsigned long openFuncs = 0;
  {
    SharedState& s = Shared();
    std::lock_guard lock(s.mutex);
    openBus = s.openBus;
    openFuncs = s.openFuncs;
  }
  std::string text = "Korvo i2c-dev driver " + std::to_string(kVersion) + "." +
                     std::to_string(kRevision) + " for USB-to-I2C/SMBus bridges (Linux)";
  text += kNewLine;
  text += openBus.empty() ? std::string("Bus in use: none")
                          : "Bus in use: " + openBus + ", functions " + FuncsText(openFuncs);
  text += kNewLine;
  text += "Bus setting: " +
          (options_.bus.empty() ? std::string("(USB-attached buses)") : options_.bus) +
          ", ForceAddress=" + (options_.forceAddress ? "1" : "0");
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
  MsgBox(text);
}

int16_t I2cDevDriver::QueryError() { return fd_ < 0 ? int16_t{VB_NO_USB} : lastStatus_; }

// ---------------------------------------------------------------------------------------------

void I2cDevDriver::ForgetUnpluggedAdapter() {
  // Close at once: the kernel cannot finish removing the adapter while we hold its device open.
  const std::string label = openLabel_;
  CloseFd();
  unplugged_ = true;
  AddNote(label +
          " has gone (unplugged?). Every transaction now fails with VB_NO_USB; restart "
          "the program after plugging it back in.");
}

int16_t I2cDevDriver::FromKernel(int result) {
  if (result >= 0) return VB_OK;
  const int err = -result;
  if (IsNoAnswer(err) && target_ >= 0) AddNote(openLabel_ + ": " + NoAnswerNote(target_) + ".");
  if (err == ENODEV || err == ESHUTDOWN) ForgetUnpluggedAdapter();
  return StatusFromErrno(err);
}

int16_t I2cDevDriver::SelectAddress(uint8_t address) {
  if (address_ == address) return VB_OK;
  int r = kernel_.SetAddress(fd_, address, false);
  if (r == -EBUSY) {
    const std::string where = openLabel_ + ": address " + Hex2(address) + " (8-bit " +
                              Hex2(address << 1) + "/" + Hex2((address << 1) | 1) + ")";
    if (options_.forceAddress) {
      r = kernel_.SetAddress(fd_, address, true);
      if (r >= 0) AddNote(where + " is claimed by a kernel driver; used anyway (ForceAddress=1).");
    } else {
      AddNote(where +
              " is claimed by a kernel driver. Unbind that driver, or set ForceAddress=1 "
              "in section [Adapter] to use it anyway.");
    }
  }
  if (r < 0) {
    address_ = -1;
    return FromKernel(r);
  }
  address_ = address;
  return VB_OK;
}

int16_t I2cDevDriver::Prepare(int16_t target, unsigned long needed) {
  if (fd_ < 0) return VB_NO_USB;
  // 8-bit convention: bit 0 is the read/write bit, the kernel wants the 7-bit address.
  if (!InByteRange(target)) return VB_INCORRECT_PARAM;
  if ((funcs_ & needed) != needed) return VB_INCORRECT_PARAM;
  target_ = target;
  return SelectAddress(static_cast<uint8_t>(target >> 1));
}

int16_t I2cDevDriver::SmbWriteWord(int16_t command, int16_t word, int16_t target) {
  if (fd_ < 0) return Done(VB_NO_USB);
  if (!InByteRange(command)) return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_WRITE_WORD_DATA); s != VB_OK) return Done(s);
  return Done(FromKernel(
      kernel_.SmbusWriteWord(fd_, static_cast<uint8_t>(command), static_cast<uint16_t>(word))));
}

int16_t I2cDevDriver::SmbReadWord(int16_t command, int16_t& word, int16_t target) {
  if (fd_ < 0) return Done(VB_NO_USB);
  if (!InByteRange(command)) return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_READ_WORD_DATA); s != VB_OK) return Done(s);
  const int r = kernel_.SmbusReadWord(fd_, static_cast<uint8_t>(command));
  if (r >= 0) word = static_cast<int16_t>(static_cast<uint16_t>(r));
  return Done(FromKernel(r));
}

int16_t I2cDevDriver::SmbSendCommand(int16_t command, int16_t target) {
  if (fd_ < 0) return Done(VB_NO_USB);
  if (!InByteRange(command)) return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_WRITE_BYTE); s != VB_OK) return Done(s);
  return Done(FromKernel(kernel_.SmbusSendByte(fd_, static_cast<uint8_t>(command))));
}

int16_t I2cDevDriver::SmbWriteBlock(int16_t command, const std::vector<uint8_t>& bytes,
                                    int16_t count, int16_t target) {
  if (fd_ < 0) return Done(VB_NO_USB);
  if (!InByteRange(command) || count < 0 || static_cast<std::size_t>(count) > kBlockMax ||
      static_cast<std::size_t>(count) > bytes.size())
    return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_WRITE_BLOCK_DATA); s != VB_OK) return Done(s);
  return Done(FromKernel(kernel_.SmbusWriteBlock(fd_, static_cast<uint8_t>(command),
                                                 std::span<const uint8_t>(bytes.data(), count))));
}

int16_t I2cDevDriver::SmbReadBlock(int16_t command, std::vector<uint8_t>& buffer, int16_t& length,
                                   int16_t target) {
  length = 0;
  if (fd_ < 0) return Done(VB_NO_USB);
  if (!InByteRange(command)) return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_READ_BLOCK_DATA); s != VB_OK) return Done(s);
  std::array<uint8_t, kBlockMax> block{};
  const int r = kernel_.SmbusReadBlock(fd_, static_cast<uint8_t>(command), block);
  if (r < 0) return Done(FromKernel(r));
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(r), kBlockMax);
  if (buffer.size() < n) buffer.resize(n);
  std::copy_n(block.begin(), n, buffer.begin());
  length = static_cast<int16_t>(n);
  return Done(VB_OK);
}

int16_t I2cDevDriver::ReadI2cBlockAt(int16_t command, int32_t count, int16_t target,
                                     std::array<uint8_t, 256>& data, int32_t& delivered) {
  delivered = 0;
  if (fd_ < 0) return VB_NO_USB;
  // Longer reads go as 32-byte transfers at consecutive addresses, which must stay within the
  // one-byte address range (so at most 256 bytes).
  if (!InByteRange(command) || count < 1) return VB_INCORRECT_PARAM;
  if (static_cast<std::size_t>(count) > kBlockMax && command + count > 0x100)
    return VB_INCORRECT_PARAM;
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_READ_I2C_BLOCK); s != VB_OK) return s;
  while (delivered < count) {
    const int32_t n = std::min<int32_t>(kBlockMax, count - delivered);
    const int r = kernel_.SmbusReadI2cBlock(fd_, static_cast<uint8_t>(command + delivered),
                                            std::span<uint8_t>(data.data() + delivered, n));
    if (r < 0) return FromKernel(r);
    delivered += std::min<int32_t>(r, n);
    if (r < n) break;
  }
  return VB_OK;
}

int16_t I2cDevDriver::SmbReadI2CBlock(int16_t command, std::vector<uint8_t>& buffer,
                                      int16_t& length, int16_t target) {
  const int16_t wanted = length;
  length = 0;
  std::array<uint8_t, 256> data{};
  int32_t delivered = 0;
  const int16_t s = ReadI2cBlockAt(command, wanted, target, data, delivered);
  if (s != VB_OK) return Done(s);
  if (buffer.size() < static_cast<std::size_t>(delivered)) buffer.resize(delivered);
  std::copy_n(data.begin(), delivered, buffer.begin());
  length = static_cast<int16_t>(delivered);
  return Done(VB_OK);
}

int16_t I2cDevDriver::SmbReadI2CBlockNoCmd(std::vector<uint8_t>& buffer, int16_t& length,
                                           int16_t target) {
  const int16_t wanted = length;
  length = 0;
  if (fd_ < 0) return Done(VB_NO_USB);
  if (wanted < 1 || static_cast<std::size_t>(wanted) > kBlockMax) return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_I2C); s != VB_OK) return Done(s);
  std::array<uint8_t, kBlockMax> block{};
  i2c_msg msg{};
  msg.addr = static_cast<uint16_t>(address_);
  msg.flags = I2C_M_RD;
  msg.len = static_cast<uint16_t>(wanted);
  msg.buf = block.data();
  const int r = kernel_.Transfer(fd_, std::span<i2c_msg>(&msg, 1));
  if (r < 0) return Done(FromKernel(r));
  if (buffer.size() < static_cast<std::size_t>(wanted)) buffer.resize(wanted);
  std::copy_n(block.begin(), wanted, buffer.begin());
  length = wanted;
  return Done(VB_OK);
}

int16_t I2cDevDriver::SmbWriteI2CBlock(int16_t command, const std::vector<uint8_t>& bytes,
                                       int16_t count, int16_t target) {
  if (fd_ < 0) return Done(VB_NO_USB);
  if (!InByteRange(command) || count < 0 || static_cast<std::size_t>(count) > kBlockMax ||
      static_cast<std::size_t>(count) > bytes.size())
    return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_WRITE_I2C_BLOCK); s != VB_OK) return Done(s);
  return Done(FromKernel(kernel_.SmbusWriteI2cBlock(
      fd_, static_cast<uint8_t>(command), std::span<const uint8_t>(bytes.data(), count))));
}

int16_t I2cDevDriver::SmbWriteReadI2CBlock(int16_t command, int16_t writeLength, int16_t readLength,
                                           std::vector<uint8_t>& buffer, int16_t& lengthRead,
                                           int16_t target) {
  lengthRead = 0;
  if (fd_ < 0) return Done(VB_NO_USB);
  // The contract writes buffer elements 0 to writeLength, that is writeLength + 1 bytes.
  const int writeCount = writeLength + 1;
  if (!InByteRange(command) || writeLength < 0 ||
      static_cast<std::size_t>(writeCount) > kBlockMax ||
      static_cast<std::size_t>(writeCount) > buffer.size() || readLength < 1 ||
      static_cast<std::size_t>(readLength) > kBlockMax)
    return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_I2C); s != VB_OK) return Done(s);
  std::array<uint8_t, kBlockMax + 1> out{};
  std::array<uint8_t, kBlockMax> in{};
  out[0] = static_cast<uint8_t>(command);
  std::copy_n(buffer.begin(), writeCount, out.begin() + 1);
  std::array<i2c_msg, 2> msgs{};
  msgs[0].addr = static_cast<uint16_t>(address_);
  msgs[0].flags = 0;
  msgs[0].len = static_cast<uint16_t>(writeCount + 1);
  msgs[0].buf = out.data();
  msgs[1].addr = static_cast<uint16_t>(address_);
  msgs[1].flags = I2C_M_RD;
  msgs[1].len = static_cast<uint16_t>(readLength);
  msgs[1].buf = in.data();
  const int r = kernel_.Transfer(fd_, msgs);
  if (r < 0) return Done(FromKernel(r));
  if (buffer.size() < static_cast<std::size_t>(readLength)) buffer.resize(readLength);
  std::copy_n(in.begin(), readLength, buffer.begin());
  lengthRead = readLength;
  return Done(VB_OK);
}

int16_t I2cDevDriver::I2CBlockRead(int16_t wordAddress, std::vector<uint8_t>& buffer, int16_t size,
                                   int16_t target) {
  std::array<uint8_t, 256> data{};
  int32_t delivered = 0;
  int16_t s = ReadI2cBlockAt(wordAddress, size, target, data, delivered);
  if (s == VB_OK && delivered < size) s = VB_WRONG_NUM_BYTES;
  if (s != VB_OK) return Done(s);
  if (buffer.size() < static_cast<std::size_t>(size)) buffer.resize(size);
  std::copy_n(data.begin(), size, buffer.begin());
  return Done(VB_OK);
}

int16_t I2cDevDriver::I2CBlockWrite(int16_t wordAddress, const std::vector<uint8_t>& bytes,
                                    int16_t size, int16_t target) {
  if (fd_ < 0) return Done(VB_NO_USB);
  // Writes above 32 bytes are refused rather than split: an EEPROM needs its write cycle time
  // between pages and would NACK a second transfer sent straight after the first.
  if (!InByteRange(wordAddress) || size < 0 || static_cast<std::size_t>(size) > kBlockMax ||
      static_cast<std::size_t>(size) > bytes.size())
    return Done(VB_INCORRECT_PARAM);
  if (int16_t s = Prepare(target, I2C_FUNC_SMBUS_WRITE_I2C_BLOCK); s != VB_OK) return Done(s);
  return Done(FromKernel(kernel_.SmbusWriteI2cBlock(fd_, static_cast<uint8_t>(wordAddress),
                                                    std::span<const uint8_t>(bytes.data(), size))));
}

int16_t I2cDevDriver::I2CByteOp(int32_t selector, int16_t a, int16_t b, int16_t& c) {
  if (fd_ < 0) return Done(VB_NO_USB);
  switch (selector) {
    case 1: {  // write: target a, address b, data c
      if (!InByteRange(b) || !InByteRange(c)) return Done(VB_INCORRECT_PARAM);
      if (int16_t s = Prepare(a, I2C_FUNC_SMBUS_WRITE_BYTE_DATA); s != VB_OK) return Done(s);
      return Done(FromKernel(
          kernel_.SmbusWriteByteData(fd_, static_cast<uint8_t>(b), static_cast<uint8_t>(c))));
    }
    case 2: {  // read: target a, address b, data out c
      if (!InByteRange(b)) return Done(VB_INCORRECT_PARAM);
      if (int16_t s = Prepare(a, I2C_FUNC_SMBUS_READ_BYTE_DATA); s != VB_OK) return Done(s);
      const int r = kernel_.SmbusReadByteData(fd_, static_cast<uint8_t>(b));
      if (r >= 0) c = static_cast<int16_t>(r & 0xFF);
      return Done(FromKernel(r));
    }
    default:
      // Bus power (0) and wire control (3) are not something i2c-dev can do.
      return Done(VB_INCORRECT_PARAM);
  }
}

int16_t I2cDevDriver::OneWireRead(int32_t, int16_t, int16_t&) { return Done(VB_INCORRECT_PARAM); }
int16_t I2cDevDriver::OneWireWrite(int32_t, int16_t, int16_t) { return Done(VB_INCORRECT_PARAM); }

void I2cDevDriver::Wait(int32_t milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  // A wait is a transaction that cannot fail: QueryError after it reports no old failure again.
  lastStatus_ = VB_OK;
}

int16_t I2cDevDriver::GetVersion(int16_t& version, int16_t& revision) {
  if (fd_ < 0) return Done(VB_NO_USB);
  version = kVersion;
  revision = kRevision;
  return Done(VB_OK);
}

int16_t I2cDevDriver::FlashFromSrec(const std::string&, const std::string&, const std::string&) {
  return Done(VB_INCORRECT_PARAM);
}
int16_t I2cDevDriver::FlashProgram(int32_t, int32_t, const std::vector<uint8_t>&, int32_t, int32_t,
                                   const std::vector<uint8_t>&, int32_t, int16_t) {
  return Done(VB_INCORRECT_PARAM);
}
int16_t I2cDevDriver::FlashRead(int32_t, int32_t, std::vector<uint8_t>&, int32_t,
                                std::vector<uint8_t>&, int32_t, int16_t) {
  return Done(VB_INCORRECT_PARAM);
}
