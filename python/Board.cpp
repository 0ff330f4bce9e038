#include "python/Board.h"



#include "adapter/ErrorCodes.h"
#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"
#include "foundation/Paths.h"
#include "foundation/Text.h"
#include "registers/RegisterTable.h"
#include "registers/Spins.h"

namespace korvo_py {

namespace {

Failure SettingsFailure(std::string message) {
  return {Failure::Kind::kSettings, 0, std::move(message)};
}

}  // namespace

void CollectingSink::ShowMessage(const std::string& text) {
  std::string plain;
  plain.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    plain += text[i];
  }
  texts_.push_back(std::move(plain));
}

bool CollectingSink::Confirm(const std::string& text) {
  ShowMessage(text);
  return confirm ? confirm(text) : false;
}

std::string CollectingSink::Take() {
  std::string all;
  for (const std::string& t : texts_) all += (all.empty() ? "" : "\n") + t;
  texts_.clear();
  return all;
}

class Board::Tracer : public recording::TransactionObserver {
 public:
  void OnTransaction(const recording::TransactionEvent& e) override {
    entries.push_back({std::string(e.operation), std::string(e.detail), e.status});
  }
  std::vector<TraceEntry> entries;
};

Board::Board(const OpenOptions& o) : driver_(o.driver) {
  const DriverInfo* driver = FindDriver(o.driver);
  if (driver == nullptr) {
    std::string known;
    for (const DriverInfo& d : AllDrivers()) known += (known.empty() ? "" : ", ") + std::string(d.name);
    throw SettingsFailure("unknown driver '" + o.driver + "': expected one of " + known);
  }
  const auto variant = recording::ParseVariant(o.variant);
  if (!variant) throw SettingsFailure("invalid chip variant '" + o.variant + "': expected rk5190 or rk5191");
  variant_ = *variant;
  if (o.address && (*o.address < 0 || *o.address > 0xFF))
    throw SettingsFailure("invalid device address " + std::to_string(*o.address) + ": expected 0 to 255");
  if (o.bus && driver->simulated)
    throw SettingsFailure("bus= names an i2c-dev bus; the " + std::string(driver->name) +
                          " driver has none");
  if (o.pec && driver->simulated)
    throw SettingsFailure("pec= is the i2c-dev driver's packet error code; the " +
                          std::string(driver->name) + " driver has none");

  if (o.settings) {
    if (!Paths::IsReadableFile(*o.settings))
      throw SettingsFailure("cannot read settings file '" + *o.settings + "'");
    settingsPath_ = *o.settings;
  } else {
    // No program beside which to look: the user's, then the system's settings file.
    settingsPath_ = Settings::LookUp("");
  }
  std::optional<Settings::Snapshot> settings =
      settingsPath_.empty() ? Settings::Snapshot::Empty() : Settings::Snapshot::Load(settingsPath_);
  if (!settings) throw SettingsFailure("cannot read settings file '" + settingsPath_ + "'");
  // The caller's options over the file's, for this board alone.
  if (o.bus) settings = settings->With("Adapter", "Bus", *o.bus);
  if (o.pec) settings = settings->With("Adapter", "Pec", "1");

  // The simulator finds its scenario and EEPROM files beside the file the snapshot was read from.
  std::unique_ptr<Zentio> control = CreateOwnControl(o.driver, *settings);
  Settings::CommSettings comm = Settings::ReadCommSettings(*settings);
  if (o.address) comm.deviceAddress = static_cast<int16_t>(*o.address);
  link_ = std::make_unique<frmUSB>(std::move(control));
  access_ = std::make_unique<RegisterAccess>(*link_, comm, &sink_);
  if (!link_->OpenFirstFreeDevice()) {
    std::string message = kOpenFailureText;
    if (driver->diagnostics != nullptr) message += std::string("\r\n") + driver->diagnostics();
    sink_.ShowMessage(message);
    Failure f{Failure::Kind::kBus, VB_NO_USB, sink_.Take()};
    while (!f.message.empty() && f.message.back() == '\n') f.message.pop_back();
    throw f;
  }
  open_ = true;
}

Board::~Board() { Close(); }

void Board::Close() {
  if (!open_) return;
  open_ = false;
  if (tracer_) link_->RemoveObserver(*tracer_);
  link_->CloseDevice();
}

int32_t Board::Read(uint8_t address, uint16_t& value) {
  int16_t v = 0;
  const int32_t status =
      access_->ReadRegister(RegisterAccess::kMainRegisterName, address, v, Target());
  value = static_cast<uint16_t>(v);
  return status;
}

std::optional<Failure> Board::Write(uint8_t address, uint16_t value) {
  int32_t status = access_->WriteRegister(RegisterAccess::kMainRegisterName, address,
                                          RegisterAccess::UIntToInt(value), Target());
  if (status != 0) return Failure{Failure::Kind::kBus, status, sink_.Take()};
  if (!access_->Comm().verifyWrite) return std::nullopt;
  uint16_t back = 0;
  {
    const RegisterAccess::SourceScope tag(*access_, recording::AccessSource::kVerifyReadBack);
    status = Read(address, back);
  }
  if (status != 0) return Failure{Failure::Kind::kBus, status, sink_.Take()};
  if (back != value) {
    sink_.ShowMessage(WriteMismatchText(address, value, back));
    return Failure{Failure::Kind::kBus, VB_COMPARE_DIFFERENT, sink_.Take()};
  }
  return std::nullopt;
}

void Board::StartTrace() {
  if (!tracer_) {
    tracer_ = std::make_unique<Tracer>();
    link_->AddObserver(*tracer_);
  }
  tracer_->entries.clear();
}

std::vector<TraceEntry> Board::StopTrace() {
  if (!tracer_) return {};
  link_->RemoveObserver(*tracer_);
  std::vector<TraceEntry> entries = std::move(tracer_->entries);
  tracer_.reset();
  return entries;
}

std::string WriteMismatchText(uint8_t address, uint16_t written, uint16_t readBack) {
  auto withUnit = [address](uint16_t v) {
    const auto unit = recording::DacUnit(address);
    if (!unit) return Text::Word(v);
    return Text::Word(v) + " (" + std::to_string(v) + " " + std::string(*unit) + ")";
  };
  return Spins::MismatchText(Text::Byte(address)) + kNewLine + "Written " + withUnit(written) +
         ", read back " + withUnit(readBack) + ".";
}

}  // namespace korvo_py
