#include "drivers/sim/SimDriver.h"

#include <algorithm>
#include <array>

#include "adapter/ErrorCodes.h"
#include "adapter/ZentioDefaults.h"
#include "foundation/Messages.h"

namespace sim {

namespace {

using Kind = Transaction::Kind;
using Device = Board::Device;

constexpr int kMaxTransfer = 256;  // I2C-style transfers
constexpr int kMaxSmbBlock = 255;  // an SMBus block's count is one byte

bool IsByte(int v) { return v >= 0 && v <= 0xFF; }

// count bytes of a caller's vector, checked so that nothing past its end is touched.
bool FitsIn(int count, const std::vector<uint8_t>& bytes, int lowest, int highest) {
  return count >= lowest && count <= highest && static_cast<std::size_t>(count) <= bytes.size();
}

uint16_t WordOf(const uint8_t* p, std::size_t n) {
  if (n >= 2) return static_cast<uint16_t>(p[0] | (p[1] << 8));
  return n == 1 ? p[0] : 0;
}

// Places n bytes at the front of buffer, growing it when it is too short (never shrinking it).
void Deliver(std::vector<uint8_t>& buffer, const uint8_t* bytes, std::size_t n) {
  if (buffer.size() < n) buffer.resize(n);
  std::copy_n(bytes, n, buffer.begin());
}

// Nobody answers at target: a NACK, and a note for the user.
int16_t NoAnswer(Board& b, int16_t target) {
  b.AddNote("Simulated board: " + NoAnswerNote(target) + " (the charger answers at 0x66/0x67).");
  return VB_T2H_NACK;
}

// The charger moves whole 16-bit registers, low byte first.
int16_t ChargerSize(Board& b, uint8_t command, std::size_t n) {
  if (!b.ChargerHas(command)) return VB_T2H_NACK;
  return n == 2 ? VB_OK : VB_WRONG_NUM_BYTES;
}

int16_t BusRead(Board& b, int16_t target, uint8_t command, uint8_t* out, std::size_t n) {
  switch (b.DeviceAt(target)) {
    case Device::Charger: {
      if (int16_t st = ChargerSize(b, command, n); st != VB_OK) return st;
      uint16_t v = 0;
      b.ChargerRead(command, v);
      out[0] = static_cast<uint8_t>(v & 0xFF);
      out[1] = static_cast<uint8_t>(v >> 8);
      return VB_OK;
    }
    case Device::Eeprom: b.EepromDeviceRead(command, out, n); return VB_OK;
    case Device::None: break;
  }
  return NoAnswer(b, target);
}

int16_t BusWrite(Board& b, int16_t target, uint8_t command, const uint8_t* in, std::size_t n) {
  switch (b.DeviceAt(target)) {
    case Device::Charger:
      if (int16_t st = ChargerSize(b, command, n); st != VB_OK) return st;
      return b.ChargerWrite(command, WordOf(in, n));
    case Device::Eeprom: b.EepromDeviceWrite(command, in, n); return VB_OK;
    case Device::None: break;
  }
  return NoAnswer(b, target);
}

// A read without a command byte continues where the device's pointer stands; command receives
// where that was.
int16_t BusReadCurrent(Board& b, int16_t target, uint8_t* out, std::size_t n, uint8_t& command) {
  switch (b.DeviceAt(target)) {
    case Device::Charger: command = b.ChargerPointer(); return BusRead(b, target, command, out, n);
    case Device::Eeprom:
      command = b.EepromDevicePointer();
      b.EepromDeviceRead(command, out, n);
      return VB_OK;
    case Device::None: break;
  }
  return NoAnswer(b, target);
}

}  // namespace

Adapter::Adapter() : followShared_(true) {}

Adapter::Adapter(std::shared_ptr<Board> board) : board_(std::move(board)), followShared_(false) {
  if (!board_) board_ = std::make_shared<Board>();
}

Board& Adapter::CurrentBoard() {
  if (followShared_) {
    const uint64_t generation = Board::SharedGeneration();
    if (!board_ || generation != generation_) {
      board_ = Board::Shared();
      generation_ = generation;
    }
  }
  return *board_;
}

// --- the adapter itself ---

void Adapter::ListFreeDevices(int32_t limit, int32_t& count, std::string& names) {
  names.clear();
  count = 0;
  if (limit < 1 || !CurrentBoard().Present()) return;
  count = 1;
  names = kAdapterName;
}

int16_t Adapter::OpenDevice(const std::string& name) {
  Board& b = CurrentBoard();
  if (!b.Present() || name != kAdapterName || !b.OpenRefusal().empty()) return -1;
  open_ = true;
  b.StartScenario();
  return 0;
}

void Adapter::DeviceClose() { open_ = false; }

void Adapter::ShowAboutBox() {
  Board& b = CurrentBoard();
  std::string text =
      std::string(kAdapterName) + ", version " + std::to_string(kAdapterVersion) + "." +
      std::to_string(kAdapterRevision) + kNewLine +
      "A simulated USB-to-SMBus adapter with a simulated evaluation board: no hardware is used." +
      kNewLine + b.Describe(kNewLine);
  MsgBox(text);
}

int16_t Adapter::QueryError() {
  Board& b = CurrentBoard();
  if (!Connected(b)) return VB_NO_USB;
  return b.TakeQueryError();
}

// Every transaction: a closed adapter first, then the argument checks (which never reach the
// bus), then the board's latency and faults; the caller records the outcome.
int16_t Adapter::Gate(Board& b, Transaction::Kind kind, bool argsOk) const {
  if (!Connected(b)) return VB_NO_USB;
  if (!argsOk) return VB_INCORRECT_PARAM;
  return b.BeginTransaction(kind);
}

// --- SMBus ---

int16_t Adapter::SmbWriteWord(int16_t command, int16_t word, int16_t target) {
  Board& b = CurrentBoard();
  int16_t st = Gate(b, Kind::Write, IsByte(command));
  if (st == VB_OK) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(word & 0xFF),
                              static_cast<uint8_t>((word >> 8) & 0xFF)};
    st = BusWrite(b, target, static_cast<uint8_t>(command), bytes, 2);
  }
  return b.EndTransaction(Kind::Write, static_cast<uint8_t>(command), static_cast<uint16_t>(word),
                          target, st);
}

