// Register access over the simulated board with no latency: what the software itself costs
// per ReadRegister/WriteRegister, on the SMBus word path and on the I2C block path.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"
#include "drivers/sim/SimBoard.h"
#include "drivers/sim/SimDriver.h"
#include "registers/RegisterAccess.h"
#include "foundation/Messages.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"

namespace {

class NullSink : public MessageSink {
 public:
  void ShowMessage(const std::string&) override {}
};

// Opens the link on a fresh simulated board and closes it when the benchmark ends.
struct SimSession {
  explicit SimSession(bool i2c) {
    Settings::ResetToDefaults();
    modGlobals::I2CMode = i2c;
    sim::Board::ResetShared(std::make_shared<sim::Board>());
    frmUSB::SetControlFactory([] { return CreateSimControl(); });
    frmUSB::Get().OpenFirstFreeDevice();
    SetMessageSink(&sink);
  }
  ~SimSession() {
    SetMessageSink(nullptr);
    frmUSB::Get().CloseDevice();
    frmUSB::SetControlFactory(&CreateSelectedControl);
    sim::Board::ResetShared();
    Settings::ResetToDefaults();
  }
  NullSink sink;
  RegisterAccess regs;
};

void BM_ReadRegister(benchmark::State& state) {
  SimSession s(state.range(0) != 0);
  int16_t value = 0;
  for (auto _ : state) {
    s.regs.ReadRegister("CS: Status", 0x15, value, modGlobals::DeviceAddress);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_ReadRegister)->ArgName("i2c")->Arg(0)->Arg(1);

void BM_WriteRegister(benchmark::State& state) {
  SimSession s(state.range(0) != 0);
  int16_t value = 16800;
  for (auto _ : state) {
    s.regs.WriteRegister("CS: Status", 0x15, value, modGlobals::DeviceAddress);
    value = static_cast<int16_t>(value ^ 0x0008);
  }
}
BENCHMARK(BM_WriteRegister)->ArgName("i2c")->Arg(0)->Arg(1);

// A read the charger does not acknowledge, with the error log on: the link appends a line to
// CommErr.log and the register layer builds its message on every call.
void BM_FailedReadWithLog(benchmark::State& state) {
  SimSession s(false);
  const auto dir = std::filesystem::temp_directory_path() / "korvo_bench_log";
  std::filesystem::create_directories(dir);
  Paths::SetProgramDirForTesting(dir.string());
  frmUSB::Get().EnableErrorLog();
  int16_t value = 0;
  for (auto _ : state) {
    s.regs.ReadRegister("CS: Status", 0x20, value, modGlobals::DeviceAddress);  // no such register
  }
  frmUSB::Get().ClearErrorLog();
  frmUSB::Get().DisableErrorLog();
  Paths::SetProgramDirForTesting("");
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FailedReadWithLog);

}  // namespace
