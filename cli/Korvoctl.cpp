#include "cli/Korvoctl.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <sstream>

#include "adapter/frmUSB.h"
#include "cli/KorvoctlInstruments.h"
#include "cli/KorvoctlMetrics.h"
#include "cli/KorvoctlRecording.h"
#include "cli/KorvoctlSpins.h"
#include "drivers/Drivers.h"
#include "registers/RegisterAccess.h"
#include "registers/RegisterTable.h"
#include "registers/Spins.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"
#include "foundation/Utils.h"
#include "foundation/Version.h"

namespace {

// Every register access of korvoctl names the register the way the main window does.

struct Operation {
  enum class Kind { Read, Write, Dump, List, Spin, Burn, Recording, Instruments } kind;
  uint8_t address = 0;
  uint16_t value = 0;
  std::string caption = {};  // spin: the button caption
  std::size_t index = 0;     // recording: its operation number
};

struct Options {
  std::optional<std::string> ini;
  std::optional<bool> i2c;
  std::optional<int16_t> address;
  std::optional<int16_t> retries;
  bool pec = false;
  bool yes = false;
  bool help = false;
  bool version = false;
  std::vector<Operation> ops;
  KorvoctlRecording recording;
  KorvoctlInstruments instruments;
  KorvoctlMetrics metrics;
};

struct UsageError {
  std::string message;
};

// A DAC register's value is its quantity in mV or mA.
std::string WithUnit(uint8_t address, uint16_t v) {
  const RegisterTable::Register* r = RegisterTable::Find(address);
  if (r == nullptr || r->dac == nullptr) return Text::Word(v);
  return Text::Word(v) + " (" + std::to_string(v) + " " + std::string(r->dac->unit) + ")";
}

// The spin window's words for a read-back that differs, then what was written and read.
std::string WriteMismatchText(uint8_t address, uint16_t written, uint16_t readBack) {
  return Spins::MismatchText(Text::Byte(address)) + kNewLine + "Written " +
         WithUnit(address, written) + ", read back " + WithUnit(address, readBack) + ".";
}

// Whether everything written to out has reached it; when not, says so on err.
bool Delivered(std::ostream& out, std::ostream& err) {
  errno = 0;
  if (out.flush()) return true;
  const int e = errno;
  err << "korvoctl: cannot write the output" << (e != 0 ? std::string(": ") + std::strerror(e) : "")
      << '\n';
  return false;
}

int64_t Number(const std::vector<std::string>& args, std::size_t& i, const std::string& what,
               int64_t lo, int64_t hi) {
  if (i + 1 >= args.size()) throw UsageError{what + " is missing"};
  const std::string& text = args[++i];
  auto v = Utils::ParseInteger(text, lo, hi);
  if (!v) {
    throw UsageError{"invalid " + what + " '" + text + "': expected " + std::to_string(lo) +
                     " to " + std::to_string(hi) + " (decimal, or hexadecimal with 0x)"};
  }
  return *v;
}

Options Parse(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "-y" || a == "--yes") {
      o.yes = true;
    } else if (a == "--i2c") {
      o.i2c = true;
    } else if (a == "--smbus") {
      o.i2c = false;
    } else if (a == "--ini") {
      if (i + 1 >= args.size()) throw UsageError{"--ini needs a file"};
      o.ini = args[++i];
    } else if (a == "--address") {
      o.address = static_cast<int16_t>(Number(args, i, "device address", 0, 0xFF));
    } else if (a == "--pec") {
      o.pec = true;
    } else if (a == "--retries") {
      o.retries = static_cast<int16_t>(Number(args, i, "retry count", 0, 32767));
    } else if (a == "read") {
      o.ops.push_back({Operation::Kind::Read,
                       static_cast<uint8_t>(Number(args, i, "register address", 0, 0xFF)), 0});
    } else if (a == "write") {
      const auto address = static_cast<uint8_t>(Number(args, i, "register address", 0, 0xFF));
      const auto value = static_cast<uint16_t>(Number(args, i, "register value", 0, 0xFFFF));
      o.ops.push_back({Operation::Kind::Write, address, value});
    } else if (a == "dump") {
      o.ops.push_back({Operation::Kind::Dump, 0, 0});
    } else if (a == "list") {
      o.ops.push_back({Operation::Kind::List, 0, 0});
    } else if (a == "spin") {
      if (i + 1 >= args.size()) throw UsageError{"spin caption is missing"};
      const std::string& text = args[++i];
      const auto caption = Spins::FindCaption(text);
      if (!caption) throw UsageError{UnknownSpinText(text)};
      o.ops.push_back({Operation::Kind::Spin, 0, 0, std::string(*caption)});
    } else if (a == "burn") {
      o.ops.push_back({Operation::Kind::Burn, 0, 0});
    } else if (const auto bench = o.instruments.Take(args, i); bench.taken) {
      if (!bench.error.empty()) throw UsageError{bench.error};
      if (bench.operation) o.ops.push_back({Operation::Kind::Instruments, 0, 0});
    } else if (const auto m = o.metrics.Take(args, i); m.taken) {
      if (!m.error.empty()) throw UsageError{m.error};
    } else if (const auto t = o.recording.Take(args, i); t.taken) {
      if (!t.error.empty()) throw UsageError{t.error};
      if (t.operation) o.ops.push_back({Operation::Kind::Recording, 0, 0, {}, t.index});
    } else if (!a.empty() && a[0] == '-') {
      throw UsageError{"unknown option '" + a + "'"};
    } else {
      throw UsageError{"unknown operation '" + a + "'"};
    }
  }
  if (!o.help && !o.version && o.ops.empty()) throw UsageError{"no operation given"};
  return o;
}

