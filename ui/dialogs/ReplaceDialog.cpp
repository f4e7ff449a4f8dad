#include "ui/dialogs/ReplaceDialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QPainter>
#include <QThread>
#include <QVBoxLayout>
#include <optional>

#include "config/CfgElements.h"
#include "engine/ChangeSet.h"
#include "engine/RegexMatcher.h"
#include "engine/RegexReplace.h"
#include "engine/ReplaceThread.h"
#include "engine/SearchParams.h"
#include "engine/UndoJournal.h"
#include "ui/Application.h"
#include "ui/dialogs/ChangesWindow.h"
#include "ui/MainThreadInvoker.h"
#include "ui/lists/PainterSurface.h"
#include "ui/services/UndoReplace.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

namespace {

constexpr int PanelHeight = 148;
constexpr int DesignWidth = 367;
constexpr int MinimumWidth = 265;

// A label whose text, when longer than the label, shows elided instead of cut off at the edge;
// its text() stays whole.
class TElidedLabel : public QLabel {
 public:
  TElidedLabel(QWidget* parent, Qt::TextElideMode mode) : QLabel(parent), Mode(mode) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // a long text never widens the window
    setTextFormat(Qt::PlainText);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QRect r = contentsRect();
    painter.drawText(r, static_cast<int>(alignment()), fontMetrics().elidedText(text(), Mode, r.width()));
  }

 private:
  Qt::TextElideMode Mode;
};

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, bool blue,
                 std::optional<Qt::TextElideMode> elide = std::nullopt) {
  QLabel* label = elide ? new TElidedLabel(parent, *elide) : new QLabel(text, parent);
  label->setText(text);
  label->setObjectName(QString::fromLatin1(name));
  if (blue) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, Qt::blue);
    label->setPalette(p);
  }
  return label;
}

}  // namespace

