#include "ui/search/SearchWindow.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "config/CommandLine.h"
#include "config/RegistryConfig.h"
#include "config/SearchInputs.h"
#include "engine/SearchParams.h"
#include "engine/SearchThread.h"
#include "platform/Platform.h"
#include "ui/dialogs/AboutForm.h"
#include "ui/Action.h"
#include "ui/ActionList.h"
#include "ui/controls/DirComboBox.h"
#include "ui/controls/FlowPanel.h"
#include "ui/dialogs/InfoForm.h"
#include "ui/dialogs/ListForm.h"
#include "ui/MainThreadInvoker.h"
#include "ui/lists/PainterSurface.h"
#include "ui/dialogs/ReplaceDialog.h"
#include "ui/lists/ResultList.h"
#include "ui/dialogs/SaveDialog.h"
#include "ui/search/SearchRules.h"
#include "ui/search/SearchWindowParts.h"
#include "ui/dialogs/SelDirDialog.h"
#include "ui/controls/StatusBar.h"
#include "ui/services/UndoReplace.h"
#include "ui/services/UpdateCheck.h"
#include "ui/controls/WildCardMemo.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

namespace {

QStringList LiveSearchWindowNames(const TApp& app) {
  QStringList names;
  for (TfmGeneric* w : app.Windows()) {
    if (qobject_cast<TfmSearch*>(w)) names << w->objectName();
  }
  return names;
}

}  // namespace

// The font and the line lists the window's settings elements are bound to. The form base saves
// the list after this window's own members are gone, so these live in a child object, which
// goes only after that.
struct TfmSearch::TCfgAdapters : public QObject {
  TCfgAdapters(TfmSearch* window)
      : QObject(window),
        FontAdapter(ResultsFont, [window] { window->ApplyResultsFont(); }),
        Target(window->cbxTarget),
        Exclude(window->cbxExclude),
        Directory(window->cbxDirectory),
        FolderSkip(window->cbxFolderSkip) {}
  QFont ResultsFont;
  TQtFont FontAdapter;
  TComboItems Target, Exclude, Directory, FolderSkip;
};

// ---- creation ----------------------------------------------------------------------------

TfmSearch::TfmSearch(QWidget* owner, TApp& app)
    : TfmGeneric(owner, &app), FAdapters(new TCfgAdapters(this)), FResultsFont(FAdapters->ResultsFont) {
  SetCaption(QStringLiteral("Trawlex"));
  setObjectName(FirstFreeSearchWindowName(LiveSearchWindowNames(app)));
  resize(563, 448);
  FSortOrder = 0;
  FResultsFont = QApplication::font();
  FMeasure = std::make_unique<TPainterSurface>(FResultsFont, palette(), &App()->TabDisplay());
  FDraw = std::make_unique<TPainterSurface>(FResultsFont, palette(), &App()->TabDisplay());

  CreateActions();
  CreateLayout();
  CreateMenus();
  ConnectOutputActions();
  CreateSettings();

  ApplyResultsFont();
  SetSortOrder(0);  // "Sort by Full name" checked; the sort panel stays hidden
  ClearResults();
  ExcludeDataChange();
  cbxExclude->lineEdit()->deselect();
  memWildcardsChange();
  cbxTarget->setFocus();
  if (FFromCommandLine && !FCommandLineFailed) QTimer::singleShot(0, this, [this] { StartCommandLineSearch(); });
}

void TfmSearch::Created() {
  // Only now is the window in the list of windows, and so in every Window menu.
  App()->UpdateWindowMenus();
}

TfmGeneric* TfmSearch::CreateSameClass() { return CreateUnbound<TfmSearch>(nullptr, *App()); }

TAction* TfmSearch::AddAction(const char* name, const char* caption, const char* category, const QKeySequence& key,
                              const char* hint) {
  TAction* a = ActionList1->Add(QString::fromLatin1(name), QString::fromUtf8(caption), QString::fromLatin1(category), key,
                                QString::fromUtf8(hint));
  addAction(a);  // shortcuts belong to the whole window
  return a;
}

void TfmSearch::CreateActions() {
  ActionList1 = new TActionList(this);
  acSearch = AddAction("acSearch", "Search", "", Qt::Key_F3, "Search directory for target");
  acSearch->setIcon(MakeIcon(TGlyph::Search));
  acSearch->OnUpdate = [this](TAction& a) { acSearchUpdate(a); };
  acSearch->OnExecute = [this](TAction&) { acSearchExecute(); };
  acTerminate = AddAction("acTerminate", "Terminate", "", QKeySequence(Qt::CTRL | Qt::Key_T), "Terminate search");
  acTerminate->setIcon(MakeIcon(TGlyph::Stop));
  acTerminate->SetEnabledRule([this] { return CanTerminate(State()); });
  acTerminate->OnExecute = [this](TAction&) { acTerminateExecute(); };

  CreateFileActions();
  CreateEditActions();
  CreateViewActions();
  CreateHelpActions();
  CreateListActions();
  CreateSortActions();
}

