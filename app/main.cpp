// Trawlex: find a text in every file of a directory tree.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "TrawlexVersion.h"
#include "app/CommandLine.h"
#include "app/Headless.h"
#include "app/HeadlessReplace.h"
#include "app/HeadlessUndo.h"
#include "engine/SearchParams.h"
#include "base/TextUtils.h"
#include "platform/Platform.h"

#ifdef TRAWLEX_WITH_WINDOWS
#include <QMessageBox>
#include <memory>

#include "config/RegistryConfig.h"
#include "ui/AppIcon.h"
#include "ui/Application.h"
#include "ui/search/SearchWindow.h"
#include "ui/WindowRoutines.h"
#endif

using namespace trawlex;

static void PrintUsage(const std::string& programName, std::FILE* to) {
  for (const std::string& line : UsageLines(programName)) std::fprintf(to, "%s\n", line.c_str());
}

// The exit status once `what` has been written to standard output: 2 when it could not be
// written whole (a full disk, a closed output), so that a script never takes it for done.
static int FinishOutput(const char* what) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
  std::fprintf(stderr, "trawlex: cannot write the %s: %s\n", what, SystemErrorText(errno).c_str());
  return 2;
}

#if defined(TRAWLEX_WITH_WINDOWS) || defined(TRAWLEX_WINDOW_PROGRAM)
static bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}
#endif

#ifdef TRAWLEX_WINDOW_PROGRAM
// The windows are a program of their own: Qt and the libraries it brings take 0.1-0.2 s to
// load from a cold disk, which a search without a window never pays. It sits beside this
// program in the build folder and in the package's folder of helper programs once installed.
// Run in place of this one (same process, same arguments), it opens the first search window.
static int RunWindowProgram(char** argv) {
  const std::string self = RunningProgramPath();
  const size_t slash = self.find_last_of(PathDelims);
  const std::string dir = slash == std::string::npos ? std::string(".") : self.substr(0, slash);
  std::vector<std::string> places{PathJoin(dir, TRAWLEX_WINDOW_PROGRAM)};
  places.push_back(PathJoin(PathJoin(dir, TRAWLEX_WINDOW_PROGRAM_DIR), TRAWLEX_WINDOW_PROGRAM));
  std::vector<std::string> args;
  for (int i = 0; argv[i]; ++i) args.push_back(argv[i]);
  for (const std::string& place : places) {
    if (!FileExists(place)) continue;
    const std::string error = ReplaceProcess(place, args);
    std::fprintf(stderr, "trawlex: cannot start the search window (%s): %s\n", place.c_str(), error.c_str());
    return 1;
  }
  std::fprintf(stderr, "trawlex: cannot start the search window: %s is in neither %s nor %s; --report searches without it\n",
               TRAWLEX_WINDOW_PROGRAM, dir.c_str(), PathJoin(dir, TRAWLEX_WINDOW_PROGRAM_DIR).c_str());
  return 1;
}
#endif

#ifdef TRAWLEX_WITH_WINDOWS

// Settings problems (a file that cannot be used, values of the wrong type) go to standard
// error at once and into an error box once the run loop runs. The box has no window for its
// parent, so closing the windows (Exit, SIGTERM) never destroys it under its own loop.
static void ShowSettingsErrors() {
  SetSettingsErrorHandler([](const std::string& message) {
    std::fprintf(stderr, "trawlex: %s\n", message.c_str());
    const QString text = QString::fromUtf8(message);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [text] {
          QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok);
          box.exec();
        },
        Qt::QueuedConnection);
  });
}

