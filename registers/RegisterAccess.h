// Reading and writing one 16-bit charger register: bus mode, read retries, failure messages.
// The only place that turns adapter statuses into messages for the user.
#pragma once

#include <cstdint>
#include <string>

class RegisterAccess {
 public:
  // Up to ReadRetryCount + 1 attempts; on failure shows the read message once and returns the
  // last status. nResult is only meaningful on success.
  int32_t ReadRegister(const std::string& sRegName, uint8_t nRegAddr, int16_t& nResult,
                       int16_t nTargetAddr);
  // One attempt; on failure shows the write message and returns the status.
  int32_t WriteRegister(const std::string& sRegName, uint8_t nRegAddr, int16_t nWord,
                        int16_t nTargetAddr);
  static int16_t UIntToInt(int32_t nLong);
};

// Message texts, shared with korvoctl and the tests.
std::string ReadFailureText(const std::string& sRegName, uint8_t nRegAddr, int32_t status);
std::string WriteFailureText(const std::string& sRegName, uint8_t nRegAddr, int32_t status);
