// The search window's output actions: the results report to a file or the printer, the finds
// memo, copying a line, selecting all finds, and the programs and windows a result opens in.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrinter>
#include <set>

#include "base/Errors.h"
#include "engine/Report.h"
#include "engine/SearchParams.h"
#include "platform/DurableFile.h"
#include "ui/Action.h"
#include "ui/controls/DirComboBox.h"
#include "ui/dialogs/MemoViewer.h"
#include "ui/lists/PainterSurface.h"
#include "ui/services/PreferredEditor.h"
#include "ui/lists/ResultList.h"
#include "ui/dialogs/SaveDialog.h"
#include "ui/search/SearchWindow.h"
#include "ui/services/ShellServices.h"
#include "ui/controls/StatusBar.h"
#include "ui/services/TextPrinter.h"
#include "ui/dialogs/ViewText.h"
#include "ui/controls/WildCardMemo.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

namespace {

QString PathText(const std::string& bytes) { return QFile::decodeName(QByteArray::fromStdString(bytes)); }

// Lets the window's Ctrl+U (Deselect All Finds) reach its action while an input field has the
// focus, as long as the action is enabled. Ctrl+A and Ctrl+C stay the field's own (select its
// text, copy its selection), as in every editor: taken by the window they made the next keys
// add to the old text, and so searched or replaced something nobody typed.
class TShortcutPrecedence : public QObject {
 public:
  TShortcutPrecedence(QObject* parent, std::vector<TAction*> actions) : QObject(parent), FActions(std::move(actions)) {}

  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::ShortcutOverride) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const QKeySequence pressed(key->keyCombination());
    for (TAction* a : FActions) {
      if (a->shortcut() != pressed) continue;
      a->Update();
      if (!a->isEnabled()) return false;
      event->ignore();  // not the field's: the shortcut map runs the window's action
      return true;
    }
    return false;
  }

 private:
  std::vector<TAction*> FActions;
};

}  // namespace

void TfmSearch::ConnectOutputActions() {
  acSave->OnExecute = [this](TAction&) { acSaveExecute(); };
  acPrint->OnExecute = [this](TAction&) { acPrintExecute(); };
  acSetupPrinter->OnExecute = [this](TAction&) { acSetupPrinterExecute(); };
  acFindsMemo->OnExecute = [this](TAction&) { acFindsMemoExecute(); };
  acCopyLineToClipboard->OnExecute = [this](TAction&) { acCopyLineToClipboardExecute(); };
  acSelectAllFinds->OnExecute = [this](TAction& a) { acSelectAllFindsExecute(a); };
  acDeselectAllFinds->OnExecute = [this](TAction& a) { acSelectAllFindsExecute(a); };
  acOpen->OnExecute = [this](TAction&) { acOpenExecute(); };
  acExplore->OnExecute = [this](TAction&) { acExploreExecute(); };
  acViewWholeFile->OnExecute = [this](TAction&) { acViewWholeFileExecute(); };
  acSetPreferredEditor->OnExecute = [this](TAction&) { acSetPreferredEditorExecute(); };
  acOpenInPreferredEditor->OnExecute = [this](TAction&) { acOpenInPreferredEditorExecute(); };

  auto* precedence = new TShortcutPrecedence(this, {acDeselectAllFinds});
  for (QComboBox* combo : {static_cast<QComboBox*>(cbxTarget), static_cast<QComboBox*>(cbxExclude),
                           static_cast<QComboBox*>(cbxDirectory)}) {
    combo->installEventFilter(precedence);
    if (combo->lineEdit()) combo->lineEdit()->installEventFilter(precedence);
  }
  memPatterns->installEventFilter(precedence);
}

// ---- the report --------------------------------------------------------------------------

std::vector<TfmSearch::TReportLine> TfmSearch::ReportLines() const {
  std::vector<TReportLine> lines;
  if (!SearchParams) return lines;
  const QByteArray found = StatusBar1->Panel(1).Text().toUtf8();
  const QByteArray finds = StatusBar1->Panel(2).Text().toUtf8();
  for (std::string& text : ReportHeaderLines(*SearchParams, found.toStdString(), finds.toStdString()))
    lines.push_back({std::move(text), TReportLine::TKind::Header});
  const TItemList& items = lstResults->Items();
  for (int row = 0; row < lstResults->Count(); ++row) {
    const TSearchResult* item = items[static_cast<size_t>(row)].Item;
    if (!item) continue;
    const bool file = dynamic_cast<const TSearchFile*>(item) != nullptr;
    lines.push_back({item->GetText(), file ? TReportLine::TKind::File : TReportLine::TKind::Line});
  }
  return lines;
}

void TfmSearch::WriteResults(const QString& fileName) {
  std::string content;
  for (const TReportLine& line : ReportLines()) {
    content += line.Text;
    content += "\r\n";
  }
  std::string error;
  if (!ReplaceFileContent(QFile::encodeName(fileName).toStdString(), content, error)) {
    throw ETrawlexError(Fmt("Cannot save results to %s: %s", fileName.toStdString(), error));
  }
}

