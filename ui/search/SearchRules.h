#pragma once
// The rules of the search window that need no window: the validation message, the exclude
// colour, the name a new search window takes, the texts of its Window menu entry, and which of
// its actions are enabled.
#include <QColor>
#include <QString>
#include <QStringList>
#include <string>

namespace trawlex {

// The first problem that keeps a search from starting, in this order: "No search target",
// "No directory specified", "No file patterns"; empty when there is none.
QString SearchProblem(const QString& target, bool directoryExists, int patternLineCount);

// Blue when the exclude text takes effect for the target (it contains the target under the case
// rule and is longer than it), red otherwise.
QColor ExcludeColor(const std::string& target, const std::string& exclude, bool caseSensitive);

// "fmSearch" when that name is free, else the first free "fmSearch_1", "fmSearch_2", ...
QString FirstFreeSearchWindowName(const QStringList& namesInUse);

// A search window's entry in the Window menus: "Search for " and the target of its latest
// search, or, while it has not searched, its caption and the number of its settings section.
QString WindowMenuCaption(bool hasSearched, const QString& lastTarget, const QString& windowCaption,
                          const QString& windowName);

// What the enabled rules of the window's actions look at.
struct TWindowState {
  bool Running = false;     // a search runs
  bool Stopping = false;    // and has been asked to stop
  int ResultCount = 0;      // entries in the results list
  bool ResultSelected = false;
  bool ActiveSelected = false;  // an entry of the list last right-clicked (else the results)
  int SelectedFinds = 0;
  int SortOrder = 0;            // index into the sort descriptor table
  bool EditorExists = false;    // the preferred editor names an existing program
};

// Save, print, the finds memo, select and deselect all finds: results and no search running.
bool CanOutput(const TWindowState& s);
bool CanTerminate(const TWindowState& s);
bool CanReplace(const TWindowState& s);
// "Show only filenames" and "Sort in descending order".
bool CanChangeView(const TWindowState& s);
// The sort action of table entry `order`: not while running, not the current order.
bool CanSort(const TWindowState& s, int order);
bool CanOpenInEditor(const TWindowState& s);
// Status panel 5 shows the sort name except for "Full name" (key 0).
bool SortPanelShown(int sortKey);

}  // namespace trawlex
