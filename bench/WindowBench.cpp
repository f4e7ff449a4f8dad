// The search window against the same search without a window: runs one search both ways,
// alternating, and prints the median times (the window's from the search's start until the
// window has taken its end), their ratio (window / headless), the longest pause of the
// window's event loop while the results arrive, how long after the search's start the list
// first painted results, and what sorting, "Show only filenames", selecting and scrolling then
// cost over the whole result list.
//
//   window_bench DIR [TARGET [SWITCH VALUE ...]] [--runs N] [--cold]
//   e.g. window_bench /tmp/perf-corpus/tree the --runs 3
//
// With --cold (root only) the page cache is dropped before every run, both ways: the window
// then reads a cold tree as the first search of the day does.
//
// Without a target it runs the three standard rows: include -c 1, return -c 1, the -c 0. It
// prints one table row per search, and first the font the lists draw with and which of the
// desktop's usual font families are installed (text shaping costs differ between fonts).
// The window runs on Qt's offscreen platform with settings in a folder of its own.
#include <QApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "app/Headless.h"
#include "ui/Action.h"
#include "ui/ActionList.h"
#include "ui/Application.h"
#include "ui/lists/ResultList.h"
#include "ui/search/SearchWindow.h"

using namespace trawlex;

namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Processor time of the calling thread, and of the whole process, in seconds.
double ThreadCpu() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double ProcessCpu() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Empties the page cache (root only); false when the system refuses.
bool DropCaches() {
  sync();
  std::FILE* f = std::fopen("/proc/sys/vm/drop_caches", "w");
  if (!f) return false;
  const bool written = std::fputs("3\n", f) >= 0;
  return std::fclose(f) == 0 && written;
}

double RunHeadless(const std::vector<std::string>& switches, double* processCpu = nullptr) {
  std::vector<std::string> args{"--report"};
  args.insert(args.end(), switches.begin(), switches.end());
  std::FILE* sink = std::fopen("/dev/null", "w");
  const double cpu = ProcessCpu();
  const auto start = std::chrono::steady_clock::now();
  RunReport(args, sink, sink);
  const double took = Seconds(std::chrono::steady_clock::now() - start);
  if (processCpu) *processCpu = ProcessCpu() - cpu;
  std::fclose(sink);
  return took;
}

struct TWindowRun {
  double Seconds = 0;
  double LongestPause = 0;  // seconds
  int Items = 0;
  int PauseAt = 0;  // entries in the list when the longest pause ended
  double FirstShown = -1;  // seconds from the start until the list painted its first entries
  double MainCpu = 0, AllCpu = 0;  // processor time of the main thread, of the process (seconds)
  double Sort = 0, Descending = 0, FilenamesOn = 0, FilenamesOff = 0, Select = 0, Scroll = 0;
};

// Calls `fn` whenever `watched` gets an event of type `type`.
class TEventWatch : public QObject {
 public:
  TEventWatch(QObject* watched, QEvent::Type type, std::function<void()> fn) : FType(type), FFn(std::move(fn)) {
    watched->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == FType) FFn();
    return false;
  }

 private:
  QEvent::Type FType;
  std::function<void()> FFn;
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

