// The search window's preview: the lines around the selected result, read afresh from its file
// with the finds marked and the same find selection; scrolling past either end of the preview;
// toggling a find by double-click in either list; the results font.
#include <QFontDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QScrollBar>
#include <QSplitter>
#include <algorithm>

#include "engine/RangeProcessor.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "ui/Action.h"
#include "ui/lists/ResultList.h"
#include "ui/search/SearchWindowParts.h"
#include "ui/controls/StatusBar.h"
#include "ui/dialogs/TabDisplayDialog.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

namespace {

// The font dialog has no switch for its style list or its effects, neither of which is taken:
// the list, its caption and its edit field, which share one column of the dialog's grid, and
// the effects box are hidden.
void HideFontStyleChoice(QFontDialog& dialog) {
  for (QGroupBox* box : dialog.findChildren<QGroupBox*>()) {
    const QString title = StripAccelerator(box->title());
    if (title.compare(QStringLiteral("Effects"), Qt::CaseInsensitive) == 0) box->hide();
    // The sample keeps the height it had beside the effects, so that its text shows.
    if (title.compare(QStringLiteral("Sample"), Qt::CaseInsensitive) == 0) box->setMinimumHeight(5 * box->fontMetrics().height());
  }
  for (QLabel* label : dialog.findChildren<QLabel*>()) {
    QWidget* list = label->buddy();
    if (!list || StripAccelerator(label->text()).compare(QStringLiteral("Font style"), Qt::CaseInsensitive) != 0) continue;
    for (QGridLayout* grid : dialog.findChildren<QGridLayout*>()) {
      const int index = grid->indexOf(list);
      if (index < 0) continue;
      int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
      grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
      // Only the pieces of that column down to the list: the sample and the buttons below
      // span several columns.
      for (int i = 0; i < grid->count(); ++i) {
        int r = 0, c = 0, rs = 0, cs = 0;
        grid->getItemPosition(i, &r, &c, &rs, &cs);
        if (c == column && cs == 1 && r <= row && grid->itemAt(i)->widget()) grid->itemAt(i)->widget()->hide();
      }
      return;
    }
  }
}

// A stretch of whole lines of a file: from the start of its first line to the end of its last,
// and the number of its first line.
struct TPreviewRange {
  int32_t Start, End;
  int64_t FirstLineNo;
};

// Up to `lines` lines around the line that starts at `lineStart` (line `lineNo`). The range
// grows one line at a time, forward and backward in turn, forward first. Forward means to the
// start of a following line; the empty rest after a file's last line break is no line the
// preview shows, so a range at the end grows backward only.
TPreviewRange PreviewRange(const TRangeProcessor& m, int32_t lineStart, int64_t lineNo, int lines) {
  const auto size = static_cast<int32_t>(m.Size);
  int32_t end = lineStart, start = lineStart;
  int64_t firstLineNo = lineNo;
  bool forward = true;
  for (int i = 1; i < lines; forward = !forward) {
    const int32_t next = end < size - 1 ? m.GetNextLineStart(end) : size;
    const bool canForward = next < size && m.IsLineBreak(next - 1);
    if (!canForward && start <= 0) break;
    if (forward) {
      if (canForward) {
        end = next;
        ++i;
      }
    } else if (start > 0) {
      start = m.GetPrevLineStart(start);
      ++i;
      --firstLineNo;
    }
  }
  if (!m.IsLineBreak(end)) end = m.GetLineEnd(end);
  return {start, end, firstLineNo};
}

}  // namespace

QFont FamilyAndSize(const QFont& chosen, const QFont& previous) {
  QFont font(chosen.family());
  if (previous.pixelSize() > 0 && chosen.pixelSize() > 0) {
    font.setPixelSize(chosen.pixelSize());
  } else if (chosen.pointSizeF() > 0) {
    font.setPointSizeF(chosen.pointSizeF());
  } else if (chosen.pixelSize() > 0) {
    font.setPixelSize(chosen.pixelSize());
  }
  return font;
}

