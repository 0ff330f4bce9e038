// The board's 256-byte serial EEPROM at bus address 0xA0/0xA1, a device of its own beside the
// charger. Erased bytes read 0xFF.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sim {

inline constexpr std::size_t kEepromDeviceSize = 256;

class EepromDevice {
 public:
  EepromDevice() { bytes_.fill(0xFF); }

  // Sequential transfers wrap at the end of the 256 bytes; the address pointer follows.
  void Read(uint8_t start, uint8_t* out, std::size_t n);
  void Write(uint8_t start, const uint8_t* in, std::size_t n);
  void Select(uint8_t address) { pointer_ = address; }
  uint8_t Pointer() const { return pointer_; }

 private:
  std::array<uint8_t, kEepromDeviceSize> bytes_;
  uint8_t pointer_ = 0;
};

}  // namespace sim