void TfmSearch::CreateFileActions() {
  const auto notRunningWithResults = [this] { return CanOutput(State()); };
  acSave = AddAction("acSave", "Save results...", "File", QKeySequence(Qt::CTRL | Qt::Key_S), "Save current results to file");
  acSave->setIcon(MakeIcon(TGlyph::Save));
  acSave->SetEnabledRule(notRunningWithResults);
  acSetupPrinter = AddAction("acSetupPrinter", "Setup Printer", "File", {}, "Setup printer");
  acSetupPrinter->setIcon(MakeIcon(TGlyph::PrinterSetup));
  acPrint = AddAction("acPrint", "Print results", "File", QKeySequence(Qt::CTRL | Qt::Key_P), "Send output lines to printer");
  acPrint->setIcon(MakeIcon(TGlyph::Print));
  acPrint->SetEnabledRule(notRunningWithResults);
  acNewSearch = AddAction("acNewSearch", "Open new Search window", "File", QKeySequence(Qt::CTRL | Qt::Key_N), "");
  acNewSearch->OnExecute = [this](TAction&) { NewWindow(); };
  acExit = AddAction("acExit", "Exit", "File", {}, "");
  // Queued: the window whose menu ran Exit is among those it destroys.
  acExit->OnExecute = [this](TAction&) {
    TApp* app = App();
    QTimer::singleShot(0, qApp, [app] { app->Exit(); });
  };
}

void TfmSearch::CreateEditActions() {
  const auto notRunningWithResults = [this] { return CanOutput(State()); };
  acSelectAllFinds = AddAction("acSelectAllFinds", "Select All Finds", "Edit", QKeySequence(Qt::CTRL | Qt::Key_A), "Select All Finds");
  acSelectAllFinds->SetEnabledRule(notRunningWithResults);
  acDeselectAllFinds = AddAction("acDeselectAllFinds", "Deselect All Finds", "Edit", QKeySequence(Qt::CTRL | Qt::Key_U), "Deselect All Finds");
  acDeselectAllFinds->SetEnabledRule(notRunningWithResults);
  acReplace = AddAction("acReplace", "Replace...", "Edit", {}, "Replace selected finds with new text");
  acReplace->SetEnabledRule([this] { return CanReplace(State()); });
  acReplace->OnExecute = [this](TAction&) { acReplaceExecute(); };
  acUndoReplace = AddAction("acUndoReplace", "Undo last replace", "Edit", {}, "Restore the files of the last replace");
  acUndoReplace->OnUpdate = [this](TAction& a) {
    // While a search runs the action is off, and the window goes idle after every batch of
    // results: the undo folder is read again once the search has ended.
    if (Running()) {
      a.setEnabled(false);
      return;
    }
    UpdateUndoReplaceAction(a, !ReplaceDialog, App()->NewestJournal());
  };
  acUndoReplace->OnExecute = [this](TAction&) {
    if (UndoLastReplace() && SearchParams) acSearch->Execute();
  };
  acSetPreferredEditor = AddAction("acSetPreferredEditor", "Set preferred editor...", "Edit", {}, "");
  acOpenInPreferredEditor = AddAction("acOpenInPreferredEditor", "Open in preferred editor", "Edit", {}, "");
  acOpenInPreferredEditor->SetEnabledRule([this] { return CanOpenInEditor(State()); });
  acTabDisplayPrefs = AddAction("acTabDisplayPrefs", "Set prefs for tab-character...", "Edit", {}, "");
  acTabDisplayPrefs->OnExecute = [this](TAction&) { acTabDisplayPrefsExecute(); };
}

void TfmSearch::CreateViewActions() {
  acViewLog = AddAction("acViewLog", "View Log", "View", {}, "");
  acViewLog->setIcon(MakeIcon(TGlyph::Log));
  acViewLog->OnUpdate = [this](TAction& a) { a.setVisible(!FErrorLog.isEmpty()); };
  acViewLog->OnExecute = [this](TAction&) { acViewLogExecute(); };
  acHideResultLines = AddAction("acHideResultLines", "Show only filenames", "View", {}, "");
  acHideResultLines->setCheckable(true);
  acHideResultLines->SetEnabledRule([this] { return CanChangeView(State()); });
  acHideResultLines->OnExecute = [this](TAction& a) { acChangeViewExecute(a); };
  acShowCanonical = AddAction("acShowCanonical", "Show canonical form of directory name", "View", {}, "");
  acShowCanonical->OnExecute = [this](TAction&) { cbxDirectory->CanonicalizeDirectory(); };
  acShowCaptions = AddAction("acShowCaptions", "Show button captions", "View", {}, "");
  acShowCaptions->setCheckable(true);
  acShowCaptions->OnUpdate = [this](TAction& a) {
    a.setChecked(tbrMainButtons->toolButtonStyle() != Qt::ToolButtonIconOnly);
  };
  acShowCaptions->OnExecute = [this](TAction&) { acShowCaptionsExecute(); };
  acSortSeparator = AddAction("acSortSeparator", "-", "View", {}, "");
  acSortSeparator->setSeparator(true);
  // "-" is the separator's caption in the action list only: a separator with a text is drawn
  // as a labelled section, so the menu would show the "-".
  acSortSeparator->setText(QString());
  acDescending = AddAction("acDescending", "Sort in descending order", "View", {}, "");
  acDescending->setCheckable(true);
  acDescending->SetEnabledRule([this] { return CanChangeView(State()); });
  acDescending->OnExecute = [this](TAction& a) { acChangeViewExecute(a); };
}

