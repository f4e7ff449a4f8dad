#pragma once
// The headless mode: `trawlex --report [switches]` searches without any window and
// writes the results report to standard output.
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/BaseThread.h"
#include "engine/UndoJournal.h"

namespace trawlex {

class TSearchParams;

enum THeadlessExit { ExitFinds = 0, ExitNoFinds = 1, ExitError = 2 };

// Without a window there is no event loop to wait on: hand-overs run on the worker under
// a lock, which keeps them one at a time as a main thread would, and end notifications
// are queued for the thread that waits in RunUntil.
class THeadlessInvoker : public IMainThreadInvoker {
 public:
  void InvokeAndWait(const std::function<void()>& fn) override;
  void Post(std::function<void()> fn) override;
  // Runs queued calls until `done` holds.
  void RunUntil(const bool& done);

 private:
  std::mutex CallLock, QueueLock;
  std::condition_variable Ready;
  std::deque<std::function<void()>> Queue;
};

struct TSearchOutcome {
  int32_t TotalFinds = 0;
  bool FileErrors = false;  // a file could not be searched
};

// Reads the switches, runs the search and writes the report to `out`. False (with the
// reason on `err`) when the search could not start, failed, or the report could not be
// written.
bool SearchAndReport(const std::vector<std::string>& args, TSearchParams& params, THeadlessInvoker& invoker,
                     std::FILE* out, std::FILE* err, TSearchOutcome& outcome);

// Checks `args` as the headless mode reads them (an unknown "--" option is an error, so a
// misspelt option never changes what is done); false after telling `err` why, with a usage
// line naming the program `programName` where it helps.
bool CheckHeadlessArguments(const std::vector<std::string>& args, std::FILE* err, const std::string& programName);

// Runs the search the switches among `args` describe; returns the exit status. The
// report goes to `out` with "\n" line ends, error lines and input problems to `err`;
// when `err` is a terminal, one progress line is redrawn there and erased at the end.
// The results are held in `results`, which the caller keeps as long as it likes. Usage lines
// name the program `programName`, the name it was called by.
int RunReport(const std::vector<std::string>& args, TSearchParams& results, std::FILE* out, std::FILE* err,
              const std::string& programName = "trawlex");
int RunReport(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// The limits of the kept undo journals: the settings' values, the engine's defaults where
// the settings have none.
TUndoLimits UndoLimitsFromSettings();

}  // namespace trawlex
