#pragma once
// The preferred editor: how its argument template becomes the arguments for one file and line,
// and the small settings window ("Preferred Editor") where the user sets the editor's path and
// the template and sees an example. The two settings are program-wide ("Preferred Editor",
// "Editor Args"); the window changes them in memory at once, the program saves them at its end.
#include <QString>
#include <QStringList>

#include "ui/FormBase.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace trawlex {

class TAppSettings;

// The template as one text: every "<n>" (any capitalisation) becomes the line number, then
// every "<f>" the path in double quotes. Tokens are replaced in one pass from the left, so a
// token inside the path is never replaced. This is the text the settings window shows.
QString ExpandEditorArgs(const QString& argsTemplate, int line, const QString& path);

// The arguments the editor is started with: the template is split into arguments first (blanks
// separate them; double quotes group blanks into one, and a tripled quote stands for a quote),
// then the tokens are replaced inside each argument, the path without quotes. So the path is
// always whole inside its argument, whatever it holds (blanks, quotes, ";", "$(...)"), and no
// shell ever sees it. An argument that was only quotes around nothing stays an empty argument.
QStringList EditorArguments(const QString& argsTemplate, int line, const QString& path);

class TfmPreferredEditor : public TfmNMDialog {
  Q_OBJECT
 public:
  explicit TfmPreferredEditor(QWidget* owner = nullptr);

  bool UseTopLeftOnly() const override { return false; }

  QToolButton* btnFindExecutable = nullptr;
  QLineEdit* edtExecutable = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* edtArguments = nullptr;
  QLabel* Label1 = nullptr;
  QToolButton* btnFileNameToken = nullptr;
  QLabel* Label3 = nullptr;
  QToolButton* btnLineNumberToken = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* lblExample = nullptr;
  QPushButton* btnClose = nullptr;

  // The example line: the editor's file name, a blank, the template expanded for line 123 of
  // "c:\site\index.php".
  static QString ExampleText(const QString& executable, const QString& argsTemplate);

 private:
  // The program-wide settings the window changes; null where the program has none.
  TAppSettings* Settings() const;
  void CreateEditorFields(QWidget* central);
  void CreateTokenButtons(QWidget* central);
  void CreateExample(QWidget* central);
  void LayOutControls(QWidget* central);
  void ConnectControls();
  void ShowSettings();
  void edtExecutableChange();
  void edtArgumentsChange();
  void btnTokenClick(QToolButton* token);
  void btnFindExecutableClick();
  void ShowExample();
};

}  // namespace trawlex
