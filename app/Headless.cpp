#include "app/Headless.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <vector>

#include "app/CommandLine.h"
#include "base/Errors.h"
#include "config/UndoSettings.h"
#include "engine/Report.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/SearchThread.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

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

// The report's lines, gathered into large writes: one per megabyte, not one per line.
class TReportWriter {
 public:
  explicit TReportWriter(std::FILE* out) : Out(out) {
    Buffer.reserve(Chunk + 4096);
    // Into a pipe, a megabyte goes across in one step instead of sixteen.
    WidenPipe(out, Chunk);
  }
  // Where the next line's bytes go; end each line with EndLine.
  std::string& Line() { return Buffer; }
  // Adds bytes that stay where they are until the report is written (a line's text): a
  // long one is written from there instead of being copied first.
  void AddLasting(std::string_view text) {
    if (text.size() >= 256) {
      CutPiece();
      Pieces.push_back({0, text.data(), text.size()});
      Pending += text.size();
      return;
    }
    Buffer += text;
  }
  void EndLine() {
    Buffer += '\n';
    if (Buffer.size() - BufferCut + Pending >= Chunk || Pieces.size() >= 1000) Flush();
  }
  void WriteLine(std::string_view line) {
    Buffer += line;
    EndLine();
  }
  // False once a write failed.
  bool Flush() {
    CutPiece();
    if (Ok && !Pieces.empty()) Ok = WritePieces();
    Pieces.clear();
    Buffer.clear();
    BufferCut = 0;
    Pending = 0;
    return Ok;
  }
  bool Ok = true;

 private:
  // A stretch of the report: lasting bytes elsewhere, or else of Buffer, from an offset
  // (the buffer may still move).
  struct TPiece {
    size_t Offset;
    const char* Lasting;
    size_t Size;
    const char* Data(const std::string& buffer) const { return Lasting ? Lasting : buffer.data() + Offset; }
  };
  void CutPiece() {
    if (Buffer.size() == BufferCut) return;
    Pieces.push_back({BufferCut, nullptr, Buffer.size() - BufferCut});
    Pending += Buffer.size() - BufferCut;
    BufferCut = Buffer.size();
  }
  bool WritePieces() {
    std::vector<TByteSpan> spans;
    spans.reserve(Pieces.size());
    for (const TPiece& piece : Pieces) spans.push_back({piece.Data(Buffer), piece.Size});
    return WriteGathered(Out, spans);
  }

  static constexpr size_t Chunk = size_t{1} << 20;
  std::FILE* Out;
  std::string Buffer;
  size_t BufferCut = 0;  // Buffer's bytes before this are in Pieces
  size_t Pending = 0;    // the bytes in Pieces
  std::vector<TPiece> Pieces;
};

}  // namespace

void THeadlessInvoker::InvokeAndWait(const std::function<void()>& fn) {
  std::lock_guard lock(CallLock);
  fn();
}

void THeadlessInvoker::Post(std::function<void()> fn) {
  std::lock_guard lock(QueueLock);
  Queue.push_back(std::move(fn));
  Ready.notify_one();
}

