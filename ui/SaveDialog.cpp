#include "ui/SaveDialog.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace trawlex {

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
  if (!FFileName.isEmpty()) {
    const QFileInfo info(FFileName);
    if (info.isAbsolute()) dialog.setDirectory(info.absolutePath());
    dialog.selectFile(info.fileName());
  }
  if (dialog.exec() != QDialog::Accepted) return false;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return false;
  FFileName = QDir::toNativeSeparators(files.first());
  return true;
}

}  // namespace trawlex
