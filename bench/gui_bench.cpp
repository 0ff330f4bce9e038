// The windows: one scan tick, the idle program's wake-ups, start-up time and memory.
#ifdef KORVO_BENCH_GUI

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"
#include "drivers/sim/SimBoard.h"
#include "monitor/JournalModel.h"
#include "monitor/Monitor.h"
#include "monitor/frmJournal.h"
#include "monitor/frmPlot.h"
#include "observation/Clock.h"
#include "shell/GuiMessageSink.h"
#include "foundation/CommandLine.h"
#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "shell/frmBasic.h"
#include "support/ManualClock.h"

extern char** environ;

namespace {

class QuietSink : public MessageSink {
 public:
  void ShowMessage(const std::string&) override { ++count; }
  int count = 0;
};

QApplication& App() {
  static int argc = 1;
  static char name[] = "korvo_bench";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("KORVO_ADAPTER", "sim", 1);
    frmUSB::SetControlFactory(&CreateSelectedControl);
    auto* a = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    InstallQtEventPump();
    return a;
  }();
  return *app;
}

// A loaded, shown main window on a fresh simulated board with default settings.
struct Session {
  Session() {
    App();
    SetMessageSink(&sink);
    Settings::ResetToDefaults();
    Settings::SetFile("/nonexistent/korvo.ini");
    sim::Board::ResetShared();
    CommandLine::SetArgumentStringForTesting(std::string());
    window = std::make_unique<frmBasic>();
    window->Form_Load();
    window->show();
    QCoreApplication::processEvents();
  }
  ~Session() {
    window->close();
    window.reset();
    if (frmUSB::Loaded()) frmUSB::Get().CloseDevice();
    SetMessageSink(nullptr);
    Settings::SetFile(std::string());
  }
  QuietSink sink;
  std::unique_ptr<frmBasic> window;
};

void PokeAll(uint16_t v) {
  sim::Board& b = *sim::Board::Shared();
  for (uint8_t r : RegisterTable::MainReadOrder()) b.Poke(r, v);
}

// Every bit of all five registers flips on every tick: 80 boxes, 96 labels and 3 entries.
void BM_ScanTickEveryBitChanging(benchmark::State& state) {
  Session s;
  uint16_t v = 0;
  PokeAll(v);
  s.window->Panel()->ReadAllRegisters();
  for (auto _ : state) {
    v = static_cast<uint16_t>(~v);
    PokeAll(v);
    s.window->Panel()->ReadAllRegisters();
  }
  state.counters["messages"] = s.sink.count;
}
BENCHMARK(BM_ScanTickEveryBitChanging)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ScanTickNothingChanging(benchmark::State& state) {
  Session s;
  PokeAll(0x5A5A);
  s.window->Panel()->ReadAllRegisters();
  for (auto _ : state) s.window->Panel()->ReadAllRegisters();
  state.counters["messages"] = s.sink.count;
}
BENCHMARK(BM_ScanTickNothingChanging)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

class PaintEventCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
  int64_t paints = 0;
};