void TfmSearch::CreateHelpActions() {
  acCheckForUpdates = AddAction("acCheckForUpdates", "Check For Updates", "Help", {}, "");
  acCheckForUpdates->SetEnabledRule([this] { return !UpdateCheckRunning(this); });
  acCheckForUpdates->OnExecute = [this](TAction&) { CheckForUpdates(this, App()->Shell()); };
  acUsage = AddAction("acUsage", "Usage", "Help", {}, "");
  acUsage->OnExecute = [this](TAction&) { ShowUsageWindow(this, InfoWindow, FUsageLines); };
  acAbout = AddAction("acAbout", "About", "Help", {}, "");
  acAbout->OnExecute = [this](TAction&) { ShowNMDialog(this, AboutWindow); };
}

// The actions on the results and the folder, without a menu of their own.
void TfmSearch::CreateListActions() {
  const auto notRunningWithResults = [this] { return CanOutput(State()); };
  const auto selected = [this] { return State().ResultSelected; };
  const auto activeSelected = [this] { return State().ActiveSelected; };
  acFont = AddAction("acFont", "Font", "", QKeySequence(Qt::CTRL | Qt::Key_F), "Set font of the result and preview");
  acFont->OnExecute = [this](TAction&) { acFontExecute(); };
  acFindsMemo = AddAction("acFindsMemo", "View finds as memo", "", QKeySequence(Qt::CTRL | Qt::Key_M), "View the list of finds in a separate memo");
  acFindsMemo->SetEnabledRule(notRunningWithResults);
  acSelectDirectory = AddAction("acSelectDirectory", "Select Directory", "", QKeySequence(Qt::CTRL | Qt::Key_D), "Select directory to search");
  acSelectDirectory->setIcon(MakeIcon(TGlyph::Folder));
  acSelectDirectory->OnExecute = [this](TAction&) { acDirExecute(); };
  acOpen = AddAction("acOpen", "Open file in default app", "", QKeySequence(Qt::CTRL | Qt::Key_O), "Open file with associated application");
  acOpen->SetEnabledRule(selected);
  acViewWholeFile = AddAction("acViewWholeFile", "View whole file", "", {}, "View the whole file at the current line");
  acViewWholeFile->SetEnabledRule(selected);
  acCopyLineToClipboard = AddAction("acCopyLineToClipboard", "Copy line to clipboard", "", QKeySequence(Qt::CTRL | Qt::Key_C), "");
  acCopyLineToClipboard->SetEnabledRule(activeSelected);
  acExplore = AddAction("acExplore", "Locate file in Explorer", "", {}, "Open Explorer at selected directory");
  acExplore->SetEnabledRule(selected);
}

void TfmSearch::CreateSortActions() {
  // The sort actions come after all the others; one check mark between them.
  FSortGroup = new QActionGroup(this);
  FSortGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  for (int i = 0; i < 4; ++i) {
    TAction* a = AddAction(("acSortBy" + std::to_string(i)).c_str(), (std::string("Sort by ") + SortTable[i].Name).c_str(),
                     "View", QKeySequence(Qt::SHIFT | (Qt::Key_F1 + i)), "");
    a->setCheckable(true);
    FSortGroup->addAction(a);
    a->SetEnabledRule([this, i] { return CanSort(State(), i); });
    a->OnExecute = [this](TAction& action) { SortActionExecute(action); };
    SortActions.push_back(a);
  }
  SortByNameAction = SortActions[0];
}

void TfmSearch::CreateLayout() {
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("pnlMain"));
  setCentralWidget(central);
  auto* mainLayout = new QVBoxLayout(central);
  mainLayout->setContentsMargins(0, 0, 0, 0);
  mainLayout->setSpacing(0);
  mainLayout->addWidget(CreateInputArea(central));
  CreateResultsArea(central, mainLayout);
  mainLayout->addWidget(CreateStatusBar(central));

  dlgSaveResults = new TSaveDialog(this, QStringLiteral("dlgSaveResults"));
  dlgSaveResults->SetDefaultExt(QStringLiteral("txt"));
  dlgSaveResults->SetFileName(QStringLiteral("search.txt"));

  // Handlers.
  // Enter starts the search. The combo box holds the focus and hands keys to its line edit
  // directly, so the filter sits on the combo box; the line edit keeps one too, for the case
  // that it holds the focus itself.
  for (QComboBox* combo : {static_cast<QComboBox*>(cbxTarget), static_cast<QComboBox*>(cbxExclude),
                           static_cast<QComboBox*>(cbxDirectory), cbxFolderSkip}) {
    combo->installEventFilter(this);
    if (combo->lineEdit()) combo->lineEdit()->installEventFilter(this);
  }
  // Every handler runs through RunHandler: a failure is shown from here, not thrown into Qt.
  const auto exclude = [this] { RunHandler([this] { ExcludeDataChange(); }); };
  connect(cbxTarget, &QComboBox::editTextChanged, this, exclude);
  connect(cbxExclude, &QComboBox::editTextChanged, this, exclude);
  connect(chkCaseSenstv, &QCheckBox::toggled, this, exclude);
  connect(chkRegExp, &QCheckBox::toggled, this, exclude);
  connect(memPatterns, &QPlainTextEdit::textChanged, this, [this] { RunHandler([this] { memWildcardsChange(); }); });
  for (TResultList* list : {lstResults, lstPreview}) {
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QWidget::customContextMenuRequested, this, [this, list](const QPoint& pos) {
      RunHandler([&] {
        FActiveList = list;
        ActionList1->UpdateAll();
        popResults->popup(list->mapToGlobal(pos));
      });
    });
  }
}

