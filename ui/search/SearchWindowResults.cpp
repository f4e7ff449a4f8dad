// The search window's results and preview: the results list, the status panels that describe
// the selected result, sorting and the "Show only filenames" view.
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QSplitter>
#include <QVBoxLayout>
#include <QPainter>
#include <QSignalBlocker>
#include <algorithm>

#include "base/TextUtils.h"
#include "engine/RegexMatcher.h"
#include "ui/Action.h"
#include "ui/controls/DirComboBox.h"
#include "ui/lists/ResultList.h"
#include "ui/search/SearchRules.h"
#include "ui/search/SearchWindowParts.h"
#include "ui/controls/StatusBar.h"
#include "ui/controls/WildCardMemo.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

namespace {

// A selected entry shows the full highlight only in the list with the focus, which is the one
// Ctrl+C copies from; in the other list it shows the inactive colour.
TDrawState SelectionState(const TResultList* list, bool selected) {
  if (!selected) return 0;
  return list->hasFocus() ? (odSelected | odFocused) : odSelected;
}

// What a screen reader adds to an entry's text: for a line, its file and which of its finds are
// marked for replacing; for a file, its finds and how many of them are marked.
QString EntryDescription(TSearchResult* item) {
  if (auto* line = dynamic_cast<TSearchLine*>(item)) {
    const int32_t n = line->GetFindCount();
    QStringList marked;
    for (int32_t k = 0; k < n; ++k) {
      if (line->GetFindSelected(k)) marked << QString::number(k + 1);
    }
    QString text = QStringLiteral("Line %1 of %2; ").arg(line->GetLineNumber()).arg(DisplayText(line->File->Name));
    if (marked.isEmpty()) return text + QStringLiteral("no find of %1 marked for replacing").arg(n);
    if (static_cast<int32_t>(marked.size()) == n) return text + QStringLiteral("all %1 finds marked for replacing").arg(n);
    return text + QStringLiteral("finds %1 of %2 marked for replacing").arg(marked.join(QStringLiteral(", "))).arg(n);
  }
  if (auto* file = dynamic_cast<TSearchFile*>(item)) {
    int32_t marked = 0;
    for (int32_t i = 0; i < file->GetLineCount(); ++i) {
      const TSearchLine* line = file->GetLine(i);
      for (int32_t k = 0; k < line->GetFindCount(); ++k) marked += line->GetFindSelected(k) ? 1 : 0;
    }
    return QStringLiteral("File with %1, %2 marked for replacing")
        .arg(QString::fromStdString(CountText(file->GetFindCount(), "find")))
        .arg(marked);
  }
  return QString();
}

// A deep selection colour, against which the find colours of a selected line stay readable
// (the desktop's lighter ones leave a find on the selected line barely visible).
void UseDeepSelectionColour(TResultList* list) {
  QPalette pal = list->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive}) {
    pal.setColor(group, QPalette::Highlight, QColor(0, 0, 128));
    pal.setColor(group, QPalette::HighlightedText, QColor(255, 255, 255));
  }
  list->setPalette(pal);
}

// What assistive tools read of an entry: its text and what EntryDescription adds.
void DescribeEntries(TResultList* list) {
  list->OnItemDescription = [list](int row) { return EntryDescription(list->ItemAt(row)); };
  list->OnItemText = [list](int row) {
    TSearchResult* item = list->ItemAt(row);
    if (auto* line = dynamic_cast<TSearchLine*>(item))
      return QString::number(line->GetLineNumber()) + QStringLiteral(": ") + DisplayText(line->Text());
    if (auto* file = dynamic_cast<TSearchFile*>(item)) return DisplayText(file->Name);
    return QString();
  };
}

}  // namespace

// ---- creation ----------------------------------------------------------------------------

// The results above the preview, split by a bar the user moves.
void TfmSearch::CreateResultsArea(QWidget* central, QVBoxLayout* mainLayout) {
  splListboxes = new QSplitter(Qt::Vertical, central);
  splListboxes->setObjectName(QStringLiteral("splListboxes"));
  splListboxes->setChildrenCollapsible(false);
  splListboxes->setToolTip(QStringLiteral("Hide or resize preview"));
  CreateResultsList();
  CreatePreviewPanel();
  splListboxes->addWidget(lstResults);
  splListboxes->addWidget(pnlPreview);
  splListboxes->setStretchFactor(0, 1);
  splListboxes->setStretchFactor(1, 0);
  pnlPreview->resize(pnlPreview->width(), 56);
  mainLayout->addWidget(splListboxes, 1);
  for (TResultList* list : {lstResults, lstPreview}) {
    UseDeepSelectionColour(list);
    DescribeEntries(list);
  }
  ConnectResultLists();
}

