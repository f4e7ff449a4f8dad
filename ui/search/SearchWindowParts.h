#pragma once
// What the parts of the search window share: the status bar's panels, the sort descriptor
// table, the tool bar pictures and the record one running search shares with its worker.
#include <QIcon>
#include <QRect>
#include <memory>

#include "engine/DrawSurface.h"
#include "engine/SearchParams.h"
#include "ui/Glyphs.h"
#include "ui/lists/PainterSurface.h"
#include "ui/search/SearchWindow.h"

namespace trawlex {

constexpr int HistoryLimit = 20;
constexpr int MessagePanel = 6;

struct TSortDescriptor {
  const char* Name;
  int Key;
};
constexpr TSortDescriptor SortTable[] = {{"Full name", 0}, {"Size", 1}, {"Time", 2}, {"Finds", 3}};

// The family and size of `chosen` in an otherwise plain font (regular, upright, no effects),
// sized in pixels when `previous` was and `chosen` has a pixel size.
QFont FamilyAndSize(const QFont& chosen, const QFont& previous);

inline TRect ToTRect(const QRect& r) { return TRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }

// What one started search shares with its worker. The worker's notifications reach the window
// through it while Window is set; a window that closes first clears Window and hands over what
// the worker still reads, which then lives until the worker has ended.
struct TfmSearch::TRun {
  TfmSearch* Window;
  std::unique_ptr<TPainterSurface> OrphanMeasure;  // declared first: released last
  std::unique_ptr<TSearchParams> OrphanParams;
};


}  // namespace trawlex
