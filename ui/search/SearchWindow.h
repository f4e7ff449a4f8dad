#pragma once
// The search window: the inputs of a search, the search worker's progress in the status bar,
// the results list, the histories and the window's settings. Several can be open at once, each
// with its own inputs, worker, results and settings section (fmSearch, fmSearch_1, ...).
//
// A window that closes while its search runs only asks the worker to stop: the parameters, the
// results and the measuring surface the worker uses go to the worker's end notification, which
// releases them, and no notification of that worker reaches the window afterwards.
#include <QColor>
#include <QFont>
#include <QPointer>
#include <QStringList>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "config/CfgElements.h"
#include "config/SearchInputs.h"
#include "ui/Application.h"
#include "ui/FormBase.h"
#include "ui/QtConfigAdapters.h"
#include "ui/search/SearchRules.h"

class QActionGroup;
class QPrinter;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QSplitter;
class QToolBar;
class QToolButton;
class QHBoxLayout;
class QVBoxLayout;

namespace trawlex {

class TAction;
class TActionList;
class TDirComboBox;
class TListForm;
class TfmAbout;
class TfmInfo;
class TPainterSurface;
class TRangeProcessor;
class TResultList;
class TSaveDialog;
class TSearchFile;
class TSearchParams;
class TSearchResult;
class TSearchThread;
class TStatusBar;
class TWildCardMemo;
class TfrmSelDir;
class TBaseThread;
class TfmReplace;

class TfmSearch : public TfmGeneric, public IWindowMenuItem {
  Q_OBJECT
 public:
  // The whole creation sequence; a window started with switches begins its search as soon as
  // the event loop runs.
  TfmSearch(QWidget* owner, TApp& app);
  ~TfmSearch() override;

  // IWindowMenuItem
  QMenu* GetWindowMenu() override { return Window1; }
  QString GetCaption() const override;
  void Activate() override;

  // The window's own caption ("Trawlex", "Trawlex: " and the target); the title shows it with
  // the application's state while any search runs.
  QString Caption() const { return FCaption; }
  void SetCaption(const QString& caption);
  void ApplicationTitleChanged() override;

  // Panel 6: the worker's status, "Terminated by user" or a validation problem (red).
  void SetStatusMessage(const QString& text);
  QString StatusMessage() const;
  bool ProblemShown() const { return FProblemShown; }
  // The validation; empty when the inputs allow a search.
  QString GetSearchProblem() const;
  void ClearResults();
  void SetSelectedFindCount(int n);

  bool Running() const { return SearchThread != nullptr; }
  bool FromCommandLine() const { return FFromCommandLine; }
  TSearchParams* Params() const { return SearchParams.get(); }
  const QStringList& ErrorLog() const { return FErrorLog; }
  const std::vector<std::string>& UsageLines() const { return FUsageLines; }
  TBaseCfgList& SearchCfgList() { return *FSearchCfgList; }
  int TotalFindCount() const { return FTotalFindCount; }
  int SelectedFindCount() const { return FSelectedFindCount; }
  const QFont& ResultsFont() const;
  // What the enabled rules of the actions look at.
  TWindowState State() const;

  // The preview: the file it shows (null when empty) and the line it was built around.
  TSearchFile* PreviewFile() const { return FPreviewFile.get(); }
  // (height of lstPreview - 4, less its sideways scroll bar while that shows) div its entry height.
  int VisiblePreviewLines() const;
  // Rebuilds the preview for the current line, height and font, keeping its selected line.
  void RerunPreview();
  // Redraws both lists (after a change of the tab display).
  void RepaintLists();

  // The label and hint of a switch, as this window's controls give them.
  std::pair<std::string, std::string> GetSwitchLabel(const TBaseCfgElem& element) const;

  // The directory chosen in the folder dialog: a running search stops and a new one starts
  // once it has ended; otherwise the search starts at once.
  void DirectoryApplied(const QString& directory);

  // Controls (object names as in the settings and the usage text).
  QWidget* pnlTop = nullptr;
  QSplitter* splParams = nullptr;
  QWidget* pnlParams = nullptr;
  QToolBar* tbrMainButtons = nullptr;
  QToolButton* btnSearch = nullptr;
  QToolBar* tbrSelectDirectory = nullptr;
  TDirComboBox* cbxDirectory = nullptr;
  QLabel* Label1 = nullptr;
  QComboBox* cbxTarget = nullptr;
  QLabel* Label2 = nullptr;
  QComboBox* cbxExclude = nullptr;
  QCheckBox* chkSubdirs = nullptr;
  QCheckBox* chkCaseSenstv = nullptr;
  QCheckBox* chkWholeWord = nullptr;
  QCheckBox* chkRegExp = nullptr;
  QCheckBox* chkHidden = nullptr;
  QCheckBox* chkBinarySkip = nullptr;
  QCheckBox* chkIgnored = nullptr;
  QLabel* lblFolderSkip = nullptr;
  QComboBox* cbxFolderSkip = nullptr;
  QWidget* pnlWildCards = nullptr;
  QLabel* lblWildCard = nullptr;
  QLabel* lbWildCardCt = nullptr;
  TWildCardMemo* memPatterns = nullptr;
  QSplitter* splListboxes = nullptr;
  TResultList* lstResults = nullptr;
  QWidget* pnlPreview = nullptr;
  QLabel* lblPreviewFile = nullptr;
  QLabel* lblLineCount = nullptr;
  TResultList* lstPreview = nullptr;
  TStatusBar* StatusBar1 = nullptr;
  QMenu* File1 = nullptr;
  QMenu* Edit1 = nullptr;
  QMenu* View1 = nullptr;
  QMenu* Window1 = nullptr;
  QMenu* Help1 = nullptr;
  QMenu* popResults = nullptr;
  TSaveDialog* dlgSaveResults = nullptr;

