#pragma once
// The replace engine: writes one replacement text in place of the selected finds of a
// finished search, file by file on a worker thread, and never leaves a file damaged.
//
// A file is locked from the moment it is read for the checks until its new content is in
// place, so two runs (two windows, a window and a script) never interleave on one file.
// Under the lock, the file at the path must still be the one the search read (device and
// inode), with the size, time and inode change time the search recorded, every selected
// find must still be a find under the search's rules (target, case, whole word, exclude
// text), and the file must be writable. The new content is placed atomically (see
// platform/FileReplace.h); a file that fails any check or any write stays exactly as it
// was, gets log lines, and the run goes on. A file reached under several names is
// replaced once; a file whose search failed gets no job at all.
//
// Threads: the owner fills the job list and starts the worker; the worker only reads the
// jobs, their result items and ReplaceText until its end notification has run, so the
// owner keeps all of them alive (and unchanged) until then. OnLogLine and OnFileStarted run
// on the main thread while the worker waits.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/BaseThread.h"

namespace trawlex {

class ETrawlexError;
class TSearchFile;
class TSearchParams;
class TUndoJournalWriter;
class TFileRewriter;
struct TFileInfo;

// One file to change: its result item and the selected finds in it, offsets ascending.
class TReplaceFile {
 public:
  explicit TReplaceFile(TSearchFile* file) : File(file) {}

  TSearchFile* File;  // not owned

  void AddFind(int64_t offset, int32_t length) {
    if (Offsets.empty()) Length = length;
    if (length != Length && Lengths.empty()) Lengths.assign(Offsets.size(), Length);
    Offsets.push_back(offset);
    if (!Lengths.empty()) Lengths.push_back(length);
  }
  int32_t FindCount() const { return static_cast<int32_t>(Offsets.size()); }
  int64_t FindOffset(int32_t i) const { return Offsets[static_cast<size_t>(i)]; }
  int32_t FindLength(int32_t i) const { return Lengths.empty() ? Length : Lengths[static_cast<size_t>(i)]; }

 private:
  // Finds of one search all have the target's length. Lengths is filled only when they
  // differ.
  std::vector<int64_t> Offsets;
  int32_t Length = 0;
  std::vector<int32_t> Lengths;
};

using TReplaceJobList = std::vector<std::unique_ptr<TReplaceFile>>;

struct TFindCounts {
  int32_t Total = 0;     // every find of the results
  int32_t Selected = 0;  // the selected ones, which the job list holds
};

// The job list of the selected finds: one job per result file with a selected find, in
// result order; within a file, lines in order and finds in line order. A file whose
// search failed has finds that may not be all there are: it gets no job.
TFindCounts BuildReplaceJobs(const TSearchParams& params, TReplaceJobList& jobs);

// The first free temporary name folder + prefix + n + ".tmp", n = 1, 2, ... Nothing is
// created. The engine itself creates its temporary files beside the file it changes.
std::string MakeTempFileName(const std::string& prefix);
std::string MakeTempFileName(const std::string& prefix, const std::string& folder);

class TReplaceThread : public TBaseThread {
 public:
  using TBaseThread::TBaseThread;
  ~TReplaceThread() override;

  // Set before Start; read by the worker until the end notification.
  TSearchParams* Params = nullptr;  // not owned; gives the target of a file without its own
  const TReplaceJobList* Jobs = nullptr;  // not owned
  std::string ReplaceText;  // written verbatim, may be empty
  TTextHandler OnLogLine;
  TTextHandler OnFileStarted;
  // When set, every file's old content goes there (flushed to disk) before the file is
  // changed, and a file whose journal record cannot be written is not changed. The owner
  // creates it before Start and finishes it after the end notification. A copy of a
  // file's old content that an interrupted in-place rewrite left beside it is copied back
  // when the journals in the same folder show that this is safe.
  TUndoJournalWriter* Journal = nullptr;  // not owned
  // Files of this size or larger are rewritten a piece at a time, never held whole, when
  // they are written through a new file (as every file of 2 GiB or more must be).
  int64_t StreamFrom = int64_t{64} << 20;

  // Finds replaced in files that were actually rewritten. Read it in the end notification.
  int32_t ReplacedCount() const { return FReplacedCount.load(std::memory_order_relaxed); }
  int32_t FilesReplaced() const { return FFilesReplaced.load(std::memory_order_relaxed); }
  // Files refused by a check or left unchanged after a failure (not those skipped after a
  // stop, nor further names of a file already replaced).
  int32_t FilesNotReplaced() const { return FFilesNotReplaced.load(std::memory_order_relaxed); }

 protected:
  void Execute() override;

