// The windows: one scan tick, the idle program's wake-ups, start-up time and memory.
#ifdef KORVO_BENCH_GUI

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
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
#include <memory>
#include <string>

#include "adapter/frmUSB.h"
#include "drivers/sim/SimBoard.h"
#include "shell/CommandLine.h"
#include "shell/GuiMessageSink.h"
#include "shell/Messages.h"
#include "shell/Settings.h"
#include "shell/frmBasic.h"

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
  for (uint8_t r : {sim::reg::Status, sim::reg::Control, sim::reg::ChargeVoltage,
                    sim::reg::InputCurrent, sim::reg::ChargeCurrent}) {
    b.Poke(r, v);
  }
}

// Every bit of all five registers flips on every tick: 80 boxes, 96 labels and 3 entries.
void BM_ScanTickEveryBitChanging(benchmark::State& state) {
  Session s;
  uint16_t v = 0;
  PokeAll(v);
  s.window->ReadAllRegisters();
  for (auto _ : state) {
    v = static_cast<uint16_t>(~v);
    PokeAll(v);
    s.window->ReadAllRegisters();
  }
  state.counters["messages"] = s.sink.count;
}
BENCHMARK(BM_ScanTickEveryBitChanging)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_ScanTickNothingChanging(benchmark::State& state) {
  Session s;
  PokeAll(0x5A5A);
  s.window->ReadAllRegisters();
  for (auto _ : state) s.window->ReadAllRegisters();
  state.counters["messages"] = s.sink.count;
}
BENCHMARK(BM_ScanTickNothingChanging)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

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
    s.window->Timer1_Timer();
  }
  App().removeEventFilter(&counter);
  state.counters["widgets_painted"] =
      benchmark::Counter(static_cast<double>(counter.paints), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ScanTimerTick)->Unit(benchmark::kMicrosecond);

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
  while (settle.elapsed() < 1200) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
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
      s.window->ReadAllRegisters();
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
