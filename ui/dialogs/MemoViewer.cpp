#include "ui/dialogs/MemoViewer.h"

#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QTextBlock>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "base/Errors.h"
#include "engine/SearchParams.h"
#include "platform/DurableFile.h"
#include "ui/Application.h"
#include "ui/Glyphs.h"
#include "ui/lists/PainterSurface.h"
#include "ui/dialogs/SaveDialog.h"
#include "ui/controls/StatusBar.h"
#include "ui/services/TextPrinter.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

TfmMemoViewer::TfmMemoViewer(QWidget* owner) : TfmGeneric(owner) {
  setObjectName(QStringLiteral("fmMemoViewer"));
  setWindowTitle(QStringLiteral("Memo view"));
  resize(515, 540);
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* bar = new QToolBar(central);
  bar->setIconSize(QSize(20, 20));
  btnPrint = new QToolButton(bar);
  btnPrint->setObjectName(QStringLiteral("btnPrint"));
  btnPrint->setIcon(MakeIcon(TGlyph::Print));
  btnPrint->setToolTip(QStringLiteral("Print contents of results memo"));
  btnPrint->setFocusPolicy(Qt::NoFocus);
  btnSave = new QToolButton(bar);
  btnSave->setObjectName(QStringLiteral("btnSave"));
  btnSave->setIcon(MakeIcon(TGlyph::Save));
  btnSave->setToolTip(QStringLiteral("Save contents of results memo to file"));
  btnSave->setFocusPolicy(Qt::NoFocus);
  bar->addWidget(btnPrint);
  bar->addWidget(btnSave);
  Memo = new QPlainTextEdit(central);
  Memo->setObjectName(QStringLiteral("Memo"));
  Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  StatusBar1 = new TStatusBar(central);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  // The labels' design widths are those of a smaller font: they take what their texts need.
  SetPanelText(StatusBar1->AddPanel(32), QStringLiteral("Lines"));
  StatusBar1->AddPanel(48, Qt::AlignRight);
  SetPanelText(StatusBar1->AddPanel(34), QStringLiteral("Bytes"));
  StatusBar1->AddPanel(52, Qt::AlignRight);
  StatusBar1->AddPanel(50);
  layout->addWidget(bar);
  layout->addWidget(Memo, 1);
  layout->addWidget(StatusBar1);
  setCentralWidget(central);

  connect(Memo, &QPlainTextEdit::textChanged, this, [this] { RunHandler([this] { MemoChange(); }); });
  connect(btnSave, &QToolButton::clicked, this, [this] { RunHandler([this] { btnSaveClick(); }); });
  connect(btnPrint, &QToolButton::clicked, this, [this] { RunHandler([this] { btnPrintClick(); }); });
  Memo->installEventFilter(this);
  MemoChange();
}

void TfmMemoViewer::SetResults(const TSearchParams& params) {
  QStringList lines;
  for (int32_t i = 0; i < params.GetResultCount(); ++i) {
    const TSearchFile* file = params.GetResult(i);
    lines << DisplayText(file->GetText());
    for (int32_t k = 0; k < file->GetLineCount(); ++k) lines << DisplayText(file->GetLine(k)->GetText());
  }
  Memo->setPlainText(lines.join(QLatin1Char('\n')));
}

QStringList TfmMemoViewer::Lines() const {
  const QString text = Memo->toPlainText();
  if (text.isEmpty()) return {};
  return text.split(QLatin1Char('\n'));
}

qint64 TfmMemoViewer::ByteCount() const {
  qint64 n = 0;
  for (const QString& line : Lines()) n += line.toUtf8().size() + 2;
  return n;
}

void TfmMemoViewer::MemoChange() {
  StatusBar1->Panel(1).SetText(QString::number(Lines().size()));
  StatusBar1->Panel(3).SetText(QString::number(ByteCount()));
}

void TfmMemoViewer::DeleteCaretLine() {
  QTextCursor cursor = Memo->textCursor();
  if (cursor.hasSelection()) return;
  const QTextBlock block = cursor.block();
  cursor.beginEditBlock();
  if (block.next().isValid()) {
    // The line and its line break.
    cursor.setPosition(block.position());
    cursor.setPosition(block.next().position(), QTextCursor::KeepAnchor);
  } else if (block.previous().isValid()) {
    // The last line and the line break before it.
    cursor.setPosition(block.previous().position() + block.previous().length() - 1);
    cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
  } else {
    cursor.select(QTextCursor::Document);
  }
  cursor.removeSelectedText();
  cursor.endEditBlock();
  Memo->setTextCursor(cursor);
}

bool TfmMemoViewer::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Memo && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease ||
                          event->type() == QEvent::ShortcutOverride)) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (key->key() == Qt::Key_Y && mods == Qt::ControlModifier) {
      // Ctrl+Y is this window's "delete line"; the edit's own use of it (redo) is left out.
      if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
      } else if (event->type() == QEvent::KeyRelease) {
        RunHandler([this] { DeleteCaretLine(); });
      }
      return true;
    }
  }
  return TfmGeneric::eventFilter(watched, event);
}

void TfmMemoViewer::SaveTo(const QString& fileName) {
  std::string content;
  for (const QString& line : Lines()) {
    content += line.toStdString();
    content += "\r\n";
  }
  std::string error;
  if (!ReplaceFileContent(QFile::encodeName(fileName).toStdString(), content, error)) {
    throw ETrawlexError(Fmt("Cannot save %s: %s", fileName.toStdString(), error));
  }
}

void TfmMemoViewer::PrintTo(QPrinter& printer) {
  TBusyCursor busy;
  TTextPrinter job(printer, windowTitle());
  QFont font = Memo->font();
  font.setBold(false);
  font.setItalic(false);
  for (const QString& line : Lines()) job.PrintLine(line, font);
  job.EndDoc();
}

void TfmMemoViewer::btnSaveClick() {
  if (!FSaveDialog) return;
  SaveThroughDialog(*FSaveDialog, [this](const QString& fileName) { SaveTo(fileName); });
}

void TfmMemoViewer::btnPrintClick() {
  std::unique_ptr<QPrinter> printer = ChoosePrinter(App() ? App()->ChosenPrinter().get() : nullptr, windowTitle());
  if (printer) PrintTo(*printer);
}

TfmMemoViewer* ShowFindsMemo(QWidget* owner, const TSearchParams& params, const QFont& font, TSaveDialog* dialog) {
  auto* memo = TfmGeneric::Create<TfmMemoViewer>(owner);
  memo->Memo->setFont(font);
  memo->SetResults(params);
  memo->SetSaveDialog(dialog);
  memo->show();
  memo->Memo->setFocus();
  return memo;
}

}  // namespace trawlex