class Session {
 public:
  Session(std::ostream& out, const KorvoctlRecording& recording)
      : out_(out), recording_(recording) {}
  RegisterAccess& Access() { return access_; }

  // Prints the register: address, value in hex, value in decimal.
  std::optional<uint16_t> Read(uint8_t address) {
    int16_t value = 0;
    if (access_.ReadRegister(RegisterAccess::kMainRegisterName, address, value,
                             modGlobals::DeviceAddress) != 0)
      return std::nullopt;
    const auto u = static_cast<uint16_t>(value);
    out_ << Text::Byte(address) << ' ' << Text::Word(u) << ' ' << u << '\n';
    return u;
  }

  // With VerifyWrite on, as in the windows, the register is read back and printed; a value
  // that differs from the one written fails the write.
  bool Write(uint8_t address, uint16_t value) {
    if (access_.WriteRegister(RegisterAccess::kMainRegisterName, address,
                              RegisterAccess::UIntToInt(value), modGlobals::DeviceAddress) != 0)
      return false;
    if (!modGlobals::VerifyWrite) return true;
    const std::optional<uint16_t> back = Read(address);
    if (back && *back != value) MsgBox(WriteMismatchText(address, value, *back));
    return back == value;
  }

  // Every register is attempted; a failed one shows "------".
  bool Dump() { return recording_.Dump(access_, out_); }

  // Exit code of a spin or a burn.
  int Spin(const std::string& caption) { return KorvoctlSpin(access_, caption); }
  int Burn() { return KorvoctlBurn(access_); }

  // False when no adapter is listed.
  bool List() {
    const std::vector<std::string> names = frmUSB::Get().ListFreeDevices();
    for (const std::string& name : names) out_ << name << '\n';
    return !names.empty();
  }

 private:
  std::ostream& out_;
  const KorvoctlRecording& recording_;
  RegisterAccess access_;
};

}  // namespace

void StreamMessageSink::ShowMessage(const std::string& text) {
  std::string plain;
  plain.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    plain += text[i];
  }
  err_ << plain << '\n';
  ++shown_;
}

bool StreamMessageSink::Confirm(const std::string& text) {
  ShowMessage(text);
  if (assumeYes_) return true;
  err_ << "Continue? [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(in_, answer)) return false;
  const std::string_view word = Text::Trim(answer, " \t");
  return !word.empty() && (word.front() == 'y' || word.front() == 'Y');
}