int TfmSearch::VisiblePreviewLines() const {
  // A line wider than the list brings a scroll bar below the lines, which covers what is there.
  // (The list shows or hides it only once events run; its range says whether it will show.)
  const QScrollBar* bar = lstPreview->horizontalScrollBar();
  const bool shown = lstPreview->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn ||
                     (lstPreview->horizontalScrollBarPolicy() == Qt::ScrollBarAsNeeded && bar->maximum() > bar->minimum());
  return (lstPreview->height() - 4 - (shown ? bar->sizeHint().height() : 0)) / lstPreview->ItemHeight();
}

void TfmSearch::ClearPreview() {
  lstPreview->SetHorizontalExtent(0);
  lstPreview->Clear();
  FPreviewFile.reset();
}

void TfmSearch::ShowPreview(TSearchResult* item, bool keepSelection) {
  const int n = FitPreviewToWholeLines();
  if (n <= 0 || !SearchParams) return;
  TSearchFile* owner = GetOwnerFile(item);
  if (!owner) return;
  // Read before the preview is cleared: `item` may be one of the preview's own lines.
  const std::string path = owner->Name;
  auto* line = dynamic_cast<TSearchLine*>(item);
  FPreviewLine = line ? line->LineNo() : 0;
  const int64_t lineStart = line ? line->LineStart() : 0;
  int64_t selectLineNo = FPreviewLine;
  if (keepSelection) {
    auto* shown = dynamic_cast<TSearchLine*>(lstPreview->ItemAt(lstPreview->ItemIndex()));
    selectLineNo = shown ? shown->LineNo() : -1;
  }
  ClearPreview();
  ReadPreviewFile(path, lineStart, n);
  FillPreview(selectLineNo);
  // A line too wide for the list brought the scroll bar, and with it the lines no longer fit.
  int fit = VisiblePreviewLines();
  if (fit == 0 && lstPreview->Count() > 0) {
    // Not even one line above the bar: the preview grows by what the bar took, where it can.
    const QScrollBar* bar = lstPreview->horizontalScrollBar();
    const int grow = lstPreview->ItemHeight() + 4 + bar->sizeHint().height() - lstPreview->height();
    const QList<int> sizes = splListboxes->sizes();
    if (grow > 0 && sizes[0] - grow >= lstResults->minimumHeight()) splListboxes->setSizes({sizes[0] - grow, sizes[1] + grow});
    fit = VisiblePreviewLines();
  }
  if (fit > 0 && fit < lstPreview->Count()) {  // fewer lines
    ClearPreview();
    ReadPreviewFile(path, lineStart, fit);
    FillPreview(selectLineNo);
  }
  if (TSearchResult* selected = lstResults->ItemAt(lstResults->ItemIndex())) {
    if (TSearchFile* owner = GetOwnerFile(selected)) FPreviewFile->CopyFindSelection(*owner);
  }
}

// The preview shows whole lines: its panel takes the height of as many as fit, which this
// returns.
int TfmSearch::FitPreviewToWholeLines() {
  lstPreview->SetItemHeight(QFontMetrics(FResultsFont).height());
  const int n = (lstPreview->height() - 4) / lstPreview->ItemHeight();  // without a scroll bar
  const int height = n * lstPreview->ItemHeight() + (pnlPreview->height() - lstPreview->height()) + 4;
  if (n > 0 && height != pnlPreview->height()) {
    // Unless a small window squeezes it, the preview's whole lines are the size it keeps.
    if (pnlPreview->height() >= FPreviewWanted) FPreviewWanted = height;
    const QList<int> sizes = splListboxes->sizes();
    splListboxes->setSizes({sizes[0] + sizes[1] - height, height});
  }
  return n;
}

// FPreviewFile becomes `lines` lines of `path` around the line that starts at `lineStart`
// (line FPreviewLine), read afresh with their finds.
void TfmSearch::ReadPreviewFile(const std::string& path, int64_t lineStart, int lines) {
  FPreviewFile = std::make_unique<TSearchFile>(SearchParams.get());
  FPreviewFile->Name = path;
  TRangeProcessor m(SearchParams.get());
  try {
    LoadPreviewFile(m, lineStart);
  } catch (...) {
    FPreviewFile.reset();  // the file can no longer be read: the preview stays empty
    throw;
  }
  FPreviewEndsWithBreak = m.FileEndsWithBreak;
  const TPreviewRange range = PreviewRange(m, HeldPosition(m, lineStart), FPreviewLine, lines);
  m.LineNo = range.FirstLineNo;
  m.Modes.AllLines = true;
  m.Process(range.Start, range.End);
}

