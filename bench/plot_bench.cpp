// The plot with an hour of a 50 ms scan: opening the recording (read, parse, history and the
// first drawing) and one repaint while panning and zooming it.
#ifdef KORVO_BENCH_GUI

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <filesystem>
#include <memory>
#include <string>

#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "monitor/SampleHistory.h"
#include "monitor/frmPlot.h"
#include "recording/Recorder.h"
#include "support/ManualClock.h"

namespace {

class QuietSink : public MessageSink {
 public:
  void ShowMessage(const std::string&) override { ++count; }
  int count = 0;
};

void EnsureApp() {
  if (QApplication::instance()) return;
  static int argc = 1;
  static char name[] = "korvo_bench";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  new QApplication(argc, argv);
}

const std::string kDir = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";

// An hour at a 50 ms scan: 72,000 ticks of the five main registers, the charger unplugged
// for a minute every ten, and four instrument channels (two voltages, two currents) each tick.
const std::string& HourRecording() {
  static const std::string path = [] {
    const std::string p = kDir + "/korvo_plot_bench.csv";
    ManualClock clock;
    recording::RecorderOptions options;
    options.clock = &clock;
    std::string message;
    auto r = recording::Recorder::Open(p, options, message);
    if (!r) return std::string();
    for (int tick = 0; tick < 72000; ++tick) {
      clock.Advance(std::chrono::milliseconds(50));
      const bool pulled = tick % 12000 >= 10800;
      const uint16_t values[5] = {static_cast<uint16_t>(pulled ? 0x0000 : 0x8001), 0x0050, 16800,
                                  3200, static_cast<uint16_t>(2048)};
      int i = 0;
      for (uint8_t address : monitor::SampleHistory::kRegisters)
        r->OnRegisterAccess({clock.Now(), recording::AccessSource::kScanTick,
                             recording::AccessKind::kRead, address, values[i++], 0, 0x67});
      const double wobble = (tick % 7) * 0.5;
      r->OnInstrumentReading({clock.Now(), "PSU", "V1", "PSU CH1 voltage", "voltage", "mV", 19000 + wobble});
      r->OnInstrumentReading({clock.Now(), "PSU", "I1", "PSU CH1 current", "current", "mA", pulled ? 0 : 2031 + wobble});
      r->OnInstrumentReading({clock.Now(), "DMM", "V", "DMM V voltage", "voltage", "mV", pulled ? 0 : 16790 + wobble});
      r->OnInstrumentReading({clock.Now(), "Load", "I", "Load input current", "current", "mA", 3190 + wobble});
      if (tick % 200 == 0) r->OnFlush();
    }
    r->Close();
    return p;
  }();
  return path;
}

struct PlotSession {
  PlotSession() {
    EnsureApp();
    SetMessageSink(&sink);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    plot = std::make_unique<monitor::frmPlot>(live, recording::Variant::rk5190, nullptr);
    plot->resize(1280, 800);
    plot->show();
    QCoreApplication::processEvents();
  }
  ~PlotSession() {
    plot.reset();
    SetMessageSink(nullptr);
  }
  QuietSink sink;
  QTemporaryDir config;
  ManualClock clock;
  monitor::SampleHistory live{clock};
  std::unique_ptr<monitor::frmPlot> plot;
};

// "Open..." without the dialog, to the first picture of the whole hour.
void BM_PlotOpenHourRecording(benchmark::State& state) {
  const std::string& path = HourRecording();
  PlotSession s;
  for (auto _ : state) {
    if (!s.plot->OpenRecording(QString::fromStdString(path))) state.SkipWithError("refused");
    QCoreApplication::processEvents();
    s.plot->repaint();
    state.PauseTiming();
    s.plot->ShowLive();
    state.ResumeTiming();
  }
  state.counters["messages"] = s.sink.count;
}
BENCHMARK(BM_PlotOpenHourRecording)->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3)->ReportAggregatesOnly(true);

// One step of panning or zooming the open hour and the window's repaint, at the whole hour
// (range(0) == 3600 s) and at ten minutes.
void BM_PlotPanZoomRepaint(benchmark::State& state) {
  const std::string& path = HourRecording();
  PlotSession s;
  s.plot->OpenRecording(QString::fromStdString(path));
  const double span = static_cast<double>(state.range(0));
  s.plot->Zoom(span / (s.plot->ViewEnd() - s.plot->ViewStart()), s.plot->ViewStart());
  int step = 0;
  for (auto _ : state) {
    switch (step++ % 4) {
      case 0: s.plot->Pan(span / 10); break;
      case 1: s.plot->Zoom(0.8, (s.plot->ViewStart() + s.plot->ViewEnd()) / 2); break;
      case 2: s.plot->Zoom(1.25, (s.plot->ViewStart() + s.plot->ViewEnd()) / 2); break;
      default: s.plot->Pan(-span / 10); break;
    }
    // The chart lays out its series from posted events: let them run, then paint.
    QCoreApplication::processEvents();
    s.plot->repaint();
  }
}
BENCHMARK(BM_PlotPanZoomRepaint)->Arg(3600)->Arg(600)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace

#endif  // KORVO_BENCH_GUI
