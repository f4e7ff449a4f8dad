#include "ui/controls/DirComboBox.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>

#include "base/TextUtils.h"
#include "platform/Platform.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

QString WithoutTrailingDelimiter(const QString& path) {
  QString p = path;
  while (p.size() > 1 && (p.endsWith(QLatin1Char('/')) || p.endsWith(QChar::fromLatin1(PathDelim)))) p.chop(1);
  return p;
}

QString DirectoryHint(const QString& path) {
  std::string fileSystem, volume;
  if (!VolumeInfo(path.toStdString(), fileSystem, volume)) return {};
  const QString label = QString::fromStdString(volume);
  const QString type = QStringLiteral("(") + QString::fromStdString(fileSystem) + QStringLiteral(")");
  return label.isEmpty() ? type : label + QLatin1Char(' ') + type;
}

TDirComboBox::TDirComboBox(QWidget* parent) : QComboBox(parent) {
  MakeHistoryComboBox(this);
  setMaxVisibleItems(HistoryLimit);
  setAcceptDrops(true);
  lineEdit()->installEventFilter(this);
  connect(this, &QComboBox::editTextChanged, this, [this] {
    if (!FSetting) RunHandler([this] { TextChanged(); });
  });
  TextChanged();
}

QString TDirComboBox::Directory() const { return WithoutTrailingDelimiter(currentText()); }

void TDirComboBox::SetDirectory(const QString& directory) {
  FSetting = true;
  setEditText(directory);
  FSetting = false;
  TextChanged();
}

void TDirComboBox::TextChanged() {
  const QString text = currentText();
  FExists = !text.isEmpty() && DirectoryExists(text.toStdString());
  setToolTip(DirectoryHint(text));
  emit Changed();
}

void TDirComboBox::RecordDirectory() {
  SetDirectory(Directory());
  PushComboHistory(this, HistoryLimit);
}

void TDirComboBox::CanonicalizeDirectory() {
  const QString text = currentText();
  if (text.isEmpty()) return;
  QString full = QDir::cleanPath(QDir::current().absoluteFilePath(text));
  const QFileInfo info(full);
  if (info.isDir()) {
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty()) full = canonical;
  }
  SetDirectory(full);
}

void TDirComboBox::AcceptDrop(const QMimeData* data) {
  QString path = DroppedFileName(data);
  const QFileInfo info(path);
  if (!path.isEmpty() && info.exists() && !info.isDir()) {
    path = path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
  }
  SetDirectory(path);
}

bool TDirComboBox::eventFilter(QObject* watched, QEvent* event) {
  // The edit field would insert a dropped path as text; the combo box takes file drops itself.
  if (watched == lineEdit()) {
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
      auto* e = static_cast<QDragMoveEvent*>(event);
      if (e->mimeData()->hasUrls()) {
        e->acceptProposedAction();
        return true;
      }
    } else if (event->type() == QEvent::Drop) {
      auto* e = static_cast<QDropEvent*>(event);
      if (e->mimeData()->hasUrls()) {
        RunHandler([&] { AcceptDrop(e->mimeData()); });
        e->acceptProposedAction();
        return true;
      }
    }
  }
  return QComboBox::eventFilter(watched, event);
}

void TDirComboBox::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) {
    event->acceptProposedAction();
  } else {
    QComboBox::dragEnterEvent(event);
  }
}

void TDirComboBox::dropEvent(QDropEvent* event) {
  if (event->mimeData()->hasUrls()) {
    RunHandler([&] { AcceptDrop(event->mimeData()); });
    event->acceptProposedAction();
  } else {
    QComboBox::dropEvent(event);
  }
}

}  // namespace trawlex
