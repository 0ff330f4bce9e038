#include "adapter/frmUSB.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "adapter/ZentioDefaults.h"
#include "foundation/Messages.h"
#include "foundation/Paths.h"
#include "foundation/Text.h"
#include "foundation/Utils.h"

namespace {

std::unique_ptr<frmUSB>& Instance() {
  static std::unique_ptr<frmUSB> link;
  return link;
}

frmUSB::ControlFactory& Factory() {
  static frmUSB::ControlFactory factory;
  return factory;
}

std::string H(uint8_t v) { return Text::Hex(v); }
std::string H(int16_t v) { return Text::Hex(static_cast<uint16_t>(v)); }
std::string H(int32_t v) { return Text::Hex(static_cast<uint32_t>(v)); }

// Two upper-case hex digits per byte, nothing between; never past the end of bytes.
void AppendHexPairs(std::string& out, const std::vector<uint8_t>& bytes, int32_t count) {
  const auto n = std::min<std::size_t>(static_cast<std::size_t>(std::max(count, 0)), bytes.size());
  for (std::size_t i = 0; i < n; ++i) out += Text::Hex(bytes[i], 2);
}

// Copies the first count bytes of from into to, at the same indices, without going past either end.
void CopyPrefix(const std::vector<uint8_t>& from, std::vector<uint8_t>& to, int32_t count) {
  const auto n = std::min({static_cast<std::size_t>(std::max(count, 0)), from.size(), to.size()});
  std::copy_n(from.begin(), n, to.begin());
}

constexpr std::size_t kSmbBlockBuffer = 129;  // elements 0 to 128
constexpr std::size_t kI2CBlockBuffer = 257;  // elements 0 to 256

}  // namespace

frmUSB& frmUSB::Get() {
  auto& link = Instance();
  if (!link) link.reset(new frmUSB());
  return *link;
}

bool frmUSB::Loaded() { return Instance() != nullptr; }

void frmUSB::SetControlFactory(ControlFactory factory) { Factory() = std::move(factory); }

std::unique_ptr<Zentio> frmUSB::CreateControl() {
  std::unique_ptr<Zentio> control = Factory() ? Factory()() : nullptr;
  return control ? std::move(control) : CreateAbsentControl();
}

frmUSB::frmUSB() : Zentio1_(CreateControl()) {}

frmUSB::frmUSB(std::unique_ptr<Zentio> control)
    : Zentio1_(control ? std::move(control) : CreateAbsentControl()) {}

frmUSB::~frmUSB() = default;

// ---------------------------------------------------------------- device connection

bool frmUSB::OpenFirstUsedDevice() {
  if (Zentio1_->OpenDevice("dummy") == -1) {
    MsgBox(
        "Could not open device!Make sure that this plugin is started from Qorra. Or you may have "
        "started Qorra by ignoring errors!");
    return false;
  }
  return true;
}

std::vector<std::string> frmUSB::ListFreeDevices(int32_t limit) {
  int32_t count = 0;
  std::string names;
  Zentio1_->ListFreeDevices(limit, count, names);
  std::vector<std::string> list;
  std::size_t start = 0;
  while (static_cast<int32_t>(list.size()) < count) {
    const std::size_t comma = names.find(',', start);
    list.push_back(names.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return list;
}

bool frmUSB::OpenFirstFreeDevice() {
  const std::vector<std::string> names = ListFreeDevices();
  return !names.empty() && Zentio1_->OpenDevice(names.front()) != -1;
}

void frmUSB::CloseDevice() {
  Zentio1_->DeviceClose();
  if (Instance().get() == this) Instance().reset();  // destroys *this: nothing may follow
}

// ---------------------------------------------------------------- error log

void frmUSB::EnableErrorLog() { logPath_ = Paths::Join(Paths::ProgramDir(), "CommErr.log"); }

void frmUSB::DisableErrorLog() { logPath_.clear(); }

void frmUSB::LogError(int32_t nErrNo, const std::string& sErrDetail) {
  if (nErrNo == 0 || logPath_.empty()) return;
  // A log that cannot be opened or written is skipped: it must never stop a bench session.
  std::FILE* f = std::fopen(logPath_.c_str(), "ab");
  if (f == nullptr) return;
  char stamp[128] = "";
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) != nullptr) std::strftime(stamp, sizeof stamp, "%x %X", &local);
  const std::string line =
      std::string(stamp) + "  " + TranslateErrorCode(nErrNo) + " - " + sErrDetail + "\r\n";
  std::fwrite(line.data(), 1, line.size(), f);
  std::fclose(f);
}