void TfmSearch::CreateResultsList() {
  lstResults = new TResultList(splListboxes);
  lstResults->setObjectName(QStringLiteral("lstResults"));
  lstResults->setAccessibleName(QStringLiteral("Results"));
  lstResults->setMinimumHeight(30);
  lstResults->OnDrawItem = [this](QPainter& p, int row, const QRect& r, bool sel) {
    RunHandler([&] { DrawResultItem(p, row, r, sel); });
  };
}

// The preview: its head, then the lines around the selected result.
void TfmSearch::CreatePreviewPanel() {
  pnlPreview = new QWidget(splListboxes);
  pnlPreview->setObjectName(QStringLiteral("pnlPreview"));
  auto* preview = new QVBoxLayout(pnlPreview);
  preview->setContentsMargins(0, 0, 0, 0);
  preview->setSpacing(0);
  preview->addWidget(CreatePreviewHead());
  lstPreview = new TResultList(pnlPreview);
  lstPreview->setObjectName(QStringLiteral("lstPreview"));
  lstPreview->setAccessibleName(QStringLiteral("Preview"));
  lstPreview->setMinimumHeight(2);
  lstPreview->OnDrawItem = [this](QPainter& p, int row, const QRect& r, bool sel) {
    TSearchResult* item = lstPreview->ItemAt(row);
    if (!item) return;
    RunHandler([&] {
      FDraw->SetPalette(lstPreview->palette());
      FDraw->Begin(&p);
      item->Draw(*FDraw, ToTRect(r), SelectionState(lstPreview, sel));
      FDraw->End();
    });
  };
  preview->addWidget(lstPreview, 1);
}

// The preview's head: the file's name in bold and its count of lines.
QWidget* TfmSearch::CreatePreviewHead() {
  auto* strip = new QWidget(pnlPreview);
  strip->setObjectName(QStringLiteral("Panel1"));
  auto* panel1 = new QHBoxLayout(strip);
  panel1->setContentsMargins(2, 0, 2, 0);
  lblPreviewFile = new QLabel(strip);
  lblPreviewFile->setObjectName(QStringLiteral("lblPreviewFile"));
  lblPreviewFile->setToolTip(QStringLiteral("Preview file"));
  QFont bold = lblPreviewFile->font();
  bold.setBold(true);
  lblPreviewFile->setFont(bold);
  lblLineCount = new QLabel(strip);
  lblLineCount->setObjectName(QStringLiteral("lblLineCount"));
  panel1->addWidget(lblPreviewFile);
  panel1->addWidget(lblLineCount, 1);
  strip->setFixedHeight(std::max(13, QFontMetrics(bold).height()));
  return strip;
}

void TfmSearch::ConnectResultLists() {
  connect(lstResults, &TResultList::SelectionChanged, this,
          [this] { RunHandler([this] { ShowResult(lstResults->ItemIndex()); }); });
  for (TResultList* list : {lstResults, lstPreview}) {
    connect(list, &TResultList::DoubleClicked, this,
            [this, list](const QPoint& pos) { RunHandler([&] { ListDoubleClicked(list, pos); }); });
  }
  connect(splListboxes, &QSplitter::splitterMoved, this, [this] { RunHandler([this] { RerunPreview(); }); });
  lstPreview->installEventFilter(this);
  lblPreviewFile->installEventFilter(this);
}

// ---- status and results ------------------------------------------------------------------

void TfmSearch::TakeResultItems(std::span<TSearchResult* const> items) {
  TItemList& shown = lstResults->Items();
  for (TSearchResult* item : items) shown.push_back({item});
}

void TfmSearch::SetStatusMessage(const QString& text) {
  FProgressMessagePending = false;  // a search's status text still to come is older than this
  StatusBar1->Panel(MessagePanel).SetText(text);
}

QString TfmSearch::StatusMessage() const { return StatusBar1->Panel(MessagePanel).Text(); }