QWidget* TfmSearch::CreateInputArea(QWidget* central) {
  pnlTop = new QWidget(central);
  pnlTop->setObjectName(QStringLiteral("pnlTop"));
  auto* topLayout = new QHBoxLayout(pnlTop);
  topLayout->setContentsMargins(0, 0, 0, 0);
  splParams = new QSplitter(Qt::Horizontal, pnlTop);
  splParams->setObjectName(QStringLiteral("splParams"));
  splParams->setChildrenCollapsible(false);
  topLayout->addWidget(splParams);
  CreateParamsPanel();
  CreatePatternsPanel();
  splParams->addWidget(pnlParams);
  splParams->addWidget(pnlWildCards);
  splParams->setStretchFactor(0, 1);
  splParams->setStretchFactor(1, 0);
  pnlWildCards->resize(85, pnlWildCards->height());
  pnlTop->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
  return pnlTop;
}

// Inputs: tool bar, directory row, target and exclude, switches.
void TfmSearch::CreateParamsPanel() {
  pnlParams = new QWidget(splParams);
  pnlParams->setObjectName(QStringLiteral("pnlParams"));
  // No narrower than its inputs need (about 270 pixels): a set minimum would override that.
  auto* params = new QVBoxLayout(pnlParams);
  params->setContentsMargins(2, 0, 2, 2);
  params->setSpacing(2);
  params->addWidget(CreateMainToolBar());
  params->addLayout(CreateDirectoryRow());
  params->addWidget(CreateEditsRow());
  params->addWidget(CreateOptionsPanel());
  params->addStretch(1);
}

QToolBar* TfmSearch::CreateMainToolBar() {
  tbrMainButtons = new QToolBar(pnlParams);
  tbrMainButtons->setObjectName(QStringLiteral("tbrMainButtons"));
  tbrMainButtons->setIconSize(QSize(24, 24));
  tbrMainButtons->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  btnSearch = new QToolButton(tbrMainButtons);
  btnSearch->setObjectName(QStringLiteral("btnSearch"));
  btnSearch->setDefaultAction(acSearch);
  btnSearch->setIconSize(tbrMainButtons->iconSize());
  btnSearch->setToolButtonStyle(tbrMainButtons->toolButtonStyle());
  btnSearch->setMinimumWidth(64);
  btnSearch->setFocusPolicy(Qt::NoFocus);  // as the tool bar's other buttons
  btnSearch->setAutoRaise(true);
  connect(tbrMainButtons, &QToolBar::toolButtonStyleChanged, btnSearch, [this](Qt::ToolButtonStyle style) {
    btnSearch->setToolButtonStyle(style);
    FitSearchButton();
  });
  FitSearchButton();
  tbrMainButtons->addWidget(btnSearch);
  tbrMainButtons->addSeparator();
  tbrMainButtons->addAction(acSave);
  tbrMainButtons->addAction(acPrint);
  tbrMainButtons->addAction(acSetupPrinter);
  tbrMainButtons->addSeparator();
  tbrMainButtons->addAction(acViewLog);
  tbrMainButtons->widgetForAction(acSave)->setObjectName(QStringLiteral("ToolButton5"));
  tbrMainButtons->widgetForAction(acPrint)->setObjectName(QStringLiteral("ToolButton4"));
  tbrMainButtons->widgetForAction(acSetupPrinter)->setObjectName(QStringLiteral("ToolButton3"));
  tbrMainButtons->widgetForAction(acViewLog)->setObjectName(QStringLiteral("btnViewLog"));
  return tbrMainButtons;
}

QHBoxLayout* TfmSearch::CreateDirectoryRow() {
  auto* dirRow = new QHBoxLayout;
  dirRow->setSpacing(1);
  tbrSelectDirectory = new QToolBar(pnlParams);
  tbrSelectDirectory->setObjectName(QStringLiteral("tbrSelectDirectory"));
  tbrSelectDirectory->setIconSize(QSize(18, 18));
  tbrSelectDirectory->setStyleSheet(QStringLiteral("QToolBar { border: 0px; padding: 0px; }"));
  tbrSelectDirectory->addAction(acSelectDirectory);
  tbrSelectDirectory->widgetForAction(acSelectDirectory)->setObjectName(QStringLiteral("ToolButton1"));
  cbxDirectory = new TDirComboBox(pnlParams);
  cbxDirectory->setObjectName(QStringLiteral("cbxDirectory"));
  cbxDirectory->setMaxVisibleItems(20);
  dirRow->addWidget(tbrSelectDirectory);
  dirRow->addWidget(cbxDirectory, 1);
  return dirRow;
}