// The whole timer tick, with its pass of pending events: the repaint the user sees is in it
// (widgets_painted counts the paint events per tick).
void BM_ScanTimerTick(benchmark::State& state) {
  Session s;
  uint16_t v = 0;
  PaintEventCounter counter;
  App().installEventFilter(&counter);
  for (auto _ : state) {
    v = static_cast<uint16_t>(~v);
    PokeAll(v);
    s.window->Panel()->Timer1_Timer();
  }
  App().removeEventFilter(&counter);
  state.counters["widgets_painted"] =
      benchmark::Counter(static_cast<double>(counter.paints), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ScanTimerTick)->Unit(benchmark::kMicrosecond);
// A fixed count, for instruction counts under callgrind
// (--toggle-collect=MainPanel::Timer1_Timer()), which compare builds where the machine is too busy
// for times to.
BENCHMARK(BM_ScanTimerTick)
    ->Name("BM_ScanTimerTickFixedCount")
    ->Iterations(300)
    ->Unit(benchmark::kMicrosecond);

// A quantile (0.5: the median) of per-iteration times, in microseconds.
double QuantileUs(std::vector<double> us, double q) {
  if (us.empty()) return 0;
  const auto at = static_cast<std::ptrdiff_t>(q * static_cast<double>(us.size() - 1));
  std::nth_element(us.begin(), us.begin() + at, us.end());
  return us[static_cast<std::size_t>(at)];
}
double MedianUs(std::vector<double> us) { return QuantileUs(std::move(us), 0.5); }

// This thread's processor time: unlike the wall clock, not stretched by other processes on a
// busy machine.
double ThreadCpuUs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// A scratch file on tmpfs where there is one.
std::string ScratchPath(const char* name) {
  const std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return dir + "/korvo-bench-" + std::to_string(getpid()) + "-" + name;
}

// The monitor as the program hands it over; with recording on (to `recording`, unless empty)
// and the plot and the journal open (as `windows` says: 1 plot, 2 journal).
monitor::Monitor& Monitored(Session& s, const std::string& recording, int windows = 3) {
  s.window->SetMonitor(std::make_unique<monitor::Monitor>(*s.window, s.window->Registers(),
                                                          monitor::Monitor::Options{}));
  monitor::Monitor& m = *s.window->Monitor();
  if (!recording.empty()) m.StartRecording(QString::fromStdString(recording));
  if (windows & 1) m.ShowPlot();
  if (windows & 2) m.ShowJournal();
  QCoreApplication::processEvents();
  return m;
}

// Runs the benchmark's ticks, each after a flip of every register and whatever before() does
// (timed with the tick), and counts the median tick in wall-clock (median_us) and in this
// thread's processor time (median_cpu_us), which a busy machine stretches less.
template <typename Before>
void TimeTicks(benchmark::State& state, Session& s, Before before) {
  uint16_t v = 0;
  std::vector<double> us, cpuUs;
  for (auto _ : state) {
    v = static_cast<uint16_t>(~v);
    PokeAll(v);
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = ThreadCpuUs();
    before();
    s.window->Panel()->Timer1_Timer();
    cpuUs.push_back(ThreadCpuUs() - cpuStart);
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  state.counters["median_us"] = MedianUs(us);
  state.counters["median_cpu_us"] = MedianUs(cpuUs);
  state.counters["messages"] = s.sink.count;
}

// The whole timer tick, as BM_ScanTimerTick, without the monitor (0) and with it: 1 recording,
// 2 plot window, 4 journal window, 7 all three (registered: 0 and 7). median_us / median_cpu_us:
// the median tick in wall-clock and in processor time. Ticks run back to back here, so the
// coalesced repaints of the plot and the journal (at most 10 and 5 per second) fall into some ticks
// and show in the mean; at a real scan period they mostly come between ticks.
void BM_ScanTimerTickObserved(benchmark::State& state) {
  Session s;
  const std::string file = ScratchPath("tick.csv");
  const int what = static_cast<int>(state.range(0));
  if (what) Monitored(s, what & 1 ? file : std::string(), what >> 1);
  TimeTicks(state, s, [] {});
  if (what) {
    monitor::Monitor& m = *s.window->Monitor();
    if (m.Plot()) state.counters["plot_refreshes"] = m.Plot()->RefreshCount();
    if (m.JournalWindow()) state.counters["journal_refreshes"] = m.JournalWindow()->RefreshCount();
    m.StopRecording();
  }
  std::remove(file.c_str());
}
BENCHMARK(BM_ScanTimerTickObserved)->Arg(0)->Arg(7)->MinTime(3)->Unit(benchmark::kMicrosecond);

// Two bench instruments, each with a voltage and a current channel, delivering one reading per
// channel between two scan ticks, as the instruments' own thread hands them over.
struct FakeInstruments {
  struct Channel {
    const char* instrument;
    const char* channel;
    const char* caption;
    const char* quantity;
    const char* unit;
    double base;
  };
  static constexpr Channel kChannels[] = {
      {"PSU", "V1", "PSU CH1 voltage", "voltage", "mV", 4200},
      {"PSU", "I1", "PSU CH1 current", "current", "mA", 2031},
      {"DMM", "V", "DMM voltage", "voltage", "mV", 3987},
      {"DMM", "I", "DMM current", "current", "mA", 498},
  };
  void Deliver(RegisterAccess& access) {
    ++n;
    for (const Channel& c : kChannels) {
      access.NotifyInstrumentReading({access.Clock().Now(), c.instrument, c.channel, c.caption,
                                      c.quantity, c.unit, c.base + (n % 7)});
    }
  }
  int n = 0;
};

// The whole timer tick, as BM_ScanTimerTick, with the plot open, recording on (to tmpfs) and
// two instruments' readings (FakeInstruments) delivered before every tick and timed with it.
void BM_ScanTimerTickPlotRecordingInstruments(benchmark::State& state) {
  Session s;
  const std::string file = ScratchPath("instruments.csv");
  monitor::Monitor& m = Monitored(s, file, 1);
  FakeInstruments instruments;
  RegisterAccess& access = s.window->Registers();
  TimeTicks(state, s, [&] { instruments.Deliver(access); });
  if (m.Plot()) state.counters["plot_refreshes"] = m.Plot()->RefreshCount();
  m.StopRecording();
  std::remove(file.c_str());
}
BENCHMARK(BM_ScanTimerTickPlotRecordingInstruments)->MinTime(3)->Unit(benchmark::kMicrosecond);

// The same comparison with both cases in one process, in alternating blocks of ticks, so a
// busy machine weighs on both alike: blocks without the monitor, and blocks with it handed
// over, recording to tmpfs and the plot and the journal open (argument 3; 0: recording only,
// no windows; -1: neither). Counters: the median tick of each in processor time and their
// difference (the figure the windows must keep under 500 us), the same in wall-clock time, and
// the difference of the lower quartiles, which other processes disturb less.
void BM_ScanTimerTickMonitorCost(benchmark::State& state) {
  Session s;
  const std::string file = ScratchPath("ab.csv");
  const int64_t arg = state.range(0);
  constexpr int kBlocks = 40, kTicks = 50;
  std::vector<double> cpu[2], wall[2];
  uint16_t v = 0;
  for (auto _ : state) {
    for (int block = 0; block < kBlocks; ++block) {
      const int on = block % 2;
      if (on)
        Monitored(s, arg >= 0 ? file : std::string(), static_cast<int>(std::max<int64_t>(arg, 0)));
      for (int i = 0; i < kTicks; ++i) {
        v = static_cast<uint16_t>(~v);
        PokeAll(v);
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = ThreadCpuUs();
        s.window->Panel()->Timer1_Timer();
        cpu[on].push_back(ThreadCpuUs() - cpuStart);
        wall[on].push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
      }
      if (on) s.window->SetMonitor(nullptr);
      QCoreApplication::processEvents();
    }
  }
  state.counters["without_cpu_us"] = MedianUs(cpu[0]);
  state.counters["with_cpu_us"] = MedianUs(cpu[1]);
  state.counters["added_cpu_us"] = MedianUs(cpu[1]) - MedianUs(cpu[0]);
  state.counters["added_wall_us"] = MedianUs(wall[1]) - MedianUs(wall[0]);
  state.counters["added_cpu_p25_us"] = QuantileUs(cpu[1], 0.25) - QuantileUs(cpu[0], 0.25);
  std::remove(file.c_str());
}
BENCHMARK(BM_ScanTimerTickMonitorCost)
    ->Arg(3)
    ->Arg(0)
    ->Arg(-1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Opening the journal window on a full journal (100,000 transactions), until it has painted.
void BM_JournalWindowOpen100k(benchmark::State& state) {
  Session s;
  Monitored(s, std::string());
  monitor::Monitor& m = *s.window->Monitor();
  delete m.JournalWindow();
  int16_t word = 0;
  while (m.Journal().Size() < recording::Journal::kCapacity)
    frmUSB::Get().ReadSMBusWord_(0x13, word, 0x66);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    monitor::frmJournal* w = m.ShowJournal();
    w->repaint();
    QCoreApplication::processEvents();
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    state.counters["rows"] = w->Model()->rowCount();
    delete w;
  }
}
BENCHMARK(BM_JournalWindowOpen100k)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// The five reads of a scan tick straight through the register access, without (0) and with (1)
// the monitor's observers (sample history, journal) and a CSV recording: what observing adds
// to every tick, apart from the windows' coalesced repaints.
void BM_ScanReadsObserved(benchmark::State& state) {
  Session s;
  const std::string file = ScratchPath("reads.csv");
  if (state.range(0)) Monitored(s, file, 0);
  RegisterAccess& access = s.window->Registers();
  int16_t value = 0;
  for (auto _ : state) {
    const RegisterAccess::SourceScope scope(access, recording::AccessSource::kScanTick, true);
    for (uint8_t r : {0x13, 0x12, 0x15, 0x3F, 0x14})
      access.ReadRegister("CS: Status", r, value, 0x67);
  }
  if (state.range(0)) s.window->Monitor()->StopRecording();
  std::remove(file.c_str());
}
BENCHMARK(BM_ScanReadsObserved)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// One coalesced refresh and paint of the plot window (0, following the newest sample) and of
// the journal window (1, following the bottom), each after one more scan tick's worth of
// samples, in processor time: what the windows cost per repaint (at most 10 per second for the
// plot, 5 for the journal).
void BM_MonitorWindowRepaint(benchmark::State& state) {
  Session s;
  monitor::Monitor& m = Monitored(s, std::string(), state.range(0) ? 2 : 1);
  uint16_t v = 0;
  for (auto _ : state) {
    state.PauseTiming();
    v = static_cast<uint16_t>(v + 0x0101);
    PokeAll(v);
    s.window->Panel()->ReadAllRegisters();
    QCoreApplication::processEvents();
    state.ResumeTiming();
    // The coalescing timer's own refresh, then the paint of what changed.
    const double cpuStart = ThreadCpuUs();
    auto refreshes = [&] {
      return state.range(0) ? m.JournalWindow()->RefreshCount() : m.Plot()->RefreshCount();
    };
    const int before = refreshes();
    while (refreshes() == before) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
    state.SetIterationTime((ThreadCpuUs() - cpuStart) / 1e6);
  }
}
// Manual time: this thread's processor time.
BENCHMARK(BM_MonitorWindowRepaint)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

long RssKb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// One hour of a 50 ms scan on a simulated clock (72,000 ticks of five reads) with recording on
// and the plot and the journal open: the process's memory. Every 200th tick is a real timer
// tick of the main window, the others go straight to the register access; the windows repaint
// every simulated ten seconds.
void BM_OneHourScanAt50msMemory(benchmark::State& state) {
  for (auto _ : state) {
    ManualClock clock;  // outlives the session that reads it
    Session s;
    s.window->Registers().SetClock(clock);
    frmUSB::Get().SetClock(clock);
    const std::string file = ScratchPath("hour.csv");
    monitor::Monitor& m = Monitored(s, file);
    const long startKb = RssKb();
    RegisterAccess& access = s.window->Registers();
    int16_t value = 0;
    for (int tick = 1; tick <= 72000; ++tick) {
      clock.Advance(std::chrono::milliseconds(50));
      if (tick % 200 == 0) {
        s.window->Panel()->Timer1_Timer();
        m.Plot()->Refresh();
        m.JournalWindow()->Refresh();
        continue;
      }
      const RegisterAccess::SourceScope scope(access, recording::AccessSource::kScanTick, true);
      for (uint8_t r : {0x13, 0x12, 0x15, 0x3F, 0x14})
        access.ReadRegister("CS: Status", r, value, 0x67);
    }
    QCoreApplication::processEvents();
    state.counters["rss_start_MiB"] = startKb / 1024.0;
    state.counters["rss_end_MiB"] = RssKb() / 1024.0;
    state.counters["plot_samples"] = static_cast<double>(m.History().Series(0x15)->Size());
    state.counters["journal_entries"] = static_cast<double>(m.Journal().Size());
    state.counters["recorded_samples"] = static_cast<double>(m.CurrentRecorder()->Samples());
    m.StopRecording();
    std::remove(file.c_str());
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["process_maxrss_MiB"] = usage.ru_maxrss / 1024.0;
}
BENCHMARK(BM_OneHourScanAt50msMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

class TimerEventCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Timer) ++timers;
    return false;
  }
  int timers = 0;
};

// With the scan off, the idle program sleeps in the event loop: count its wake-ups.
void BM_IdleWakeups(benchmark::State& state) {
  Session s;
  // Let the settle step that follows loading run first.
  QElapsedTimer settle;
  settle.start();
  while (settle.elapsed() < 1200)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  const double seconds = 2.0;
  int wakeups = 0;
  TimerEventCounter counter;
  QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance();
  QObject::connect(d, &QAbstractEventDispatcher::awake, &counter, [&] { ++wakeups; });
  for (auto _ : state) {
    wakeups = 0;
    counter.timers = 0;
    App().installEventFilter(&counter);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    getrusage(RUSAGE_SELF, &after);
    App().removeEventFilter(&counter);
    const double cpu = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) +
                       (after.ru_utime.tv_usec - before.ru_utime.tv_usec) / 1e6 +
                       (after.ru_stime.tv_sec - before.ru_stime.tv_sec) +
                       (after.ru_stime.tv_usec - before.ru_stime.tv_usec) / 1e6;
    // The one wake-up and timer event of the loop's own end timer are not the program's.
    state.counters["wakeups_per_s"] = (wakeups - 1) / seconds;
    state.counters["timer_events_per_s"] = (counter.timers - 1) / seconds;
    state.counters["cpu_percent"] = 100.0 * cpu / seconds;
  }
}
BENCHMARK(BM_IdleWakeups)->Iterations(1)->Unit(benchmark::kMillisecond);

