#pragma once
// The replace dialog (fmReplace): counts the finds of a search window's results, takes the
// replacement text with a remembered history, shows the change set before anything is
// written, runs one replace, shows the file being processed, an error log that appears with
// its first line, and how many finds were replaced.
//
// Lifetime: the worker reads the job list, the result items and this dialog's handlers until
// its end notification has run. However the dialog goes (Close, Escape, the close box, its
// deletion when the opener goes), it asks the worker to stop and waits for that notification
// before it releases anything and before it tells the opener (OnDialogDestroyed). The opener
// must delete the dialog before it releases the search parameters.
#include <QPointer>
#include <functional>
#include <memory>
#include <string>

#include "ui/dialogs/ChangesWindow.h"
#include "ui/FormBase.h"
#include "ui/QtConfigAdapters.h"
#include "ui/dialogs/ReplaceRules.h"

class QComboBox;
class QHBoxLayout;
class QLabel;
class QListWidget;
class QPushButton;

namespace trawlex {

class TReplaceThread;
class TUndoJournalWriter;
class TSearchParams;
class TStringsCfgElem;

class TfmReplace : public TfmGeneric {
  Q_OBJECT
 public:
  explicit TfmReplace(QWidget* owner = nullptr);
  ~TfmReplace() override;

  bool UseTopLeftOnly() const override { return true; }

  // Counts the finds of `params` and makes one job per file with a selected find.
  void LoadFinds(TSearchParams& params);

  bool ReplaceStarted() const { return FReplaceStarted; }
  bool Running() const { return FWorker != nullptr; }
  TfmChanges* ChangesWindow() const { return FChanges; }

  // Told as the dialog goes, after its worker has ended; may be empty.
  std::function<void(TfmReplace&)> OnDialogDestroyed;

  // Controls (object names as in the settings).
  QListWidget* lstErrorLog = nullptr;
  QWidget* Panel1 = nullptr;
  QLabel *Label1 = nullptr, *lblTotalFinds = nullptr, *Label3 = nullptr, *lblSelectedFinds = nullptr;
  QLabel *Label2 = nullptr, *lblTarget = nullptr, *Label4 = nullptr;
  QComboBox* cbxReplace = nullptr;
  QLabel* lblFileName = nullptr;
  QPushButton* btnShowChanges = nullptr;
  QPushButton* btnReplace = nullptr;
  QPushButton* btnClose = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QWidget* CreatePanel(QWidget* central);
  QHBoxLayout* CreateCountsRow();
  QHBoxLayout* CreateTargetRow();
  void CreateReplacementBox();
  QHBoxLayout* CreateButtonsRow();
  QListWidget* CreateErrorLog(QWidget* central);
  void FormCreate();
  void btnReplaceClick();
  void btnShowChangesClick();
  void AddLogLine(const std::string& text);
  // A replacement that names a group the regular expression lacks is refused, in the log.
  bool ReplacementAccepted(const std::string& text);
  void ShowFileName(const std::string& text);
  void ReplaceThreadDone(TReplaceThread& worker);
  void UpdateButtons();
  // Asks a running worker to stop and lets the main thread serve it until its end
  // notification has run; the user's input waits meanwhile.
  void StopAndWait();

  TSearchParams* FParams = nullptr;  // not owned
  TReplaceThread* FWorker = nullptr;  // not owned: it frees itself after its end notification
  TReplacePlan FPlan;
  std::unique_ptr<TUndoJournalWriter> FJournal;  // the run's undo journal, until its end notification
  bool FReplaceStarted = false;
  int FCollapsedHeight = 0;
  TComboItems FHistoryItems;
  std::unique_ptr<TStringsCfgElem> FHistoryElem;  // cbxReplace.Items
  QPointer<TfmChanges> FChanges;
};

// Creates the dialog owned by `owner`, loads the finds of `params`, and shows it modal to the
// whole application. It goes when it is closed; `onDestroyed` then runs.
TfmReplace* ShowReplaceDialog(QWidget* owner, TSearchParams& params, std::function<void(TfmReplace&)> onDestroyed);

}  // namespace trawlex