QWidget* TfmSearch::CreateEditsRow() {
  auto* pnlEdits = new QWidget(pnlParams);
  pnlEdits->setObjectName(QStringLiteral("pnlEdits"));
  auto* edits = new QHBoxLayout(pnlEdits);
  edits->setContentsMargins(0, 0, 0, 0);
  auto* pnlTarget = new QWidget(pnlEdits);
  pnlTarget->setObjectName(QStringLiteral("pnlTarget"));
  auto* targetRow = new QHBoxLayout(pnlTarget);
  targetRow->setContentsMargins(0, 0, 0, 0);
  Label1 = new QLabel(QString::fromUtf8(InputText::Target.Caption), pnlTarget);
  Label1->setObjectName(QStringLiteral("Label1"));
  cbxTarget = new QComboBox(pnlTarget);
  cbxTarget->setObjectName(QStringLiteral("cbxTarget"));
  MakeHistoryComboBox(cbxTarget);
  cbxTarget->setMaxVisibleItems(20);
  cbxTarget->setToolTip(QString::fromUtf8(InputText::Target.Hint));
  Label1->setBuddy(cbxTarget);
  targetRow->addWidget(Label1);
  targetRow->addWidget(cbxTarget, 1);
  auto* pnlExclude = new QWidget(pnlEdits);
  pnlExclude->setObjectName(QStringLiteral("pnlExclude"));
  auto* excludeRow = new QHBoxLayout(pnlExclude);
  excludeRow->setContentsMargins(0, 0, 0, 0);
  Label2 = new QLabel(QString::fromUtf8(InputText::Exclude.Caption), pnlExclude);
  Label2->setObjectName(QStringLiteral("Label2"));
  cbxExclude = new QComboBox(pnlExclude);
  cbxExclude->setObjectName(QStringLiteral("cbxExclude"));
  MakeHistoryComboBox(cbxExclude);
  cbxExclude->setMaxVisibleItems(20);
  cbxExclude->setToolTip(QString::fromUtf8(InputText::Exclude.Hint));
  Label2->setBuddy(cbxExclude);
  // How narrow a box may get does not depend on the length of its history: a long entry would
  // otherwise make the inputs wider than their panel, which then draws them over each other.
  for (QComboBox* combo : {static_cast<QComboBox*>(cbxDirectory), cbxTarget, cbxExclude}) {
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(4);
  }
  excludeRow->addWidget(Label2);
  excludeRow->addWidget(cbxExclude, 1);
  // The target takes half of the row, the exclude text the rest.
  edits->addWidget(pnlTarget, 1);
  edits->addWidget(pnlExclude, 1);
  return pnlEdits;
}

QWidget* TfmSearch::CreateOptionsPanel() {
  // Two rows of choices: how the target matches and what is searched, then what is left out.
  // A window too narrow for a row wraps it.
  auto* pnlOptions = new TFlowPanel(pnlParams);
  pnlOptions->setObjectName(QStringLiteral("pnlOptions"));
  const auto makeCheck = [pnlOptions](const char* name, const TInputText& text) {
    auto* check = new QCheckBox(QString::fromUtf8(text.Caption), pnlOptions);
    check->setObjectName(QString::fromUtf8(name));
    check->setToolTip(QString::fromUtf8(text.Hint));
    return check;
  };
  // Made in the order they read, which Tab follows.
  chkSubdirs = makeCheck("chkSubdirs", InputText::Subdirs);
  chkSubdirs->setChecked(true);
  chkCaseSenstv = makeCheck("chkCaseSenstv", InputText::CaseSensitive);
  chkWholeWord = makeCheck("chkWholeWord", InputText::WholeWord);
  chkRegExp = makeCheck("chkRegExp", InputText::RegExp);
  chkHidden = makeCheck("chkHidden", InputText::Hidden);
  chkBinarySkip = makeCheck("chkBinarySkip", InputText::BinarySkip);
  chkIgnored = makeCheck("chkIgnored", InputText::Ignored);
  // The folders to skip: the label stays with its box.
  auto* pnlFolderSkip = new QWidget(pnlOptions);
  pnlFolderSkip->setObjectName(QStringLiteral("pnlFolderSkip"));
  auto* folderSkip = new QHBoxLayout(pnlFolderSkip);
  folderSkip->setContentsMargins(0, 0, 0, 0);
  lblFolderSkip = new QLabel(QString::fromUtf8(InputText::FolderSkip.Caption), pnlFolderSkip);
  lblFolderSkip->setObjectName(QStringLiteral("lblFolderSkip"));
  cbxFolderSkip = new QComboBox(pnlFolderSkip);
  cbxFolderSkip->setObjectName(QStringLiteral("cbxFolderSkip"));
  cbxFolderSkip->setEditable(true);
  cbxFolderSkip->setInsertPolicy(QComboBox::NoInsert);
  cbxFolderSkip->setMaxVisibleItems(20);
  cbxFolderSkip->setToolTip(QString::fromUtf8(InputText::FolderSkip.Hint));
  cbxFolderSkip->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  cbxFolderSkip->setMinimumContentsLength(4);
  lblFolderSkip->setBuddy(cbxFolderSkip);
  folderSkip->addWidget(lblFolderSkip);
  folderSkip->addWidget(cbxFolderSkip, 1);
  for (QWidget* part : {static_cast<QWidget*>(chkSubdirs), static_cast<QWidget*>(chkCaseSenstv),
                        static_cast<QWidget*>(chkWholeWord), static_cast<QWidget*>(chkRegExp)})
    pnlOptions->Add(part);
  // Hidden files begins the second row: five choices do not fit the first row of the window at
  // its first size.
  pnlOptions->Add(chkHidden, true);
  pnlOptions->Add(chkBinarySkip);
  pnlOptions->Add(chkIgnored);
  pnlOptions->Add(pnlFolderSkip, false, true);
  return pnlOptions;
}

