#include "ui/dialogs/SaveDialog.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeDatabase>

namespace trawlex {

namespace {

// Icons and type names from the kind of entry and its name alone. Qt's own provider reads a
// file's first bytes to tell its type; in /proc that read can block for ever (/proc/kmsg), and
// the dialog then waits for its reader when it closes, which hangs the whole program.
class TNameOnlyIconProvider : public QAbstractFileIconProvider {
 public:
  QIcon icon(IconType type) const override { return QAbstractFileIconProvider::icon(type); }
  QIcon icon(const QFileInfo& info) const override {
    return QAbstractFileIconProvider::icon(info.isDir() ? Folder : File);
  }
  QString type(const QFileInfo& info) const override {
    if (info.isDir()) return QStringLiteral("Folder");
    return QMimeDatabase().mimeTypeForFile(info, QMimeDatabase::MatchExtension).comment();
  }
};

}  // namespace

void UseNameOnlyIcons(QFileDialog& dialog) {
  static TNameOnlyIconProvider icons;  // main thread only; outlives every dialog
  dialog.setIconProvider(&icons);
}

bool IsPseudoFileSystemFolder(const QString& folder) {
  const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(folder));
  for (const char* root : {"/proc", "/sys", "/dev"}) {
    const QString r = QString::fromLatin1(root);
    if (clean == r || clean.startsWith(r + QLatin1Char('/'))) return true;
  }
  return false;
}

QString SaveDialogStartFolder(const QString& fileName) {
  const QFileInfo info(fileName);
  if (!info.isAbsolute()) return QString();
  const QString folder = info.absolutePath();
  if (IsPseudoFileSystemFolder(folder) || !QFileInfo(folder).isDir()) return QDir::homePath();
  return folder;
}

TSaveDialog::TSaveDialog(QObject* parent, const QString& name) : QObject(parent) { setObjectName(name); }

QStringList TSaveDialog::NameFilters(const QString& filter) {
  QStringList result;
  const QStringList parts = filter.split(QLatin1Char('|'));
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    QStringList patterns = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    // "*.*" means every file here, also the names without a dot.
    for (QString& p : patterns) {
      if (p == QLatin1String("*.*")) p = QStringLiteral("*");
    }
    // Descriptions that already show their patterns keep them once.
    const int paren = description.indexOf(QLatin1Char('('));
    if (paren > 0) description = description.left(paren).trimmed();
    result << QStringLiteral("%1 (%2)").arg(description, patterns.join(QLatin1Char(' ')));
  }
  return result;
}

bool TSaveDialog::Execute(QWidget* parent) {
  QFileDialog dialog(parent ? parent : QApplication::activeWindow(), FTitle);
  dialog.setObjectName(QStringLiteral("dlgSaveFile"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  const QStringList filters = NameFilters(FFilter);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  if (!FDefaultExt.isEmpty()) dialog.setDefaultSuffix(FDefaultExt);
  UseNameOnlyIcons(dialog);
  if (!FFileName.isEmpty()) {
    const QString folder = SaveDialogStartFolder(FFileName);
    if (!folder.isEmpty()) dialog.setDirectory(folder);
    dialog.selectFile(QFileInfo(FFileName).fileName());
  }
  if (dialog.exec() != QDialog::Accepted) return false;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return false;
  FFileName = QDir::toNativeSeparators(files.first());
  return true;
}

}  // namespace trawlex
