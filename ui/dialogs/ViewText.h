#pragma once
// The whole-file viewer: a read-only list of a file's lines with one line selected and its
// number in the status bar ("Line: 12"). Each call opens a new window, owned by the window that
// asked for it, so it closes with that window.
#include <QFont>
#include <QString>

#include "ui/FormBase.h"

namespace trawlex {

class TListBox;
class TStatusBar;

class TfmViewText : public TfmGeneric {
  Q_OBJECT
 public:
  explicit TfmViewText(QWidget* owner = nullptr);

  // Reads the whole file into the list, one entry per line (lines end at CR LF, CR or LF; a
  // line break at the very end starts no further line). Raises when the file cannot be read.
  void LoadFile(const QString& path);
  // Selects the entry of a 1-based line number; a number outside the file selects nothing.
  void SelectLine(int line);
  // "Line:" and the selected entry's 1-based number (0 without a selection) in panel 0.
  void ShowStatus();

  TListBox* ListBox1 = nullptr;
  TStatusBar* StatusBar = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
};

// Opens a new viewer owned by `owner` on `path` with `line` (from 1) selected, in `font` when
// one is given. A file that cannot be read raises, and no viewer is shown.
TfmViewText* ShowFileViewer(QWidget* owner, const QString& path, int line, const QFont* font = nullptr);

}  // namespace trawlex