  TActionList* ActionList1 = nullptr;
  TAction *acSearch = nullptr, *acTerminate = nullptr, *acSave = nullptr, *acSetupPrinter = nullptr,
          *acPrint = nullptr, *acFont = nullptr, *acFindsMemo = nullptr, *acSelectDirectory = nullptr,
          *acOpen = nullptr, *acViewWholeFile = nullptr, *acCopyLineToClipboard = nullptr,
          *acNewSearch = nullptr, *acExit = nullptr, *acAbout = nullptr, *acUsage = nullptr,
          *acCheckForUpdates = nullptr, *acSelectAllFinds = nullptr, *acDeselectAllFinds = nullptr,
          *acReplace = nullptr, *acUndoReplace = nullptr, *acExplore = nullptr, *acSetPreferredEditor = nullptr,
          *acOpenInPreferredEditor = nullptr, *acHideResultLines = nullptr, *acShowCanonical = nullptr,
          *acShowCaptions = nullptr, *acSortSeparator = nullptr, *acDescending = nullptr,
          *acTabDisplayPrefs = nullptr, *acViewLog = nullptr;
  std::vector<TAction*> SortActions;
  TAction* SortByNameAction = nullptr;

  TfrmSelDir* SelDirDialog = nullptr;
  TListForm* LogWindow = nullptr;
  QPointer<TfmReplace> ReplaceDialog;  // open while the user replaces in these results
  TfmInfo* InfoWindow = nullptr;
  TfmAbout* AboutWindow = nullptr;

  // ---- Results out of the window: report, print, memo, copy, open, editor, viewer ----
  // (SearchWindowOutput.cpp)
  // One line of the results report and how it prints.
  struct TReportLine {
    enum class TKind { Header, File, Line };
    std::string Text;  // bytes as they are
    TKind Kind;
  };
  // The report: "Time: ", the description, panels 1 and 2, then every entry of lstResults in
  // the order and with the filter shown.
  std::vector<TReportLine> ReportLines() const;
  // Writes the report to a file, each line followed by CR LF, replacing the file as a whole
  // (an old file stays as it was when the write fails, which raises).
  void WriteResults(const QString& fileName);
  // Prints the report in the results font: header italic, file items bold, lines regular.
  void WriteResults(QPrinter& printer);
  // The list the context menu was last opened on, else lstResults.
  TResultList* ActiveList() const;
  // Path and 0-based line of the entry selected in lstResults; false without one.
  bool GetSelectedLocation(QString& path, int32_t& lineNo) const;

 protected:
  TfmGeneric* CreateSameClass() override;
  void Created() override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The controls whose values the last search's settings and the switches keep.
  TSearchInputControls SearchInputControls(bool withPatterns);
  struct TRun;  // what one started search shares with its worker
  struct TCfgAdapters;  // what the settings elements are bound to

  void CreateActions();
  TAction* AddAction(const char* name, const char* caption, const char* category, const QKeySequence& key, const char* hint);
  void CreateFileActions();
  void CreateEditActions();
  void CreateViewActions();
  void CreateHelpActions();
  void CreateListActions();
  void CreateSortActions();
  void CreateLayout();
  QWidget* CreateInputArea(QWidget* central);
  void CreateParamsPanel();
  QToolBar* CreateMainToolBar();
  QHBoxLayout* CreateDirectoryRow();
  QWidget* CreateEditsRow();
  QWidget* CreateOptionsPanel();
  void CreatePatternsPanel();
  TStatusBar* CreateStatusBar(QWidget* central);
  void CreateResultsArea(QWidget* central, QVBoxLayout* mainLayout);
  void CreateResultsList();
  void CreatePreviewPanel();
  QWidget* CreatePreviewHead();
  void ConnectResultLists();
  void CreateMenus();
  void CreateSettings();
  void BindWindowSettings(const IConfigPtr& config);
  void LoadWindowSettings();
  // Gives the pattern list and the preview back the size they were given, as far as it fits.
  void RestorePaneSizes();
  std::vector<std::string> DesignUsageLines();
  void LoadSearchInputs(const IConfigPtr& config);

  // Actions
  void acSearchUpdate(TAction& a);
  void acSearchExecute();
  void ClearLastSearch();
  std::unique_ptr<TSearchParams> ParamsFromInputs();
  void ResetProgressPanels();
  void StartSearchWorker();
  void RememberSearch();
  void acTerminateExecute();
  void ShowOnSearchButton(TAction* action);
  void FitSearchButton();
  void acDirExecute();
  void acShowCaptionsExecute();
  void acViewLogExecute();
  void acReplaceExecute();
  void ReplaceDialogDestroyed(TfmReplace& dialog);
  void SortActionExecute(TAction& a);
  void acChangeViewExecute(TAction& a);

