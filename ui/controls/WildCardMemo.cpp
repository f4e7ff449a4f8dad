#include "ui/controls/WildCardMemo.h"

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

namespace {
const char* const TagProperty = "trawlexTag";
const char* const CaptionProperty = "trawlexCaption";
}  // namespace

// ---- TMenuStrings --------------------------------------------------------------------------

TMenuStrings::TMenuStrings(QMenu* menu, std::function<void(QAction*)> onClick)
    : FMenu(menu), FOnClick(std::move(onClick)) {}

void TMenuStrings::CheckIndex(int index, int limit) const {
  if (index < 0 || index > limit) throw ETrawlexError(Fmt("List index out of bounds (%d)", index));
}

int TMenuStrings::Count() const { return static_cast<int>(FMenu->actions().size()); }

QAction* TMenuStrings::Item(int index) const {
  CheckIndex(index, Count() - 1);
  return FMenu->actions().at(index);
}

QString TMenuStrings::MenuCaption(const QString& text) {
  return QString(text).replace(QLatin1Char('&'), QLatin1String("&&"));
}

QString TMenuStrings::CaptionText(const QAction* item) { return item->property(CaptionProperty).toString(); }

QString TMenuStrings::Get(int index) const { return CaptionText(Item(index)); }

void TMenuStrings::Insert(int index, const QString& caption) {
  CheckIndex(index, Count());
  auto* item = new QAction(MenuCaption(caption), FMenu);
  item->setProperty(CaptionProperty, caption);
  item->setProperty(TagProperty, 0);
  if (FOnClick) {
    QObject::connect(item, &QAction::triggered, item, [this, item] { RunHandler([&] { FOnClick(item); }); });
  }
  const QList<QAction*> items = FMenu->actions();
  FMenu->insertAction(index < items.size() ? items.at(index) : nullptr, item);
}

void TMenuStrings::Delete(int index) {
  QAction* item = Item(index);
  FMenu->removeAction(item);
  delete item;
}

void TMenuStrings::Clear() {
  for (int i = Count() - 1; i >= 0; --i) Delete(i);
}

int TMenuStrings::IndexOf(const QString& caption) const {
  const QList<QAction*> items = FMenu->actions();
  for (int i = 0; i < items.size(); ++i) {
    if (CaptionText(items.at(i)).compare(caption, Qt::CaseInsensitive) == 0) return i;
  }
  return -1;
}

int TMenuStrings::IndexOfItem(const QAction* item) const { return static_cast<int>(FMenu->actions().indexOf(item)); }

void TMenuStrings::Move(int from, int to) {
  CheckIndex(to, Count() - 1);
  QAction* item = Item(from);
  if (from == to) return;
  // The item itself moves (caption, tag and handler with it): it may be the very item whose
  // click is being handled.
  FMenu->removeAction(item);
  const QList<QAction*> items = FMenu->actions();
  FMenu->insertAction(to < items.size() ? items.at(to) : nullptr, item);
}

int TMenuStrings::GetObject(int index) const { return Item(index)->property(TagProperty).toInt(); }

void TMenuStrings::PutObject(int index, int tag) { Item(index)->setProperty(TagProperty, tag); }

TStrings TMenuStrings::GetLines() const {
  TStrings lines;
  for (int i = 0; i < Count(); ++i) lines.push_back(Get(i).toStdString());
  return lines;
}

void TMenuStrings::SetLines(const TStrings& lines) {
  Clear();
  for (const std::string& l : lines) Add(QString::fromStdString(l));
}

// ---- TWildCardMemo -------------------------------------------------------------------------

TWildCardMemo::TWildCardMemo(QWidget* parent) : QPlainTextEdit(parent), FLines(this) {
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setTabChangesFocus(true);
  FHistoryMenu = new QMenu(this);
  FHistoryMenu->setObjectName(QStringLiteral("HistoryMenu"));
  FHistory = std::make_unique<TMenuStrings>(FHistoryMenu, [this](QAction* item) { HistoryClick(item); });
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (!FHistoryMenu->isEmpty()) FHistoryMenu->popup(viewport()->mapToGlobal(at));
  });
  if (parent) setPlainText(QStringLiteral("*.*"));
}

bool TWildCardMemo::event(QEvent* e) {
  // A control given a parent shows the default pattern set.
  if (e->type() == QEvent::ParentChange && parentWidget()) setPlainText(QStringLiteral("*.*"));
  return QPlainTextEdit::event(e);
}

int TWildCardMemo::LineCount() const { return static_cast<int>(FLines.GetLines().size()); }

QString TWildCardMemo::GetPatternsText() const { return QString::fromStdString(StringsToText(FLines.GetLines())); }

void TWildCardMemo::SetPatternsText(const QString& text) {
  TStrings lines;
  TextToStrings(text.toStdString(), lines);
  FLines.SetLines(lines);
}

void TWildCardMemo::AddToHistory() {
  const QString s = GetPatternsText();
  const int found = FHistory->IndexOf(s);
  if (found < 0) {
    FHistory->Insert(0, s);
  } else {
    FHistory->Move(found, 0);
  }
  // Also cuts back a history that came longer than the limit from a settings file.
  while (FHistory->Count() > HistoryLimit) FHistory->Delete(FHistory->Count() - 1);
}

void TWildCardMemo::UseLastPatterns() {
  if (FHistory->Count() > 0) SetPatternsText(FHistory->Get(0));
}

void TWildCardMemo::HistoryClick(QAction* item) {
  const int index = FHistory->IndexOfItem(item);
  if (index < 0) return;
  SetPatternsText(TMenuStrings::CaptionText(item));
  FHistory->Move(index, 0);
  if (OnUsePrevious) OnUsePrevious(*this);
}

}  // namespace trawlex
