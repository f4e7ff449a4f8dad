// The search window against the same search without a window: runs one search both ways,
// alternating, and prints the median times (the window's from the search's start until the
// window has taken its end), their ratio (window / headless), the longest pause of the
// window's event loop while the results arrive, and what sorting, "Show only filenames",
// selecting and scrolling then cost over the whole result list.
//
//   window_bench DIR TARGET [SWITCH VALUE ...] [--runs N]
//   e.g. window_bench /tmp/perf-corpus/tree the --runs 3
//
// The window runs on Qt's offscreen platform with settings in a folder of its own.
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/Headless.h"
#include "ui/Action.h"
#include "ui/ActionList.h"
#include "ui/Application.h"
#include "ui/lists/ResultList.h"
#include "ui/search/SearchWindow.h"

using namespace trawlex;

namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double RunHeadless(const std::vector<std::string>& switches) {
  std::vector<std::string> args{"--report"};
  args.insert(args.end(), switches.begin(), switches.end());
  std::FILE* sink = std::fopen("/dev/null", "w");
  const auto start = std::chrono::steady_clock::now();
  RunReport(args, sink, sink);
  const double took = Seconds(std::chrono::steady_clock::now() - start);
  std::fclose(sink);
  return took;
}

struct TWindowRun {
  double Seconds = 0;
  double LongestPause = 0;  // seconds
  int Items = 0;
  int PauseAt = 0;  // entries in the list when the longest pause ended
  double Sort = 0, Descending = 0, FilenamesOn = 0, FilenamesOff = 0, Select = 0, Scroll = 0;
};

// Milliseconds one step takes, with the painting it causes.
template <class F>
double Step(TfmSearch* w, F&& f) {
  w->ActionList1->UpdateAll();  // as the window does when it goes idle
  QElapsedTimer t;
  t.start();
  f();
  w->repaint();
  QCoreApplication::processEvents();
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

TWindowRun RunWindow(const std::vector<std::string>& switches) {
  TWindowRun run;
  TApp::SetSearchArguments(switches);
  auto* w = TfmGeneric::CreateUnbound<TfmSearch>(nullptr);
  w->resize(800, 600);
  w->show();
  // The clock runs from the search's start (the window starts it once its event loop runs).
  auto start = std::chrono::steady_clock::now();
  auto search = w->acSearch->OnExecute;
  w->acSearch->OnExecute = [&start, search](TAction& a) {
    start = std::chrono::steady_clock::now();
    search(a);
  };
  // A timer ticking every 2 ms measures how long the event loop is kept from it.
  auto last = std::chrono::steady_clock::now();
  bool started = false;
  QEventLoop loop;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const auto now = std::chrono::steady_clock::now();
    if (started && Seconds(now - last) - 0.002 > run.LongestPause) {
      run.LongestPause = Seconds(now - last) - 0.002;
      run.PauseAt = w->lstResults->Count();
    }
    last = now;
    if (w->Running()) started = true;
    if (started && !w->Running()) loop.quit();
  });
  tick.start(2);
  loop.exec();
  tick.stop();
  run.Seconds = Seconds(std::chrono::steady_clock::now() - start);
  run.Items = w->lstResults->Count();

  TResultList* list = w->lstResults;
  run.Sort = Step(w, [&] { w->SortActions[1]->Execute(); });
  run.Descending = Step(w, [&] { w->acDescending->trigger(); });
  run.FilenamesOn = Step(w, [&] { w->acHideResultLines->trigger(); });
  run.FilenamesOff = Step(w, [&] { w->acHideResultLines->trigger(); });
  run.Select = Step(w, [&] { list->SetItemIndex(list->Count() / 2); });
  run.Scroll = Step(w, [&] { list->SetItemIndex(list->Count() - 1); });
  w->close();
  delete w;
  QCoreApplication::processEvents();
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: window_bench DIR TARGET [SWITCH VALUE ...] [--runs N]\n");
    return 2;
  }
  std::vector<std::string> switches{"-d", argv[1], "-t", argv[2]};
  int runs = 3;
  for (int i = 3; i < argc; ++i) {
    if (std::string(argv[i]) == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      switches.emplace_back(argv[i]);
    }
  }
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  TApp::InstallTitleHandler();

  std::vector<double> headless, window, ratios;
  TWindowRun last;
  double pause = 0;
  RunHeadless(switches);  // warm-up: the files come from the cache in every timed run
  for (int i = 0; i < runs; ++i) {
    headless.push_back(RunHeadless(switches));
    last = RunWindow(switches);
    window.push_back(last.Seconds);
    ratios.push_back(last.Seconds / headless.back());
    pause = std::max(pause, last.LongestPause);
    std::fprintf(stderr, "run %d: headless %.3f s, window %.3f s, %d entries, longest pause %.0f ms (at %d entries)\n",
                 i + 1, headless.back(), last.Seconds, last.Items, last.LongestPause * 1000, last.PauseAt);
  }
  std::printf("entries: %d\n", last.Items);
  std::printf("headless median: %.3f s\nwindow median: %.3f s\nmedian ratio window/headless: %.2f\n",
              Median(headless), Median(window), Median(ratios));
  std::printf("longest event-loop pause: %.0f ms\n", pause * 1000);
  std::printf("sort by size: %.0f ms, descending: %.0f ms, filenames only on/off: %.0f/%.0f ms, "
              "select: %.0f ms, scroll to end: %.0f ms\n",
              last.Sort, last.Descending, last.FilenamesOn, last.FilenamesOff, last.Select, last.Scroll);
  TApp::Exit();
  TApp::WaitForWorkers(30000);
  return 0;
}
