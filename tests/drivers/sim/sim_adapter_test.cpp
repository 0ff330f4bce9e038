// The simulated adapter as the link sees it.
#include <algorithm>
#include <string>
#include <vector>

#include "SimRig.h"

namespace sim {
namespace {

class SimContract : public SimRig {};

// Every size a caller may pass, to the EEPROM device (which takes any byte count): served within
// the buffers, or refused with nothing delivered. ASan checks that no byte past an end is touched.
TEST_F(SimContract, EverySizeIsServedWithinTheBuffersOrRefused) {
  const auto expect = [](bool ok) { return ok ? VB_OK : VB_INCORRECT_PARAM; };
  for (int size : {-32768, -1, 0, 1, 2, 100, 255, 256, 257, 1000, 32767}) {
    for (std::size_t bs : {0, 1, 2, 255, 256, 300}) {
      SCOPED_TRACE(std::to_string(size) + " with " + std::to_string(bs) + " bytes");
      const auto sz = static_cast<int16_t>(size);
      const bool readable = size >= 1 && size <= 256;
      const auto fits = [&](int most) {
        return size >= 0 && size <= most && static_cast<std::size_t>(size) <= bs;
      };
      std::vector<uint8_t> buf(bs, 0xAB);
      EXPECT_EQ(adapter->I2CBlockRead(0x00, buf, sz, 0xA0), expect(readable));
      EXPECT_EQ(buf.size(), std::max(bs, static_cast<std::size_t>(readable ? size : 0)))
          << "grown, never shrunk";
      int16_t n = sz;
      EXPECT_EQ(adapter->SmbReadI2CBlock(0x00, buf, n, 0xA0), expect(readable));
      EXPECT_EQ(n, readable ? size : 0);
      n = sz;
      EXPECT_EQ(adapter->SmbReadI2CBlockNoCmd(buf, n, 0xA0), expect(readable));
      EXPECT_EQ(n, readable ? size : 0);
      EXPECT_EQ(adapter->SmbReadBlock(0x00, buf, n, 0xA0), VB_OK);
      EXPECT_LE(static_cast<std::size_t>(n), buf.size());
      const std::vector<uint8_t> bytes(bs, 0xCD);
      EXPECT_EQ(adapter->I2CBlockWrite(0x00, bytes, sz, 0xA0), expect(fits(256)));
      EXPECT_EQ(adapter->SmbWriteI2CBlock(0x00, bytes, sz, 0xA0), expect(fits(256)));
      EXPECT_EQ(adapter->SmbWriteBlock(0x00, bytes, sz, 0xA0), expect(fits(255)));
      // Write-then-read sends elements 0 to writeLength.
      for (int16_t readLength : {-1, 0, 1, 256, 257}) {
        std::vector<uint8_t> wr(bs, 0x11);
        n = 7;
        const bool ok = fits(255) && static_cast<std::size_t>(size) < bs && readLength >= 1 &&
                        readLength <= 256;
        EXPECT_EQ(adapter->SmbWriteReadI2CBlock(0x00, sz, readLength, wr, n, 0xA0), expect(ok))
            << readLength;
        EXPECT_EQ(n, ok ? readLength : 0);
        EXPECT_LE(static_cast<std::size_t>(n), wr.size());
      }
    }
  }
}

}  // namespace
}  // namespace sim