void frmUSB::ClearErrorLog() {
  const bool wasOn = !logPath_.empty();
  if (!wasOn) EnableErrorLog();
  std::remove(logPath_.c_str());  // a missing or busy file is no error here
  if (!wasOn) DisableErrorLog();
}

int32_t frmUSB::Finish(int32_t status, const char* name, const std::string& detail) {
  if (status != 0) LogError(status, std::string(name) + "(" + detail + ")");
  return status;
}

// ---------------------------------------------------------------- observation

void frmUSB::AddObserver(recording::TransactionObserver& observer) {
  observers_.push_back(&observer);
}

void frmUSB::RemoveObserver(recording::TransactionObserver& observer) {
  std::erase(observers_, &observer);
}

template <class Detail>
int32_t frmUSB::End(recording::MonoTime start, int32_t status, const char* name, int32_t target,
                    const Detail& detail) {
  return Finish(start, status, name, target, detail, true);
}

template <class Detail>
int32_t frmUSB::EndUnlogged(recording::MonoTime start, int32_t status, const char* name,
                            int32_t target, const Detail& detail) {
  return Finish(start, status, name, target, detail, false);
}

template <class Detail>
int32_t frmUSB::Finish(recording::MonoTime start, int32_t status, const char* name, int32_t target,
                       const Detail& detail, bool log) {
  const bool logged = log && status != 0;
  if (!logged && observers_.empty()) return status;  // the common path builds no text
  const std::string text = detail();
  if (logged) LogError(status, std::string(name) + "(" + text + ")");
  if (!observers_.empty()) Notify(start, name, text, target, status);
  return status;
}

void frmUSB::Notify(recording::MonoTime start, const char* name, const std::string& detail,
                    int32_t target, int32_t status) {
  const recording::MonoTime now = clock_->Now();
  const recording::TransactionEvent event{now, name, detail, target, status, now - start};
  // A copy: an observer may detach itself while it is told.
  const std::vector<recording::TransactionObserver*> observers = observers_;
  for (recording::TransactionObserver* o : observers) o->OnTransaction(event);
}

int16_t frmUSB::CheckForError() {
  const int16_t status = Zentio1_->QueryError();
  if (status != 0) LogError(status, "CheckForError()");
  return status;
}

// ---------------------------------------------------------------- SMBus transactions

int32_t frmUSB::WriteSMBusWord_(uint8_t ySubCommand, int16_t nWord, int16_t nTargetAddr) {
  const auto t0 = Begin();
  int32_t status = Zentio1_->SmbWriteWord(ySubCommand, nWord, nTargetAddr);
  if (status == 0) status = CheckForError();
  return End(t0, status, "WriteSMBusWord_", nTargetAddr,
             [&] { return H(ySubCommand) + "," + H(nWord); });
}

int32_t frmUSB::WriteSMBusWord(uint8_t ySubCommand, uint8_t yMSData, uint8_t yLSData,
                               int16_t nTargetAddr) {
  const auto nWord = static_cast<int16_t>(static_cast<uint16_t>(yMSData << 8 | yLSData));
  return WriteSMBusWord_(ySubCommand, nWord, nTargetAddr);
}

