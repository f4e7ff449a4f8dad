#include "ui/search/SearchRules.h"

#include "engine/SearchParams.h"

namespace trawlex {

QString SearchProblem(const QString& target, bool directoryExists, int patternLineCount) {
  if (target.isEmpty()) return QStringLiteral("No search target");
  if (!directoryExists) return QStringLiteral("No directory specified");
  if (patternLineCount <= 0) return QStringLiteral("No file patterns");
  return {};
}

QColor ExcludeColor(const std::string& target, const std::string& exclude, bool caseSensitive) {
  return ContainsTarget(target, exclude, caseSensitive) ? QColor(0, 0, 255) : QColor(255, 0, 0);
}

QString FirstFreeSearchWindowName(const QStringList& namesInUse) {
  const QString base = QStringLiteral("fmSearch");
  if (!namesInUse.contains(base)) return base;
  for (int i = 1;; ++i) {
    const QString name = base + QLatin1Char('_') + QString::number(i);
    if (!namesInUse.contains(name)) return name;
  }
}

QString WindowMenuCaption(bool hasSearched, const QString& lastTarget, const QString& windowCaption,
                          const QString& windowName) {
  if (hasSearched) return QStringLiteral("Search for ") + lastTarget;
  // Windows that have not searched share their caption: the number of their section tells
  // them apart (fmSearch is 1, fmSearch_1 is 2, ...).
  const QString base = QStringLiteral("fmSearch_");
  bool ok = false;
  const int index = windowName.startsWith(base) ? windowName.mid(base.size()).toInt(&ok) : 0;
  return windowCaption + QLatin1Char(' ') + QString::number(ok ? index + 1 : 1);
}

bool CanOutput(const TWindowState& s) { return !s.Running && s.ResultCount > 0; }
bool CanTerminate(const TWindowState& s) { return s.Running && !s.Stopping; }
bool CanReplace(const TWindowState& s) { return !s.Running && s.SelectedFinds > 0; }
bool CanChangeView(const TWindowState& s) { return !s.Running; }
bool CanSort(const TWindowState& s, int order) { return !s.Running && s.SortOrder != order; }
bool CanOpenInEditor(const TWindowState& s) { return s.EditorExists && s.ActiveSelected; }
bool SortPanelShown(int sortKey) { return sortKey != 0; }

}  // namespace trawlex
