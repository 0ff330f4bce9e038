// What recording costs. A register access over the simulated board (no latency) with nothing
// attached, with an observer that does nothing, with a CSV and a VCD recorder on tmpfs
// (/dev/shm) and with the transaction journal; korvoctl's watch at period 0 into a CSV file;
// and a simulated day of watching at 10 ms, with the process's memory at its start, after an
// hour and at its end.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "adapter/frmUSB.h"
#include "cli/Korvoctl.h"
#include "drivers/Drivers.h"
#include "drivers/sim/SimBoard.h"
#include "drivers/sim/SimDriver.h"
#include "recording/Journal.h"
#include "recording/Recorder.h"
#include "registers/RegisterAccess.h"
#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "support/ManualClock.h"

namespace {

class QuietSink : public MessageSink {
 public:
  void ShowMessage(const std::string&) override {}
};

const std::string kShm = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";

// An empty settings file for korvoctl.
std::string EmptyIni() {
  const std::string path = kShm + "/korvo_bench.ini";
  std::ofstream(path, std::ios::trunc).flush();
  return path;
}

struct Session {
  Session() {
    Settings::ResetToDefaults();
    sim::Board::ResetShared(std::make_shared<sim::Board>());
    frmUSB::SetControlFactory([] { return CreateSimControl(); });
    frmUSB::Get().OpenFirstFreeDevice();
    SetMessageSink(&sink);
  }
  ~Session() {
    SetMessageSink(nullptr);
    frmUSB::Get().CloseDevice();
    frmUSB::SetControlFactory(&CreateSelectedControl);
    sim::Board::ResetShared();
    Settings::ResetToDefaults();
  }
  QuietSink sink;
  RegisterAccess regs;
};

struct Nobody : recording::RegisterObserver {
  void OnRegisterAccess(const recording::RegisterEvent& e) override { benchmark::DoNotOptimize(e); }
};

enum Attached { kNothing, kNullObserver, kCsv, kVcd, kJournal };

// One single read: flushed at once, as a click on a Read button is.
void BM_ObservedRead(benchmark::State& state) {
  Session s;
  Nobody nobody;
  std::unique_ptr<recording::Recorder> recorder;
  recording::Journal journal;
  std::string message;
  const auto what = static_cast<Attached>(state.range(0));
  if (what == kNullObserver) s.regs.AddObserver(nobody);
  if (what == kCsv || what == kVcd) {
    recorder = recording::Recorder::Open(
        kShm + (what == kCsv ? "/korvo_bench.csv" : "/korvo_bench.vcd"), {}, message);
    if (!recorder)
      state.SkipWithError(message.c_str());
    else
      s.regs.AddObserver(*recorder);
  }
  if (what == kJournal) frmUSB::Get().AddObserver(journal);
  int16_t value = 0;
  uint16_t poke = 0;
  for (auto _ : state) {
    // A changing value, so a VCD has something to write each time.
    sim::Board::Shared()->Poke(0x13, poke++);
    s.regs.ReadRegister("CS: Status", 0x13, value, modGlobals::DeviceAddress);
    benchmark::DoNotOptimize(value);
  }
  if (recorder) s.regs.RemoveObserver(*recorder);
  if (what == kJournal) frmUSB::Get().RemoveObserver(journal);
  recorder.reset();
  std::filesystem::remove(kShm + "/korvo_bench.csv");
  std::filesystem::remove(kShm + "/korvo_bench.vcd");
}
BENCHMARK(BM_ObservedRead)
    ->ArgName("nothing0_null1_csv2_vcd3_journal4")
    ->Arg(kNothing)
    ->Arg(kNullObserver)
    ->Arg(kCsv)
    ->Arg(kVcd)
    ->Arg(kJournal);

// korvoctl watch --period 0 into a CSV file on tmpfs; reads per second as a counter.
void BM_WatchPeriod0IntoCsv(benchmark::State& state) {
  ::setenv("KORVO_ADAPTER", "sim", 1);
  sim::Board::ResetShared(std::make_shared<sim::Board>());
  const std::string file = kShm + "/korvo_watch.csv";
  const int64_t ticks = state.range(0);
  std::ostringstream out, err;
  std::istringstream in;
  for (auto _ : state) {
    const int rc = RunKorvoctl({"--ini", EmptyIni(), "--period", "0", "--count",
                                std::to_string(ticks), "--output", file, "watch"},
                               out, err, in);
    if (rc != kExitOk) state.SkipWithError(err.str().c_str());
  }
  state.counters["reads_per_s"] = benchmark::Counter(static_cast<double>(5 * ticks),
                                                     benchmark::Counter::kIsIterationInvariantRate);
  std::filesystem::remove(file);
  sim::Board::ResetShared();
  ::unsetenv("KORVO_ADAPTER");
}
BENCHMARK(BM_WatchPeriod0IntoCsv)->Arg(20000)->Unit(benchmark::kMillisecond);

long StatusKb(const char* field) {
  std::ifstream f("/proc/self/status");
  for (std::string line; std::getline(f, line);)
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  return -1;
}

// 24 simulated hours of korvoctl watch --period 10 with the journal and statistics on, the rows
// going nowhere: the memory must not grow with the hours.
class Discard : public std::streambuf {
 protected:
  int overflow(int c) override { return c == EOF ? 0 : c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

void BM_WatchADayAt10ms(benchmark::State& state) {
  ::setenv("KORVO_ADAPTER", "sim", 1);
  ManualClock clock;
  sim::Board::Options o;
  o.clock = &clock;
  sim::Board::ResetShared(std::make_shared<sim::Board>(o));
  Discard nothing;
  std::ostream devNull(&nothing);
  std::ostringstream err;
  std::istringstream in;
  // Heap in use, mapped blocks included.
  auto heapKb = [] {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd) / 1024;
  };
  const double rssStart = static_cast<double>(StatusKb("VmRSS:"));
  double rssHour = 0, heapHour = 0, rssDay = 0, heapDay = 0;
  clock.onSleep = [&] {
    if (clock.sleeps == 360000) {
      rssHour = static_cast<double>(StatusKb("VmRSS:"));
      heapHour = heapKb();
    }
    if (clock.sleeps == 8640000 - 1) {  // the last tick's wait
      rssDay = static_cast<double>(StatusKb("VmRSS:"));
      heapDay = heapKb();
    }
  };
  for (auto _ : state) {
    RunKorvoctl({"--ini", EmptyIni(), "--period", "10", "--duration", "86400", "--stats",
                 "--journal", kShm + "/korvo_day.csv", "watch"},
                devNull, err, in, clock);
  }
  state.counters["rss_start_kB"] = rssStart;
  state.counters["rss_1h_kB"] = rssHour;
  state.counters["rss_24h_kB"] = rssDay;
  state.counters["heap_1h_kB"] = heapHour;
  state.counters["heap_24h_kB"] = heapDay;
  state.counters["ticks"] = static_cast<double>(clock.sleeps);
  std::filesystem::remove(kShm + "/korvo_day.csv");
  sim::Board::ResetShared();
  ::unsetenv("KORVO_ADAPTER");
}
BENCHMARK(BM_WatchADayAt10ms)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