// The pattern list beside the inputs.
void TfmSearch::CreatePatternsPanel() {
  pnlWildCards = new QWidget(splParams);
  pnlWildCards->setObjectName(QStringLiteral("pnlWildCards"));
  pnlWildCards->setMinimumWidth(70);
  pnlWildCards->setToolTip(QString::fromUtf8(InputText::Patterns.Hint));
  auto* wild = new QVBoxLayout(pnlWildCards);
  wild->setContentsMargins(2, 2, 2, 2);
  wild->setSpacing(1);
  auto* wildHead = new QHBoxLayout;
  lblWildCard = new QLabel(QStringLiteral("&Patterns"), pnlWildCards);
  lblWildCard->setObjectName(QStringLiteral("lblWildCard"));
  lbWildCardCt = new QLabel(QStringLiteral("0"), pnlWildCards);
  lbWildCardCt->setObjectName(QStringLiteral("lbWildCardCt"));
  lbWildCardCt->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lbWildCardCt->setStyleSheet(QStringLiteral("color: rgb(0, 0, 255);"));
  wildHead->addWidget(lblWildCard);
  wildHead->addWidget(lbWildCardCt, 1);
  wild->addLayout(wildHead);
  memPatterns = new TWildCardMemo(pnlWildCards);
  memPatterns->setObjectName(QStringLiteral("memPatterns"));
  memPatterns->setToolTip(pnlWildCards->toolTip());
  memPatterns->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memPatterns->setPlainText(QStringLiteral("*.*"));
  lblWildCard->setBuddy(memPatterns);
  // The pattern list takes the height the inputs beside it need, never more: an edit
  // box's own preferred height would otherwise make the whole input area grow.
  memPatterns->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
  wild->addWidget(memPatterns, 1);
}

TStatusBar* TfmSearch::CreateStatusBar(QWidget* central) {
  StatusBar1 = new TStatusBar(central);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  const int widths[] = {10, 100, 40, 55, 70, 50, 50};
  for (int w : widths) StatusBar1->AddPanel(w);
  StatusBar1->Panel(1).SetText(QStringLiteral("Found in 0 of 0 files"));
  StatusBar1->Panel(2).SetText(QStringLiteral("Finds:"));
  StatusBar1->Panel(3).SetText(QStringLiteral("Selected:"));
  StatusBar1->Panel(4).SetText(QStringLiteral("Finds in line:"));
  for (int i = 1; i <= 4; ++i) FitPanelWidth(StatusBar1->Panel(i));
  StatusBar1->Panel(MessagePanel).SetOwnerDraw(true);
  StatusBar1->OnDrawPanel = [this](QPainter& p, int index, const QRect& r) {
    RunHandler([&] { DrawMessagePanel(p, index, r); });
  };
  return StatusBar1;
}

void TfmSearch::CreateMenus() {
  File1 = menuBar()->addMenu(QStringLiteral("&File"));
  Edit1 = menuBar()->addMenu(QStringLiteral("&Edit"));
  View1 = menuBar()->addMenu(QStringLiteral("&View"));
  Window1 = menuBar()->addMenu(QStringLiteral("&Window"));
  Help1 = menuBar()->addMenu(QStringLiteral("&Help"));
  File1->setObjectName(QStringLiteral("File1"));
  Edit1->setObjectName(QStringLiteral("Edit1"));
  View1->setObjectName(QStringLiteral("View1"));
  Window1->setObjectName(QStringLiteral("Window1"));
  Help1->setObjectName(QStringLiteral("Help1"));
  for (QMenu* menu : {File1, Edit1, View1, Help1}) AddCategoryActionsToMenu(menu, *ActionList1);
  popResults = new QMenu(this);
  popResults->setObjectName(QStringLiteral("popResults"));
  for (TAction* a : {acSave, acPrint, acFindsMemo, acFont, acOpen, acCopyLineToClipboard, acOpenInPreferredEditor,
                     acViewWholeFile, acExplore})
    popResults->addAction(a);
}

void TfmSearch::CreateSettings() {
  const IConfigPtr config = std::make_shared<TRegistryConfig>(SettingsRootKey());
  BindWindowSettings(config);
  LoadWindowSettings();
  FUsageLines = DesignUsageLines();
  LoadSearchInputs(config);
}

