// The search window's running search: starting the worker, its progress, its errors and its end.
#include <QCheckBox>
#include <QComboBox>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "base/TextUtils.h"
#include "config/RegistryConfig.h"
#include "engine/SearchThread.h"
#include "platform/Platform.h"
#include "ui/Action.h"
#include "ui/Application.h"
#include "ui/controls/DirComboBox.h"
#include "ui/dialogs/ListForm.h"
#include "ui/MainThreadInvoker.h"
#include "ui/lists/ResultList.h"
#include "ui/search/SearchRules.h"
#include "ui/search/SearchWindowParts.h"
#include "ui/dialogs/SelDirDialog.h"
#include "ui/controls/StatusBar.h"
#include "ui/controls/WildCardMemo.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

void TfmSearch::StartCommandLineSearch() { acSearch->Execute(); }
// ---- searching ---------------------------------------------------------------------------

void TfmSearch::acSearchUpdate(TAction& a) {
  if (Running()) {
    a.setEnabled(false);
    return;
  }
  const QString problem = GetSearchProblem();
  const bool wasShown = FProblemShown;
  if (!problem.isEmpty()) SetStatusMessage(problem);
  FProblemShown = !problem.isEmpty();
  if (wasShown && !FProblemShown) SetStatusMessage(QString());
  if (wasShown != FProblemShown) StatusBar1->update();
  a.setEnabled(problem.isEmpty());
}

void TfmSearch::acSearchExecute() {
  ClearLastSearch();
  SearchParams = ParamsFromInputs();
  ResetProgressPanels();
  StartSearchWorker();
  RememberSearch();
}

// The last search's results, log and sort order go.
void TfmSearch::ClearLastSearch() {
  FErrorLog.clear();
  if (LogWindow) delete LogWindow;
  ShowOnSearchButton(acTerminate);
  ClearResults();
  SortByNameAction->Execute();
  acDescending->setChecked(false);
}

// The search the inputs describe, measured on the results font.
std::unique_ptr<TSearchParams> TfmSearch::ParamsFromInputs() {
  auto params = std::make_unique<TSearchParams>();
  params->SetFilePatterns(memPatterns->LinesAdapter().GetLines());
  params->BaseDir = ResolvedPath(cbxDirectory->Directory().toStdString());  // as the system means it
  params->IncludeSubdirs = chkSubdirs->isChecked();
  params->IncludeHidden = chkHidden->isChecked();
  params->SkipBinary = chkBinarySkip->isChecked();
  params->SetSkipFolders(cbxFolderSkip->currentText().toStdString());
  params->SkipIgnored = chkIgnored->isChecked();
  params->SetTarget(cbxTarget->currentText().toStdString());
  params->SetExclude(cbxExclude->currentText().toStdString());
  params->WholeWord = chkWholeWord->isChecked();
  params->SetCaseSensitive(chkCaseSenstv->isChecked());
  params->RegExp = chkRegExp->isChecked();
  params->PrepareRegex();  // the action is enabled only when the patterns compile
  if (!FMeasure) FMeasure = std::make_unique<TPainterSurface>(FResultsFont, palette(), &App()->TabDisplay());
  FMeasure->SetFont(FResultsFont);
  params->SetCanvas(FMeasure.get());
  FStartLineNoWidth = params->LineNoWidth();
  params->SortKey = static_cast<uint8_t>(SortTable[FSortOrder].Key);
  params->Descending = false;
  return params;
}

// The counters start from nothing: the last run's (of a search the folder dialog stopped and
// restarted, say) would otherwise stay until the first status and look like this run's.
void TfmSearch::ResetProgressPanels() {
  FProgressQueued = false;  // an update queued for the last run no longer counts
  FProgressFinds = 0;
  FProgressText = QString::fromStdString(SearchProgressText(0, 0, 0));
  SetPanelText(*StatusBar1, 1, FProgressText);
}

