// The metrics endpoint's two speed rules. A scrape of a busy bench (eleven registers with their
// bits and set points, fourteen failure statuses, the duration histogram, two instruments of three
// channels) costs little CPU and a small response; and a scan tick costs the same with the endpoint on and scraped as without.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <prometheus/text_serializer.h>
#include <thread>

#include "adapter/ErrorCodes.h"
#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"
#include "drivers/sim/SimBoard.h"
#include "drivers/sim/SimDriver.h"
#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "metrics/BenchMetrics.h"
#include "metrics/InstrumentMetrics.h"
#include "metrics/MetricFamilies.h"
#include "metrics/MetricsServer.h"
#include "metrics/Loopback.h"
#include "registers/RegisterAccess.h"
#include "registers/RegisterTable.h"

namespace {

// A bench after a long soak: every register read, fourteen kinds of failure, many transactions.
std::shared_ptr<metrics::BenchMetrics> BusyBench() {
  auto m = std::make_shared<metrics::BenchMetrics>(metrics::BoardInfo{});
  for (const RegisterTable::Register& r : RegisterTable::All())
    m->OnRegisterAccess({{}, recording::AccessSource::kScanTick, recording::AccessKind::kRead,
                         r.address, 0x5A5A, 0, 0x67});
  int kinds = 0;
  for (const ErrorName& e : ErrorTable()) {
    if (e.code == 0 || kinds == 14) continue;
    ++kinds;
    m->OnTransaction({{}, "ReadSMBusWord_", "13", 0x67, e.code, std::chrono::microseconds(700)});
  }
  for (int i = 0; i < 100000; ++i)
    m->OnTransaction({{}, "ReadSMBusWord_", "13", 0x67, 0, std::chrono::microseconds(i % 3000)});
  return m;
}

// A supply and an electronic load, each reading voltage, current and power of one output.
std::shared_ptr<metrics::InstrumentMetrics> BusyInstruments() {
  auto m = std::make_shared<metrics::InstrumentMetrics>(std::vector<std::string>{"PSU", "Load"});
  for (const char* label : {"PSU", "Load"}) {
    m->SetUp(label, true);
    m->OnInstrumentReading({{}, label, "V1", "", "voltage", "mV", 19000.25});
    m->OnInstrumentReading({{}, label, "I1", "", "current", "mA", 2048.5});
    m->OnInstrumentReading({{}, label, "P1", "", "power", "W", 38.921});
  }
  return m;
}

// What one scrape costs the endpoint: collecting and writing the exposition.
void BM_MetricsScrape(benchmark::State& state) {
  const auto m = BusyBench();
  const auto instruments = BusyInstruments();
  prometheus::TextSerializer serializer;
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = serializer.Serialize(metrics::Families(*m, instruments.get()));
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_MetricsScrape)->Unit(benchmark::kMicrosecond);

// The same over HTTP on loopback, the server's own bookkeeping included (wall time).
void BM_MetricsScrapeHttp(benchmark::State& state) {
  std::string error;
  // Port 0: any free port (the command line refuses it; the server takes it).
  auto server =
      metrics::MetricsServer::Start({"127.0.0.1", 0}, BusyBench(), error, {}, BusyInstruments());
  if (!server) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    const auto r = loopback::Get(server->Port());
    bytes = r.body.size();
    if (r.status != 200) state.SkipWithError("scrape failed");
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_MetricsScrapeHttp)->Unit(benchmark::kMicrosecond)->UseRealTime();

class NullSink : public MessageSink {
 public:
  void ShowMessage(const std::string&) override {}
};

// Watches and does nothing: what observing the link and the access costs by itself.
class NullObserver : public recording::RegisterObserver, public recording::TransactionObserver {
 public:
  void OnRegisterAccess(const recording::RegisterEvent&) override {}
  void OnTransaction(const recording::TransactionEvent&) override {}
};

// A scan tick (the five main registers in the scan's order) on the simulated board, with no bus
// time or with a USB adapter's (latency_us per transaction). endpoint 0: none; 1: the metrics
// observer attached, no server; 2: the endpoint on, scraped once a second (the rule); 3: scraped
// back to back; 4: an observer that does nothing, for what the observation itself costs.
void BM_ScanTickWithMetrics(benchmark::State& state) {
  Settings::ResetToDefaults();
  sim::Board::Options options;
  options.latency = std::chrono::microseconds(state.range(1));
  sim::Board::ResetShared(std::make_shared<sim::Board>(options));
  frmUSB::SetControlFactory([] { return CreateSimControl(); });
  frmUSB::Get().OpenFirstFreeDevice();
  NullSink sink;
  SetMessageSink(&sink);
  RegisterAccess regs;
  std::shared_ptr<metrics::BenchMetrics> bench;
  std::unique_ptr<metrics::MetricsServer> server;
  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;
  std::thread scraper;
  NullObserver null;
  if (state.range(0) == 4) {
    regs.AddObserver(null);
    frmUSB::Get().AddObserver(null);
  }
  if (state.range(0) > 0 && state.range(0) < 4) {
    bench = std::make_shared<metrics::BenchMetrics>(metrics::BoardInfo{});
    regs.AddObserver(*bench);
    frmUSB::Get().AddObserver(*bench);
  }
  if (state.range(0) == 2 || state.range(0) == 3) {
    std::string error;
    server = metrics::MetricsServer::Start({"127.0.0.1", 0}, bench, error);
    const auto pause = state.range(0) == 2 ? std::chrono::milliseconds(1000)
                                           : std::chrono::milliseconds(0);
    scraper = std::thread([&, port = server->Port(), pause] {
      std::unique_lock lock(mutex);
      while (!stop) {
        lock.unlock();
        loopback::Get(port);
        lock.lock();
        wake.wait_for(lock, pause, [&] { return stop; });
      }
    });
  }
  int16_t value = 0;
  for (auto _ : state) {
    const RegisterAccess::SourceScope tick(regs, recording::AccessSource::kScanTick, true);
    for (uint8_t address : RegisterTable::MainReadOrder())
      regs.ReadRegister("CS: Status", address, value, modGlobals::DeviceAddress);
    benchmark::DoNotOptimize(value);
  }
  if (scraper.joinable()) {
    {
      std::lock_guard lock(mutex);
      stop = true;
    }
    wake.notify_all();
    scraper.join();
  }
  if (bench) regs.RemoveObserver(*bench);
  regs.RemoveObserver(null);
  SetMessageSink(nullptr);
  frmUSB::Get().CloseDevice();
  frmUSB::SetControlFactory(&CreateSelectedControl);
  sim::Board::ResetShared();
  Settings::ResetToDefaults();
}
BENCHMARK(BM_ScanTickWithMetrics)
    ->ArgNames({"endpoint", "latency_us"})
    ->ArgsProduct({{0, 4, 1, 2, 3}, {0, 500}})
    ->MinTime(2.0)
    ->UseRealTime();

}  // namespace
