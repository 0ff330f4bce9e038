#include "registers/RegisterAccess.h"

#include <vector>

#include "adapter/frmUSB.h"
#include "shell/Messages.h"
#include "shell/Settings.h"
#include "shell/Utils.h"

namespace {
std::string FailureText(const char* verb, const std::string& sRegName, uint8_t nRegAddr,
                        int32_t status) {
  return std::string(verb) + sRegName + "(0x" + Utils::Hex(nRegAddr) + ")." + kNewLine +
         "Error description : " + TranslateErrorCode(status);
}
}  // namespace

std::string ReadFailureText(const std::string& sRegName, uint8_t nRegAddr, int32_t status) {
  return FailureText("Error reading register ", sRegName, nRegAddr, status);
}

std::string WriteFailureText(const std::string& sRegName, uint8_t nRegAddr, int32_t status) {
  return FailureText("Error Writing register ", sRegName, nRegAddr, status);
}

int32_t RegisterAccess::ReadRegister(const std::string& sRegName, uint8_t nRegAddr,
                                     int16_t& nResult, int16_t nTargetAddr) {
  const int32_t retries = modGlobals::ReadRetryCount;
  int32_t code = 0;
  // Stays zero on the I2C path while attempts fail: the link copies bytes only on success.
  std::vector<uint8_t> buffer(2, 0);
  frmUSB& link = frmUSB::Get();
  for (int32_t attempt = 0; attempt <= retries; ++attempt) {
    if (modGlobals::I2CMode) {
      code = link.I2CReadBlock_(nRegAddr, 2, buffer, nTargetAddr);
      Utils::BytesToInt(buffer[1], buffer[0], nResult);
    } else {
      code = link.ReadSMBusWord_(nRegAddr, nResult, nTargetAddr);
    }
    if (code == 0) break;
  }
  if (code != 0) MsgBox(ReadFailureText(sRegName, nRegAddr, code));
  return code;
}

int32_t RegisterAccess::WriteRegister(const std::string& sRegName, uint8_t nRegAddr,
                                      int16_t nWord, int16_t nTargetAddr) {
  int32_t code = 0;
  if (modGlobals::I2CMode) {
    std::vector<uint8_t> buffer(2, 0);  // low byte first on the bus, as an SMBus word
    Utils::IntToBytes(nWord, buffer[1], buffer[0]);
    code = frmUSB::Get().I2CWriteBlock(nRegAddr, 2, buffer, nTargetAddr);
  } else {
    code = frmUSB::Get().WriteSMBusWord_(nRegAddr, nWord, nTargetAddr);
  }
  if (code != 0) MsgBox(WriteFailureText(sRegName, nRegAddr, code));
  return code;
}

int16_t RegisterAccess::UIntToInt(int32_t nLong) { return Utils::UIntToInt(nLong); }