std::string KorvoctlUsage() {
  std::ostringstream s;
  s << "Usage: korvoctl [options] operation...\n"
       "Reads and writes the rk5190 charger's registers through the adapter.\n"
       "\n"
       "Operations (run in order on one open adapter):\n"
       "  read ADDR          print register ADDR: address, value in hex, value in decimal\n"
       "  write ADDR VALUE   write VALUE (0 to 65535) to register ADDR; with VerifyWrite on,\n"
       "                     read it back and print it as read does\n"
       "  dump               print all eleven registers: address, value in hex, caption\n"
       "                     (--format csv or json: with the value in decimal and the status)\n"
       "  list               print the names of the free adapters\n";
  s << KorvoctlSpinUsage();
  s << KorvoctlRecordingUsage();
  s << KorvoctlInstrumentsUsage();
  s << "Addresses and values are decimal or hexadecimal with a 0x prefix.\n"
       "\n"
       "Options:\n"
       "  --ini FILE         settings file (default: korvo.ini beside korvoctl, else\n"
       "                     ~/.config/korvo/korvo.ini, else /etc/xdg/korvo/korvo.ini)\n"
       "  --i2c, --smbus     bus mode (default: CommMode of the settings file)\n"
       "  --address ADDR     charger bus address, 8-bit form (default: Address, 0x67)\n"
       "  --retries N        extra attempts of a failed read (default: ReadRetryCount)\n"
       "  --pec              i2c-dev: check word reads and writes with a packet error code\n"
       "                     computed by korvoctl (default: Pec of section [Adapter], 0)\n"
       "  -y, --yes          answer yes to every confirmation\n";
  s << KorvoctlRecordingOptionsUsage();
  s << KorvoctlInstrumentsOptionsUsage();
  s << KorvoctlMetricsUsage();
  s << "  -h, --help         show this text\n"
       "  --version          show the version and the settings file read\n"
       "\n"
       "Adapter drivers ([Adapter] Driver=..., or KORVO_ADAPTER=...):\n";
  for (const DriverInfo& d : AllDrivers()) s << "  " << d.name << "  " << d.description << '\n';
  s << "\n"
       "Exit codes:\n"
       "  0  success\n"
       "  1  usage error (bad command line, unreadable --ini file, unreadable or malformed\n"
       "     snapshot file, an output file that is the settings file, a snapshot file read\n"
       "     or another output of the run; a --metrics address in use or not allowed)\n"
       "  2  bus failure (no adapter opened or listed, or a register access failed; watch\n"
       "     stops at once when the adapter has gone)\n"
       "     also: a write read back otherwise, a spin that did not go in as stored,\n"
       "     a failed EEPROM burn, output that could not be written (a full disk, a closed\n"
       "     pipe, a removed file); instruments: an instrument absent\n"
       "  3  a confirmation was declined (spin, burn, restore): nothing more was written\n"
       "  4  compare: the registers differ\n"
       "A recording, journal or snapshot file that cannot be written is reported; the run goes\n"
       "on and ends with exit code 2.\n";
  return s.str();
}

int RunKorvoctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                std::istream& in) {
  return RunKorvoctl(args, out, err, in, recording::SystemClock());
}

int RunKorvoctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                std::istream& in, recording::Clock& clock) {
  Options o;
  try {
    o = Parse(args);
  } catch (const UsageError& e) {
    err << "korvoctl: " << e.message << "\nTry 'korvoctl --help'.\n";
    return kExitUsage;
  }
  if (o.help) {
    out << KorvoctlUsage();
    return Delivered(out, err) ? kExitOk : kExitBus;
  }

  // Read and parsed once for all the keys of the load.
  std::optional<Settings::Snapshot> settings;
  if (o.ini) {
    settings = Settings::Snapshot::Load(*o.ini);
    if (!settings) {
      err << "korvoctl: cannot read settings file '" << *o.ini << "'\n";
      return kExitUsage;
    }
    Settings::SetFile(*o.ini);
  } else {
    Settings::SetFile(Settings::LookUp(Paths::Join(Paths::ProgramDir(), "korvo.ini")));
    settings.emplace();
  }
  if (o.version) {
    out << "korvoctl " << VersionText() << "\nSettings file: " << Settings::FileReadText() << '\n';
    return Delivered(out, err) ? kExitOk : kExitBus;
  }
  Settings::ResetToDefaults();
  Settings::LoadColors(*settings);
  Settings::LoadCommSettings(*settings);
  if (o.i2c) modGlobals::I2CMode = *o.i2c;
  if (o.address) modGlobals::DeviceAddress = *o.address;
  if (o.retries) modGlobals::ReadRetryCount = *o.retries;

  if (o.pec) {
    const Settings::Snapshot withPec = settings->With("Adapter", "Pec", "1");
    frmUSB::SetControlFactory([withPec] { return CreateSelectedControlFrom(withPec); });
  } else {
    frmUSB::SetControlFactory(&CreateSelectedControl);
  }
  StreamMessageSink sink(err, in, o.yes);
  ScopedMessageSink scope(&sink);  // tests run korvoctl in-process

  bool needsDevice = false;
  for (const Operation& op : o.ops) {
    needsDevice |= op.kind == Operation::Kind::Recording ? o.recording.NeedsDevice(op.index)
                                                         : op.kind != Operation::Kind::List &&
                                                               op.kind != Operation::Kind::Instruments;
    // The instruments are read beside a watch, a snapshot and a CSV or JSON dump.
    if ((op.kind == Operation::Kind::Recording &&
         (o.recording.IsWatch(op.index) || o.recording.IsSnapshot(op.index))) ||
        (op.kind == Operation::Kind::Dump &&
         o.recording.Format() != KorvoctlRecording::DumpFormat::kText))
      o.instruments.SetUsed();
  }
  if (const int prepared = o.instruments.Prepare(err, clock, Settings::File()); prepared != kExitOk)
    return prepared;
  o.recording.SetCompanion(&o.instruments);
  if (const int prepared = o.recording.Prepare(err, clock); prepared != kExitOk) return prepared;
  if (const int started = o.metrics.Start(err, o.recording.Variant(), o.instruments);
      started != kExitOk)
    return started;

  int rc = kExitOk;
  bool differ = false;
  Session session(out, o.recording);
  // Everything this run reads or writes is korvoctl's, whatever runs it (a spin, a watch).
  const RegisterAccess::SourceScope tag(session.Access(), recording::AccessSource::kKorvoctl);
  o.recording.Attach(session.Access(), frmUSB::Get());
  o.metrics.Attach(session.Access(), frmUSB::Get());
  if (needsDevice && !frmUSB::Get().OpenFirstFreeDevice()) {
    MsgBox(kOpenFailureText);
    err << SelectedDriverDiagnostics();
    rc = kExitBus;
  } else {
    for (const Operation& op : o.ops) {
      bool ok = true;
      int step = kExitOk;
      switch (op.kind) {
        case Operation::Kind::Read: ok = session.Read(op.address).has_value(); break;
        case Operation::Kind::Write: ok = session.Write(op.address, op.value); break;
        case Operation::Kind::Dump: ok = session.Dump(); break;
        case Operation::Kind::List: ok = session.List(); break;
        case Operation::Kind::Spin: step = session.Spin(op.caption); break;
        case Operation::Kind::Burn: step = session.Burn(); break;
        case Operation::Kind::Recording:
          step = o.recording.Run(op.index, session.Access(), out, err);
          break;
        case Operation::Kind::Instruments: step = o.instruments.Run(out); break;
      }
      // Output that is lost ends the run: nothing more is done unseen.
      if (o.recording.OutputLost() || !Delivered(out, err)) {
        rc = kExitBus;
        break;
      }
      if (step == kExitDiffer) {
        differ = true;  // not a failure: the run goes on
        step = kExitOk;
      }
      if (step == kExitDeclined || step == kExitUsage) {
        rc = step;
        break;
      }
      ok = ok && step == kExitOk;
      if (!ok) {
        err << SelectedDriverDiagnostics();  // e.g. a kernel driver holding the address
        rc = kExitBus;
        break;
      }
      if (o.recording.Interrupted()) break;  // Ctrl-C in a watch ends the run
    }
  }
  if (rc == kExitOk && differ) rc = kExitDiffer;
  o.instruments.Finish();
  rc = o.recording.Finish(rc, &session.Access(), &frmUSB::Get(), err);
  o.metrics.Detach(session.Access(), frmUSB::Get());
  frmUSB::Get().CloseDevice();
  return rc;
}
