#include "ui/services/UndoReplace.h"

#include <algorithm>
#include <chrono>

#include "base/TextUtils.h"
#include "config/UndoSettings.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/UndoJournal.h"
#include "platform/DateTime.h"
#include "platform/Platform.h"
#include "ui/Action.h"
#include "ui/lists/PainterSurface.h"
#include "ui/WindowRoutines.h"

namespace trawlex {

namespace {

const char* const PlainCaption = "Undo last replace";
constexpr int RefusalsShown = 15;

TUndoLimits UndoLimitsFromSettings() {
  const TUndoSettings stored = ReadUndoSettings();
  return UndoLimitsOf(stored.Runs, stored.SizeMiB);
}

// A text of the run as a menu shows it: short, on one line, "&" not taken for a mnemonic.
QString MenuText(const std::string& bytes) {
  QString text = DisplayText(bytes);
  text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  if (text.size() > 24) text = text.left(23) + QChar(0x2026);
  return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

bool OpenReplaceJournal(const TSearchParams& params, const TReplaceJobList& jobs, const std::string& replaceText,
                        std::unique_ptr<TUndoJournalWriter>& journal) {
  journal.reset();
  int64_t oldBytes = 0;
  for (const auto& job : jobs) oldBytes += job->File->Size;
  const std::string problem = UndoSpaceProblem(oldBytes, UndoLimitsFromSettings());
  if (!problem.empty()) return AskYesNo(QString::fromStdString(problem + ".\n\nReplace without a way to undo?"));
  TJournalRun run;
  run.Time = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  run.Target = params.Target();
  run.Replacement = replaceText;
  run.Directory = params.BaseDir;
  auto created = std::make_unique<TUndoJournalWriter>();
  if (!created->Create(DefaultUndoFolder(), run))
    return AskYesNo(QString::fromStdString(created->Error() + ".\n\nReplace without a way to undo?"));
  journal = std::move(created);
  return true;
}

void CloseReplaceJournal(std::unique_ptr<TUndoJournalWriter>& journal, const std::function<void(const std::string&)>& log) {
  if (!journal) return;
  if (!journal->Finish()) log(journal->Error());
  PruneJournals(DefaultUndoFolder(), UndoLimitsFromSettings(), journal->Path());
  journal.reset();
}

TNewestJournal::TNewestJournal() = default;
TNewestJournal::~TNewestJournal() = default;

const TJournalInfo* TNewestJournal::Get() {
  const std::string folder = DefaultUndoFolder();
  std::string now;
  for (const std::string& path : JournalPaths(folder)) {
    TFileInfo file;
    if (GetFileInfo(path, file)) now += path + ":" + std::to_string(file.Size) + ":" + std::to_string(file.ModifiedNs) + "\n";
  }
  if (now != FSignature || now.empty()) {
    FSignature = now;
    FCached.reset();
    for (const TJournalInfo& info : ListJournals(folder)) {
      if (info.Offered()) {
        FCached = std::make_unique<TJournalInfo>(info);
        break;
      }
    }
  }
  return FCached.get();
}

QString UndoReplaceCaption(const TJournalInfo* newest) {
  if (!newest) return QString::fromUtf8(PlainCaption);
  const QString time = QString::fromStdString(FormatDateTime("hh:nn", UnixTimeToLocal(newest->Run.Time, false)));
  const QString what = newest->Run.Kind == "undo" ? QStringLiteral("undo of ") : QString();
  return QStringLiteral("Undo last replace (%1%2 \u2192 %3, %4, %5)")
      .arg(what, MenuText(newest->Run.Target), MenuText(newest->Run.Replacement),
           QString::fromStdString(CountText(newest->Files, "file")), time);
}

void UpdateUndoReplaceAction(TAction& action, bool idle, TNewestJournal& newest) {
  const TJournalInfo* info = newest.Get();
  action.setText(UndoReplaceCaption(info));
  action.setEnabled(idle && info != nullptr);
}

bool UndoLastReplace() {
  std::vector<std::string> problems;
  const std::vector<TJournalInfo> journals = ListJournals(DefaultUndoFolder(), &problems);
  const auto offered = std::find_if(journals.begin(), journals.end(), [](const TJournalInfo& j) { return j.Offered(); });
  std::string problemText;
  for (const std::string& line : problems) problemText += line + "\n";
  if (offered == journals.end()) {
    if (!problems.empty()) ReportError(DisplayText(problemText + "There is no replace to undo"));
    else ShowInfo(QStringLiteral("There is no replace to undo"));
    return false;
  }
  const TJournalInfo& last = *offered;
  if (!AskYesNo(DisplayText(problemText) + QStringLiteral("Restore the files of this run?\n\n") + DisplayText(DescribeRun(last))))
    return false;
  std::vector<std::string> refusals;
  TUndoOutcome outcome;
  {
    TBusyCursor busy;
    outcome = UndoJournal(last.Path, DefaultUndoFolder(), [&](const std::string& line) { refusals.push_back(line); });
    PruneJournals(DefaultUndoFolder(), UndoLimitsFromSettings());
  }
  if (!outcome.Error.empty()) {
    ReportError(DisplayText(outcome.Error));
    return false;
  }
  std::string text = outcome.Resumed.empty() ? std::string() : "Taken up again: " + outcome.Resumed + "\n";
  text += "Restored " + CountText(outcome.Restored, "file");
  if (outcome.Refused > 0) text += ", refused " + CountText(outcome.Refused, "file");
  if (outcome.Damaged > 0) text += ", the journal is damaged";
  if (!refusals.empty()) text += ":";
  for (size_t i = 0; i < refusals.size() && i < RefusalsShown; ++i) text += "\n" + refusals[i];
  if (refusals.size() > RefusalsShown) text += "\n... and " + CountText(static_cast<int64_t>(refusals.size() - RefusalsShown), "more line");
  ShowInfo(DisplayText(text));
  return outcome.Restored > 0;
}

}  // namespace trawlex
