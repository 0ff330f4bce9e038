// The adapter link: the only way to the bus. It hosts one adapter control (a Zentio backend),
// forwards every transaction to it, checks writes for a pending error, logs failures and hands
// the status back. It never retries, waits only in Delay and shows no message (OpenFirstUsedDevice
// aside). The process's main link (the windows', korvoctl's) is created on the first call of
// Get() and gone after its CloseDevice(); a caller with boards of its own makes a link for each.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "adapter/ErrorCodes.h"
#include "adapter/Zentio.h"
#include "observation/Observation.h"

class frmUSB {
 public:
  using ControlFactory = std::function<std::unique_ptr<Zentio>()>;

  // The link, created (with a fresh control from the factory) on first use.
  static frmUSB& Get();
  static bool Loaded();
  // Which control a newly created link hosts. Default (no factory, or one that gives none):
  // the absent control; the entry routines install the driver chosen in the settings.
  static void SetControlFactory(ControlFactory factory);
  static std::unique_ptr<Zentio> CreateControl();

  // A link of the caller's own, hosting control (another board beside the main link's).
  explicit frmUSB(std::unique_ptr<Zentio> control);
  frmUSB(const frmUSB&) = delete;
  frmUSB& operator=(const frmUSB&) = delete;

  // --- device connection ---
  bool OpenFirstUsedDevice();
  // The names of the free adapters the control lists, at most limit of them.
  std::vector<std::string> ListFreeDevices(int32_t limit = 16);
  // Opens the first of them.
  bool OpenFirstFreeDevice();
  // Closes the adapter. The main link is unloaded with it (*this is destroyed); a link of the
  // caller's own stays, closed, until its owner destroys it.
  void CloseDevice();

  // --- error names and the communication error log ---
  static std::string TranslateErrorCode(int32_t nErrorCode) {
    return ::TranslateErrorCode(nErrorCode);
  }
  void EnableErrorLog();
  void DisableErrorLog();
  void LogError(int32_t nErrNo, const std::string& sErrDetail);
  void ClearErrorLog();
  const std::string& LogPath() const { return logPath_; }

  // --- SMBus and I2C block transactions ---
  int32_t WriteSMBusWord_(uint8_t ySubCommand, int16_t nWord, int16_t nTargetAddr = 0x17);
  int32_t WriteSMBusWord(uint8_t ySubCommand, uint8_t yMSData, uint8_t yLSData,
                         int16_t nTargetAddr = 0x17);
  int32_t WriteSMBusBlock(int16_t nCommand, std::vector<uint8_t>& DataArray, int16_t iNumBytes,
                          int16_t nTargetAddr = 0x17);
  int32_t WriteSMBusCommand(int16_t nCommand, int16_t nTargetAddr = 0x17);
  int32_t ReadSMBusWord_(uint8_t ySmbCommand, int16_t& nData, int16_t nTargetAddr = 0x17);
  int32_t ReadSMBusWord(uint8_t ySubCommand, uint8_t& yMSData, uint8_t& yLSData,
                        int16_t nTargetAddr = 0x17);
  int32_t ReadSMBusBlock_(uint8_t ySubCommand, std::vector<uint8_t>& yResponse,
                          int16_t nTargetAddr = 0x17);
  int32_t ReadSMBusBlock(uint8_t ySubCommand, std::string& sResponse, int16_t nTargetAddr = 0x17,
                         int16_t nReturnStrType = 0);
  int16_t CheckForError();

  int32_t I2CReadBlock_(int16_t nWordAddr, int16_t nBlockSize, std::vector<uint8_t>& yResponse,
                        int16_t nTargetAddress = 0x17);
  int32_t I2CReadBlock(int16_t nWordAddr, int16_t nBlockSize, std::string& sResponse,
                       int16_t nTargetAddress = 0x17);
  int32_t I2CWriteBlock(uint8_t nWordAddr, int16_t nBlockSize, std::vector<uint8_t>& DataArray,
                        int16_t nTargetAddress = 0x17);