void THeadlessInvoker::RunUntil(const bool& done) {
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

bool CheckHeadlessArguments(const std::vector<std::string>& args, std::FILE* err, const std::string& programName) {
  const TProgramOptions options = ReadProgramOptions(args, true);
  if (options.Error.empty()) return true;
  std::fprintf(err, "%s\n", options.Error.c_str());
  if (options.ShowUsageLine) std::fprintf(err, "%s\n", HeadlessUsageLine(programName).c_str());
  return false;
}

int RunReport(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  TSearchParams results;
  return RunReport(args, results, out, err);
}

int RunReport(const std::vector<std::string>& args, TSearchParams& params, std::FILE* out, std::FILE* err,
              const std::string& programName) {
  if (!CheckHeadlessArguments(args, err, programName)) return ExitError;
  THeadlessInvoker invoker;
  TSearchOutcome outcome;
  if (!SearchAndReport(args, params, invoker, out, err, outcome) || outcome.FileErrors) return ExitError;
  return outcome.TotalFinds > 0 ? ExitFinds : ExitNoFinds;
}

TUndoLimits UndoLimitsFromSettings() {
  const TUndoSettings stored = ReadUndoSettings();
  return UndoLimitsOf(stored.Runs, stored.SizeMiB);
}

namespace {

// The switches as search options; false, with the reason on `err`, where they do not make a
// search.
bool ReadSearchOptions(const std::vector<std::string>& args, TSearchOptions& options, std::FILE* err) {
  try {
    ApplySearchSwitches(args, options);
  } catch (const ETrawlexError& e) {
    std::fprintf(err, "%s\n", e.what());
    return false;
  }
  options.Directory = DirectoryWithoutTrailingDelimiter(options.Directory);
  const std::string problem = ValidateSearchOptions(options);
  if (!problem.empty()) {
    std::fprintf(err, "%s\n", problem.c_str());
    return false;
  }
  return true;
}

void SetSearchParams(const TSearchOptions& options, const std::string& baseDir, TSearchParams& params) {
  params.SetFilePatterns(options.Patterns);
  params.BaseDir = baseDir;
  params.IncludeSubdirs = options.Subdirs;
  params.IncludeHidden = options.Hidden;
  params.SkipBinary = options.SkipBinary;
  params.SetSkipFolders(options.SkipFolders);
  params.SkipIgnored = options.SkipIgnored;
  params.SetTarget(options.Target);
  params.SetExclude(options.Exclude);
  params.WholeWord = options.WholeWord;
  params.SetCaseSensitive(options.CaseSensitive);
  params.RegExp = options.RegExp;
}

// Reads the switches into `params`, ready to search; false, with the reason on `err`, where
// they do not make a search.
bool PrepareSearch(const std::vector<std::string>& args, TSearchParams& params, std::FILE* err) {
  TSearchOptions options;
  if (!ReadSearchOptions(args, options, err)) return false;
  // The folder the system means: after a symbolic link, ".." leads out of the link's target,
  // not back to the folder that holds the link.
  std::string baseDir, why;
  if (!ResolvePath(options.Directory, baseDir, why)) {
    std::fprintf(err, "%s: %s\n", options.Directory.c_str(), why.c_str());
    return false;
  }
  SetSearchParams(options, baseDir, params);
  try {
    params.PrepareRegex();
  } catch (const ETrawlexError& e) {
    std::fprintf(err, "%s\n", e.what());
    return false;
  }
  return true;
}

// Runs the search on a worker until it ends, with a progress line on a terminal and every
// error line on `err`. False when the search failed as a whole; else `foundText` holds the
// file counters as the search ended.
bool RunSearch(TSearchParams& params, THeadlessInvoker& invoker, std::FILE* err, TSearchOutcome& outcome,
               std::string& foundText) {
  TProgressLine progress(err);
  bool done = false;
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
    outcome.FileErrors = true;
  };
  thread.OnTerminate = [&](TBaseThread&) { done = true; };
  thread.Start();
  invoker.RunUntil(done);
  progress.Erase();
  if (!thread.FatalError().empty()) {
    std::fprintf(err, "%s\n", thread.FatalError().c_str());
    return false;
  }
  outcome.TotalFinds = thread.TotalFinds();
  foundText = SearchProgressText(thread.FilesWithFinds(), thread.FilesSearched(), thread.FilesFound(),
                                 thread.BinaryFilesSkipped());
  return true;
}

// The header, then every result file and all its lines, each the item's GetText.
void WriteReportLines(TReportWriter& report, const TSearchParams& params, const std::string& foundText,
                      int32_t totalFinds) {
  for (const std::string& line : ReportHeaderLines(params, foundText, "Finds: " + std::to_string(totalFinds)))
    report.WriteLine(line);
  for (int32_t i = 0; i < params.GetResultCount() && report.Ok; ++i) {
    const TSearchFile* file = params.GetResult(i);
    report.WriteLine(file->GetText());
    file->ForEachLine([&](const TSearchLine& line) {
      line.AppendTextPrefix(report.Line());
      report.AddLasting(line.Text());
      report.EndLine();
    });
  }
}

// Writes the report to `out`; false, with the reason on `err`, when it could not be written
// whole.
bool WriteReport(const TSearchParams& params, const std::string& foundText, int32_t totalFinds, std::FILE* out,
                 std::FILE* err) {
  bool written = false;
  try {
    TReportWriter report(out);
    WriteReportLines(report, params, foundText, totalFinds);
    written = report.Flush();
  } catch (const std::bad_alloc&) {
    std::fflush(out);
    std::fprintf(err, "Out of memory: the report is incomplete\n");
    return false;
  }
  if (std::fflush(out) != 0 || std::ferror(out) || !written) {
    std::fprintf(err, "Cannot write the report: %s\n", SystemErrorText(errno).c_str());
    return false;
  }
  return true;
}

}  // namespace

bool SearchAndReport(const std::vector<std::string>& args, TSearchParams& params, THeadlessInvoker& invoker,
                     std::FILE* out, std::FILE* err, TSearchOutcome& outcome) {
  std::string foundText;
  if (!PrepareSearch(args, params, err) || !RunSearch(params, invoker, err, outcome, foundText)) return false;
  return WriteReport(params, foundText, outcome.TotalFinds, out, err);
}

}  // namespace trawlex