// A small file is read whole; of a large one only the lines around file position `around`,
// so that moving through its results reads little of it each time.
void TfmSearch::LoadPreviewFile(TRangeProcessor& m, int64_t around) {
  if (!m.SetFileAround(FPreviewFile.get(), around, PreviewWholeMax, PreviewReach)) m.SetFile(FPreviewFile.get());
}

int32_t TfmSearch::HeldPosition(const TRangeProcessor& m, int64_t position) {
  return static_cast<int32_t>(std::clamp<int64_t>(position - m.SliceStart, 0, m.Size));
}

void TfmSearch::FillPreview(int64_t lineNo) {
  lstPreview->Clear();
  if (!FPreviewFile) return;
  TItemList& items = lstPreview->Items();
  const int32_t count = FPreviewFile->GetLineCount();
  int32_t widest = 0;
  FDraw->Begin(nullptr);
  for (int32_t k = 0; k < count; ++k) {
    items.push_back({FPreviewFile->GetLine(k)});
    widest = std::max(widest, FPreviewFile->GetLine(k)->GetWidth(*FDraw));
  }
  FDraw->End();
  lstPreview->SyncCount();
  // The preview scrolls sideways as far as its longest line, so a find far right can be seen.
  lstPreview->SetHorizontalExtent(widest);
  lstPreview->SetItemIndex(std::min(count - 1, std::max(0, FPreviewFile->IndexOfLineNo(lineNo))));
  lstPreview->viewport()->update();
}

void TfmSearch::RerunPreview() {
  if (!FPreviewFile) return;
  const int32_t j = FPreviewFile->IndexOfLineNo(FPreviewLine);
  if (j < 0 || j >= FPreviewFile->GetLineCount()) return;
  ShowPreview(FPreviewFile->GetLine(j), true);
}

bool TfmSearch::PreviewEvent(QObject* watched, QEvent* event) {
  if (watched == lstPreview && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    RunHandler([&] { PreviewKeyPressed(key->key(), key->modifiers()); });
  } else if (watched == lblPreviewFile && event->type() == QEvent::MouseButtonDblClick && FPreviewFile) {
    const QString path = DisplayText(FPreviewFile->Name);
    RunHandler([&] { ShellOpen(App()->Shell(), path); });
    return true;
  }
  return false;
}

