#pragma once
// The undo journal: what a replace run overwrote, kept so that the run can be taken back
// later, even after the program has ended or was killed.
//
// One journal file per run, in the undo folder ($XDG_STATE_HOME/vantorel/Trawlex/undo, or
// ~/.local/state/... without the variable), named after the time it was made. The folder must
// be the user's own and closed to others (mode 0700), each journal a regular file of the
// user's own (mode 0600), opened without following links: a journal is acted upon, so one
// that anybody else could have written is refused, never read.
//
// A journal starts with a state (running, ended, undone, with the length it had at its end,
// so that a journal cut short is told from one whose run was killed), then a run of
// records, each with a checksum of its head and one of its content, so that one damaged
// record is found, named, and the records after it are still read:
//   run    time, kind ("replace" or "undo"), target, replacement, base folder (as given and
//          resolved), and for an undo the journal of the run it undoes
//   file   the file's own path (links resolved, with a checksum of its own so that a damaged
//          record still names its file), the path the run reached it by, how it was written
//          (renamed or in place), the size and SHA-256 of its old and of its new content, the
//          identity (device and inode) of the file the run wrote, the old content compressed
//          (zlib), and for a file written in place the new content as well; a large file's old
//          content instead goes in pieces, each compressed in a record of its own written
//          before the file record, which counts them
//   piece  up to PieceSize bytes of the old content of the next file record, compressed
//   placed the new content of file record n is in place, with its modification time
//   end    the run ended, with its number of file records
// A file record reaches the disk (flushed) before its file is changed, so a crash at any
// point leaves a record for every file that was changed. A run holds a lock on its journal
// until its end; an undo holds the lock on the journal it undoes, so that a run is never
// undone while it runs, nor by two undos at once.
//
// Undoing a journal restores each file whose content is still what the run wrote, that is
// still the very file the run wrote (same identity) and lies in the run's folder, through the
// same locked, metadata-keeping rewrite as a replace, and writes a journal of its own, so an
// undo can be undone too. A file changed since, deleted, or replaced by something else is
// refused with a reason; the others are still restored. At its end the undone run is marked
// so and no longer offered. An undo that was interrupted, or that could not write a file
// (a full disk), is taken up again by the next one.
#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Sha256.h"
#include "platform/OwnFiles.h"

namespace trawlex {

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
  // Set by the writer: the base folder with links resolved (the files restored must lie in
  // it), and the time the journal was made in nanoseconds (which orders the runs).
  std::string RealDirectory;
  int64_t TimeNs = 0;
  std::string Undoes;  // for an undo: the file name of the journal of the run it undoes
};

struct TJournalEntry {
  std::string Path;  // the file itself, links resolved
  std::string Name;  // the path the run reached it by, its folder resolved
  uint64_t Device = 0, Inode = 0;  // the file the run wrote
  bool InPlace = false;
  int64_t OldSize = 0, NewSize = 0;
  TDigest OldHash{}, NewHash{};
  std::string OldPacked, NewPacked;  // compressed; NewPacked only for a file written in place
  // Where the piece records of a large file's old content start in the journal, in order
  // (then OldPacked is empty); a piece that cannot be read is UINT64_MAX.
  std::vector<uint64_t> Pieces;
  bool InPieces() const { return !Pieces.empty(); }
  bool Placed = false;
  int64_t NewModifiedNs = 0;
};

struct TJournalInfo {
  std::string Path;
  TJournalRun Run;
  int32_t Files = 0;      // file records
  int64_t Bytes = 0;      // size of the journal file
  bool Ended = false;     // the run reached its end (false after a crash)
  bool Undone = false;    // an undo of it ran to its end
  bool Running = false;   // its run, or an undo of it, holds it now
  std::vector<std::string> Damage;  // what of it cannot be read, one line each
  // Whether --undo-last may take it: not undone, and a file record (or a damaged one) in it.
  bool Offered() const { return !Undone && (Files > 0 || !Damage.empty()); }
};

// Writes one run's journal. Not thread-safe: one thread writes it at a time.
struct TUndoOutcome;
class TUndoJournalWriter;
TUndoOutcome UndoJournal(const std::string& journalPath, const std::string& undoFolder,
                         const std::function<void(const std::string&)>& log);

class TUndoJournalWriter {
 public:
  TUndoJournalWriter() = default;
  ~TUndoJournalWriter();
  TUndoJournalWriter(const TUndoJournalWriter&) = delete;
  TUndoJournalWriter& operator=(const TUndoJournalWriter&) = delete;

