#pragma once
// Undo of a replace in the windows: the journal that a run of the replace dialog writes, and
// the search window's "Undo last replace" (Edit menu), which restores the files of the newest
// journal and names that run in its caption.
#include <functional>
#include <memory>
#include <string>

#include <QString>

#include "engine/ReplaceThread.h"

namespace trawlex {

class TAction;
class TSearchParams;
class TUndoJournalWriter;
struct TJournalInfo;

// Before a replace: creates the run's journal. When the old content would not fit the space
// kept for undo, or the journal cannot be created, asks whether to replace without a way to
// undo. False when the user says no; `journal` stays empty when the run goes without one.
bool OpenReplaceJournal(const TSearchParams& params, const TReplaceJobList& jobs, const std::string& replaceText,
                        std::unique_ptr<TUndoJournalWriter>& journal);
// After the run's end notification: ends the journal and prunes the oldest ones. A journal
// that could not be ended is reported through `log`.
void CloseReplaceJournal(std::unique_ptr<TUndoJournalWriter>& journal, const std::function<void(const std::string&)>& log);

// The newest run that can be undone, read again only when a journal came, went or changed.
// The application keeps one for all its windows (TApp::NewestJournal).
class TNewestJournal {
 public:
  TNewestJournal();
  ~TNewestJournal();
  // The newest offered run of the undo folder, or null; valid until the next call.
  const TJournalInfo* Get();

 private:
  std::string FSignature;
  std::unique_ptr<TJournalInfo> FCached;
};

// The caption of the action for the newest journal (none: the plain caption).
QString UndoReplaceCaption(const TJournalInfo* newest);
// The update rule of the action: enabled when `idle` and a journal exists.
void UpdateUndoReplaceAction(TAction& action, bool idle, TNewestJournal& newest);
// Asks, restores the files of the newest journal, and shows what was restored and what was
// refused. True when a file was restored.
bool UndoLastReplace();

}  // namespace trawlex