// The window's own settings: the results font, the histories and the sizes and choices of
// its parts, in its section of the store.
void TfmSearch::BindWindowSettings(const IConfigPtr& config) {
  SetOwnsCfgList(true);
  auto* list = new TBaseCfgList(config, objectName().toStdString());
  try {
    SetCfgList(list);
  } catch (...) {
    delete list;
    throw;
  }
  FAdapters->Target = TComboItems(cbxTarget);
  FAdapters->Exclude = TComboItems(cbxExclude);
  FAdapters->Directory = TComboItems(cbxDirectory);
  FAdapters->FolderSkip = TComboItems(cbxFolderSkip);
  list->CreateItem<TFontCfgElem>("lstResults.Font", FAdapters->FontAdapter);
  list->AddStrings(memPatterns->History(), "WildCardMemo.History");
  list->AddStrings(FAdapters->Target, "cbxTarget.Items");
  list->AddStrings(FAdapters->Exclude, "cbxExclude.Items");
  list->AddStrings(FAdapters->Directory, "cbxDirectory.Items");
  list->AddProp(TQtComponent::For(acHideResultLines), "Checked");
  list->AddProp(TQtComponent::For(pnlWildCards), "Width");
  list->AddProp(TQtComponent::For(dlgSaveResults), "FileName");
  list->AddProp(TQtComponent::For(pnlPreview), "Height");
  list->AddProp(TQtComponent::For(tbrMainButtons), "ShowCaptions");
  list->AddStrings(FAdapters->FolderSkip, "cbxFolderSkip.Items");
}

void TfmSearch::LoadWindowSettings() {
  // Loading a combo box's items must leave its text alone.
  QComboBox* const combos[] = {cbxTarget, cbxExclude, cbxDirectory, cbxFolderSkip};
  QStringList texts;
  for (QComboBox* combo : combos) texts << combo->currentText();
  CfgList()->LoadAll();
  for (int i = 0; i < texts.size(); ++i) combos[i]->setEditText(texts[i]);
  FPatternsWanted = std::max(70, pnlWildCards->width());
  FPreviewWanted = std::max(2, pnlPreview->height());
  splParams->setSizes({10000, FPatternsWanted});
  splListboxes->setSizes({10000, FPreviewWanted});
  // The pattern list and the preview keep the size the user gave them: a window made too small
  // for it squeezes them, and they get it back as soon as there is room again.
  connect(splParams, &QSplitter::splitterMoved, this, [this] { FPatternsWanted = pnlWildCards->width(); });
  connect(splListboxes, &QSplitter::splitterMoved, this, [this] { FPreviewWanted = pnlPreview->height(); });
  for (QSplitter* splitter : {splParams, splListboxes}) splitter->installEventFilter(this);
}

void TfmSearch::RestorePaneSizes() {
  const auto restore = [](QSplitter* splitter, int wanted, int othersMinimum) {
    const QList<int> sizes = splitter->sizes();
    if (sizes.size() != 2) return;
    const int total = sizes[0] + sizes[1];
    const int size = std::min(wanted, total - othersMinimum);
    if (size > sizes[1]) splitter->setSizes({total - size, size});
  };
  restore(splParams, FPatternsWanted, pnlParams->minimumSizeHint().width());
  restore(splListboxes, FPreviewWanted, lstResults->minimumHeight());
}

// The usage lines show the design values, before the last search or the switches apply.
std::vector<std::string> TfmSearch::DesignUsageLines() {
  TBaseCfgList usage(std::make_shared<TRegistryConfig>(SettingsRootKey()), objectName().toStdString());
  AddSearchInputElements(usage, SearchInputControls(true));
  return BuildUsageLines(
      usage, [this](const TBaseCfgElem& e) { return GetSwitchLabel(e); }, App()->ProgramName());
}

// The inputs of the last search, or those the program's switches give.
void TfmSearch::LoadSearchInputs(const IConfigPtr& config) {
  const std::vector<std::string>& args = App()->SearchArguments();
  FFromCommandLine = args.size() >= 2;
  FSearchCfgList = std::make_unique<TBaseCfgList>(config, objectName().toStdString());
  AddSearchInputElements(*FSearchCfgList, SearchInputControls(FFromCommandLine));
  if (FFromCommandLine) {
    try {
      ApplyCommandLine(*FSearchCfgList, args);
    } catch (const std::exception& e) {
      FCommandLineFailed = true;
      const QString message = QString::fromUtf8(e.what());
      QTimer::singleShot(0, this, [message] { ReportError(message); });
    }
  } else {
    FSearchCfgList->LoadAll();
    memPatterns->UseLastPatterns();
  }
}

TSearchInputControls TfmSearch::SearchInputControls(bool withPatterns) {
  return {&TQtComponent::For(cbxTarget),     &TQtComponent::For(cbxDirectory),
          withPatterns ? &memPatterns->LinesAdapter() : nullptr,
          &TQtComponent::For(cbxExclude),    &TQtComponent::For(chkSubdirs),
          &TQtComponent::For(chkCaseSenstv), &TQtComponent::For(chkWholeWord),
          &TQtComponent::For(chkRegExp),     &TQtComponent::For(chkHidden),     &TQtComponent::For(chkBinarySkip),
          &TQtComponent::For(cbxFolderSkip), &TQtComponent::For(chkIgnored)};
}

// ---- destruction -------------------------------------------------------------------------