bool TfmSearch::PreviewKeyPressed(int key, Qt::KeyboardModifiers modifiers) {
  if (modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  const int row = lstPreview->ItemIndex();
  if ((key == Qt::Key_Up || key == Qt::Key_PageUp) && row == 0) ScrollPreview(false, key == Qt::Key_PageUp);
  if ((key == Qt::Key_Down || key == Qt::Key_PageDown) && row >= 0 && row == lstPreview->Count() - 1)
    ScrollPreview(true, key == Qt::Key_PageDown);
  return false;  // the list then handles the key as usual
}

void TfmSearch::ScrollPreview(bool forward, bool page) {
  auto* b = dynamic_cast<TSearchLine*>(lstPreview->ItemAt(lstPreview->ItemIndex()));
  if (!b || !FPreviewFile || !SearchParams) return;
  const int n = VisiblePreviewLines();
  const int count = page ? std::max(1, n - 1) : 1;
  lstPreview->setUpdatesEnabled(false);
  struct TResume {
    TResultList* List;
    ~TResume() { List->setUpdatesEnabled(true); }
  } resume{lstPreview};
  const int64_t bLineNo = b->LineNo(), bAt = b->LineStart();
  TRangeProcessor m(SearchParams.get());
  LoadPreviewFile(m, bAt);  // read again: it may have changed since
  m.Modes.AllLines = true;
  const auto size = static_cast<int32_t>(m.Size);
  const int32_t bStart = HeldPosition(m, bAt);
  if (forward) {
    const int32_t from = m.GetNextLineStart(bStart);
    if (from >= size) return;  // b is the file's last line
    int32_t to = from;
    int i = 1;
    while (i < count) {
      const int32_t next = m.GetNextLineStart(to);
      if (next >= size) break;
      to = next;
      ++FPreviewLine;
      ++i;
    }
    to = m.GetLineEnd(to);
    m.LineNo = bLineNo + 1;
    lstPreview->Clear();  // the entries refer to lines that are about to go
    m.Process(from, to);
    while (FPreviewFile->GetLineCount() > n) FPreviewFile->DeleteLine(0);
    FillPreview(bLineNo + i);
  } else {
    int32_t from = m.GetPrevLineStart(bStart);
    if (from < 0) return;  // b is the file's first line
    const int32_t to = m.GetLineEnd(from);
    int i = 1;
    while (i < count) {
      const int32_t prev = m.GetPrevLineStart(from);
      if (prev < 0) break;
      from = prev;
      --FPreviewLine;
      ++i;
    }
    m.LineNo = bLineNo - i;
    lstPreview->Clear();
    m.Process(from, to);
    FPreviewFile->SortLines();
    while (FPreviewFile->GetLineCount() > n) FPreviewFile->DeleteLine(FPreviewFile->GetLineCount() - 1);
    FillPreview(bLineNo - i);
  }
}

void TfmSearch::ListDoubleClicked(TResultList* list, const QPoint& viewportPos) {
  if (dynamic_cast<TSearchFile*>(list->ItemAt(list->ItemIndex()))) {
    acOpen->Execute();
    return;
  }
  ToggleFindAtMouse(list, viewportPos);
}

void TfmSearch::ToggleFindAtMouse(TResultList* list, const QPoint& viewportPos) {
  const int x = viewportPos.x() + list->horizontalScrollBar()->value();
  auto* line = dynamic_cast<TSearchLine*>(list->ItemAt(list->RowAt(viewportPos)));
  if (!line) return;
  FDraw->Begin(nullptr);
  // A long line is laid out from the part of it in view, as it was drawn.
  FDraw->SetViewSpan({list->horizontalScrollBar()->value(), list->horizontalScrollBar()->value() + list->viewport()->width()});
  const int32_t k = line->FindAtX(*FDraw, x);
  FDraw->End();
  if (k < 0) return;
  const bool s = line->GetFindSelected(k);
  line->SetFindSelected(k, !s);
  SetSelectedFindCount(FSelectedFindCount + (s ? -1 : 1));
  // The same line in the other list shows the same state.
  TResultList* other = list == lstResults ? lstPreview : lstResults;
  if (TSearchResult* selected = other->ItemAt(other->ItemIndex())) {
    TSearchFile* f = GetOwnerFile(selected);
    const int32_t j = f ? f->IndexOfLineNo(line->LineNo()) : -1;
    if (f && j >= 0 && j < f->GetLineCount() && f->GetLine(j) != line && f->GetLine(j)->LineNo() == line->LineNo()) {
      f->GetLine(j)->SetFindSelected(k, !s);
      other->viewport()->update();
    }
  }
  list->viewport()->update();
}

void TfmSearch::acFontExecute() {
  QFontDialog dialog(FResultsFont, this);
  dialog.setObjectName(QStringLiteral("FontDialog1"));
  dialog.setWindowTitle(QStringLiteral("Font"));
  HideFontStyleChoice(dialog);
  if (dialog.exec() != QDialog::Accepted) return;
  // Only the family and the size are taken: a style the dialog picks by itself (an oblique
  // face for a family typed in, say) would turn the lists and the print italic.
  FResultsFont = FamilyAndSize(dialog.selectedFont(), FResultsFont);
  ApplyResultsFont();
  if (SearchParams) SearchParams->UpdateLineNoWidth();
  FLinesExtent = -1;  // measured in the old font
  lstResults->SetHorizontalExtent(LargestItemWidth());
  RerunPreview();
}

void TfmSearch::acTabDisplayPrefsExecute() {
  ShowNMDialog(this, TabDisplayDialog);
  // Only the window that opened the dialog last redraws at once; the others on their next paint.
  QPointer<TfmSearch> self(this);
  TabDisplayDialog->OnSettingsChanged = [self](TfmTabDisplay&) {
    if (self) self->RepaintLists();
  };
}

void TfmSearch::RepaintLists() {
  lstResults->viewport()->update();
  lstPreview->viewport()->update();
}

}  // namespace trawlex
