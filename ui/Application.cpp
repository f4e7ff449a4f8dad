#include "ui/Application.h"

#include <QDeadlineTimer>
#include <algorithm>
#include <QMenu>
#include <QPointer>
#include <QPrinter>
#include <QSocketNotifier>

#include "base/Errors.h"
#include "config/SettingsErrors.h"
#include "engine/SearchThread.h"
#include "engine/TabSettings.h"
#include "ui/FormBase.h"
#include "ui/MainThreadInvoker.h"
#include "ui/services/ShellServices.h"
#include "ui/services/UndoReplace.h"
#include "ui/WindowRoutines.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace trawlex {

namespace {
// All of this is read and written on the main thread only.
struct TListedWindow {
  QPointer<TfmGeneric> Window;
  IWindowMenuItem* Item;  // the same object as Window
};

// The search windows of `all`, in the order they were made.
std::vector<TListedWindow> SearchWindows(const std::vector<TfmGeneric*>& all) {
  std::vector<TListedWindow> windows;
  for (TfmGeneric* w : all) {
    if (auto* item = dynamic_cast<IWindowMenuItem*>(w)) windows.push_back({w, item});
  }
  return windows;
}

const QString IdleTitle = QStringLiteral("Trawlex");
}  // namespace

// ---- TAppSettings ------------------------------------------------------------------------

TAppSettings::TAppSettings(IConfigPtr config) : FList(std::make_unique<TBaseCfgList>(std::move(config))) {
  PreferredEditor = &FList->CreateItem<TFileCfgElem>("Preferred Editor");
  EditorArgs = &FList->CreateItem<TStringVCfgElem>("Editor Args", "<f>");
  ExpandTabs = &FList->CreateItem<TBoolVCfgElem>("Expand tabs", true);
  SpacesPerTab = &FList->CreateItem<TIntVCfgElem>("Spaces Per Tab", 4);
}

void TAppSettings::Load(TTabDisplay& display) {
  FList->LoadAll();
  // The tab dialog offers 1 to 100; a value edited by hand beyond that would turn every tab
  // into millions of spaces.
  const int32_t spaces = std::clamp(SpacesPerTab->Value, MinSpacesPerTab, MaxSpacesPerTab);
  if (spaces != SpacesPerTab->Value) {
    ReportSettingsError(Fmt("The setting 'Spaces Per Tab' (%d) is not between %d and %d; %d is used.",
                            SpacesPerTab->Value, MinSpacesPerTab, MaxSpacesPerTab, spaces));
    SpacesPerTab->Value = spaces;
  }
  display.Set({ExpandTabs->Value, SpacesPerTab->Value});
}

void TAppSettings::Save() { FList->SaveAll(); }

// ---- TApp --------------------------------------------------------------------------------

TApp::TApp() : FNewestJournal(std::make_unique<TNewestJournal>()) {}
TApp::~TApp() = default;

TQtMainThreadInvoker& TApp::Invoker() {
  if (!FInvoker) FInvoker = std::make_unique<TQtMainThreadInvoker>();
  return *FInvoker;
}

IShellServices& TApp::Shell() {
  if (FInstalledShell) return *FInstalledShell;
  if (!FDesktopShell) FDesktopShell = MakeDesktopShell();
  return *FDesktopShell;
}

std::vector<TfmGeneric*> TApp::Windows() const {
  std::vector<TfmGeneric*> windows;
  for (const QPointer<TfmGeneric>& w : FWindows) {
    if (w) windows.push_back(w.data());
  }
  return windows;
}

void TApp::Register(TfmGeneric* window) { FWindows.emplace_back(window); }

bool TApp::Unregister(TfmGeneric* window) {
  const bool listed = std::find(FWindows.begin(), FWindows.end(), window) != FWindows.end();
  FWindows.erase(std::remove_if(FWindows.begin(), FWindows.end(),
                                [window](const QPointer<TfmGeneric>& w) { return w.isNull() || w.data() == window; }),
                 FWindows.end());
  return listed;
}