void TfmSearch::WriteResults(QPrinter& printer) {
  TTextPrinter job(printer, QStringLiteral("Trawlex results"));
  QFont font = FResultsFont;
  const bool pictures = FontHasControlPictures(FResultsFont);
  for (const TReportLine& line : ReportLines()) {
    font.setItalic(line.Kind == TReportLine::TKind::Header);
    font.setBold(line.Kind == TReportLine::TKind::File);
    job.PrintLine(ShownText(line.Text, pictures), font);
  }
  job.EndDoc();
}

void TfmSearch::acSaveExecute() {
  SaveThroughDialog(*dlgSaveResults, [this](const QString& fileName) {
    TBusyCursor busy;
    WriteResults(fileName);
  });
}

void TfmSearch::acPrintExecute() {
  std::unique_ptr<QPrinter> printer = ChoosePrinter(App()->ChosenPrinter().get(), QStringLiteral("search"));
  if (!printer) return;
  TBusyCursor busy;
  WriteResults(*printer);
}

void TfmSearch::acSetupPrinterExecute() { ExecutePrinterSetup(this, App()->ChosenPrinter()); }

void TfmSearch::acFindsMemoExecute() {
  if (SearchParams) ShowFindsMemo(this, *SearchParams, FResultsFont, dlgSaveResults);
}

// ---- the selection -----------------------------------------------------------------------

TResultList* TfmSearch::ActiveList() const {
  auto* list = qobject_cast<TResultList*>(FActiveList);
  return list ? list : lstResults;
}

bool TfmSearch::GetSelectedLocation(QString& path, int32_t& lineNo) const {
  std::string bytes;
  if (!GetItemLocation(lstResults->ItemAt(lstResults->ItemIndex()), bytes, lineNo)) return false;
  path = PathText(bytes);
  return true;
}

void TfmSearch::acCopyLineToClipboardExecute() {
  TResultList* list = ActiveList();
  TSearchResult* item = list->ItemAt(list->ItemIndex());
  std::string text;
  if (const auto* line = dynamic_cast<const TSearchLine*>(item)) {
    text = line->Text();
  } else if (const auto* file = dynamic_cast<const TSearchFile*>(item)) {
    text = file->Name;
  }
  QApplication::clipboard()->setText(DisplayText(text));
}

void TfmSearch::acSelectAllFindsExecute(TAction& sender) {
  if (!SearchParams) return;
  TBusyCursor busy;
  const bool select = &sender == acSelectAllFinds;
  for (int32_t i = SearchParams->GetResultCount() - 1; i >= 0; --i) SearchParams->GetResult(i)->SelectAllFinds(select);
  SetSelectedFindCount(select ? FTotalFindCount : 0);
  // The preview follows: its file item is its own copy of the file, not one of the results.
  if (FPreviewFile) FPreviewFile->SelectAllFinds(select);
  lstPreview->viewport()->update();
  lstResults->viewport()->update();
}

// ---- programs and windows a result opens in ----------------------------------------------

void TfmSearch::ReportStartFailure(const QString& text) {
  SetStatusMessage(text);
  StatusBar1->update();
}

void TfmSearch::acOpenExecute() {
  QString path;
  int32_t line = 0;
  if (!GetSelectedLocation(path, line)) return;
  if (!ShellOpen(App()->Shell(), path)) ReportStartFailure(QStringLiteral("No application opens ") + path);
}

void TfmSearch::acExploreExecute() {
  QString path;
  int32_t line = 0;
  if (!GetSelectedLocation(path, line)) return;
  QPointer<TfmSearch> self(this);
  ExploreSelect(App()->Shell(), path, [self, path](bool ok) {
    if (!ok && self) self->ReportStartFailure(QStringLiteral("No file manager shows ") + path);
  });
}

void TfmSearch::acViewWholeFileExecute() {
  QString path;
  int32_t line = 0;
  if (!GetSelectedLocation(path, line)) return;
  ShowFileViewer(this, path, line + 1, &FResultsFont);
}

void TfmSearch::acSetPreferredEditorExecute() { ShowNMDialog(this, App()->PreferredEditorDialog()); }

void TfmSearch::acOpenInPreferredEditorExecute() {
  TAppSettings* settings = App()->Settings();
  if (!settings) return;
  TResultList* list = ActiveList();
  TSearchResult* item = list->ItemAt(list->ItemIndex());
  int line = 1;
  const TSearchFile* file = nullptr;
  if (const auto* l = dynamic_cast<const TSearchLine*>(item)) {
    file = l->File;
    line = l->GetLineNumber();
  } else {
    file = dynamic_cast<const TSearchFile*>(item);
  }
  if (!file) return;
  const QString editor = QString::fromStdString(settings->PreferredEditor->Value);
  const QStringList args =
      EditorArguments(QString::fromStdString(settings->EditorArgs->Value), line, PathText(file->Name));
  if (!App()->Shell().StartDetached(editor, args)) ReportStartFailure(QStringLiteral("Cannot start ") + editor);
}

}  // namespace trawlex