// A worker for SearchParams, whose notifications reach this window through a new run.
void TfmSearch::StartSearchWorker() {
  FRun = std::make_shared<TRun>(TRun{this, nullptr, nullptr});
  auto run = FRun;
  auto* thread = new TSearchThread(App()->Invoker());
  thread->SetParams(SearchParams.get());
  thread->RunningSearches = &App()->RunningSearches();
  thread->OnItems = [run](std::span<TSearchResult* const> items) {
    if (run->Window) run->Window->TakeResultItems(items);
  };
  thread->OnItemAdded = [run](int32_t width) {
    if (run->Window) run->Window->GrowResultsWidth(width);
  };
  thread->ShowLines = !acHideResultLines->isChecked();
  // Items, texts and counters reach the window in batches, a few each frame: one hand-over
  // per item would leave the window waiting on the worker's every find.
  thread->HandOverInterval = std::chrono::milliseconds(25);
  thread->OnStatus = [run](const std::string& text) {
    if (run->Window) run->Window->ShowProgress(text);
  };
  thread->OnError = [run](const std::string& text) {
    if (run->Window) run->Window->AddLogLine(text);
  };
  thread->OnTerminate = [run, app = App()](TBaseThread& t) {
    app->WorkerEnded();
    if (run->Window) run->Window->SearchThreadTerminated(t);
  };
  thread->FreeOnTerminate = true;
  SearchThread = thread;
  App()->WorkerStarted();
  thread->Start();
}

// The inputs join their histories and, with the last search, the settings; the caption
// names the target.
void TfmSearch::RememberSearch() {
  PushComboHistory(cbxTarget, HistoryLimit);
  PushComboHistory(cbxExclude, HistoryLimit);
  PushComboHistory(cbxFolderSkip, HistoryLimit);
  cbxDirectory->RecordDirectory();
  memPatterns->AddToHistory();

  FHasSearched = true;
  FLastTarget = cbxTarget->currentText();
  try {
    CfgList()->SaveAll();
    if (!FFromCommandLine) FSearchCfgList->SaveAll();
  } catch (const std::exception& e) {
    ReportError(QString::fromUtf8(e.what()));
  }
  App()->UpdateWindowMenus();
  SetCaption(QStringLiteral("Trawlex: ") + FLastTarget);
}

void TfmSearch::ShowOnSearchButton(TAction* action) {
  // A tool button with more actions than its default one shows a menu arrow: swap, never add.
  for (QAction* a : btnSearch->actions()) {
    if (a != action) btnSearch->removeAction(a);
  }
  btnSearch->setDefaultAction(action);
}

TWindowState TfmSearch::State() const {
  TWindowState s;
  s.Running = Running();
  s.Stopping = SearchThread && SearchThread->Terminated();
  s.ResultCount = lstResults->Count();
  s.ResultSelected = lstResults->ItemIndex() >= 0;
  auto* active = qobject_cast<TResultList*>(FActiveList ? FActiveList : lstResults);
  s.ActiveSelected = active && active->ItemIndex() >= 0;
  s.SelectedFinds = FSelectedFindCount;
  s.SortOrder = FSortOrder;
  TAppSettings* settings = App()->Settings();
  s.EditorExists = settings && settings->PreferredEditor->Exists;
  return s;
}

void TfmSearch::FitSearchButton() {
  // One width for Search and Terminate, so that the buttons beside it stay where they are; with
  // captions at least the other buttons' width, without them as narrow as its image lets it be.
  QAction* shown = btnSearch->defaultAction();
  int width = btnSearch->toolButtonStyle() == Qt::ToolButtonIconOnly ? 0 : 64;
  for (TAction* a : {acSearch, acTerminate}) {
    btnSearch->setDefaultAction(a);
    width = std::max(width, btnSearch->sizeHint().width());
  }
  for (QAction* a : btnSearch->actions()) {
    if (a != shown) btnSearch->removeAction(a);
  }
  btnSearch->setDefaultAction(shown);
  btnSearch->setFixedWidth(width);
}

void TfmSearch::acTerminateExecute() {
  SetStatusMessage(QStringLiteral("Terminated by user"));
  if (SearchThread) SearchThread->Terminate();
  ShowOnSearchButton(acSearch);
}

void TfmSearch::DirectoryApplied(const QString& directory) {
  cbxDirectory->SetDirectory(directory);
  if (SearchThread) {
    FRestartPending = true;
    SearchThread->Terminate();
    ShowOnSearchButton(acSearch);
  } else {
    acSearch->Execute();
  }
}

