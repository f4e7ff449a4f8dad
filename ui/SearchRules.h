#pragma once
// The rules of the search window that need no window: the validation message, the exclude
// colour, the name a new search window takes and the texts of its Window menu entry.
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
// search, or its caption while it has not searched.
QString WindowMenuCaption(bool hasSearched, const QString& lastTarget, const QString& windowCaption);

}  // namespace trawlex
