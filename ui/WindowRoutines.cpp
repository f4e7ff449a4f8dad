#include "ui/WindowRoutines.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QSignalBlocker>

#include "ui/ActionList.h"
#include "ui/lists/ListBox.h"
#include "ui/dialogs/SaveDialog.h"
#include "ui/services/ShellServices.h"
#include "ui/controls/StatusBar.h"

namespace trawlex {

namespace {

QWidget* DialogParent() { return QApplication::activeWindow(); }

}  // namespace

// ---- Menus, labels, edits ----------------------------------------------------------------

QString StripAccelerator(const QString& caption) {
  QString out;
  out.reserve(caption.size());
  for (int i = 0; i < caption.size(); ++i) {
    if (caption[i] == QLatin1Char('&')) {
      if (i + 1 < caption.size() && caption[i + 1] == QLatin1Char('&')) {
        out += QLatin1Char('&');
        ++i;
      }
      continue;
    }
    out += caption[i];
  }
  return out;
}

void AddActionsToMenu(QMenu* menu, const TActionList& actions) {
  for (TAction* a : actions.Actions()) menu->addAction(a);
}

void AddCategoryActionsToMenu(QMenu* menu, const TActionList& actions) {
  const QString category = StripAccelerator(menu->title());
  for (TAction* a : actions.Actions()) {
    if (a->Category() == category) menu->addAction(a);
  }
}

void FillPopupFromActions(QMenu* popup, const TActionList& actions) { AddActionsToMenu(popup, actions); }

void SetEditTextQuietly(QLineEdit* edit, const QString& text) {
  const QSignalBlocker quiet(edit);
  edit->setText(text);
}

namespace {

QString FindLabelIn(const QObject* container, const QWidget* control) {
  const QObjectList& kids = container->children();
  for (auto it = kids.rbegin(); it != kids.rend(); ++it) {
    const QWidget* w = qobject_cast<const QWidget*>(*it);
    if (!w) continue;
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
      if (label->buddy() == control && !label->text().isEmpty()) return label->text();
    }
    if (!w->isWindow() && !w->children().isEmpty()) {
      const QString found = FindLabelIn(w, control);
      if (!found.isEmpty()) return found;
    }
  }
  return {};
}

}  // namespace

QString FindLabelText(const QWidget* control) {
  if (!control) return {};
  return FindLabelIn(control->window(), control);
}

void WidenFormForText(QWidget* control, const QString& text, int margin) {
  const int needed = margin + control->fontMetrics().horizontalAdvance(text);
  if (control->width() < needed) {
    QWidget* window = control->window();
    window->resize(window->width() + needed - control->width(), window->height());
  }
}

void MakeHistoryComboBox(QComboBox* combo) {
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  // Qt's own completer completes inline and ignores letter case; the box also matches its
  // text against the items (case-insensitively while that completer is there) when editing
  // ends, and takes the item's spelling. Without a completer neither happens.
  combo->setCompleter(nullptr);
}

void PushComboHistory(QComboBox* combo, int maxCount) {
  const QString text = combo->currentText();
  const int found = text.isEmpty() ? -1 : combo->findText(text, Qt::MatchFixedString);
  if (text.isEmpty() || found == 0) return;
  QLineEdit* edit = combo->lineEdit();
  const int selStart = edit ? (edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition()) : 0;
  const int selLength = edit ? static_cast<int>(edit->selectedText().size()) : 0;
  {
    const QSignalBlocker quiet(combo);
    if (found > 0) combo->removeItem(found);
    // A history longer than its limit (a settings file edited by hand) is cut back to it.
    while (combo->count() >= maxCount && combo->count() > 0) combo->removeItem(combo->count() - 1);
    combo->insertItem(0, text);
    combo->setCurrentIndex(0);
    if (edit) {
      edit->setText(text);
      if (selLength > 0) {
        edit->setSelection(selStart, selLength);
      } else {
        edit->setCursorPosition(selStart);
      }
    }
  }
}

// ---- Message boxes and the save dialog -------------------------------------------------

namespace {

// A box sizes itself to its text alone, so a short text left the caption cut off in the title
// bar; the box is made wide enough for the caption in bold beside the title bar's icon and
// buttons.
int ExecMessageBox(QMessageBox& box) {
  QFont bold = box.font();
  bold.setBold(true);
  const QFontMetrics metrics(bold);
  const int width = metrics.horizontalAdvance(box.windowTitle()) + 8 * metrics.height();
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                  grid->columnCount());
  }
  return box.exec();
}

}  // namespace

bool AskYesNo(const QString& text) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), text, QMessageBox::Yes | QMessageBox::No,
                  DialogParent());
  box.setDefaultButton(QMessageBox::Yes);
  return ExecMessageBox(box) == QMessageBox::Yes;
}

void ShowInfo(const QString& text) {
  QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text, QMessageBox::Ok, DialogParent());
  ExecMessageBox(box);
}

