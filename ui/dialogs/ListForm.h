#pragma once
// A window that shows a list of text lines, each optionally in a font of its own, and lets the
// user clear, print and save them and spread them over several columns. The search window uses
// it as its error log ("Error Log").
#include <QFont>
#include <QStringList>
#include <optional>

#include "ui/FormBase.h"

class QMenu;
class QPrinter;

namespace trawlex {

class TAction;
class TActionList;
class TListBox;
class TSaveDialog;
class TStatusBar;

class TListForm : public TfmNMDialog {
  Q_OBJECT
 public:
  explicit TListForm(QWidget* owner = nullptr);

  bool UseTopLeftOnly() const override { return false; }

  // Appends a line, in the list's font or in `font`.
  void AddLine(const QString& text, const std::optional<QFont>& font = std::nullopt);
  // Replaces the lines by a copy of `lines`.
  void SetLines(const QStringList& lines);
  // Widens the window (never beyond most of the screen) so that its longest line shows whole.
  void WidenForLines();
  QStringList Lines() const;
  int LineCount() const;

  int ColumnCount() const;
  // Sets the list's column count and shows it in the first status panel.
  void SetColumnCount(int count);

  // Prints every line in its font on `printer`.
  void PrintTo(QPrinter& printer);
  // Writes every line to `fileName`, each followed by CR LF, replacing the file as a whole.
  void SaveTo(const QString& fileName);

  TListBox* ListBox1 = nullptr;
  TStatusBar* StatusBar1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  TActionList* ActionList1 = nullptr;
  TAction* acClear = nullptr;
  TAction* acPrint = nullptr;
  TAction* acSave = nullptr;
  TAction* acIncreaseColumns = nullptr;
  TAction* acDecreaseColumns = nullptr;
  TSaveDialog* SaveDialog1 = nullptr;

 private:
  void ChangeColumnsExecute(TAction& sender);
};

}  // namespace trawlex