 private:
  enum class TOutcome { Replaced, NotReplaced, SameAsReplaced, Stopped };
  TOutcome ReplaceInFile(const TReplaceFile& job);
  TOutcome RewriteFile(const TReplaceFile& job, const std::string& path);
  // The file at `path` (locked, `size` bytes, `now` as the system gives it) is the one the
  // search read: false, with the reason logged, where its size, time or identity differ.
  bool SameFileAsSearched(const TSearchFile& file, const TFileInfo& now, int64_t size, const std::string& path);
  // RewriteFile for a large file, open in `rewriter`: read, checked, written and kept for
  // undo a piece at a time. `wholeAfterAll` is set (nothing written) when the file turns out
  // to need an in-place rewrite and is small enough to be read whole.
  TOutcome RewriteInPieces(const TReplaceFile& job, const std::string& path, TFileRewriter& rewriter,
                           bool& wholeAfterAll);

  // The steps of a rewrite. Each one that can end it logs why and answers the outcome.
  class TNewContent;
  struct TWholeFile;
  const TSearchParams* ParamsOf(const TReplaceFile& job) const;
  // The text that replaces find `i`: its own of `texts` (a regular expression's), or ReplaceText.
  const std::string& ReplacementOf(const std::vector<std::string>* texts, int32_t i) const;
  // The size of a file of `size` bytes once the finds of `job` are replaced.
  int64_t NewSizeOf(const TReplaceFile& job, int64_t size, const std::vector<std::string>* texts) const;
  TOutcome Refuse(const std::string& path, const std::string& reason);
  TOutcome WriteFailed(const std::string& path, const ETrawlexError& e);
  // Whether the file open in `rewriter` is read, checked and written a piece at a time.
  bool RewritesInPieces(const TReplaceFile& job, TFileRewriter& rewriter) const;
  // The last checks before the new content is written (the inode's change time, write
  // permission), and the temporary file made; false, with the reason logged, when one fails.
  bool ReadyToWrite(const TSearchFile& file, const std::string& path, TFileRewriter& rewriter);
  // RewriteFile for a file read whole.
  TOutcome RewriteWhole(const TReplaceFile& job, const std::string& path, TFileRewriter& rewriter);
  // Decodes a UTF-16 file's text and checks the finds in the text searched, making a regular
  // expression's replacement for each: why they cannot be replaced, or empty.
  std::string CheckWholeFinds(const TReplaceFile& job, TWholeFile& f) const;
  // A UTF-16 file's new content, encoded back from its text: why it cannot be, or empty.
  std::string EncodeNewText(const TReplaceFile& job, TWholeFile& f) const;
  // The new content of a file read whole, written to `out`; an outcome when that ends the rewrite.
  std::optional<TOutcome> WriteWhole(const TReplaceFile& job, const std::string& path, const TWholeFile& f,
                                     TNewContent& out);
  // The new content of a file rewritten in pieces, written to `out` as each find is checked
  // on the bytes around it; an outcome when that ends the rewrite.
  std::optional<TOutcome> CopyWithReplacements(const TReplaceFile& job, const std::string& path, TFileRewriter& rewriter,
                                               TNewContent& out);
  // Keeps the old content for undo (`keepOld`, given the identity the file will have: the
  // journal's entry, negative on a failure), puts the new content in place (`commit`), and
  // records the file as replaced.
  TOutcome Place(const TReplaceFile& job, const std::string& path, TFileRewriter& rewriter,
                 const std::function<int32_t(uint64_t device, uint64_t inode)>& keepOld,
                 const std::function<bool()>& commit);
  // The reason the finds cannot be applied to `content`, or empty.
  std::string CheckFinds(const TReplaceFile& job, const std::string& content) const;
  void Log(const std::string& text) { SyncMessage(text, OnLogLine); }

  // The files replaced in this run, by device and inode, with the name they were replaced under.
  std::map<std::pair<uint64_t, uint64_t>, std::string> Replaced;
  // Files (by device and inode) beside one of whose names an interrupted rewrite left a
  // copy of the old content, with that copy: none of their names is touched.
  std::map<std::pair<uint64_t, uint64_t>, std::string> LeftBackups;
  // What became of each of those copies (the log text), once the first name was reached.
  std::map<std::pair<uint64_t, uint64_t>, std::string> LeftBackupOutcomes;
  std::string LeftBackupMessage(const std::string& backup, const std::string& path) const;
  // Copies the old content kept in `backup` back over the file at `path` when a journal
  // shows it is safe; the log line that says what happened.
  std::string RecoverLeftBackup(const std::string& backup, const std::string& path);
  // The undo folder, links resolved: the journals in it are never replaced.
  std::string UndoFolder;
  std::atomic<int32_t> FReplacedCount{0};
  std::atomic<int32_t> FFilesReplaced{0};
  std::atomic<int32_t> FFilesNotReplaced{0};
};

}  // namespace trawlex
