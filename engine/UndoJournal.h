#pragma once
// The undo journal: what a replace run overwrote, kept so that the run can be taken back
// later, even after the program has ended or was killed.
//
// One journal file per run, in the undo folder ($XDG_STATE_HOME/vantorel/Trawlex/undo, or
// ~/.local/state/... without the variable). It is a run of records, each with its own
// checksum, so a journal cut short by a crash still holds every whole record before the cut:
//   run    time, kind ("replace" or "undo"), target, replacement, base folder
//   file   the file's own path (links resolved), how it was written (renamed or in place),
//          the size and SHA-256 of its old and of its new content, the old content
//          compressed (zlib), and for a file written in place the new content as well
//   placed the new content of file record n is in place, with its modification time
//   end    the run ended
// A file record reaches the disk (flushed) before its file is changed, so a crash at any
// point leaves a record for every file that was changed.
//
// Undoing a journal restores each file whose content is still what the run wrote, through
// the same locked, metadata-keeping rewrite as a replace, and writes a journal of its own,
// so an undo can be undone too. A file changed since, deleted, or replaced by something else
// is refused with a reason; the others are still restored.
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace trawlex {

using TDigest = std::array<uint8_t, 32>;

// SHA-256, fed in pieces.
class TSha256 {
 public:
  TSha256();
  void Update(const void* data, size_t count);
  TDigest Final();

 private:
  void Block(const uint8_t* p);
  std::array<uint32_t, 8> H;
  std::array<uint8_t, 64> Buffer{};
  size_t Filled = 0;
  uint64_t Total = 0;
};
TDigest Sha256(std::string_view data);
std::string DigestHex(const TDigest& digest);

// $XDG_STATE_HOME/vantorel/Trawlex/undo, or $HOME/.local/state/vantorel/Trawlex/undo.
std::string DefaultUndoFolder();

// How many journals are kept and how much they may take together; the oldest go first.
struct TUndoLimits {
  int32_t Runs = 20;
  int64_t Bytes = int64_t{1} << 30;
};
// The limits with `runs` journals and `sizeMiB` MiB where these are positive, the defaults elsewhere.
TUndoLimits UndoLimitsOf(int32_t runs, int32_t sizeMiB);

struct TJournalRun {
  int64_t Time = 0;  // seconds since the epoch
  std::string Kind = "replace";  // "replace" or "undo"
  std::string Target, Replacement, Directory;
};

struct TJournalEntry {
  std::string Path;
  bool InPlace = false;
  int64_t OldSize = 0, NewSize = 0;
  TDigest OldHash{}, NewHash{};
  std::string OldPacked, NewPacked;  // compressed; NewPacked only for a file written in place
  bool Placed = false;
  int64_t NewModifiedNs = 0;
};

struct TJournalInfo {
  std::string Path;
  TJournalRun Run;
  int32_t Files = 0;      // file records
  int64_t Bytes = 0;      // size of the journal file
  bool Ended = false;     // the run reached its end (false after a crash)
};

// Writes one run's journal. Not thread-safe: one thread writes it at a time.
class TUndoJournalWriter {
 public:
  TUndoJournalWriter() = default;
  ~TUndoJournalWriter();
  TUndoJournalWriter(const TUndoJournalWriter&) = delete;
  TUndoJournalWriter& operator=(const TUndoJournalWriter&) = delete;

  // Creates a new journal file in `folder` (made when missing) and writes the run record.
  bool Create(const std::string& folder, const TJournalRun& run);
  // Adds a file record and flushes it to disk; its index, or -1 with Error() set.
  int32_t AddFile(const std::string& path, bool inPlace, std::string_view oldContent, int64_t newSize,
                  const TDigest& newHash, std::string_view newContentInPlace);
  // Records that the new content of file `index` is in place (flushed by Finish).
  void MarkPlaced(int32_t index, int64_t modifiedNs);
  // Writes the end record, flushes and closes. A journal without a file record is removed:
  // there is nothing to undo.
  bool Finish();

  const std::string& Path() const { return FPath; }
  const std::string& Error() const { return FError; }
  int32_t FileCount() const { return FFiles; }

 private:
  bool WriteRecord(char type, const std::string& payload, bool flush);
  std::FILE* File = nullptr;
  std::string FPath, FError;
  int32_t FFiles = 0;
};

// The journals in `folder`, newest first.
std::vector<TJournalInfo> ListJournals(const std::string& folder);
// The paths of the journal files in `folder`, newest first, without reading them.
std::vector<std::string> JournalPaths(const std::string& folder);
// The run, the number of files and whether the run ended; false when it is no journal.
bool ReadJournalInfo(const std::string& path, TJournalInfo& info);
// Reads every whole record of a journal; a torn end is not an error.
bool ReadJournal(const std::string& path, TJournalRun& run, std::vector<TJournalEntry>& entries, std::string& error);
// The content a packed (compressed) text stands for; false when it is damaged.
bool UnpackContent(const std::string& packed, int64_t size, std::string& out);

// One line that names a run: "2026/12/07 12:30:05  replace 'a' with 'b' in 3 files (folder)".
std::string DescribeRun(const TJournalInfo& info);

// Removes the oldest journals beyond the limits; `keep` (a journal path) is never removed.
void PruneJournals(const std::string& folder, const TUndoLimits& limits, const std::string& keep = {});
// Why the old content of files of `oldBytes` bytes cannot be kept within the limits, or empty.
std::string UndoSpaceProblem(int64_t oldBytes, const TUndoLimits& limits);

// Whether a copy of a file's old content that an interrupted in-place rewrite left behind
// may be copied back over the file: the journal entry says the copy is the old content and
// the file is now the old content, the new one, or a mix of the two that only an
// interrupted overwrite makes.
bool InterruptedRewriteRecoverable(const TJournalEntry& entry, std::string_view backup, std::string_view current);
// The newest journal entry of the file `realPath` whose old content hashes to `oldHash`,
// looked up in the journals of `folder`; false when none has one.
bool FindJournalEntry(const std::string& folder, const std::string& realPath, const TDigest& oldHash,
                      TJournalEntry& entry);

struct TUndoOutcome {
  int32_t Restored = 0;
  int32_t Refused = 0;     // changed since, deleted, or a write failed
  int32_t Unchanged = 0;   // the run never got to change them
  std::string Error;       // the journal itself could not be used
};

// Restores the files of the journal at `journalPath`. Log lines (path + ": " + reason) go to
// `log`. With `undoFolder` set, the undo writes a journal there itself.
TUndoOutcome UndoJournal(const std::string& journalPath, const std::string& undoFolder,
                         const std::function<void(const std::string&)>& log);

}  // namespace trawlex
