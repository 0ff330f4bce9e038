// The i2c-dev driver's own cost per transaction, above the kernel call. The kernel here answers
// at once, so a driver benchmark minus BM_I2cDevKernelCallOnly is what the driver adds: the
// checks, the address cache, the errno mapping and the buffer handling.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstring>

#include "drivers/i2cdev/I2cDevDriver.h"
#include "drivers/i2cdev/I2cDevKernel.h"

namespace {

// A kernel whose every call succeeds at once.
class InstantKernel final : public I2cDevKernel {
 public:
  int Inspect(const std::string&, unsigned& fileType, unsigned& major) override {
    fileType = S_IFCHR;
    major = kI2cDevMajor;
    return 0;
  }
  int Open(const std::string&) override { return 3; }
  void Close(int) override {}
  int Functionality(int, unsigned long& funcs) override {
    funcs = ~0UL;
    return 0;
  }
  int SetAddress(int, uint8_t, bool) override { return 0; }
  int SmbusReadWord(int, uint8_t command) override { return 0x4100 | command; }
  int SmbusWriteWord(int, uint8_t, uint16_t) override { return 0; }
  int SmbusSendByte(int, uint8_t) override { return 0; }
  int SmbusReadByteData(int, uint8_t command) override { return command; }
  int SmbusWriteByteData(int, uint8_t, uint8_t) override { return 0; }
  int SmbusReadBlock(int, uint8_t, std::span<uint8_t, kBlockMax> values) override {
    values[0] = 1;
    return 1;
  }
  int SmbusWriteBlock(int, uint8_t, std::span<const uint8_t>) override { return 0; }
  int SmbusReadI2cBlock(int, uint8_t command, std::span<uint8_t> values) override {
    std::memset(values.data(), command, values.size());
    return static_cast<int>(values.size());
  }
  int SmbusWriteI2cBlock(int, uint8_t, std::span<const uint8_t>) override { return 0; }
  int Transfer(int, std::span<i2c_msg> messages) override {
    return static_cast<int>(messages.size());
  }
  std::string SysfsRoot() override { return "/nonexistent-sysfs"; }
};

struct Session {
  Session() : driver(kernel, I2cDevOptions{"/dev/i2c-3", false}) {
    if (driver.OpenDevice("i2c-3") == -1) std::abort();
  }
  InstantKernel kernel;
  I2cDevDriver driver;
};

void BM_I2cDevKernelCallOnly(benchmark::State& state) {
  Session s;
  I2cDevKernel& k = s.kernel;
  for (auto _ : state) benchmark::DoNotOptimize(k.SmbusReadWord(3, 0x15));
}
BENCHMARK(BM_I2cDevKernelCallOnly);

void BM_I2cDevSmbReadWord(benchmark::State& state) {
  Session s;
  Zentio& z = s.driver;
  int16_t word = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(z.SmbReadWord(0x15, word, 0x67));
    benchmark::DoNotOptimize(word);
  }
}
BENCHMARK(BM_I2cDevSmbReadWord);

void BM_I2cDevSmbWriteWord(benchmark::State& state) {
  Session s;
  Zentio& z = s.driver;
  for (auto _ : state) benchmark::DoNotOptimize(z.SmbWriteWord(0x15, 16800, 0x67));
}
BENCHMARK(BM_I2cDevSmbWriteWord);

// The register read of I2C mode: two bytes at a word address.
void BM_I2cDevI2CBlockRead2(benchmark::State& state) {
  Session s;
  Zentio& z = s.driver;
  std::vector<uint8_t> buffer;
  for (auto _ : state) {
    benchmark::DoNotOptimize(z.I2CBlockRead(0x15, buffer, 2, 0x67));
    benchmark::DoNotOptimize(buffer.data());
  }
}
BENCHMARK(BM_I2cDevI2CBlockRead2);

// Worst case: every transaction goes to another device, so the address is set every time.
void BM_I2cDevSmbReadWordAlternatingTargets(benchmark::State& state) {
  Session s;
  Zentio& z = s.driver;
  int16_t word = 0;
  int16_t target = 0x66;
  for (auto _ : state) {
    target = target == 0x66 ? 0xA0 : 0x66;
    benchmark::DoNotOptimize(z.SmbReadWord(0x15, word, target));
  }
}
BENCHMARK(BM_I2cDevSmbReadWordAlternatingTargets);

}  // namespace