TfmReplace::TfmReplace(QWidget* owner) : TfmGeneric(owner), FHistoryItems(nullptr) {
  setObjectName(QStringLiteral("fmReplace"));
  setWindowTitle(QStringLiteral("Replace"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint);

  auto* central = new QWidget(this);
  setCentralWidget(central);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(CreatePanel(central));
  layout->addWidget(CreateErrorLog(central), 1);

  connect(btnReplace, &QPushButton::clicked, this, [this] { btnReplaceClick(); });
  connect(btnShowChanges, &QPushButton::clicked, this, [this] { btnShowChangesClick(); });
  connect(btnClose, &QPushButton::clicked, this, &QWidget::close);
  FormCreate();
}

// The panel of fixed height: the counts, the target, the replacement, the file being processed
// and the buttons, a row each.
QWidget* TfmReplace::CreatePanel(QWidget* central) {
  Panel1 = new QWidget(central);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFixedHeight(PanelHeight);
  auto* grid = new QGridLayout(Panel1);
  grid->setContentsMargins(8, 6, 8, 6);
  grid->setVerticalSpacing(4);
  grid->addLayout(CreateCountsRow(), 0, 0, 1, 2);
  grid->addLayout(CreateTargetRow(), 1, 0, 1, 2);
  CreateReplacementBox();
  grid->addWidget(Label4, 2, 0);
  grid->addWidget(cbxReplace, 2, 1);
  lblFileName = AddLabel(Panel1, "lblFileName", QString(), false, Qt::ElideMiddle);
  grid->addWidget(lblFileName, 3, 0, 1, 2);
  grid->addLayout(CreateButtonsRow(), 4, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  return Panel1;
}

QHBoxLayout* TfmReplace::CreateCountsRow() {
  Label1 = AddLabel(Panel1, "Label1", QStringLiteral("Total finds:"), false);
  lblTotalFinds = AddLabel(Panel1, "lblTotalFinds", QString(), true);
  Label3 = AddLabel(Panel1, "Label3", QStringLiteral("Selected finds:"), false);
  lblSelectedFinds = AddLabel(Panel1, "lblSelectedFinds", QString(), true);
  auto* counts = new QHBoxLayout;
  counts->addWidget(Label1);
  counts->addWidget(lblTotalFinds);
  counts->addSpacing(24);
  counts->addWidget(Label3);
  counts->addWidget(lblSelectedFinds);
  counts->addStretch();
  return counts;
}

QHBoxLayout* TfmReplace::CreateTargetRow() {
  Label2 = AddLabel(Panel1, "Label2", QStringLiteral("Replace selected instances of "), false);
  lblTarget = AddLabel(Panel1, "lblTarget", QString(), true, Qt::ElideRight);
  auto* target = new QHBoxLayout;
  target->setSpacing(0);
  target->addWidget(Label2);
  target->addWidget(lblTarget, 1);
  return target;
}

// "with" and the replacement with its history.
void TfmReplace::CreateReplacementBox() {
  Label4 = AddLabel(Panel1, "Label4", QStringLiteral("with"), false);
  cbxReplace = new QComboBox(Panel1);
  cbxReplace->setObjectName(QStringLiteral("cbxReplace"));
  MakeHistoryComboBox(cbxReplace);
  cbxReplace->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  Label4->setBuddy(cbxReplace);
}

QHBoxLayout* TfmReplace::CreateButtonsRow() {
  btnShowChanges = new QPushButton(QStringLiteral("Show changes"), Panel1);
  btnShowChanges->setObjectName(QStringLiteral("btnShowChanges"));
  btnShowChanges->setToolTip(QStringLiteral("Show what the replacement would change in each file, before anything is written"));
  btnReplace = new QPushButton(QStringLiteral("Replace"), Panel1);
  btnReplace->setObjectName(QStringLiteral("btnReplace"));
  btnClose = new QPushButton(QStringLiteral("Close"), Panel1);
  btnClose->setObjectName(QStringLiteral("btnClose"));
  for (QPushButton* b : {btnShowChanges, btnReplace, btnClose}) b->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnShowChanges);
  buttons->addStretch();
  buttons->addWidget(btnReplace);
  buttons->addWidget(btnClose);
  return buttons;
}

// Below the panel, shown with its first line.
QListWidget* TfmReplace::CreateErrorLog(QWidget* central) {
  lstErrorLog = new QListWidget(central);
  lstErrorLog->setObjectName(QStringLiteral("lstErrorLog"));
  // The log takes the height the window gives it, never more: its own wish is ignored.
  lstErrorLog->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
  lstErrorLog->hide();
  return lstErrorLog;
}

void TfmReplace::FormCreate() {
  FHistoryItems = TComboItems(cbxReplace);
  resize(DesignWidth, PanelHeight);
  FCollapsedHeight = PanelHeight;
  setMinimumWidth(MinimumWidth);
  setMinimumHeight(FCollapsedHeight);
  setMaximumHeight(FCollapsedHeight);
  lblFileName->clear();
  UpdateButtons();
  cbxReplace->setFocus();
}

// The history element needs the opener's list, which binding gives; LoadFinds comes after it.
void TfmReplace::LoadFinds(TSearchParams& params) {
  if (!FHistoryElem && CfgList()) {
    TStringsCfgElem& element = CfgList()->AddStrings(FHistoryItems, "cbxReplace.Items");
    FHistoryElem.reset(static_cast<TStringsCfgElem*>(CfgList()->Extract(element).release()));
    FHistoryElem->Load();
  }
  FParams = &params;
  lblTarget->setText(DisplayText(params.Target()));
  lblTarget->setToolTip(lblTarget->text());
  FPlan = PlanReplace(params);
  lblTotalFinds->setText(QString::number(FPlan.Counts.Total));
  lblSelectedFinds->setText(QString::number(FPlan.Counts.Selected));
  UpdateButtons();
  // What each find is now: the target, or for a regular expression its whole match.
  cbxReplace->setEditText(params.RegExp ? QStringLiteral("$0") : QString::fromStdString(params.Target()));
  cbxReplace->lineEdit()->selectAll();
}

TfmReplace::~TfmReplace() {
  StopAndWait();
  delete FChanges.data();
  if (FHistoryElem) {
    try {
      FHistoryElem->Save();
    } catch (const std::exception& e) {
      ReportError(QString::fromUtf8(e.what()));
    }
    FHistoryElem.reset();
  }
  if (OnDialogDestroyed) OnDialogDestroyed(*this);
  FPlan.Jobs.clear();
}

void TfmReplace::closeEvent(QCloseEvent* event) {
  StopAndWait();
  TfmGeneric::closeEvent(event);
}

void TfmReplace::keyPressEvent(QKeyEvent* event) {
  // Escape closes, as the Close button does, wherever the focus is in the dialog. It arrives
  // here only when no control took it: with the history list of "with" open, the list takes
  // it and closes, and the dialog stays.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  TfmGeneric::keyPressEvent(event);
}

void TfmReplace::StopAndWait() {
  if (!FWorker) return;
  FWorker->Terminate();
  // Only the invoker's calls run here (the worker's hand-over and its end notification), so
  // nothing else of the program happens in the middle of a close.
  QObject* invoker = &App()->Invoker();
  while (FWorker) {
    QCoreApplication::sendPostedEvents(invoker, 0);
    if (FWorker) QThread::msleep(1);
  }
}

void TfmReplace::UpdateButtons() {
  const TReplaceDialogState state{FPlan.Counts.Selected, FReplaceStarted, Running()};
  btnReplace->setEnabled(ReplaceEnabled(state));
  btnShowChanges->setEnabled(ShowChangesEnabled(state));
}

void TfmReplace::btnReplaceClick() {
  if (!ReplaceEnabled({FPlan.Counts.Selected, FReplaceStarted, Running()}) || !FParams) return;
  const std::string text = cbxReplace->currentText().toStdString();
  if (!ReplacementAccepted(text)) return;
  if (!OpenReplaceJournal(*FParams, FPlan.Jobs, text, FJournal)) return;
  FReplaceStarted = true;
  UpdateButtons();
  auto* worker = new TReplaceThread(App()->Invoker());
  worker->Params = FParams;
  worker->Jobs = &FPlan.Jobs;
  worker->ReplaceText = text;
  worker->Journal = FJournal.get();
  worker->OnLogLine = [this](const std::string& line) { AddLogLine(line); };
  worker->OnFileStarted = [this](const std::string& path) { ShowFileName(path); };
  worker->FreeOnTerminate = true;
  worker->OnTerminate = [this](TBaseThread& t) { ReplaceThreadDone(static_cast<TReplaceThread&>(t)); };
  FWorker = worker;
  worker->Start();
  if (KeepInHistory(text)) PushComboHistory(cbxReplace, ReplaceHistoryLimit);
}

bool TfmReplace::ReplacementAccepted(const std::string& text) {
  if (!FParams->RegExp || !FParams->Regex) return true;
  try {
    TRegexReplacement(text, *FParams->Regex->Target);
    return true;
  } catch (const ETrawlexError& e) {
    AddLogLine(std::string(e.what()) + "; nothing was replaced");
    return false;
  }
}

void TfmReplace::btnShowChangesClick() {
  if (!FParams || !ReplacementAccepted(cbxReplace->currentText().toStdString())) return;
  std::string changes;
  {
    TBusyCursor busy;
    changes = BuildChangeSet(*FParams, FPlan.Jobs, cbxReplace->currentText().toStdString()).Text;
  }
  if (!FChanges) FChanges = TfmGeneric::Create<TfmChanges>(this);
  FChanges->setWindowTitle(QStringLiteral("Changes: ") + DisplayText(FParams->Target()) + QStringLiteral(" \u2192 ") +
                           cbxReplace->currentText());
  FChanges->SetChanges(std::move(changes));
  FChanges->show();
  FChanges->raise();
  FChanges->activateWindow();
}

void TfmReplace::AddLogLine(const std::string& text) {
  if (const int grow = LogGrowth(lstErrorLog->count()); grow > 0) {
    lstErrorLog->show();
    setMaximumHeight(maximumHeight() + grow);
    resize(width(), height() + grow);
  }
  lstErrorLog->addItem(DisplayText(text));
  lstErrorLog->scrollToBottom();
}

void TfmReplace::ShowFileName(const std::string& text) { lblFileName->setText(DisplayText(text)); }

void TfmReplace::ReplaceThreadDone(TReplaceThread& worker) {
  std::string finished = FinishedText(worker.ReplacedCount());
  if (!worker.FatalError().empty()) AddLogLine(worker.FatalError());
  lblFileName->setText(QString::fromStdString(finished));
  CloseReplaceJournal(FJournal, [this](const std::string& line) { AddLogLine(line); });
  FWorker = nullptr;
  UpdateButtons();
}

TfmReplace* ShowReplaceDialog(QWidget* owner, TSearchParams& params, std::function<void(TfmReplace&)> onDestroyed) {
  TfmReplace* dialog = TfmGeneric::Create<TfmReplace>(owner);
  dialog->LoadFinds(params);
  dialog->OnDialogDestroyed = std::move(onDestroyed);
  dialog->setWindowModality(Qt::ApplicationModal);
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
  dialog->cbxReplace->setFocus();
  return dialog;
}

}  // namespace trawlex