TWindowRun RunWindow(TApp& application, const std::vector<std::string>& switches) {
  TWindowRun run;
  application.SetSearchArguments(switches);
  auto* w = TfmGeneric::CreateUnbound<TfmSearch>(nullptr, application);
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
  // The first results show when the list paints with entries in it.
  TEventWatch firstPaint(w->lstResults->viewport(), QEvent::Paint, [&] {
    if (run.FirstShown < 0 && w->lstResults->Count() > 0) run.FirstShown = Seconds(std::chrono::steady_clock::now() - start);
  });
  const double mainCpu = ThreadCpu(), processCpu = ProcessCpu();
  loop.exec();
  tick.stop();
  run.Seconds = Seconds(std::chrono::steady_clock::now() - start);
  run.MainCpu = ThreadCpu() - mainCpu;
  run.AllCpu = ProcessCpu() - processCpu;
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

void RunRow(TApp& application, const std::vector<std::string>& switches, int runs, bool cold) {
  std::vector<double> headless, window, ratios, first;
  TWindowRun last;
  double pause = 0;
  int pauseAt = 0;
  if (!cold) RunHeadless(switches);  // warm-up: the files come from the cache in every timed run
  for (int i = 0; i < runs; ++i) {
    double headlessCpu = 0;
    if (cold) DropCaches();
    headless.push_back(RunHeadless(switches, &headlessCpu));
    if (cold) DropCaches();
    last = RunWindow(application, switches);
    window.push_back(last.Seconds);
    ratios.push_back(last.Seconds / headless.back());
    first.push_back(last.FirstShown);
    if (last.LongestPause > pause) {
      pause = last.LongestPause;
      pauseAt = last.PauseAt;
    }
    std::fprintf(stderr,
                 "run %d: headless %.3f s, window %.3f s, %d entries, longest pause %.0f ms (at %d entries), "
                 "first results %.0f ms; processor time headless %.3f s, window %.3f s (main thread %.3f s)\n",
                 i + 1, headless.back(), last.Seconds, last.Items, last.LongestPause * 1000, last.PauseAt,
                 last.FirstShown * 1000, headlessCpu, last.AllCpu, last.MainCpu);
  }
  std::string name;
  for (size_t i = 3; i < switches.size(); ++i) name += (name.empty() ? "" : " ") + switches[i];
  std::printf("| `%s` | %d | %.3f s | %.3f s | %.2f | %.0f ms (at %d) | %.0f ms | %.0f / %.0f / %.0f / %.0f / %.0f ms |\n",
              name.c_str(), last.Items, Median(headless), Median(window), Median(ratios), pause * 1000, pauseAt,
              Median(first) * 1000, last.Sort, last.Descending, last.FilenamesOn, last.FilenamesOff, last.Select);
  std::fflush(stdout);
}

// The font the lists draw with, and which of the usual desktop families are installed.
void PrintFonts() {
  const QFont font = QApplication::font();
  std::printf("results font: %s %g pt (%s)\n", qPrintable(font.family()), font.pointSizeF(),
              qPrintable(QFontInfo(font).family()));
  QStringList present;
  const QStringList families = QFontDatabase::families();
  for (const char* family : {"DejaVu Sans", "DejaVu Sans Mono", "Liberation Sans", "Liberation Mono", "Noto Mono",
                             "Noto Sans", "Nimbus Sans", "Nimbus Mono PS", "Cantarell", "Ubuntu"}) {
    // A family may be listed with its foundry: "Nimbus Sans [UKWN]".
    for (const QString& f : families) {
      if (f == QLatin1String(family) || f.startsWith(QLatin1String(family) + QLatin1String(" ["))) {
        present << f;
        break;
      }
    }
  }
  std::printf("desktop families installed: %s (%lld families in all)\n\n", qPrintable(present.join(QStringLiteral(", "))),
              static_cast<long long>(families.size()));
  std::printf("| search | entries | headless median | window median | ratio window/headless | longest event-loop pause "
              "| first results | sort / descending / filenames on / off / select |\n|---|---|---|---|---|---|---|---|\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: window_bench DIR [TARGET [SWITCH VALUE ...]] [--runs N] [--cold]\n");
    return 2;
  }
  std::vector<std::string> given;
  int runs = 3;
  bool cold = false;
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == "--cold") {
      cold = true;
    } else if (std::string(argv[i]) == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      given.emplace_back(argv[i]);
    }
  }
  std::vector<std::vector<std::string>> rows;
  if (given.empty()) {
    rows = {{"-t", "include", "-c", "1"}, {"-t", "return", "-c", "1"}, {"-t", "the", "-c", "0"}};
  } else {
    rows.push_back({"-t"});
    rows.back().insert(rows.back().end(), given.begin(), given.end());
  }
  if (cold && !DropCaches()) {
    std::fprintf(stderr, "window_bench: the page cache cannot be dropped here (run as root)\n");
    return 2;
  }
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  TApp application;
  application.InstallTitleHandler();
  PrintFonts();
  for (const auto& row : rows) {
    std::vector<std::string> switches{"-d", argv[1]};
    switches.insert(switches.end(), row.begin(), row.end());
    RunRow(application, switches, runs, cold);
  }
  application.Exit();
  application.WaitForWorkers(30000);
  return 0;
}
