// How the window answers while a bar is dragged: the longest stall of its event loop and the
// preview updates per second, for a drag across the shadow density bar at two output sizes, and
// the longest stall while a picture is saved. Beside the wall-clock figures, which on a loaded
// machine mostly measure other processes' turns, it prints processor times: the longest single
// event the window's thread handled, its handling per update, and the whole process's per update
// (less the window's thread: the renders' share, which bounds the updates per second on an idle
// machine).
// Run from build/bench/ on Qt's offscreen platform:
//   QT_QPA_PLATFORM=offscreen ./window_drag
#include <time.h>

#include <cstdio>
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "app/Controls.h"
#include "app/MainWindow.h"
#include "app/Platform.h"

namespace {

using namespace quirlon;

// Dialogs answered at once: saves go to one file in a temporary folder.
class TBenchServices : public app::TWindowServices {
public:
  std::string SaveFile;
  std::optional<std::string> OpenPicture(QWidget*, const QString&, const std::string&, const std::string&) override {
    return {};
  }
  std::optional<app::TSaveAnswer> SavePicture(QWidget*, const std::string&, const std::string&,
                                              const std::string&) override {
    return app::TSaveAnswer{SaveFile, 0};
  }
  std::optional<raster::TColor> ChooseColor(QWidget*, raster::TColor) override { return {}; }
  void PushBusyPointer() override {}
  void PopBusyPointer() override {}
  void ShowError(QWidget*, const QString&, const QString& Message) override {
    std::fprintf(stderr, "error: %s\n", qPrintable(Message));
  }
  void OpenDocument(const QString&) override {}
};

// Processor time of the calling thread: what the window's thread spends, whatever else the
// machine runs (a wall-clock stall on a loaded machine is mostly other processes' turns).
double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double ProcessCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Times every event the window's thread handles, by processor time and by the clock, each without
// the events handled inside it (a handler that turns the event loop itself).
class TTimedApplication : public QApplication {
public:
  using QApplication::QApplication;
  const QObject* Ignored = nullptr;  // the stall meter's own ticks
  double LongestCpuMs = 0, LongestWallMs = 0, TotalCpuMs = 0;
  void Reset() { LongestCpuMs = LongestWallMs = TotalCpuMs = 0; }