int TApp::SearchWindowCount() const { return static_cast<int>(SearchWindows(Windows()).size()); }

void TApp::WindowDestroyed(TfmGeneric* window) {
  if (!Unregister(window)) return;
  if (SearchWindows(Windows()).empty()) {
    if (FQuit) {
      FQuit();
    } else if (QCoreApplication::instance()) {
      QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    }
  }
}

void TApp::SetQuitHandler(std::function<void()> handler) { FQuit = std::move(handler); }

void TApp::Exit() {
  // Closed one at a time, each by its own pointer: a window may take others with it.
  for (const TListedWindow& w : SearchWindows(Windows())) delete w.Window.data();
}

void TApp::UpdateWindowMenus() {
  const std::vector<TListedWindow> items = SearchWindows(Windows());
  for (const TListedWindow& owner : items) {
    QMenu* menu = owner.Item->GetWindowMenu();
    if (!menu) continue;
    menu->clear();
    for (const TListedWindow& other : items) {
      // An "&" in a target is text here, not an access-key marker.
      QAction* entry = menu->addAction(other.Item->GetCaption().replace(QLatin1Char('&'), QStringLiteral("&&")));
      entry->setCheckable(true);
      const bool own = other.Item == owner.Item;
      entry->setChecked(own);
      entry->setEnabled(!own);
      QPointer<TfmGeneric> target = other.Window;
      QObject::connect(entry, &QAction::triggered, entry, [target] {
        if (auto* item = dynamic_cast<IWindowMenuItem*>(target.data())) RunHandler([item] { item->Activate(); });
      });
    }
  }
}

QString TApp::WindowTitle(const QString& caption) const {
  return FTitle == IdleTitle ? caption : caption + QStringLiteral(" \u2014 ") + FTitle;
}

void TApp::InstallTitleHandler() {
  FRunningSearches.OnTitle = [this](const std::string& title) {
    FTitle = QString::fromStdString(title);
    for (TfmGeneric* w : Windows()) w->ApplicationTitleChanged();
  };
}


bool TApp::WaitForWorkers(int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (FLiveWorkers > 0 && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  return FLiveWorkers == 0;
}


// ---- TTrawlexApplication -----------------------------------------------------------------

TTrawlexApplication::TTrawlexApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // No display name: the desktop would append it to every window title, and a search
  // window's title is its caption and the application's state (TApp::WindowTitle).
  setApplicationName(QStringLiteral("Trawlex"));
  setQuitOnLastWindowClosed(false);  // the count of search windows decides
}

bool TTrawlexApplication::notify(QObject* receiver, QEvent* event) {
  // The program's handlers catch their own failures (RunHandler); this is only the last net
  // for one that escaped a handler of Qt's own.
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::bad_alloc&) {
    ReportError("Out of memory");
  } catch (const std::exception& e) {
    ReportError(QString::fromUtf8(e.what()));
  } catch (...) {
    ReportError("Unknown error");
  }
  return false;
}

// ---- termination signals -----------------------------------------------------------------

#ifdef Q_OS_UNIX
namespace {
int gSignalPipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int) {
  const char c = 1;
  const ssize_t ignored = ::write(gSignalPipe[1], &c, 1);
  (void)ignored;
}
}  // namespace

void InstallTerminationSignals(std::function<void()> handler) {
  if (gSignalPipe[0] >= 0) return;
  if (::pipe(gSignalPipe) != 0) return;
  for (int fd : gSignalPipe) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  ::fcntl(gSignalPipe[1], F_SETFL, O_NONBLOCK);
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [handler] {
    char buf[16];
    const ssize_t ignored = ::read(gSignalPipe[0], buf, sizeof buf);
    (void)ignored;
    RunHandler(handler);
  });
  struct sigaction sa {};
  sa.sa_handler = OnTerminationSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
}
#else
void InstallTerminationSignals(std::function<void()>) {}
#endif

}  // namespace trawlex