// The window mode: the first search window, the run loop, and the shut-down once the last
// search window has gone (or on Exit, SIGTERM or SIGINT, which close them all).
static int RunWindows(int argc, char** argv, const TProcessArguments& process) {
  TTrawlexApplication app(argc, argv);
  app.setWindowIcon(AppIcon());
  // Ties the windows to trawlex.desktop, so a desktop shows the entry's name and icon for them.
  QGuiApplication::setDesktopFileName(QStringLiteral("trawlex"));
  // The windows' shared state; it outlives every window and every worker.
  TApp state;
  state.SetSearchArguments(process.Params);
  state.SetProgramName(process.ProgramName);
  state.InstallTitleHandler();
  ShowSettingsErrors();
  // From the start: a signal ends the program as Exit does, whatever dialog is open. The
  // handler only leaves every event loop: a dialog's own loop (Font, Save As, Setup Printer, a
  // message box) runs inside a window's handler, and the window must not go while that handler
  // is still on the stack. Once the run loop has returned, the windows close as on Exit, each
  // saving its settings, and the program-wide settings are saved after them.
  static bool quitRequested = false;
  InstallTerminationSignals([] {
    quitRequested = true;
    QCoreApplication::exit(0);
  });
  std::unique_ptr<TAppSettings> settings;
  try {
    settings = std::make_unique<TAppSettings>(std::make_shared<TRegistryConfig>(SettingsRootKey()));
    settings->Load(state.TabDisplay());
  } catch (const std::exception& e) {
    ReportError(QString::fromUtf8(e.what()));
  }
  state.SetSettings(settings.get());
  try {
    TfmGeneric::CreateUnbound<TfmSearch>(nullptr, state)->show();
  } catch (const std::exception& e) {
    ReportError(QString::fromUtf8(e.what()));
    return 1;
  }
  // A signal that came while a box was shown before the run loop started has already ended.
  const int rc = quitRequested ? 0 : app.exec();
  state.Exit();
  // Closed windows' workers are stopping; let their end notifications run.
  state.WaitForWorkers(30000);
  if (settings) {
    try {
      settings->Save();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "trawlex: %s\n", e.what());
    }
  }
  state.SetSettings(nullptr);
  SetSettingsErrorHandler(nullptr);
  return rc;
}
#endif

// The report's results end with the process: freeing hundreds of thousands of items one by
// one would only delay the exit, so the process ends from here, with them still held (and
// reachable, so leak checkers stay quiet). Standard output is flushed by the exit.
[[noreturn]] static void RunReportToExit(const std::vector<std::string>& args, const std::string& programName) {
  TSearchParams results;
  std::exit(RunReport(args, results, stdout, stderr, programName));
}

int main(int argc, char** argv) {
  const TProcessArguments process = ReadProcessArguments(argc, argv);
  const std::vector<std::string>& args = process.Params;
  // --help and --version count where a switch may stand, never as a switch's value.
  const TProgramOptions options = ReadProgramOptions(args, false);
  if (options.Help) {
    PrintUsage(process.ProgramName, stdout);
    return FinishOutput("usage text");
  }
  if (options.Version) {
    std::printf("Trawlex %s\n", TRAWLEX_VERSION_TEXT);
    return FinishOutput("version");
  }
  // A report can run to millions of lines: standard output goes out in large blocks.
  static char outputBuffer[1 << 20];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  if (options.UndoLast || options.UndoList) return RunUndo(args, stdout, stderr);
  // --report counts wherever an option may stand, as --help does. The replace's options never
  // reach the window, which would pass over them and search only.
  if (options.Report && IsReplaceAllRequest(args)) return RunReplaceAll(args, stdout, stderr, process.ProgramName);
  if (options.Report) RunReportToExit(args, process.ProgramName);
  if (options.ReplaceAll || options.Diff || options.DryRun || options.NoUndo) {
    std::fprintf(stderr, "trawlex: --replace-all, --diff, --dry-run and --no-undo work only with --report; nothing was searched\n%s\n",
                 HeadlessUsageLine(process.ProgramName).c_str());
    return 2;
  }
#if defined(TRAWLEX_WITH_WINDOWS) || defined(TRAWLEX_WINDOW_PROGRAM)
#ifdef TRAWLEX_WITH_WINDOWS
  if (HasDisplay()) return RunWindows(argc, argv, process);
#else
  if (HasDisplay()) return RunWindowProgram(argv);
#endif
  std::fprintf(stderr, "trawlex: no display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are unset), so the search runs without a window (--report)\n");
#else
  std::fprintf(stderr, "trawlex: built without windows, so the search runs without one (--report)\n");
#endif
  std::vector<std::string> headless{"--report"};
  headless.insert(headless.end(), args.begin(), args.end());
  if (args.empty()) {
    PrintUsage(process.ProgramName, stderr);
    return 2;
  }
  RunReportToExit(headless, process.ProgramName);
}