  bool notify(QObject* Receiver, QEvent* Event) override {
    if (QThread::currentThread() != thread()) return QApplication::notify(Receiver, Event);
    Pause();
    fLevels.push_back({ThreadCpuMs(), fClock.nsecsElapsed() / 1e6, 0, 0});
    const bool handled = QApplication::notify(Receiver, Event);
    Pause();
    const TLevel level = fLevels.back();
    fLevels.pop_back();
    if (Receiver != Ignored) {
      LongestCpuMs = std::max(LongestCpuMs, level.OwnCpu);
      LongestWallMs = std::max(LongestWallMs, level.OwnWall);
      TotalCpuMs += level.OwnCpu;
    }
    if (!fLevels.empty()) {
      fLevels.back().Cpu = ThreadCpuMs();
      fLevels.back().Wall = fClock.nsecsElapsed() / 1e6;
    }
    return handled;
  }

private:
  struct TLevel {
    double Cpu, Wall;  // where the current stretch of this level's own work started
    double OwnCpu, OwnWall;
  };
  void Pause() {
    if (fLevels.empty()) return;
    TLevel& top = fLevels.back();
    top.OwnCpu += ThreadCpuMs() - top.Cpu;
    top.OwnWall += fClock.nsecsElapsed() / 1e6 - top.Wall;
  }
  std::vector<TLevel> fLevels;
  QElapsedTimer fClock = [] {
    QElapsedTimer clock;
    clock.start();
    return clock;
  }();
};

TTimedApplication* Application() { return static_cast<TTimedApplication*>(QCoreApplication::instance()); }

// Measures the longest gap between turns of the event loop while Work keeps it busy.
class TStallMeter {
public:
  TStallMeter() {
    Application()->Ignored = &fTicker;
    // Every millisecond, precisely: a zero interval would keep every event loop, the nested ones
    // too, spinning, and its turns would count as the window's work.
    fTicker.setTimerType(Qt::PreciseTimer);
    fTicker.setInterval(1);
    QObject::connect(&fTicker, &QTimer::timeout, [this] {
      const qint64 now = fClock.nsecsElapsed();
      if (now - fLast > fLongest) fLongest = now - fLast;
      fLast = now;
    });
  }
  void Start() {
    fClock.start();
    fLast = 0;
    fLongest = 0;
    fTicker.start();
  }
  double LongestMs() {
    fTicker.stop();
    return fLongest / 1e6;
  }

private:
  QTimer fTicker;
  QElapsedTimer fClock;
  qint64 fLast = 0, fLongest = 0;
};

void PrintEventTimes(int Updates) {
  const TTimedApplication& a = *Application();
  std::printf("    window thread: longest event %.1f ms CPU (%.1f ms by the clock); events %.1f ms CPU per update\n",
              a.LongestCpuMs, a.LongestWallMs, a.TotalCpuMs / std::max(1, Updates));
}

void Drag(app::MainWindow& Window, int Width, int Height) {
  auto* width = Window.findChild<app::TSpinEdit*>(QStringLiteral("outputWidth"));
  auto* height = Window.findChild<app::TSpinEdit*>(QStringLiteral("outputHeight"));
  width->setValue(Width);
  height->setValue(Height);
  Window.WaitForRender();
  auto* bar = Window.findChild<app::TTrackBar*>(QStringLiteral("shadowDensity"));
  bar->setValue(0);
  Window.WaitForRender();

  int updates = 0;
  const QMetaObject::Connection counting =
      QObject::connect(&Window, &app::MainWindow::Rendered, [&updates](int, int) { ++updates; });
  // The mouse moves the bar by 2 every 16 ms (a 60 Hz pointer), 0 to 254 in about two seconds.
  QTimer mouse;
  mouse.setInterval(16);
  QObject::connect(&mouse, &QTimer::timeout, [&] {
    if (bar->value() >= bar->maximum() - 1) {
      mouse.stop();
      return;
    }
    bar->setValue(bar->value() + 2);
  });
  TStallMeter meter;
  QElapsedTimer clock;
  clock.start();
  meter.Start();
  Application()->Reset();
  const double cpuBefore = ThreadCpuMs();
  const double processBefore = ProcessCpuMs();
  mouse.start();
  while (mouse.isActive()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  const double dragSeconds = clock.nsecsElapsed() / 1e9;
  const int updatesDuringDrag = updates;
  Window.WaitForRender();
  const double cpuMs = ThreadCpuMs() - cpuBefore;
  const double processMs = ProcessCpuMs() - processBefore;
  const double stall = meter.LongestMs();
  QObject::disconnect(counting);
  std::printf("%4d x %-4d drag %.2f s: %d preview updates, %.1f per second; longest event-loop stall %.1f ms; "
              "window thread CPU %.1f ms per update\n",
              Width, Height, dragSeconds, updatesDuringDrag, updatesDuringDrag / dragSeconds, stall,
              cpuMs / std::max(1, updates));
  PrintEventTimes(updates);
  std::printf("    rendering threads (process less window thread) CPU %.1f ms per update\n",
              (processMs - cpuMs) / std::max(1, updates));
}

void Save(app::MainWindow& Window) {
  auto* button = Window.findChild<QToolButton*>(QStringLiteral("savePicture"));
  TStallMeter meter;
  QElapsedTimer clock;
  clock.start();
  meter.Start();
  Application()->Reset();
  // The click runs inside a timer so that the meter sees the loop the save keeps turning.
  QTimer::singleShot(0, button, &QToolButton::click);
  QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  while (clock.elapsed() < 50) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  std::printf("save %d x %d PNG: %.0f ms in all; longest event-loop stall %.1f ms\n", Window.Result().Width(),
              Window.Result().Height(), clock.nsecsElapsed() / 1e6, meter.LongestMs());
  PrintEventTimes(1);
}

}  // namespace

int main(int argc, char* argv[]) {
  TTimedApplication application(argc, argv);
  QTemporaryDir folder;
  TBenchServices services;
  services.SaveFile = (folder.path() + QStringLiteral("/drag.png")).toStdString();
  app::TAppPaths paths{QUIRLON_SOURCE_DIR "/data/", "quirlon", "", ""};
  app::MainWindow window(services, paths);
  window.show();
  Drag(window, 800, 600);
  Drag(window, 2048, 2048);
  Save(window);
  return 0;
}