int32_t frmUSB::WriteSMBusBlock(int16_t nCommand, std::vector<uint8_t>& DataArray,
                                int16_t iNumBytes, int16_t nTargetAddr) {
  const auto t0 = Begin();
  int32_t status = Zentio1_->SmbWriteBlock(nCommand, DataArray, iNumBytes, nTargetAddr);
  if (status == 0) status = CheckForError();
  return End(t0, status, "WriteSMBusBlock", nTargetAddr,
             [&] { return H(nCommand) + ",...," + H(iNumBytes); });
}

int32_t frmUSB::WriteSMBusCommand(int16_t nCommand, int16_t nTargetAddr) {
  const auto t0 = Begin();
  int32_t status = Zentio1_->SmbSendCommand(nCommand, nTargetAddr);
  if (status == 0) status = CheckForError();
  return End(t0, status, "WriteSMBusCommand", nTargetAddr, [&] { return H(nCommand); });
}

int32_t frmUSB::ReadSMBusWord_(uint8_t ySmbCommand, int16_t& nData, int16_t nTargetAddr) {
  const auto t0 = Begin();
  const int32_t status = Zentio1_->SmbReadWord(ySmbCommand, nData, nTargetAddr);
  return End(t0, status, "ReadSMBusWord_", nTargetAddr, [&] { return H(ySmbCommand); });
}

int32_t frmUSB::ReadSMBusWord(uint8_t ySubCommand, uint8_t& yMSData, uint8_t& yLSData,
                              int16_t nTargetAddr) {
  int16_t word = 0;
  const int32_t status = ReadSMBusWord_(ySubCommand, word, nTargetAddr);
  if (status != 0) return status;
  yMSData = static_cast<uint8_t>(static_cast<uint16_t>(word) >> 8);
  yLSData = static_cast<uint8_t>(word & 0xFF);
  return 0;
}

int32_t frmUSB::ReadSMBusBlock_(uint8_t ySubCommand, std::vector<uint8_t>& yResponse,
                                int16_t nTargetAddr) {
  const auto t0 = Begin();
  std::vector<uint8_t> work = yResponse;
  int16_t length = 0;
  const int32_t status = Zentio1_->SmbReadBlock(ySubCommand, work, length, nTargetAddr);
  CopyPrefix(work, yResponse, length);  // whatever the status
  // The quiet read keeps no log.
  return EndUnlogged(t0, status, "ReadSMBusBlock_", nTargetAddr, [&] { return H(ySubCommand); });
}

