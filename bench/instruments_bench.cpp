// The bench instruments' two speed rules:
//  - a scan tick's register work with two instruments attached (the simulated supply and load
//    on localhost, libsigrok's scpi-pps driver) costs no more than without them: compare
//    BM_ScanTickWithInstruments/instruments:1 with /instruments:0 (ratio at most 1.05);
//  - reading and recording 10 instrument channels at 20 readings per second each costs at most
//    2% of one core: BM_TenChannelsAt20Hz's counter cpu_percent (the whole process, every
//    thread, over 5 s of real time).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"
#include "drivers/sim/SimBoard.h"
#include "drivers/sim/SimDriver.h"
#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "instruments/Bench.h"
#include "instruments/SigrokBackend.h"
#include "recording/OutputFile.h"
#include "recording/Recorder.h"
#include "registers/RegisterAccess.h"
#include "registers/RegisterTable.h"
#include "support/FakeBench.h"

namespace {

using namespace std::chrono;

class QuietSink : public MessageSink {
 public:
  void ShowMessage(const std::string&) override {}
};

instruments::InstrumentConfig Config(const std::string& text, const std::string& label) {
  return *instruments::ParseInstrument(text, label).config;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A tick as korvoctl's watch makes it: the instruments asked for a reading, the five main
// registers read in the scan's order into a CSV recording, the readings that arrived delivered.
// The time measured is the register work alone (manual time), while the instruments are read on
// their threads beside it; delivering and recording the readings is the other rule's cost.
void BM_ScanTickWithInstruments(benchmark::State& state) {
  const bool attached = state.range(0) != 0;
  QuietSink sink;
  ScopedMessageSink scope(&sink);
  Settings::ResetToDefaults();
  sim::Board::ResetShared(std::make_shared<sim::Board>());
  frmUSB::SetControlFactory([] { return CreateSimControl(); });
  frmUSB::Get().OpenFirstFreeDevice();
  const auto file = std::filesystem::temp_directory_path() / "korvo_bench_tick.csv";
  std::string message;
  auto recorder = recording::Recorder::Open(file.string(), {}, message);
  RegisterAccess regs;
  regs.AddObserver(*recorder);
  std::unique_ptr<FakeBench> fake;
  std::unique_ptr<instruments::Bench> bench;
  if (attached) {
    fake = std::make_unique<FakeBench>();
    if (!fake->Ready()) {
      state.SkipWithError("the simulated bench did not start");
      return;
    }
    bench = std::make_unique<instruments::Bench>(
        instruments::MakeSigrokBackend(),
        std::vector<instruments::InstrumentConfig>{
            Config(fake->PsuConfig() + " channels=V1,I1", "PSU"),
            Config(fake->LoadConfig() + " channels=V1,I1", "Load")},
        instruments::BenchOptions{});
    bench->Start();
    bench->WaitSettled(seconds(10));
  }
  const std::vector<recording::RegisterObserver*> observers{recorder.get()};
  for (auto _ : state) {
    if (bench) bench->Trigger();
    const auto start = steady_clock::now();
    {
      const RegisterAccess::SourceScope tick(regs, recording::AccessSource::kScanTick, true);
      for (uint8_t address : RegisterTable::MainReadOrder()) {
        int16_t value = 0;
        regs.ReadRegister("CS: Status", address, value, modGlobals::DeviceAddress);
        benchmark::DoNotOptimize(value);
      }
    }
    state.SetIterationTime(duration<double>(steady_clock::now() - start).count());
    if (bench) bench->Deliver(observers);
  }
  if (bench) state.counters["readings"] = static_cast<double>(bench->Delivered());
  bench.reset();
  regs.RemoveObserver(*recorder);
  recorder->Close();
  std::filesystem::remove(file);
  frmUSB::Get().CloseDevice();
  frmUSB::SetControlFactory(&CreateSelectedControl);
  sim::Board::ResetShared();
}
BENCHMARK(BM_ScanTickWithInstruments)
    ->ArgName("instruments")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Ten channels read every 50 ms on their own and recorded as CSV rows, the owner delivering
// every 50 ms as a watch would: the simulated supply's nine (V, I, P of three outputs) and the
// load's current, through libsigrok's scpi-pps driver on localhost. The simulated bench runs in
// a process of its own, so only Korvo's and libsigrok's work is counted.
void BM_TenChannelsAt20Hz(benchmark::State& state) {
  QuietSink sink;
  ScopedMessageSink scope(&sink);
  const auto file = std::filesystem::temp_directory_path() / "korvo_bench_ten.csv";
  std::string message;
  auto recorder = recording::Recorder::Open(file.string(), {}, message);
  const std::vector<recording::RegisterObserver*> observers{recorder.get()};
  FakeBench fake;
  if (!fake.Ready()) {
    state.SkipWithError("the simulated bench did not start");
    return;
  }
  for (auto _ : state) {
    instruments::BenchOptions o;
    o.period = milliseconds(50);
    instruments::Bench bench(
        instruments::MakeSigrokBackend(),
        {Config(fake.PsuConfig(), "PSU"), Config(fake.LoadConfig() + " channels=I1", "Load")}, o);
    bench.Start();
    bench.WaitSettled(seconds(10));
    const double cpu0 = CpuSeconds();
    const auto wall0 = steady_clock::now();
    const auto end = wall0 + seconds(5);
    while (steady_clock::now() < end) {
      std::this_thread::sleep_for(milliseconds(50));
      bench.Deliver(observers);
      recorder->OnFlush();
    }
    const double cpu = CpuSeconds() - cpu0;
    const double wall = duration<double>(steady_clock::now() - wall0).count();
    bench.Deliver(observers);
    state.counters["cpu_percent"] = 100.0 * cpu / wall;
    state.counters["readings_per_s"] = static_cast<double>(bench.Delivered()) / wall;
  }
  recorder->Close();
  std::filesystem::remove(file);
}
BENCHMARK(BM_TenChannelsAt20Hz)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