int16_t Adapter::SmbReadWord(int16_t command, int16_t& word, int16_t target) {
  Board& b = CurrentBoard();
  uint8_t bytes[2] = {0, 0};
  int16_t st = Gate(b, Kind::Read, IsByte(command));
  if (st == VB_OK) st = BusRead(b, target, static_cast<uint8_t>(command), bytes, 2);
  const uint16_t v = st == VB_OK ? WordOf(bytes, 2) : 0;
  word = static_cast<int16_t>(v);
  return b.EndTransaction(Kind::Read, static_cast<uint8_t>(command), v, target, st);
}

int16_t Adapter::SmbSendCommand(int16_t command, int16_t target) {
  Board& b = CurrentBoard();
  int16_t st = Gate(b, Kind::Write, IsByte(command));
  if (st == VB_OK) {
    const auto c = static_cast<uint8_t>(command);
    switch (b.DeviceAt(target)) {
      case Device::Charger: st = b.ChargerSelect(c) ? VB_OK : VB_T2H_NACK; break;
      case Device::Eeprom: b.EepromDeviceSelect(c); break;
      case Device::None: st = NoAnswer(b, target); break;
    }
  }
  return b.EndTransaction(Kind::Write, static_cast<uint8_t>(command), 0, target, st);
}

int16_t Adapter::SmbWriteBlock(int16_t command, const std::vector<uint8_t>& bytes, int16_t count,
                               int16_t target) {
  Board& b = CurrentBoard();
  const bool ok = IsByte(command) && FitsIn(count, bytes, 0, kMaxSmbBlock);
  int16_t st = Gate(b, Kind::Write, ok);
  const auto n = ok ? static_cast<std::size_t>(count) : 0;
  if (st == VB_OK) {
    const auto c = static_cast<uint8_t>(command);
    if (b.DeviceAt(target) == Device::Eeprom) {
      // An EEPROM knows no SMBus blocks: the count byte is stored as data like the rest.
      std::array<uint8_t, kMaxSmbBlock + 1> wire{};
      wire[0] = static_cast<uint8_t>(n);
      std::copy_n(bytes.begin(), n, wire.begin() + 1);
      b.EepromDeviceWrite(c, wire.data(), n + 1);
    } else {
      st = BusWrite(b, target, c, bytes.data(), n);
    }
  }
  return b.EndTransaction(Kind::Write, static_cast<uint8_t>(command),
                          ok ? WordOf(bytes.data(), n) : 0, target, st);
}

int16_t Adapter::SmbReadBlock(int16_t command, std::vector<uint8_t>& buffer, int16_t& length,
                              int16_t target) {
  Board& b = CurrentBoard();
  std::array<uint8_t, kMaxSmbBlock> data{};
  std::size_t n = 0;
  int16_t st = Gate(b, Kind::Read, IsByte(command));
  if (st == VB_OK) {
    const auto c = static_cast<uint8_t>(command);
    if (b.DeviceAt(target) == Device::Eeprom) {
      // The byte at the command address is taken for the block's count.
      uint8_t count = 0;
      b.EepromDeviceRead(c, &count, 1);
      n = count;
      b.EepromDeviceRead(static_cast<uint8_t>(c + 1), data.data(), n);
    } else {
      // A charger register answers as a two-byte block.
      n = 2;
      st = BusRead(b, target, c, data.data(), n);
    }
  }
  if (st == VB_OK) {
    Deliver(buffer, data.data(), n);
    length = static_cast<int16_t>(n);
  } else {
    length = 0;
  }
  return b.EndTransaction(Kind::Read, static_cast<uint8_t>(command),
                          st == VB_OK ? WordOf(data.data(), n) : 0, target, st);
}

