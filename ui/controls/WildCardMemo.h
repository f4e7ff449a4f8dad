#pragma once
// The file-name patterns of a search: a multi-line edit, one pattern per line, with the pattern
// sets of earlier searches in its context menu (most recent first, each written on one line
// with "|" between the patterns, at most 10). Choosing an entry puts that set back.
#include <QMenu>
#include <QPlainTextEdit>
#include <functional>
#include <memory>

#include "ui/controls/MenuStrings.h"
#include "ui/QtConfigAdapters.h"

namespace trawlex {

class TWildCardMemo : public QPlainTextEdit {
  Q_OBJECT
 public:
  static constexpr int HistoryLimit = 10;

  explicit TWildCardMemo(QWidget* parent = nullptr);

  // The patterns in one line, "|" between them.
  QString GetPatternsText() const;
  // Replaces the lines by the pieces of a one-line text.
  void SetPatternsText(const QString& text);
  // Records the current pattern set as the most recent history entry.
  void AddToHistory();
  // Takes the most recent history entry, if there is one.
  void UseLastPatterns();

  TMenuStrings& History() { return *FHistory; }
  QMenu* HistoryMenu() const { return FHistoryMenu; }
  // The lines as a line list, for the "memPatterns.Lines" element.
  TPlainTextLines& LinesAdapter() { return FLines; }
  int LineCount() const;

  // Raised after a history entry was chosen.
  std::function<void(TWildCardMemo&)> OnUsePrevious;

  // What a click on a history entry does (public for the menu and for tests).
  void HistoryClick(QAction* item);

 protected:
  bool event(QEvent* e) override;

 private:
  QMenu* FHistoryMenu;
  std::unique_ptr<TMenuStrings> FHistory;
  TPlainTextLines FLines;
};

}  // namespace trawlex