  // --- further transactions ---
  int32_t ReadI2CBlockOnSMB(uint8_t nCommand, int16_t& nRetLen, std::string& sResponse,
                            int16_t nTargetAddr = 0x17);
  int32_t WriteReadI2CBlockOnSMB(uint8_t nCommand, int16_t& nWriteLen, int16_t& nLenToRead,
                                 std::vector<uint8_t>& WriteDataArray, std::string& sResponse,
                                 int16_t nTargetAddr = 0x17);
  int32_t WriteI2CBlockOnSMB(int16_t nCommand, std::vector<uint8_t>& DataArray, int16_t iNumBytes,
                             int16_t nTargetAddr = 0x17);
  int32_t ReadI2CBlockNoCmdOnSMB(int16_t& nRetLen, std::string& sResponse,
                                 int16_t nTargetAddr = 0x17);

  int32_t I2CPower(uint8_t nData);
  int32_t I2CWriteByte(int16_t nAddr, int16_t nWriteData, int16_t nTargetAddress = 0x17);
  int32_t I2CReadByte(int16_t nAddr, int16_t& nReadData, int16_t nTargetAddress = 0x17);
  int32_t I2CWireControl(uint8_t nData);

  int32_t EEPower(int16_t nData);
  int32_t EEWriteByte(int16_t nAddr, int16_t nWriteData);
  int32_t EEWrite(int16_t nDeviceAddress, int16_t nAddr, int16_t nWriteData);
  int32_t EEReadByte(int16_t nAddr, int16_t nWriteData, int16_t& nReadData);
  int32_t EERead(int16_t nDeviceAddress, int16_t nAddr, int16_t& nReadData);

  int32_t ReadOneWire(int32_t eType, int16_t nOneWireCmd, int16_t& nWord);
  int32_t WriteOneWire(int32_t eType, int16_t nOneWireCmd, int16_t nWord);
  int32_t Delay(int32_t nTime_ms);
  int16_t GetTarn88Version(int16_t& nVersion, int16_t& nRevision);

  int32_t ProgramFromSrecWithCfg(const std::string& sSrecFile, const std::string& sBcfgFile = "",
                                 const std::string& sPCfgFile = "");
  int32_t ProgramFlash(int32_t nDataFlashStartAddr, int32_t nInstrFlashStartAddr,
                       std::vector<uint8_t> pDataFlashBlock, int32_t nDataFlashSz,
                       int32_t nRsvdDataFlashSz, std::vector<uint8_t> pInstrFlashBlock,
                       int32_t nInstrFlashSz, int16_t nTargetAddress = 0x17);
  int32_t ReadFlash(int32_t nDataFlashStartAddr, int32_t nInstrFlashStartAddr,
                    std::vector<uint8_t>& varDFBlock, int32_t nDataFlashSz,
                    std::vector<uint8_t>& varIFBlock, int32_t nInstrFlashSz,
                    int16_t nTargetAddress = 0x17);

  // --- observation ---
  // Every transaction (each call of the control, named and detailed as the error log would
  // name it, with its status and duration) reaches these observers. They belong to this link:
  // CloseDevice drops them with it. The error log is not affected. Not owned.
  void AddObserver(recording::TransactionObserver& observer);
  void RemoveObserver(recording::TransactionObserver& observer);
  void SetClock(const recording::Clock& clock) { clock_ = &clock; }

  ~frmUSB();

 private:
  frmUSB();
  // Logs a non-zero status with "name(detail)" and returns it.
  int32_t Finish(int32_t status, const char* name, const std::string& detail);
  // The start of a transaction, read only while someone observes.
  recording::MonoTime Begin() const {
    return observers_.empty() ? recording::MonoTime{} : clock_->Now();
  }
  // The end of a transaction that began at start: logs a non-zero status (EndUnlogged does
  // not) and tells the observers. detail() builds the text between the parentheses; it runs
  // only when that text is needed.
  template <class Detail>
  int32_t End(recording::MonoTime start, int32_t status, const char* name, int32_t target,
              const Detail& detail);
  template <class Detail>
  int32_t EndUnlogged(recording::MonoTime start, int32_t status, const char* name, int32_t target,
                      const Detail& detail);
  template <class Detail>
  int32_t Finish(recording::MonoTime start, int32_t status, const char* name, int32_t target,
                 const Detail& detail, bool log);
  void Notify(recording::MonoTime start, const char* name, const std::string& detail,
              int32_t target, int32_t status);

  std::unique_ptr<Zentio> Zentio1_;
  std::string logPath_;
  std::vector<recording::TransactionObserver*> observers_;
  const recording::Clock* clock_ = &recording::SystemClock();
};