int32_t frmUSB::ReadSMBusBlock(uint8_t ySubCommand, std::string& sResponse, int16_t nTargetAddr,
                               int16_t nReturnStrType) {
  const auto t0 = Begin();
  sResponse.clear();
  std::vector<uint8_t> buffer(kSmbBlockBuffer, 0);
  int16_t length = 0;
  const int32_t status = Zentio1_->SmbReadBlock(ySubCommand, buffer, length, nTargetAddr);
  if (status == 0) {
    if (nReturnStrType == 0) {
      AppendHexPairs(sResponse, buffer, length);
    } else if (nReturnStrType == 1) {
      const auto n = std::min<std::size_t>(static_cast<std::size_t>(std::max<int16_t>(length, 0)),
                                           buffer.size());
      sResponse.append(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
    }
  }
  return End(t0, status, "ReadSMBusBlock", nTargetAddr, [&] { return H(ySubCommand); });
}

// ---------------------------------------------------------------- word-address I2C blocks

int32_t frmUSB::I2CReadBlock_(int16_t nWordAddr, int16_t nBlockSize,
                              std::vector<uint8_t>& yResponse, int16_t nTargetAddress) {
  const auto t0 = Begin();
  std::vector<uint8_t> buffer;
  const int32_t status = Zentio1_->I2CBlockRead(nWordAddr, buffer, nBlockSize, nTargetAddress);
  if (status == 0) CopyPrefix(buffer, yResponse, nBlockSize);
  return End(t0, status, "I2CReadBlock_", nTargetAddress,
             [&] { return H(nWordAddr) + H(nBlockSize); });
}

int32_t frmUSB::I2CReadBlock(int16_t nWordAddr, int16_t nBlockSize, std::string& sResponse,
                             int16_t nTargetAddress) {
  const auto t0 = Begin();
  sResponse.clear();
  std::vector<uint8_t> buffer;
  const int32_t status = Zentio1_->I2CBlockRead(nWordAddr, buffer, nBlockSize, nTargetAddress);
  if (status == 0) AppendHexPairs(sResponse, buffer, nBlockSize);
  // This one keeps no log.
  return EndUnlogged(t0, status, "I2CReadBlock", nTargetAddress,
                     [&] { return H(nWordAddr) + H(nBlockSize); });
}

int32_t frmUSB::I2CWriteBlock(uint8_t nWordAddr, int16_t nBlockSize,
                              std::vector<uint8_t>& DataArray, int16_t nTargetAddress) {
  const auto t0 = Begin();
  int32_t status = Zentio1_->I2CBlockWrite(nWordAddr, DataArray, nBlockSize, nTargetAddress);
  if (status == 0) status = CheckForError();
  return End(t0, status, "I2CWriteBlock", nTargetAddress,
             [&] { return H(nWordAddr) + H(nBlockSize); });
}

// ---------------------------------------------------------------- I2C-style blocks over SMBus

int32_t frmUSB::ReadI2CBlockOnSMB(uint8_t nCommand, int16_t& nRetLen, std::string& sResponse,
                                  int16_t nTargetAddr) {
  const auto t0 = Begin();
  std::vector<uint8_t> buffer(kI2CBlockBuffer, 0);
  const int32_t status = Zentio1_->SmbReadI2CBlock(nCommand, buffer, nRetLen, nTargetAddr);
  if (status == 0) AppendHexPairs(sResponse, buffer, nRetLen);
  return End(t0, status, "ReadI2CBlockOnSMB", nTargetAddr, [&] { return H(nCommand); });
}

int32_t frmUSB::WriteReadI2CBlockOnSMB(uint8_t nCommand, int16_t& nWriteLen, int16_t& nLenToRead,
                                       std::vector<uint8_t>& WriteDataArray, std::string& sResponse,
                                       int16_t nTargetAddr) {
  const auto t0 = Begin();
  std::vector<uint8_t> buffer(kI2CBlockBuffer, 0);
  CopyPrefix(WriteDataArray, buffer, static_cast<int32_t>(nWriteLen) + 1);
  int16_t lengthRead = 0;
  const int32_t status = Zentio1_->SmbWriteReadI2CBlock(nCommand, nWriteLen, nLenToRead, buffer,
                                                        lengthRead, nTargetAddr);
  if (status == 0) AppendHexPairs(sResponse, buffer, lengthRead);
  return End(t0, status, "WriteReadI2CBlockOnSMB", nTargetAddr,
             [&] { return H(nCommand) + "," + H(nWriteLen) + "," + H(nLenToRead); });
}

int32_t frmUSB::WriteI2CBlockOnSMB(int16_t nCommand, std::vector<uint8_t>& DataArray,
                                   int16_t iNumBytes, int16_t nTargetAddr) {
  const auto t0 = Begin();
  int32_t status = Zentio1_->SmbWriteI2CBlock(nCommand, DataArray, iNumBytes, nTargetAddr);
  if (status == 0) status = CheckForError();
  return End(t0, status, "WriteI2CBlockOnSMB", nTargetAddr,
             [&] { return H(nCommand) + ",...," + H(iNumBytes); });
}

int32_t frmUSB::ReadI2CBlockNoCmdOnSMB(int16_t& nRetLen, std::string& sResponse,
                                       int16_t nTargetAddr) {
  const auto t0 = Begin();
  std::vector<uint8_t> buffer(kI2CBlockBuffer, 0);
  const int32_t status = Zentio1_->SmbReadI2CBlockNoCmd(buffer, nRetLen, nTargetAddr);
  if (status == 0) AppendHexPairs(sResponse, buffer, nRetLen);
  return End(t0, status, "ReadI2CBlockNoCmdOnSMB", nTargetAddr, [] { return std::string(); });
}

// ---------------------------------------------------------------- byte-level I2C

namespace {
constexpr int32_t kNoTarget = recording::TransactionEvent::kNoTarget;
}  // namespace

int32_t frmUSB::I2CPower(uint8_t nData) {
  const auto t0 = Begin();
  int16_t scratch = 0;
  int32_t status = Zentio1_->I2CByteOp(0, nData, 0, scratch);
  if (status == 0) status = CheckForError();
  return End(t0, status, "I2CPower", kNoTarget, [&] { return H(nData); });
}

int32_t frmUSB::I2CWriteByte(int16_t nAddr, int16_t nWriteData, int16_t nTargetAddress) {
  const auto t0 = Begin();
  int32_t status = Zentio1_->I2CByteOp(1, nTargetAddress, nAddr, nWriteData);
  if (status == 0) status = CheckForError();
  return End(t0, status, "I2CWriteByte", nTargetAddress, [&] { return H(nAddr) + H(nWriteData); });
}

int32_t frmUSB::I2CReadByte(int16_t nAddr, int16_t& nReadData, int16_t nTargetAddress) {
  const auto t0 = Begin();
  const int32_t status = Zentio1_->I2CByteOp(2, nTargetAddress, nAddr, nReadData);
  return End(t0, status, "I2CReadByte", nTargetAddress, [&] { return H(nAddr); });
}

int32_t frmUSB::I2CWireControl(uint8_t nData) {
  const auto t0 = Begin();
  int16_t scratch = 0;
  int32_t status = Zentio1_->I2CByteOp(3, nData, 0, scratch);
  if (status == 0) status = CheckForError();
  return End(t0, status, "I2CWireControl", kNoTarget, [&] { return H(nData); });
}

// ---------------------------------------------------------------- EEPROM
// These wrap the byte transactions above, which are what the observers see.

int32_t frmUSB::EEPower(int16_t nData) {
  const int32_t status = I2CPower(static_cast<uint8_t>(nData));
  return Finish(status, "EEPower", H(nData));
}

int32_t frmUSB::EEWriteByte(int16_t nAddr, int16_t nWriteData) {
  const int32_t status = I2CWriteByte(nAddr, nWriteData, 0xA0);
  LogError(status, "EEWriteByte(" + H(nAddr) + H(nWriteData) + ")");
  return status;
}

int32_t frmUSB::EEWrite(int16_t nDeviceAddress, int16_t nAddr, int16_t nWriteData) {
  const int32_t status = I2CWriteByte(nAddr, nWriteData, nDeviceAddress);
  LogError(status, "EEWrite(" + H(nDeviceAddress) + H(nAddr) + H(nWriteData) + ")");
  return status;
}

int32_t frmUSB::EEReadByte(int16_t nAddr, int16_t nWriteData, int16_t& nReadData) {
  const int32_t status = I2CReadByte(nAddr, nReadData, 0xA0);
  LogError(status, "EEReadByte(" + H(nAddr) + H(nWriteData) + ")");
  return status;
}

int32_t frmUSB::EERead(int16_t nDeviceAddress, int16_t nAddr, int16_t& nReadData) {
  const int32_t status = I2CReadByte(nAddr, nReadData, nDeviceAddress);
  LogError(status, "EERead(" + H(nDeviceAddress) + H(nAddr) + ")");
  return status;
}

// ---------------------------------------------------------------- one-wire, delay, version

int32_t frmUSB::ReadOneWire(int32_t eType, int16_t nOneWireCmd, int16_t& nWord) {
  const auto t0 = Begin();
  const int32_t status = Zentio1_->OneWireRead(eType, nOneWireCmd, nWord);
  return End(t0, status, "ReadOneWire", kNoTarget, [&] { return H(eType) + H(nOneWireCmd); });
}

int32_t frmUSB::WriteOneWire(int32_t eType, int16_t nOneWireCmd, int16_t nWord) {
  const auto t0 = Begin();
  const int32_t status = Zentio1_->OneWireWrite(eType, nOneWireCmd, nWord);
  return End(t0, status, "WriteOneWire", kNoTarget,
             [&] { return H(eType) + H(nOneWireCmd) + H(nWord); });
}

int32_t frmUSB::Delay(int32_t nTime_ms) {
  const auto t0 = Begin();
  Zentio1_->Wait(nTime_ms);
  return End(t0, CheckForError(), "Delay", kNoTarget, [&] { return H(nTime_ms); });
}

int16_t frmUSB::GetTarn88Version(int16_t& nVersion, int16_t& nRevision) {
  const auto t0 = Begin();
  const int16_t status = Zentio1_->GetVersion(nVersion, nRevision);
  End(t0, status, "GetTarn88Version", kNoTarget, [] { return std::string(); });
  return status;
}

// ---------------------------------------------------------------- flash

int32_t frmUSB::ProgramFromSrecWithCfg(const std::string& sSrecFile, const std::string& sBcfgFile,
                                       const std::string& sPCfgFile) {
  const auto t0 = Begin();
  const int32_t status = Zentio1_->FlashFromSrec(sSrecFile, sBcfgFile, sPCfgFile);
  return End(t0, status, "ProgramFromSrecWithCfg", kNoTarget, [&] { return sSrecFile; });
}

namespace {
std::string FlashDetail(int32_t dataStart, int32_t codeStart, int32_t dataSize, int32_t codeSize) {
  return std::to_string(dataStart) + "," + std::to_string(codeStart) + ",...," +
         std::to_string(dataSize) + ",...," + std::to_string(codeSize);
}
}  // namespace

int32_t frmUSB::ProgramFlash(int32_t nDataFlashStartAddr, int32_t nInstrFlashStartAddr,
                             std::vector<uint8_t> pDataFlashBlock, int32_t nDataFlashSz,
                             int32_t nRsvdDataFlashSz, std::vector<uint8_t> pInstrFlashBlock,
                             int32_t nInstrFlashSz, int16_t nTargetAddress) {
  const auto t0 = Begin();
  const int32_t status = Zentio1_->FlashProgram(nDataFlashStartAddr, nInstrFlashStartAddr,
                                                pDataFlashBlock, nDataFlashSz, nRsvdDataFlashSz,
                                                pInstrFlashBlock, nInstrFlashSz, nTargetAddress);
  return End(t0, status, "ProgramFlash", nTargetAddress, [&] {
    return FlashDetail(nDataFlashStartAddr, nInstrFlashStartAddr, nDataFlashSz, nInstrFlashSz);
  });
}

int32_t frmUSB::ReadFlash(int32_t nDataFlashStartAddr, int32_t nInstrFlashStartAddr,
                          std::vector<uint8_t>& varDFBlock, int32_t nDataFlashSz,
                          std::vector<uint8_t>& varIFBlock, int32_t nInstrFlashSz,
                          int16_t nTargetAddress) {
  const auto t0 = Begin();
  const int32_t status =
      Zentio1_->FlashRead(nDataFlashStartAddr, nInstrFlashStartAddr, varDFBlock, nDataFlashSz,
                          varIFBlock, nInstrFlashSz, nTargetAddress);
  return End(t0, status, "ReadFlash", nTargetAddress, [&] {
    return FlashDetail(nDataFlashStartAddr, nInstrFlashStartAddr, nDataFlashSz, nInstrFlashSz);
  });
}