TfmSearch::~TfmSearch() {
  if (ReplaceDialog) {
    // It waits for its worker, which reads these results; this window is past searching again.
    ReplaceDialog->OnDialogDestroyed = nullptr;
    delete ReplaceDialog.data();
  }
  if (SearchThread) {
    // The worker ends on its own; what it reads goes with it.
    SearchThread->Terminate();
    FRun->Window = nullptr;
    FRun->OrphanParams = std::move(SearchParams);
    FRun->OrphanMeasure = std::move(FMeasure);
    SearchThread = nullptr;
  }
  if (FRun) FRun->Window = nullptr;
  if (!FFromCommandLine) {
    try {
      FSearchCfgList->SaveAll();
    } catch (const std::exception& e) {
      ReportError(QString::fromUtf8(e.what()));
    }
  }
  lstResults->Clear();
  ClearPreview();
  SearchParams.reset();
  FSearchCfgList.reset();
  // What the settings keep is the size the user gave, not what a small window left of it.
  pnlWildCards->resize(std::max(pnlWildCards->width(), FPatternsWanted), pnlWildCards->height());
  pnlPreview->resize(pnlPreview->width(), std::max(pnlPreview->height(), FPreviewWanted));
  App()->WindowDestroyed(this);
  App()->UpdateWindowMenus();
  // The form base then saves the placement and the settings list.
}

// ---- IWindowMenuItem ---------------------------------------------------------------------

const QFont& TfmSearch::ResultsFont() const { return FResultsFont; }

QString TfmSearch::GetCaption() const { return WindowMenuCaption(FHasSearched, FLastTarget, FCaption, objectName()); }

void TfmSearch::SetCaption(const QString& caption) {
  FCaption = caption;
  setWindowTitle(App()->WindowTitle(FCaption));
}

void TfmSearch::ApplicationTitleChanged() { setWindowTitle(App()->WindowTitle(FCaption)); }

void TfmSearch::Activate() {
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}

// ---- inputs ------------------------------------------------------------------------------

void TfmSearch::ExcludeDataChange() {
  // A pattern to exclude always takes effect.
  const QColor color = chkRegExp->isChecked() ? QColor(0, 0, 255)
                                              : ExcludeColor(cbxTarget->currentText().toStdString(),
                                                             cbxExclude->currentText().toStdString(), chkCaseSenstv->isChecked());
  QPalette pal = cbxExclude->lineEdit()->palette();
  pal.setColor(QPalette::Text, color);
  cbxExclude->lineEdit()->setPalette(pal);
}

void TfmSearch::memWildcardsChange() { lbWildCardCt->setText(QString::number(memPatterns->LineCount())); }

bool TfmSearch::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == splParams || watched == splListboxes) && event->type() == QEvent::Resize) {
    // Once the splitter has shared out its new size.
    QMetaObject::invokeMethod(this, [this] { RestorePaneSizes(); }, Qt::QueuedConnection);
  }
  if (watched == lstPreview || watched == lblPreviewFile) {
    if (PreviewEvent(watched, event)) return true;
    return TfmGeneric::eventFilter(watched, event);
  }
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      acSearch->Execute();  // shows its own failures
      return true;
    }
  }
  return TfmGeneric::eventFilter(watched, event);
}

void TfmSearch::resizeEvent(QResizeEvent* event) {
  TfmGeneric::resizeEvent(event);
  lstResults->viewport()->update();
}

std::pair<std::string, std::string> TfmSearch::GetSwitchLabel(const TBaseCfgElem& element) const {
  QString label, hint;
  const QWidget* control = nullptr;
  if (element.Name() == "memPatterns.Lines") {
    control = memPatterns;
  } else if (const auto* prop = dynamic_cast<const TPropCfgElem*>(&element)) {
    if (const auto* component = dynamic_cast<const TQtComponent*>(&prop->Instance)) control = component->Widget();
  }
  if (control) {
    if (const auto* check = qobject_cast<const QCheckBox*>(control)) {
      label = check->text();
    } else {
      label = FindLabelText(control);
    }
    label = StripAccelerator(label);
    hint = control->toolTip();
  }
  std::string text = label.toStdString();
  if (text.empty()) text = ElementLabel(element);
  return {text, hint.toStdString()};
}

// ---- view --------------------------------------------------------------------------------

void TfmSearch::acShowCaptionsExecute() {
  const bool captions = tbrMainButtons->toolButtonStyle() == Qt::ToolButtonIconOnly;
  tbrMainButtons->setToolButtonStyle(captions ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
}

void TfmSearch::acReplaceExecute() {
  if (!SearchParams) return;
  ReplaceDialog = ShowReplaceDialog(this, *SearchParams, [this](TfmReplace& d) { ReplaceDialogDestroyed(d); });
}

void TfmSearch::ReplaceDialogDestroyed(TfmReplace& dialog) {
  // The files have changed: search again and show them as they are now.
  if (dialog.ReplaceStarted()) acSearch->Execute();
}

void TfmSearch::acViewLogExecute() {
  const bool created = ShowNMDialog(this, LogWindow);
  if (created) LogWindow->setWindowTitle(QStringLiteral("Error Log"));
  LogWindow->SetLines(FErrorLog);
  if (created) {
    LogWindow->WidenForLines();
    LogWindow->KeepOnScreen();
  }
}

}  // namespace trawlex