  // Creates a new journal file in `folder` (made when missing, and refused when it is not the
  // user's own), writes the run record and takes the journal's lock.
  bool Create(const std::string& folder, const TJournalRun& run);
  // Adds a file record and flushes it to disk; its index, or -1 with Error() set. `path` is
  // the file itself, `name` the path it was reached by; `device` and `inode` name the file
  // that will hold the new content.
  int32_t AddFile(const std::string& path, const std::string& name, uint64_t device, uint64_t inode, bool inPlace,
                  std::string_view oldContent, int64_t newSize, const TDigest& newHash,
                  std::string_view newContentInPlace);
  // The same for a file too large to hold: its old content (`oldSize` bytes) is read with
  // `read(buffer, count, offset)` (the count read, 0 at the end, -1 on an error) and kept in
  // compressed pieces, never whole. Only for a file that is written through a new file.
  using TPieceReader = std::function<int64_t(char* buffer, size_t count, int64_t offset)>;
  int32_t AddFileInPieces(const std::string& path, const std::string& name, uint64_t device, uint64_t inode,
                          int64_t oldSize, const TPieceReader& read, int64_t newSize, const TDigest& newHash);
  static constexpr size_t PieceSize = size_t{8} << 20;
  // Records that the new content of file `index` is in place (flushed by Finish).
  void MarkPlaced(int32_t index, int64_t modifiedNs);
  // Writes the end record, flushes and closes. A journal without a file record is removed:
  // there is nothing to undo.
  bool Finish();
  // Closes without the end record, as a killed run leaves it, so that an undo takes up
  // the rest later. A journal without a file record is removed.
  void Leave();

  const std::string& Path() const { return FPath; }
  const std::string& Error() const { return FError; }

 private:
  friend TUndoOutcome UndoJournal(const std::string&, const std::string&, const std::function<void(const std::string&)>&);
  bool WriteRecord(char type, const std::string& payload, bool flush);
  int32_t WriteFileRecord(const std::string& path, const std::string& name, uint64_t device, uint64_t inode,
                          bool inPlace, int64_t oldSize, const TDigest& oldHash, int64_t newSize, const TDigest& newHash,
                          const std::string& oldPacked, const std::string& newPacked, uint64_t pieces);
  // Goes on writing the journal open in `file` (locked) after its last whole record.
  bool Continue(TOwnFile&& file, const std::string& path, int64_t wholeEnd, int32_t files);
  TOwnFile File;
  std::string FPath, FError;
  int32_t FFiles = 0;
};

// The journals in `folder`, newest first by the time recorded in them; journals without a
// file record (a run that changed nothing) are left out. Only names the program makes are
// taken. When `problems` is given, it gets a line (what, and how to mend it) for the folder
// when it is refused, and for each journal refused or not readable at all.
std::vector<TJournalInfo> ListJournals(const std::string& folder, std::vector<std::string>* problems = nullptr);
// The paths of the journal files in `folder` (names the program makes), without reading them.
std::vector<std::string> JournalPaths(const std::string& folder);
// The run, the number of files, its state and its damage; false with `problem` set when the
// file is refused or is no journal.
bool ReadJournalInfo(const std::string& path, TJournalInfo& info, std::string& problem);
// Reads every whole record of a journal; a torn end of a run that did not end is not an
// error. `damage`, when given, gets a line for each part that cannot be read.
bool ReadJournal(const std::string& path, TJournalRun& run, std::vector<TJournalEntry>& entries, std::string& error,
                 std::vector<std::string>* damage = nullptr);
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
  int32_t Failed = 0;      // of those, the ones that could not be written or read now: the
                           // run is then not marked undone, and the next undo takes them up
  int32_t Unchanged = 0;   // the run never got to change them
  int32_t Damaged = 0;     // parts of the journal that could not be read (each logged)
  std::string Error;       // the journal itself could not be used
  bool Busy = false;       // Error: its run, or another undo of it, is running
  bool AlreadyUndone = false;  // Error: an undo of it ended meanwhile
  std::string Resumed;     // the run an interrupted undo was taken up for (its description)
};

// Restores the files of the journal at `journalPath`, holding its lock; at the end the run
// is marked undone. An interrupted undo (`journalPath`) of a run that is still offered is
// taken up: the rest of that run is undone into the same journal. Log lines (path + ": " +
// reason) go to `log`. With `undoFolder` set, the undo writes a journal there itself.
TUndoOutcome UndoJournal(const std::string& journalPath, const std::string& undoFolder,
                         const std::function<void(const std::string&)>& log);

}  // namespace trawlex