QString TfmSearch::GetSearchProblem() const {
  const QString problem = SearchProblem(cbxTarget->currentText(), cbxDirectory->Exists(), memPatterns->LineCount());
  if (!problem.isEmpty() || !chkRegExp->isChecked()) return problem;
  // The patterns are compiled again only when they or the case rule change (this runs on idle).
  const QString key = cbxTarget->currentText() + QLatin1Char('\0') + cbxExclude->currentText() + QLatin1Char('\0') +
                      QLatin1Char(chkCaseSenstv->isChecked() ? '1' : '0');
  if (key != FRegexKey) {
    FRegexKey = key;
    FRegexProblem.clear();
    try {
      TRegexSearch(cbxTarget->currentText().toStdString(), cbxExclude->currentText().toStdString(),
                   chkCaseSenstv->isChecked(), chkWholeWord->isChecked());
    } catch (const ETrawlexError& e) {
      FRegexProblem = QString::fromUtf8(e.what());
    }
  }
  return FRegexProblem;
}

void TfmSearch::ClearResults() {
  FPreviewFailures.clear();
  StatusBar1->ResetRows();
  lstResults->Clear();
  lstResults->SetHorizontalExtent(0);
  FLinesExtent = -1;
  ClearPreview();  // its file refers to the parameters
  SearchParams.reset();
  SetPanelRightText(*StatusBar1, 4, QString());
  FTotalFindCount = 0;
  SetPanelNumber(*StatusBar1, 2, 0);
  SetSelectedFindCount(0);
  lblPreviewFile->clear();
  lblLineCount->clear();
}

void TfmSearch::SetSelectedFindCount(int n) {
  FSelectedFindCount = n;
  SetPanelNumber(*StatusBar1, 3, n);
}

void TfmSearch::DrawResultItem(QPainter& painter, int row, const QRect& rect, bool selected) {
  TSearchResult* item = lstResults->ItemAt(row);
  if (!item) return;
  FDraw->SetPalette(lstResults->palette());
  FDraw->Begin(&painter);
  // The entry reaches from the scrolled left edge to the visible right edge, where file items
  // show their size, time or finds.
  QRect r = rect;
  r.setRight(lstResults->viewport()->width() - 1);
  item->Draw(*FDraw, ToTRect(r), SelectionState(lstResults, selected));
  FDraw->End();
}

void TfmSearch::DrawMessagePanel(QPainter& painter, int index, const QRect& rect) {
  if (index != MessagePanel) return;
  painter.setFont(StatusBar1->font());
  painter.fillRect(rect, StatusBar1->palette().color(QPalette::Window));
  painter.setPen(FProblemShown ? QColor(255, 0, 0) : StatusBar1->palette().color(QPalette::WindowText));
  const QString text = StatusMessage();
  const QFontMetrics fm(StatusBar1->font());
  // The bar gives the message a row of its own when the counters leave too little room; a text
  // longer than even that (a deep path) loses its middle, keeping its start and its file name.
  const QRect r = rect.adjusted(3, 0, -3, 0);
  painter.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, fm.elidedText(text, Qt::ElideMiddle, r.width()));
}

void TfmSearch::ApplyResultsFont() {
  if (!lstResults) return;
  lstResults->setFont(FResultsFont);
  lstPreview->setFont(FResultsFont);
  if (FMeasure) FMeasure->SetFont(FResultsFont);
  FDraw->SetFont(FResultsFont);
  lstResults->SetItemHeight(QFontMetrics(FResultsFont).height());
  lstPreview->SetItemHeight(QFontMetrics(FResultsFont).height());
}

int TfmSearch::LargestItemWidth() {
  int width = 0;
  const int32_t lineNoWidth = SearchParams ? SearchParams->LineNoWidth() : 0;
  FDraw->Begin(nullptr);
  for (int i = 0; i < lstResults->Count(); ++i) {
    TSearchResult* item = lstResults->ItemAt(i);
    // Only a text that may be wider than the widest so far is measured.
    const auto* line = dynamic_cast<const TSearchLine*>(item);
    const auto* file = line ? nullptr : dynamic_cast<const TSearchFile*>(item);
    const int64_t bound = line   ? int64_t{FDraw->TextWidthBound(line->Text())} + lineNoWidth
                          : file ? int64_t{FDraw->TextWidthBound(file->Name)} + 2
                                 : 0;
    if (bound > width) width = std::max(width, static_cast<int>(item->GetWidth(*FDraw)));
  }
  FDraw->End();
  return width;
}

