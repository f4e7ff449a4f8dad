#include "app/Headless.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "app/CommandLine.h"
#include "engine/Errors.h"
#include "engine/Report.h"
#include "engine/SearchParams.h"
#include "engine/SearchThread.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

// Without a window there is no event loop to wait on: hand-overs run on the worker
// under a lock, which keeps them one at a time as a main thread would, and the end
// notification is queued for the thread that waits in RunReport.
class THeadlessInvoker : public IMainThreadInvoker {
 public:
  void InvokeAndWait(const std::function<void()>& fn) override {
    std::lock_guard lock(CallLock);
    fn();
  }
  void Post(std::function<void()> fn) override {
    std::lock_guard lock(QueueLock);
    Queue.push_back(std::move(fn));
    Ready.notify_one();
  }
  // Runs queued calls until `done` holds.
  void RunUntil(const bool& done) {
    while (!done) {
      std::function<void()> fn;
      {
        std::unique_lock lock(QueueLock);
        Ready.wait(lock, [this] { return !Queue.empty(); });
        fn = std::move(Queue.front());
        Queue.pop_front();
      }
      std::lock_guard lock(CallLock);
      fn();
    }
  }

 private:
  std::mutex CallLock, QueueLock;
  std::condition_variable Ready;
  std::deque<std::function<void()>> Queue;
};

// The one progress line on a terminal: redrawn at most every 100 ms, cut to its width.
class TProgressLine {
 public:
  explicit TProgressLine(std::FILE* err) : Err(err), Columns(TerminalColumns(fileno(err))) {}
  bool Active() const { return Columns > 0; }
  void Show(const std::string& text) {
    const auto now = std::chrono::steady_clock::now();
    if (now - Last < std::chrono::milliseconds(100)) return;
    Last = now;
    const size_t width = static_cast<size_t>(Columns > 1 ? Columns - 1 : 1);
    std::string line = text.size() > width ? text.substr(0, width) : text;
    std::fprintf(Err, "\r%s\x1b[K", line.c_str());
    std::fflush(Err);
    Shown = true;
  }
  void Erase() {
    if (!Shown) return;
    std::fputs("\r\x1b[K", Err);
    std::fflush(Err);
    Shown = false;
  }

 private:
  std::FILE* Err;
  int Columns;
  bool Shown = false;
  std::chrono::steady_clock::time_point Last{};
};

}  // namespace

int RunReport(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  TSearchOptions options;
  try {
    ApplySearchSwitches(args, options);
  } catch (const ETrawlexError& e) {
    std::fprintf(err, "%s\n", e.what());
    return ExitError;
  }
  options.Directory = DirectoryWithoutTrailingDelimiter(options.Directory);
  const std::string problem = ValidateSearchOptions(options);
  if (!problem.empty()) {
    std::fprintf(err, "%s\n", problem.c_str());
    return ExitError;
  }

  TSearchParams params;
  params.SetFilePatterns(options.Patterns);
  params.BaseDir = options.Directory;
  params.IncludeSubdirs = options.Subdirs;
  params.SetTarget(options.Target);
  params.SetExclude(options.Exclude);
  params.WholeWord = options.WholeWord;
  params.SetCaseSensitive(options.CaseSensitive);

  THeadlessInvoker invoker;
  TProgressLine progress(err);
  bool hadFileError = false;
  bool done = false;
  {
    TSearchThread thread(invoker);
    thread.SetParams(&params);
    thread.ShowLines = false;
    if (progress.Active()) {
      thread.OnStatus = [&](const std::string& text) {
        progress.Show(SearchProgressText(thread.FilesWithFinds(), thread.FilesSearched(), thread.FilesFound()) + " " +
                      text);
      };
    }
    thread.OnError = [&](const std::string& text) {
      progress.Erase();
      std::fprintf(err, "%s\n", text.c_str());
      hadFileError = true;
    };
    thread.OnTerminate = [&](TBaseThread&) { done = true; };
    thread.Start();
    invoker.RunUntil(done);
    progress.Erase();
    if (!thread.FatalError().empty()) {
      std::fprintf(err, "%s\n", thread.FatalError().c_str());
      return ExitError;
    }

    std::vector<std::string> lines = ReportHeaderLines(
        params, SearchProgressText(thread.FilesWithFinds(), thread.FilesSearched(), thread.FilesFound()),
        "Finds: " + std::to_string(thread.TotalFinds()));
    AppendReportItems(ListAllResults(params), lines);
    for (const std::string& line : lines) {
      std::fwrite(line.data(), 1, line.size(), out);
      std::fputc('\n', out);
    }
    if (std::fflush(out) != 0 || std::ferror(out)) {
      std::fprintf(err, "Cannot write the report: %s\n", SystemErrorText(errno).c_str());
      return ExitError;
    }
    if (hadFileError) return ExitError;
    return thread.TotalFinds() > 0 ? ExitFinds : ExitNoFinds;
  }
}

}  // namespace trawlex
