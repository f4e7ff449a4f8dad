#pragma once
// Small routines every window uses: menus built from actions, quiet text changes, label look-up,
// combo-box histories, message boxes, the save dialog's overwrite question, opening files and
// folders on the desktop, the busy cursor, status-bar panel texts and list item heights.
#include <QFontMetrics>
#include <QString>
#include <functional>

class QComboBox;
class QLineEdit;
class QMenu;
class QMimeData;
class QWidget;

namespace trawlex {

class IShellServices;
class TActionList;
class TListBox;
class TSaveDialog;
class TStatusBar;
class TStatusPanel;

// A caption without its access-key markers: "&File" gives "File", "A && B" gives "A & B".
QString StripAccelerator(const QString& caption);

// Appends every action of the list, in order, to the menu (caption, shortcut, icon, enabled and
// checked state follow the action).
void AddActionsToMenu(QMenu* menu, const TActionList& actions);
// Appends the actions whose category equals the menu's caption without its access-key marker
// (exactly, letter case included).
void AddCategoryActionsToMenu(QMenu* menu, const TActionList& actions);
// Fills a pop-up menu from the actions (their icons come along with them).
void FillPopupFromActions(QMenu* popup, const TActionList& actions);

// Sets an edit box's text without any change notification.
void SetEditTextQuietly(QLineEdit* edit, const QString& text);
// The caption of the label whose buddy is `control`, searched in the control's window from the
// last child to the first, descending into containers; the first non-empty caption wins; empty
// when no label names the control.
QString FindLabelText(const QWidget* control);
// Widens the control's window when `control` is narrower than `text` in its font plus `margin`.
void WidenFormForText(QWidget* control, const QString& text, int margin);

// Makes `combo` an editable box whose history is offered in its list only: no completion from
// the history, inline or otherwise, so the text used is the text typed, character for
// character, unless the user picks an entry of the list.
void MakeHistoryComboBox(QComboBox* combo);
// Keeps a combo box's items as a most-recent-first history of its text: the text moves to (or
// is inserted at) the first place; a reused entry (letter case ignored) is not doubled; a new
// entry in a full list pushes out the last one. The edit field keeps its text, as typed, and
// its selection.
void PushComboHistory(QComboBox* combo, int maxCount);

// Runs an event handler of the program's own (a slot, an event or key handler): a failure is
// shown in an error box from here, where the handler runs, and never travels through the
// toolkit's event dispatch, which does not support exceptions.
void RunHandler(const std::function<void()>& handler) noexcept;

// A confirmation box captioned "Confirm" with Yes and No; true for Yes.
bool AskYesNo(const QString& text);
// An information box captioned "Information" with OK.
void ShowInfo(const QString& text);
// An error box captioned "Error": how a failure that reaches the user is shown.
void ReportError(const QString& text);
inline void ReportError(const char* text) { ReportError(QString::fromUtf8(text)); }
// Runs the save dialog; false when cancelled. When the chosen file exists the user is asked
// "File <name> already exists. Overwrite?", and the answer decides.
bool ExecuteSaveDialog(TSaveDialog& dialog);
// ExecuteSaveDialog, then `write` with the chosen name. A name the user did not confirm, or
// whose write failed (raised), is not kept: the next dialog opens where the last save went.
bool SaveThroughDialog(TSaveDialog& dialog, const std::function<void(const QString&)>& write);

// Opens `file` with its associated application, or, with parameters, starts the program `file`
// with them (split as a shell would split them), through `shell`. True when the desktop
// accepted the request.
bool ShellOpen(IShellServices& shell, const QString& file, const QString& parameters = {});
// Shows `path` selected in the file manager where one answers the request, else opens its
// folder. Returns at once; `done` runs when the desktop has answered, with false when it took
// neither request. `shell` must outlive the answer (the application's does).
void ExploreSelect(IShellServices& shell, const QString& path, std::function<void(bool)> done = {});

// The application-wide wait cursor on or off. Calls nest: each "on" is ended by one "off", and
// the cursor goes back when the last busy section has ended.
void SetBusyCursor(bool on);
// The wait cursor for the life of the object, also when the work in between fails.
class TBusyCursor {
 public:
  TBusyCursor() { SetBusyCursor(true); }
  ~TBusyCursor() { SetBusyCursor(false); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// The single local path of a drop, or empty when it carries none or more than one item.
QString DroppedFileName(const QMimeData* data);

// Measuring in the status bar's font.
QFontMetrics PanelCanvas(const TStatusPanel& panel);
// Panel width := width of its text + 8 pixels.
void FitPanelWidth(TStatusPanel& panel);
void SetPanelText(TStatusPanel& panel, const QString& text);
void SetPanelText(TStatusBar& bar, int index, const QString& text);
// The number, after the text's first ":" and a blank when the text has a ":".
void SetPanelNumber(TStatusBar& bar, int index, qint64 number);
// The text up to its first ":" (empty without one), a blank and the number; width fitted.
void SetPanelCount(TStatusPanel& panel, qint64 number);
// The text up to its first ":", then blanks so that `text` ends at the panel's right edge (at
// least two blanks); the width stays.
void SetPanelRightText(TStatusPanel& panel, const QString& text);
void SetPanelRightText(TStatusBar& bar, int index, const QString& text);

// Item height := height of the text "a" in the list's font.
void SetListItemHeight(TListBox& list);

}  // namespace trawlex