void TfmSearch::ShowResult(int row) {
  TSearchResult* item = lstResults->ItemAt(row);
  TSearchFile* file = item ? GetOwnerFile(item) : nullptr;
  if (!file) {
    lblPreviewFile->clear();
    lblLineCount->clear();
    return;
  }
  lblPreviewFile->setText(DisplayText(file->Name));
  const auto showCount = [this](int32_t lines) {
    lblLineCount->setText(QStringLiteral(" (") + QString::fromStdString(CountText(lines, "line")) + QLatin1Char(')'));
  };
  showCount(file->TotalLines.load());
  ShowFindCount(item);
  FPreviewEndsWithBreak = false;
  try {
    ShowPreview(item, false);
  } catch (...) {
    // A file that cannot be read (deleted since the search, say) is reported once: moving on
    // through its lines leaves the preview empty without a box per key.
    if (!FPreviewFailures.insert(file->Name).second) return;
    throw;
  }
  // The count is of the lines the preview can show: the empty rest after a file's closing line
  // break, which the file's own count includes, is none of them.
  if (FPreviewEndsWithBreak && file->TotalLines.load() > 1) showCount(file->TotalLines.load() - 1);
}

void TfmSearch::ShowFindCount(TSearchResult* item) {
  SetPanelText(*StatusBar1, 4,
               QString::fromStdString(Fmt("%s in %s: %d", "Finds", item->GetTypeName(), item->GetFindCount())));
}
// ---- view --------------------------------------------------------------------------------

void TfmSearch::SetSortOrder(int index) {
  FSortOrder = index;
  // The View menu shows the order in force from the start, "Full name" included.
  if (index >= 0 && index < static_cast<int>(SortActions.size())) SortActions[static_cast<size_t>(index)]->setChecked(true);
  if (SearchParams) SearchParams->SortKey = static_cast<uint8_t>(SortTable[index].Key);
  TStatusPanel& panel = StatusBar1->Panel(5);
  if (!SortPanelShown(SortTable[index].Key)) {
    panel.SetText(QString());
    panel.SetWidth(0);
  } else {
    SetPanelText(panel, QString::fromLatin1(SortTable[index].Name));
  }
}

void TfmSearch::SortActionExecute(TAction& a) {
  const int index = static_cast<int>(std::find(SortActions.begin(), SortActions.end(), &a) - SortActions.begin());
  a.setChecked(true);
  SetSortOrder(index);
  FillResults(true);
}

void TfmSearch::acChangeViewExecute(TAction& a) {
  // A checkable action has already changed its mark when it runs from a menu or button; the
  // rule runs the same either way: the mark as it now stands decides.
  // The sideways range follows what is listed now: file names only, or the lines too. The
  // range with the lines is kept, so that listing them again measures nothing.
  const bool hide = &a == acHideResultLines && a.isChecked();
  if (hide) FLinesExtent = lstResults->HorizontalExtent();
  FillResults(&a == acDescending);
  if (&a != acHideResultLines) return;
  if (hide || FLinesExtent < 0) {
    lstResults->SetHorizontalExtent(LargestItemWidth());
  } else {
    lstResults->SetHorizontalExtent(FLinesExtent);
  }
}

void TfmSearch::FillResults(bool sort) {
  if (!SearchParams) return;
  TBusyCursor busy;
  SearchParams->Descending = acDescending->isChecked();
  TSearchResult* selected = lstResults->ItemAt(lstResults->ItemIndex());
  TSearchFile* keep = selected ? GetOwnerFile(selected) : nullptr;
  if (sort) SearchParams->SortResults(CompareForSortKey(SortTable[FSortOrder].Key));
  const QSignalBlocker quiet(lstResults);
  lstResults->Clear();
  TItemList& items = lstResults->Items();
  const bool lines = !acHideResultLines->isChecked();
  int keepRow = -1;
  for (int32_t i = 0; i < SearchParams->GetResultCount(); ++i) {
    TSearchFile* file = SearchParams->GetResult(i);
    if (file == keep) keepRow = static_cast<int>(items.size());
    items.push_back({file});
    if (!lines) continue;
    // One lock per file, not one per line: a million lines are listed again in a blink.
    file->ForEachLine([&items](const TSearchLine& line) { items.push_back({const_cast<TSearchLine*>(&line)}); });
  }
  lstResults->SyncCount();
  lstResults->SetItemIndex(keepRow);
  lstResults->viewport()->update();
}

}  // namespace trawlex