std::string KorvoPath() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "korvo";
  std::string dir(buf, static_cast<size_t>(n));
  dir = dir.substr(0, dir.rfind('/'));
  // korvo sits in the build directory, korvo_bench beside it or in its bench/ folder.
  for (const std::string& candidate : {dir + "/korvo", dir + "/../korvo"}) {
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "korvo";
}

// Process start to main window shown, of the real program (splash wait 1.5 s included).
void BM_StartToMainWindowShown(benchmark::State& state) {
  const std::string korvo = KorvoPath();
  long maxrssKb = 0;
  for (auto _ : state) {
    int out[2];
    if (pipe(out) != 0) {
      state.SkipWithError("pipe failed");
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    setenv("KORVO_EXIT_WHEN_SHOWN", "1", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("KORVO_ADAPTER", "sim", 1);
    char* argv[] = {const_cast<char*>(korvo.c_str()), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, korvo.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    unsetenv("KORVO_EXIT_WHEN_SHOWN");
    close(out[1]);
    if (rc != 0) {
      close(out[0]);
      state.SkipWithError("cannot start korvo (build it first)");
      return;
    }
    char line[64] = {};
    const ssize_t got = read(out[0], line, sizeof line - 1);
    const auto shown = std::chrono::steady_clock::now();
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (got <= 0 || std::string(line).rfind("shown", 0) != 0) {
      state.SkipWithError("korvo did not report its main window");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(shown - start).count());
    maxrssKb = std::max(maxrssKb, usage.ru_maxrss);
  }
  state.counters["korvo_maxrss_MiB"] = maxrssKb / 1024.0;
}
BENCHMARK(BM_StartToMainWindowShown)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// A session in this process: main window, a thousand Read All, About and legend.
void BM_SessionPeakMemory(benchmark::State& state) {
  for (auto _ : state) {
    Session s;
    uint16_t v = 0;
    for (int i = 0; i < 1000; ++i) {
      v = static_cast<uint16_t>(v + 0x1111);
      PokeAll(v);
      s.window->Panel()->ReadAllRegisters();
    }
    s.window->findChild<QPushButton*>(QStringLiteral("cmdLegend"))->click();
    s.window->findChild<QPushButton*>(QStringLiteral("cmdAbout"))->click();
    QCoreApplication::processEvents();
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["process_maxrss_MiB"] = usage.ru_maxrss / 1024.0;
}
BENCHMARK(BM_SessionPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

#endif  // KORVO_BENCH_GUI
