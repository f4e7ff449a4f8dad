#pragma once
// A save dialog that remembers its settings between uses: file name (kept in the settings as
// "<name>.FileName"), filter ("Text files (*.txt)|*.txt|All files (*.*)|*.*"), default
// extension and title. ExecuteSaveDialog (WindowRoutines.h) runs it with the overwrite question.
#include <QObject>
#include <QString>

class QFileDialog;
class QWidget;

namespace trawlex {

// Makes a file dialog tell icons and types from names alone: Qt's own way reads the first bytes
// of each file shown, which in /proc can block for ever (/proc/kmsg) and hang the program.
void UseNameOnlyIcons(QFileDialog& dialog);
// Whether `folder` lies in /proc, /sys or /dev, where listing or reading may block or never end.
bool IsPseudoFileSystemFolder(const QString& folder);
// The folder a save dialog for `fileName` starts in: the file's folder; the home folder when
// that is missing or a pseudo file system; empty for a name without a folder.
QString SaveDialogStartFolder(const QString& fileName);

class TSaveDialog : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString FileName READ FileName WRITE SetFileName)
 public:
  explicit TSaveDialog(QObject* parent = nullptr, const QString& name = {});

  QString FileName() const { return FFileName; }
  void SetFileName(const QString& name) { FFileName = name; }
  QString Filter() const { return FFilter; }
  // Pairs of description and patterns, all separated by "|".
  void SetFilter(const QString& filter) { FFilter = filter; }
  void SetDefaultExt(const QString& ext) { FDefaultExt = ext; }
  QString Title() const { return FTitle; }
  void SetTitle(const QString& title) { FTitle = title; }

  // Shows the dialog modally over `parent` (the active window when null), starting in the
  // folder and with the name of FileName. True with FileName set when the user chose a file.
  // The dialog itself does not ask before overwriting: ExecuteSaveDialog does.
  bool Execute(QWidget* parent = nullptr);

  // The filter in the file dialog's form: one "Description (patterns)" entry per pair.
  static QStringList NameFilters(const QString& filter);

 private:
  QString FFileName;
  QString FFilter;
  QString FDefaultExt;
  QString FTitle;
};

}  // namespace trawlex
