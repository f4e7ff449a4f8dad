#pragma once
// The finds memo ("Memo view"): the whole result list as editable text, one line per file and
// per line with finds, whatever the search window shows. The user trims it (Ctrl+Y deletes the
// caret's line), prints it or saves it; the status bar counts its lines and the bytes a save
// writes. Each call opens a new window owned by the search window.
#include <QFont>
#include <QPointer>

#include "ui/FormBase.h"

class QPlainTextEdit;
class QPrinter;
class QToolButton;

namespace trawlex {

class TSaveDialog;
class TSearchParams;
class TStatusBar;

class TfmMemoViewer : public TfmGeneric {
  Q_OBJECT
 public:
  explicit TfmMemoViewer(QWidget* owner = nullptr);

  // Fills the memo: each result file's path, then each of its lines as the results list shows
  // them (blank, right-aligned number, ": ", the line).
  void SetResults(const TSearchParams& params);
  // The save dialog shared with the search window (not owned).
  void SetSaveDialog(TSaveDialog* dialog) { FSaveDialog = dialog; }

  QStringList Lines() const;
  // Bytes a save writes: every line in UTF-8 followed by CR LF.
  qint64 ByteCount() const;
  // Writes the lines, each followed by CR LF, replacing the file as a whole.
  void SaveTo(const QString& fileName);
  void PrintTo(QPrinter& printer);
  // Deletes the line that holds the caret, unless text is selected.
  void DeleteCaretLine();

  QToolButton* btnPrint = nullptr;
  QToolButton* btnSave = nullptr;
  QPlainTextEdit* Memo = nullptr;
  TStatusBar* StatusBar1 = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void MemoChange();
  void btnSaveClick();
  void btnPrintClick();

  QPointer<TSaveDialog> FSaveDialog;
};

// Opens a new memo owned by `owner` on the results of `params`, in `font`.
TfmMemoViewer* ShowFindsMemo(QWidget* owner, const TSearchParams& params, const QFont& font, TSaveDialog* dialog);

}  // namespace trawlex
