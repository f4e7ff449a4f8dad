#include "ui/dialogs/ListForm.h"

#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QPrinter>
#include <QVBoxLayout>

#include "base/Errors.h"
#include "platform/DurableFile.h"
#include "ui/ActionList.h"
#include "ui/Application.h"
#include "ui/lists/ListBox.h"
#include "ui/dialogs/SaveDialog.h"
#include "ui/controls/StatusBar.h"
#include "ui/services/TextPrinter.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

TListForm::TListForm(QWidget* owner) : TfmNMDialog(owner) {
  setObjectName(QStringLiteral("ListForm"));
  setWindowTitle(QStringLiteral("ListForm"));
  resize(224, 363);

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  ListBox1 = new TListBox(central);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBox1->SetItemHeight(std::max(14, QFontMetrics(ListBox1->font()).height()));
  StatusBar1 = new TStatusBar(central);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->AddPanel(28, Qt::AlignRight);
  StatusBar1->AddPanel(50);
  layout->addWidget(ListBox1, 1);
  layout->addWidget(StatusBar1);
  setCentralWidget(central);

  ActionList1 = new TActionList(this);
  ActionList1->setObjectName(QStringLiteral("ActionList1"));
  auto hasLines = [this] { return LineCount() > 0; };
  acClear = ActionList1->Add(QStringLiteral("acClear"), QStringLiteral("Clear"));
  acClear->SetEnabledRule(hasLines);
  acClear->OnExecute = [this](TAction&) { ListBox1->clear(); };
  acPrint = ActionList1->Add(QStringLiteral("acPrint"), QStringLiteral("Print"));
  acPrint->SetEnabledRule(hasLines);
  acPrint->OnExecute = [this](TAction&) {
    std::unique_ptr<QPrinter> printer = ChoosePrinter(App() ? App()->ChosenPrinter().get() : nullptr, windowTitle());
    if (printer) PrintTo(*printer);
  };
  acSave = ActionList1->Add(QStringLiteral("acSave"), QStringLiteral("Save..."), {}, {},
                            QStringLiteral("Save list lines to file"));
  acSave->SetEnabledRule(hasLines);
  acSave->OnExecute = [this](TAction&) {
    SaveThroughDialog(*SaveDialog1, [this](const QString& fileName) { SaveTo(fileName); });
  };
  acIncreaseColumns = ActionList1->Add(QStringLiteral("acIncreaseColumns"), QStringLiteral("Increase Columns"));
  acIncreaseColumns->OnExecute = [this](TAction& a) { ChangeColumnsExecute(a); };
  acDecreaseColumns = ActionList1->Add(QStringLiteral("acDecreaseColumns"), QStringLiteral("Decrease Columns"));
  acDecreaseColumns->SetEnabledRule([this] { return ColumnCount() > 1; });
  acDecreaseColumns->OnExecute = [this](TAction& a) { ChangeColumnsExecute(a); };

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  FillPopupFromActions(PopupMenu1, *ActionList1);
  // The shortcuts of the actions work anywhere in the window.
  addActions(PopupMenu1->actions());
  ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ListBox1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu1->popup(ListBox1->viewport()->mapToGlobal(at)); });

  SaveDialog1 = new TSaveDialog(this, QStringLiteral("SaveDialog1"));
  SaveDialog1->SetFilter(QStringLiteral("Text files (*.txt)|*.txt|All files (*.*)|*.*"));
  SaveDialog1->SetDefaultExt(QStringLiteral("txt"));
  ActionList1->UpdateAll();
}

void TListForm::AddLine(const QString& text, const std::optional<QFont>& font) {
  auto* item = new QListWidgetItem(text);
  if (font) item->setData(TListBox::FontRole, *font);
  ListBox1->addItem(item);
}

void TListForm::SetLines(const QStringList& lines) {
  ListBox1->clear();
  ListBox1->addItems(lines);
}

QStringList TListForm::Lines() const {
  QStringList lines;
  for (int i = 0; i < ListBox1->count(); ++i) lines << ListBox1->item(i)->text();
  return lines;
}

int TListForm::LineCount() const { return ListBox1->count(); }

void TListForm::WidenForLines() {
  int widest = 0;
  for (int row = 0; row < ListBox1->count(); ++row)
    widest = std::max(widest, QFontMetrics(ListBox1->ItemFont(row)).horizontalAdvance(ListBox1->item(row)->text()));
  // The list's frame and its vertical scroll bar come on top of the text.
  const int chrome = 2 * ListBox1->frameWidth() + ListBox1->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 8;
  int wanted = widest + chrome;
  if (const QScreen* s = screen()) wanted = std::min(wanted, s->availableGeometry().width() * 9 / 10);
  if (wanted > width()) resize(wanted, height());
}

int TListForm::ColumnCount() const { return ListBox1->Columns(); }

void TListForm::SetColumnCount(int count) {
  ListBox1->SetColumns(count);
  StatusBar1->Panel(0).SetText(QString::number(ListBox1->Columns()));
}

void TListForm::ChangeColumnsExecute(TAction& sender) {
  SetColumnCount(ColumnCount() + (&sender == acIncreaseColumns ? 1 : -1));
}

void TListForm::PrintTo(QPrinter& printer) {
  TBusyCursor busy;
  TTextPrinter job(printer, windowTitle());
  for (int i = 0; i < ListBox1->count(); ++i) job.PrintLine(ListBox1->item(i)->text(), ListBox1->ItemFont(i));
  job.EndDoc();
}

void TListForm::SaveTo(const QString& fileName) {
  std::string content;
  for (const QString& line : Lines()) {
    content += line.toStdString();
    content += "\r\n";
  }
  std::string error;
  if (!ReplaceFileContent(fileName.toStdString(), content, error)) {
    throw ETrawlexError(Fmt("Cannot save %s: %s", fileName.toStdString(), error));
  }
}

}  // namespace trawlex
