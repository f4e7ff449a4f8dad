#pragma once
// The application's side of the search windows: the count of open search windows that decides
// when the program ends, the Window menu every search window shows, Exit, the application title
// while searches run, the program-wide settings, the workers still running, and the
// application object that shows an error raised by an event handler in a message box.
#include <QApplication>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/CfgElements.h"
#include "engine/SearchThread.h"
#include "engine/TabSettings.h"

class QMenu;
class QPrinter;

namespace trawlex {

class TfmGeneric;
class TfmPreferredEditor;
class TNewestJournal;
class IShellServices;
class TQtMainThreadInvoker;

// How a window takes part in the Window menus.
class IWindowMenuItem {
 public:
  virtual ~IWindowMenuItem() = default;
  // The window's "Window" menu, or null.
  virtual QMenu* GetWindowMenu() = 0;
  // The text of this window's entry in every Window menu.
  virtual QString GetCaption() const = 0;
  // Restores the window when minimised and brings it to the front.
  virtual void Activate() = 0;
};

// The program-wide settings, kept in the store's root key: "Preferred Editor", "Editor Args",
// "Expand tabs", "Spaces Per Tab".
class TAppSettings {
 public:
  explicit TAppSettings(IConfigPtr config);
  // Loads the settings and applies the tab settings to `display`.
  void Load(TTabDisplay& display);
  void Save();

  TFileCfgElem* PreferredEditor = nullptr;
  TStringVCfgElem* EditorArgs = nullptr;
  TBoolVCfgElem* ExpandTabs = nullptr;
  TIntVCfgElem* SpacesPerTab = nullptr;
  static constexpr int32_t MinSpacesPerTab = 1, MaxSpacesPerTab = 100;

 private:
  std::unique_ptr<TBaseCfgList> FList;
};

// The application's state, made once by the program (and by each test that opens windows) and
// handed to every search window at its creation; the dialogs a window opens reach it through
// their owner (TfmGeneric::App). It must outlive every window and every worker.
class TApp {
 public:
  TApp();
  ~TApp();
  TApp(const TApp&) = delete;
  TApp& operator=(const TApp&) = delete;

  // The generic windows of this application alive, in the order they were made (the program's
  // only list of windows). A window joins it once it is fully made, so a window whose
  // construction failed never appears in it; it leaves the list when it is destroyed, or
  // earlier through Unregister.
  std::vector<TfmGeneric*> Windows() const;
  void Register(TfmGeneric* window);
  // Takes `window` out of the list; false when it was not in it.
  bool Unregister(TfmGeneric* window);

  // Search windows alive: the windows of the list of windows that take part in the Window
  // menus. The program ends when it drops from 1 to 0.
  int SearchWindowCount() const;
  // A search window leaves the list of windows during its destruction; when it was the last
  // one, the program ends. A window that never joined (its creation failed) changes nothing.
  void WindowDestroyed(TfmGeneric* window);

  // What ending the program means: by default, leaving the application's event loop.
  void SetQuitHandler(std::function<void()> handler);
  // Closes every search window (each stops its search and saves its settings); the last one
  // to go ends the program.
  void Exit();

  // Rebuilds the Window menu of every search window in the list.
  void UpdateWindowMenus();

  // The switches every search window applies at its creation (the program's arguments).
  const std::vector<std::string>& SearchArguments() const { return FArguments; }
  void SetSearchArguments(std::vector<std::string> args) { FArguments = std::move(args); }
  // The name the program was called by, for the usage lines.
  const std::string& ProgramName() const { return FProgramName; }
  void SetProgramName(std::string name) { FProgramName = std::move(name); }

  // "Trawlex - Running" while any search runs, else "Trawlex".
  QString Title() const { return FTitle; }
  // The title a search window shows for its caption: the caption alone while no search runs,
  // else the caption followed by the application's title.
  QString WindowTitle(const QString& caption) const;
  // Hooks the title to the count of running searches; every window shows a change at once.
  void InstallTitleHandler();
  // The program's running searches: every search a window starts is counted here.
  TRunningSearches& RunningSearches() { return FRunningSearches; }
  // How every window shows tabs in its results and preview.
  TTabDisplay& TabDisplay() { return FTabDisplay; }

  // Workers whose end notification has not run yet (closed windows' included).
  void WorkerStarted() { ++FLiveWorkers; }
  void WorkerEnded() { --FLiveWorkers; }
  // Handles events until every worker has ended, or `timeoutMs` has passed; true when none
  // is left.
  bool WaitForWorkers(int timeoutMs);

  // The program-wide settings; null until the program has made them.
  TAppSettings* Settings() const { return FSettings; }
  void SetSettings(TAppSettings* settings) { FSettings = settings; }

  // The one "Preferred Editor" settings window of the application, or null. Its owner (the
  // search window that opened it) destroys it, which clears this reference.
  TfmPreferredEditor*& PreferredEditorDialog() { return FPreferredEditorDialog; }
  // The newest run of the undo folder, read again only when it changed; the "Undo last
  // replace" action of every window asks it.
  TNewestJournal& NewestJournal() { return *FNewestJournal; }

  // What the windows ask of the desktop: the desktop's services unless others were installed.
  IShellServices& Shell();
  // Installs `services` (not owned; they must outlive their use); null restores the desktop's.
  void SetShell(IShellServices* services) { FInstalledShell = services; }

  // The printer chosen in the printer setup dialog, which every later print job of the
  // application copies; null: the default printer.
  std::unique_ptr<QPrinter>& ChosenPrinter() { return FChosenPrinter; }

  // How the workers of this application reach the main thread; made on first use, which must
  // be on the main thread. It goes with the application object, after every worker.
  TQtMainThreadInvoker& Invoker();

 private:
  // Declared first, so it goes last.
  std::unique_ptr<TQtMainThreadInvoker> FInvoker;
  // Guarded pointers: an entry can never outlive its window, whatever path destroyed it.
  std::vector<QPointer<TfmGeneric>> FWindows;
  int FLiveWorkers = 0;
  std::function<void()> FQuit;
  std::vector<std::string> FArguments;
  std::string FProgramName = "trawlex";
  QString FTitle = QStringLiteral("Trawlex");
  TAppSettings* FSettings = nullptr;
  TfmPreferredEditor* FPreferredEditorDialog = nullptr;
  std::unique_ptr<TNewestJournal> FNewestJournal;
  std::unique_ptr<IShellServices> FDesktopShell;  // made when first asked for
  IShellServices* FInstalledShell = nullptr;
  std::unique_ptr<QPrinter> FChosenPrinter;
  TRunningSearches FRunningSearches;
  TTabDisplay FTabDisplay;
};

// The application object of the window mode: an exception raised while an event is handled is
// shown in an error box, and the program goes on.
class TTrawlexApplication : public QApplication {
  Q_OBJECT
 public:
  TTrawlexApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Runs `handler` on the main thread when the process receives SIGTERM or SIGINT (a logout,
// Ctrl+C in the terminal). Call once, after the application object exists.
void InstallTerminationSignals(std::function<void()> handler);

}  // namespace trawlex