// --- I2C-style blocks over SMBus ---

int16_t Adapter::SmbReadI2CBlock(int16_t command, std::vector<uint8_t>& buffer, int16_t& length,
                                 int16_t target) {
  Board& b = CurrentBoard();
  std::array<uint8_t, kMaxTransfer> data{};
  const bool ok = IsByte(command) && length >= 1 && length <= kMaxTransfer;
  const auto n = ok ? static_cast<std::size_t>(length) : 0;
  int16_t st = Gate(b, Kind::Read, ok);
  if (st == VB_OK) st = BusRead(b, target, static_cast<uint8_t>(command), data.data(), n);
  if (st == VB_OK)
    Deliver(buffer, data.data(), n);
  else
    length = 0;
  return b.EndTransaction(Kind::Read, static_cast<uint8_t>(command),
                          st == VB_OK ? WordOf(data.data(), n) : 0, target, st);
}

int16_t Adapter::SmbReadI2CBlockNoCmd(std::vector<uint8_t>& buffer, int16_t& length,
                                      int16_t target) {
  Board& b = CurrentBoard();
  std::array<uint8_t, kMaxTransfer> data{};
  const bool ok = length >= 1 && length <= kMaxTransfer;
  const auto n = ok ? static_cast<std::size_t>(length) : 0;
  uint8_t command = 0;
  int16_t st = Gate(b, Kind::Read, ok);
  if (st == VB_OK) st = BusReadCurrent(b, target, data.data(), n, command);
  if (st == VB_OK)
    Deliver(buffer, data.data(), n);
  else
    length = 0;
  return b.EndTransaction(Kind::Read, command, st == VB_OK ? WordOf(data.data(), n) : 0, target,
                          st);
}

int16_t Adapter::SmbWriteI2CBlock(int16_t command, const std::vector<uint8_t>& bytes, int16_t count,
                                  int16_t target) {
  Board& b = CurrentBoard();
  const bool ok = IsByte(command) && FitsIn(count, bytes, 0, kMaxTransfer);
  const auto n = ok ? static_cast<std::size_t>(count) : 0;
  int16_t st = Gate(b, Kind::Write, ok);
  if (st == VB_OK) st = BusWrite(b, target, static_cast<uint8_t>(command), bytes.data(), n);
  return b.EndTransaction(Kind::Write, static_cast<uint8_t>(command),
                          ok ? WordOf(bytes.data(), n) : 0, target, st);
}

int16_t Adapter::SmbWriteReadI2CBlock(int16_t command, int16_t writeLength, int16_t readLength,
                                      std::vector<uint8_t>& buffer, int16_t& lengthRead,
                                      int16_t target) {
  Board& b = CurrentBoard();
  std::array<uint8_t, kMaxTransfer> data{};
  // writeLength + 1 bytes go out (elements 0 to writeLength).
  const bool ok = IsByte(command) && writeLength >= 0 && writeLength < kMaxTransfer &&
                  static_cast<std::size_t>(writeLength) < buffer.size() && readLength >= 1 &&
                  readLength <= kMaxTransfer;
  const auto nw = ok ? static_cast<std::size_t>(writeLength) + 1 : 0;
  const auto nr = ok ? static_cast<std::size_t>(readLength) : 0;
  int16_t st = Gate(b, Kind::Other, ok);
  if (st == VB_OK) {
    const auto c = static_cast<uint8_t>(command);
    // Check the read size before anything is written to the charger.
    if (b.DeviceAt(target) == Device::Charger && nw == 2) st = ChargerSize(b, c, nr);
    if (st == VB_OK) st = BusWrite(b, target, c, buffer.data(), nw);
    uint8_t from = 0;
    if (st == VB_OK) st = BusReadCurrent(b, target, data.data(), nr, from);
  }
  if (st == VB_OK) {
    Deliver(buffer, data.data(), nr);
    lengthRead = static_cast<int16_t>(nr);
  } else {
    lengthRead = 0;
  }
  return b.EndTransaction(Kind::Other, static_cast<uint8_t>(command),
                          st == VB_OK ? WordOf(data.data(), nr) : 0, target, st);
}

// --- word-address I2C blocks ---