void TfmSearch::acDirExecute() {
  ShowNMDialog(this, SelDirDialog);
  SelDirDialog->SetDirectory(cbxDirectory->Directory());
  QPointer<TfmSearch> self(this);
  SelDirDialog->OnDirectoryChosen = [self](TfrmSelDir& dialog) {
    if (self) RunHandler([&] { self->DirectoryApplied(dialog.GetDirectory()); });
  };
}

void TfmSearch::ShowProgress(const std::string& text) {
  if (!SearchThread) return;
  // A batch of hand-overs brings a status text per file; the counter panels and the message,
  // which measure their texts, follow once the batch is through, with the counters as they then
  // stand and the batch's last text (measuring each one kept the window busy for a second on a
  // tree of 50,000 files; even making the counters' text for each took 50 ms of a search of a
  // million lines).
  FProgressMessage = text;
  FProgressMessagePending = true;
  if (FProgressQueued) return;
  FProgressQueued = true;
  // The update belongs to this run: one still queued when the run ends and the next starts
  // (a folder applied during a search) must not show the old run's counters over the new
  // run's, which made panel 1 go back from thousands of files to a few.
  QTimer::singleShot(0, this, [this, run = std::weak_ptr<TRun>(FRun)] {
    if (run.lock() != FRun) return;
    FProgressQueued = false;
    if (SearchThread) {  // else the run's end has shown its final counters
      FProgressFinds = SearchThread->TotalFinds();
      FProgressText = QString::fromStdString(
          SearchProgressText(SearchThread->FilesWithFinds(), SearchThread->FilesSearched(), SearchThread->FilesFound(),
                             SearchThread->BinaryFilesSkipped()));
      SetPanelNumber(*StatusBar1, 2, FProgressFinds);
      SetPanelText(*StatusBar1, 1, FProgressText);
    }
    if (FProgressMessagePending) SetStatusMessage(DisplayText(FProgressMessage));
  });
}

void TfmSearch::AddLogLine(const std::string& text) {
  const QString line = DisplayText(text);
  FErrorLog << line;
  if (LogWindow) LogWindow->AddLine(line);
  acViewLog->setVisible(true);
}

void TfmSearch::GrowResultsWidth(int32_t width) {
  if (width > lstResults->HorizontalExtent()) lstResults->SetHorizontalExtent(width);
  // Entries come in runs, one run per file: the list takes them into its scroll range once the
  // batch is through, not after each run (setting the scroll bars for each of 50,000 files cost
  // more than taking their million entries).
  if (FResultsSyncQueued) return;
  FResultsSyncQueued = true;
  QTimer::singleShot(0, this, [this] {
    FResultsSyncQueued = false;
    lstResults->SyncCount();
  });
}

void TfmSearch::SearchThreadTerminated(TBaseThread& thread) {
  auto& search = static_cast<TSearchThread&>(thread);
  ShowOnSearchButton(acSearch);
  FTotalFindCount = search.TotalFinds();
  SetPanelNumber(*StatusBar1, 2, FTotalFindCount);
  // The file counters as the run ended, whatever update was still on its way.
  FProgressText = QString::fromStdString(
      SearchProgressText(search.FilesWithFinds(), search.FilesSearched(), search.FilesFound(),
                         search.BinaryFilesSkipped()));
  SetPanelText(*StatusBar1, 1, FProgressText);
  SearchThread = nullptr;
  // The last batch's status text ("FINISHED ...") may still wait for its update, which the
  // batch queued behind this notification: it shows now.
  if (FProgressMessagePending) SetStatusMessage(DisplayText(FProgressMessage));
  if (!search.FatalError().empty()) {
    // A search that failed as a whole says so instead of looking finished.
    const std::string message = "Search failed: " + search.FatalError();
    AddLogLine(message);
    SetStatusMessage(DisplayText(message));
  }
  lstResults->SyncCount();
  lstResults->viewport()->update();
  if (FRestartPending) {
    FRestartPending = false;
    acSearch->Execute();
  } else if (SearchParams) {
    // Lines measured before the line numbers grew a digit are now that much wider; measuring
    // every item again would keep a window of a million lines waiting for seconds.
    lstResults->SetHorizontalExtent(lstResults->HorizontalExtent() + SearchParams->LineNoWidth() - FStartLineNoWidth);
  }
}

}  // namespace trawlex