  // The worker's notifications
  void ShowProgress(const std::string& text);
  void AddLogLine(const std::string& text);
  void GrowResultsWidth(int32_t width);
  // The search's items, handed over in order: they join the shown list.
  void TakeResultItems(std::span<TSearchResult* const> items);
  void SearchThreadTerminated(TBaseThread& thread);

  void SetSortOrder(int index);
  void FillResults(bool sort);
  void ShowResult(int row);
  void ShowFindCount(TSearchResult* item);
  void ShowPreview(TSearchResult* item, bool keepSelection);
  int FitPreviewToWholeLines();
  void ReadPreviewFile(const std::string& path, int64_t lineStart, int lines);
  void LoadPreviewFile(TRangeProcessor& m, int64_t around);
  // Where file position `position` lies in what `m` holds of the file.
  static int32_t HeldPosition(const TRangeProcessor& m, int64_t position);
  void ScrollPreview(bool forward, bool page);
  void FillPreview(int64_t lineNo);
  void ClearPreview();
  void ToggleFindAtMouse(TResultList* list, const QPoint& viewportPos);
  void ListDoubleClicked(TResultList* list, const QPoint& viewportPos);
  // Keys of the preview list and double-clicks on its file name; true when handled.
  bool PreviewEvent(QObject* watched, QEvent* event);
  bool PreviewKeyPressed(int key, Qt::KeyboardModifiers modifiers);
  void acFontExecute();
  void acTabDisplayPrefsExecute();
  void ExcludeDataChange();
  void memWildcardsChange();
  void ApplyResultsFont();
  int LargestItemWidth();
  void DrawResultItem(QPainter& painter, int row, const QRect& rect, bool selected);
  void DrawMessagePanel(QPainter& painter, int index, const QRect& rect);
  void StartCommandLineSearch();

  // Output actions (SearchWindowOutput.cpp)
  void ConnectOutputActions();
  void acSaveExecute();
  void acPrintExecute();
  void acSetupPrinterExecute();
  void acFindsMemoExecute();
  void acCopyLineToClipboardExecute();
  void acSelectAllFindsExecute(TAction& sender);
  void acOpenExecute();
  void acExploreExecute();
  void acViewWholeFileExecute();
  void acSetPreferredEditorExecute();
  void acOpenInPreferredEditorExecute();
  // Panel 6 reports a program the window could not start.
  void ReportStartFailure(const QString& text);

  std::unique_ptr<TSearchParams> SearchParams;
  TSearchThread* SearchThread = nullptr;  // not owned: it frees itself when it ends
  std::shared_ptr<TRun> FRun;
  std::unique_ptr<TPainterSurface> FMeasure;  // the measuring surface the worker's items use
  std::unique_ptr<TPainterSurface> FDraw;
  TCfgAdapters* FAdapters = nullptr;  // a child object: it outlives the form base's last save
  QFont& FResultsFont;
  std::unique_ptr<TBaseCfgList> FSearchCfgList;
  QActionGroup* FSortGroup = nullptr;
  int FSortOrder = 0;
  int FStartLineNoWidth = 0;  // the line-number width when the search started
  int FProgressFinds = 0;  // the counter panels' values, shown after the current batch
  QString FProgressText;
  bool FProgressQueued = false;
  std::string FProgressMessage;  // the last status text of the current batch, shown after it
  bool FProgressMessagePending = false;
  bool FResultsSyncQueued = false;  // the list takes the entries handed over when the batch is through
  int FPatternsWanted = 85;  // the width the user gave the pattern list
  int FPreviewWanted = 56;   // and the height of the preview
  int FLinesExtent = -1;  // the sideways extent of the results with their lines, once known
  std::unique_ptr<TSearchFile> FPreviewFile;
  int64_t FPreviewLine = 0;
  // The preview reads a file up to this size whole, and of a larger one the lines within
  // PreviewReach bytes of the line it shows.
  static constexpr int64_t PreviewWholeMax = int64_t{4} << 20;
  static constexpr int64_t PreviewReach = int64_t{1} << 20;
  bool FPreviewEndsWithBreak = false;  // the previewed file's last byte is a line break
  std::set<std::string> FPreviewFailures;  // files of these results the preview could not read
  int FTotalFindCount = 0;
  int FSelectedFindCount = 0;
  bool FProblemShown = false;
  // The patterns GetSearchProblem compiled last (target, exclude, case rule) and what it said.
  mutable QString FRegexKey, FRegexProblem;
  bool FRestartPending = false;
  bool FFromCommandLine = false;
  bool FCommandLineFailed = false;
  bool FHasSearched = false;
  QString FLastTarget;
  QString FCaption;
  QStringList FErrorLog;
  std::vector<std::string> FUsageLines;
  QWidget* FActiveList = nullptr;
};

}  // namespace trawlex