void ReportError(const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Ok, DialogParent());
  ExecMessageBox(box);
}

void RunHandler(const std::function<void()>& handler) noexcept {
  try {
    handler();
  } catch (const std::bad_alloc&) {
    ReportError(QStringLiteral("Out of memory"));
  } catch (const std::exception& e) {
    ReportError(QString::fromUtf8(e.what()));
  } catch (...) {
    ReportError(QStringLiteral("Unknown error"));
  }
}

bool ExecuteSaveDialog(TSaveDialog& dialog) {
  if (!dialog.Execute()) return false;
  if (QFileInfo::exists(dialog.FileName())) {
    return AskYesNo(QStringLiteral("File ") + dialog.FileName() + QStringLiteral(" already exists. Overwrite?"));
  }
  return true;
}

bool SaveThroughDialog(TSaveDialog& dialog, const std::function<void(const QString&)>& write) {
  const QString before = dialog.FileName();
  if (!ExecuteSaveDialog(dialog)) {
    dialog.SetFileName(before);
    return false;
  }
  try {
    write(dialog.FileName());
  } catch (...) {
    dialog.SetFileName(before);
    throw;
  }
  return true;
}

// ---- Desktop -----------------------------------------------------------------------------

bool ShellOpen(IShellServices& shell, const QString& file, const QString& parameters) {
  if (parameters.trimmed().isEmpty()) {
    const QUrl url = QUrl::fromUserInput(file, QString(), QUrl::AssumeLocalFile);
    return url.isValid() && shell.OpenUrl(url);
  }
  return shell.StartDetached(file, QProcess::splitCommand(parameters));
}

void ExploreSelect(IShellServices& shell, const QString& path, std::function<void(bool)> done) {
  const QFileInfo info(path);
  const QUrl folder = QUrl::fromLocalFile(info.absolutePath());
  shell.ShowItems({QUrl::fromLocalFile(info.absoluteFilePath())}, [&shell, folder, done](bool shown) {
    // Without a file manager that selects items, the folder itself opens.
    const bool ok = shown || shell.OpenUrl(folder);
    if (done) done(ok);
  });
}

namespace {
int gBusySections = 0;  // main thread only
}  // namespace

void SetBusyCursor(bool on) {
  // Busy sections nest: the wait cursor goes when the outermost one ends, and only the one
  // cursor pushed here is taken off again.
  if (on) {
    if (gBusySections++ == 0) QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (gBusySections > 0) {
    if (--gBusySections == 0) QApplication::restoreOverrideCursor();
  }
}

QString DroppedFileName(const QMimeData* data) {
  if (!data || !data->hasUrls()) return {};
  const QList<QUrl> urls = data->urls();
  if (urls.size() != 1 || !urls.first().isLocalFile()) return {};
  return urls.first().toLocalFile();
}

// ---- Status panels -----------------------------------------------------------------------

namespace {

QString UpToFirstColon(const QString& text) {
  const int colon = text.indexOf(QLatin1Char(':'));
  return colon < 0 ? QString() : text.left(colon + 1);
}

}  // namespace

QFontMetrics PanelCanvas(const TStatusPanel& panel) { return panel.Bar()->fontMetrics(); }

void FitPanelWidth(TStatusPanel& panel) {
  panel.SetWidth(PanelCanvas(panel).horizontalAdvance(panel.Text()) + 8);
}

void SetPanelText(TStatusPanel& panel, const QString& text) {
  panel.SetText(text);
  FitPanelWidth(panel);
}

void SetPanelText(TStatusBar& bar, int index, const QString& text) { SetPanelText(bar.Panel(index), text); }

void SetPanelNumber(TStatusBar& bar, int index, qint64 number) {
  TStatusPanel& panel = bar.Panel(index);
  const QString prefix = UpToFirstColon(panel.Text());
  const QString n = QString::number(number);
  SetPanelText(panel, prefix.isEmpty() ? n : prefix + QLatin1Char(' ') + n);
}

void SetPanelCount(TStatusPanel& panel, qint64 number) {
  panel.SetText(UpToFirstColon(panel.Text()) + QLatin1Char(' ') + QString::number(number));
  FitPanelWidth(panel);
}

void SetPanelRightText(TStatusPanel& panel, const QString& text) {
  const QFontMetrics fm = PanelCanvas(panel);
  const QString prefix = UpToFirstColon(panel.Text());
  const int blank = std::max(1, fm.horizontalAdvance(QLatin1Char(' ')));
  const int blanks =
      std::max(2, (panel.Width() - fm.horizontalAdvance(prefix) - fm.horizontalAdvance(text) - 8) / blank);
  panel.SetText(prefix + QString(blanks, QLatin1Char(' ')) + text);
}

void SetPanelRightText(TStatusBar& bar, int index, const QString& text) { SetPanelRightText(bar.Panel(index), text); }

void SetListItemHeight(TListBox& list) { list.SetItemHeight(QFontMetrics(list.font()).height()); }

}  // namespace trawlex