int16_t Adapter::I2CBlockRead(int16_t wordAddress, std::vector<uint8_t>& buffer, int16_t size,
                              int16_t target) {
  Board& b = CurrentBoard();
  std::array<uint8_t, kMaxTransfer> data{};
  const bool ok = IsByte(wordAddress) && size >= 1 && size <= kMaxTransfer;
  const auto n = ok ? static_cast<std::size_t>(size) : 0;
  int16_t st = Gate(b, Kind::Read, ok);
  if (st == VB_OK) st = BusRead(b, target, static_cast<uint8_t>(wordAddress), data.data(), n);
  if (st == VB_OK) Deliver(buffer, data.data(), n);
  return b.EndTransaction(Kind::Read, static_cast<uint8_t>(wordAddress),
                          st == VB_OK ? WordOf(data.data(), n) : 0, target, st);
}

int16_t Adapter::I2CBlockWrite(int16_t wordAddress, const std::vector<uint8_t>& bytes, int16_t size,
                               int16_t target) {
  Board& b = CurrentBoard();
  const bool ok = IsByte(wordAddress) && FitsIn(size, bytes, 0, kMaxTransfer);
  const auto n = ok ? static_cast<std::size_t>(size) : 0;
  int16_t st = Gate(b, Kind::Write, ok);
  if (st == VB_OK) st = BusWrite(b, target, static_cast<uint8_t>(wordAddress), bytes.data(), n);
  return b.EndTransaction(Kind::Write, static_cast<uint8_t>(wordAddress),
                          ok ? WordOf(bytes.data(), n) : 0, target, st);
}

// --- byte-level I2C ---

int16_t Adapter::I2CByteOp(int32_t selector, int16_t a, int16_t b, int16_t& c) {
  Board& board = CurrentBoard();
  switch (selector) {
    case 0:    // adapter's I2C power output
    case 3: {  // wire control
      const int16_t st = Gate(board, Kind::Other, true);
      return board.EndTransaction(Kind::Other, 0, static_cast<uint16_t>(a), 0, st);
    }
    case 1: {  // write: target a, address b, data c
      int16_t st = Gate(board, Kind::Write, IsByte(b) && IsByte(c));
      const auto data = static_cast<uint8_t>(c);
      if (st == VB_OK) st = BusWrite(board, a, static_cast<uint8_t>(b), &data, 1);
      return board.EndTransaction(Kind::Write, static_cast<uint8_t>(b), static_cast<uint16_t>(c), a,
                                  st);
    }
    case 2: {  // read: target a, address b, data out c
      int16_t st = Gate(board, Kind::Read, IsByte(b));
      uint8_t data = 0;
      if (st == VB_OK) st = BusRead(board, a, static_cast<uint8_t>(b), &data, 1);
      c = st == VB_OK ? data : 0;
      return board.EndTransaction(Kind::Read, static_cast<uint8_t>(b), st == VB_OK ? data : 0, a,
                                  st);
    }
    default: {
      const int16_t st = Gate(board, Kind::Other, false);
      return board.EndTransaction(Kind::Other, 0, 0, 0, st);
    }
  }
}

// --- identity ---

int16_t Adapter::GetVersion(int16_t& version, int16_t& revision) {
  if (!Connected(CurrentBoard())) {
    version = 0;
    revision = 0;
    return VB_NO_USB;
  }
  version = kAdapterVersion;
  revision = kAdapterRevision;
  return VB_OK;
}

// --- one-wire and flash: no one-wire device answers, nothing on the board can be programmed ---

int16_t Adapter::Refuse(const Refusal& r) {
  Board& b = CurrentBoard();
  const Kind kind = r.direction == Direction::Read    ? Kind::Read
                    : r.direction == Direction::Write ? Kind::Write
                                                      : Kind::Other;
  const bool oneWire = r.op == Op::OneWireRead || r.op == Op::OneWireWrite;
  int16_t st = Gate(b, kind, oneWire);  // anything else is refused as an argument error
  if (st == VB_OK) st = VB_T2H_NACK;
  return b.EndTransaction(kind, static_cast<uint8_t>(r.command), static_cast<uint16_t>(r.value),
                          r.target, st);
}

}  // namespace sim

std::unique_ptr<Zentio> CreateSimControl(const Settings::Snapshot& settings) {
  sim::Board::Shared(settings);  // the board now, from the settings the link read
  return std::make_unique<sim::Adapter>();
}

std::unique_ptr<Zentio> CreateSimControl() { return std::make_unique<sim::Adapter>(); }

std::unique_ptr<Zentio> CreateOwnSimControl(const Settings::Snapshot& settings) {
  return std::make_unique<sim::Adapter>(
      std::make_shared<sim::Board>(sim::Board::OptionsFromSettings(settings)));
}

std::string SimDiagnostics() {
  const std::shared_ptr<sim::Board> board = sim::Board::Shared();
  std::string text;
  if (board->Absent())
    text += "The simulated adapter is absent (Absent=1 in section [Simulator]).\n";
  if (!board->OpenRefusal().empty()) text += board->OpenRefusal() + "\n";
  return text + board->Notes();
}
