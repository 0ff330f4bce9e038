#include "drivers/sim/SimEeprom.h"

namespace sim {

void EepromDevice::Read(uint8_t start, uint8_t* out, std::size_t n) {
  uint8_t a = start;
  for (std::size_t i = 0; i < n; ++i) out[i] = bytes_[a++];
  pointer_ = a;
}

void EepromDevice::Write(uint8_t start, const uint8_t* in, std::size_t n) {
  uint8_t a = start;
  for (std::size_t i = 0; i < n; ++i) bytes_[a++] = in[i];
  pointer_ = a;
}

}  // namespace sim
