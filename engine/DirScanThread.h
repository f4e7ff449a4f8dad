#pragma once
// A worker that collects the candidate files of a directory tree: per directory the
// entries matching each pattern (hidden entries unless the parameters ask for them, files
// git ignores when they say so, and everything but regular files left out), then its
// subdirectories depth first, but for skipped and ignored folders, which are never opened.
// The candidates end up in ascending path
// order, compared without regard to ASCII letter case; two names that differ only in
// case are two files here and both stay, their exact bytes breaking the tie.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/BaseThread.h"
#include "engine/SearchResult.h"
#include "platform/Platform.h"

namespace trawlex {

class TDirScanParams;

// The candidates: full paths, views of the paths' arena that lives as long as the list is
// processed (a file costs its path and a view until it is searched, not a whole item).
using TCandidateList = std::vector<std::string_view>;

class TDirScanThread : public TBaseThread {
 public:
  using TBaseThread::TBaseThread;

  TDirScanParams* Params = nullptr;
  TTextHandler OnStatus;
  TTextHandler OnError;
  // Candidates collected so far; final once the scan has ended.
  int32_t FilesFound() const { return FFilesFound.load(std::memory_order_relaxed); }

  virtual TDirScanThread& SetParams(TDirScanParams* params);

 protected:
  // The candidates in path order.
  virtual void ProcessFiles(const TCandidateList& files) = 0;
  // Candidates (one folder's) have joined the list, which is put in path order once the
  // scan is done; the views stay valid until CandidatesEnding. `shortReadsEnd` tells for
  // each whether a short read reaches its end (TDirHandle::ShortReadsEndFiles).
  virtual void CandidatesAdded(const std::vector<std::string_view>& paths, const std::vector<bool>& shortReadsEnd) {}
  // The candidates are about to be freed, also after a failure: nothing may use them after.
  virtual void CandidatesEnding() {}
  // The entries of the folder at `dir` when they were listed already, ahead of the walk.
  virtual bool ListedAhead(const std::string& dir, std::vector<TDirName>& names) { return false; }
  // While the walk goes on (before each folder it reads): the first `count` entries of
  // FoundOrder are in their final places, so ProcessFiles gets these candidates first, in
  // this order (SettledCandidate gives their paths). The count only grows.
  virtual void CandidatesSettled(size_t count) {}
  // The path of the candidate at FoundOrder[i], i below the settled count, during the walk.
  std::string_view SettledCandidate(size_t i) const { return (*FoundFiles)[FoundOrder[i]]; }

  void ReportStatus(const std::string& text);
  void ReportError(const std::string& text);
  void ScanAndProcess(const std::string& baseDir);

  std::atomic<int32_t> FFilesFound{0};
  // Folders the walk has listed so far.
  std::atomic<int64_t> FFoldersEntered{0};
  // For each candidate of the sorted list, its place in the order the scan found them
  // (the order of CandidateAdded); valid while ProcessFiles runs.
  std::vector<size_t> FoundOrder;
  // For each candidate in the order the scan found them: whether a short read of it
  // reaches its end.
  std::vector<bool> FoundShortReadsEnd;

 private:
  struct TLevel;
  // Walks the tree below `baseDir`, each folder opened relative to the one above it. A
  // folder that cannot be opened or listed is reported as "path: reason".
  void ScanDir(const std::string& baseDir);
  // Adds the folder's candidates and notes its subfolders; false when a stop was requested.
  bool ReadLevel(TLevel& level);
  // ReadLevel's steps. Takes the ignore files among the folder's entries into its rules.
  void EnterIgnoreScope(TLevel& level, const std::vector<TDirName>& names);
  // Note in `entries` the candidates among `names`; false when a stop was requested.
  bool PickFiles(const TLevel& level, const std::vector<TDirName>& names, std::vector<uint32_t>& entries);
  // The same for the subfolders the walk goes into.
  void PickSubdirs(const TLevel& level, const std::vector<TDirName>& names, std::vector<uint32_t>& entries);
  static void SortInPathOrder(const std::vector<TDirName>& names, std::vector<uint32_t>& entries);
  // Makes the folder's steps of the chosen entries (their names moved out of `names`).
  void AddSteps(TLevel& level, std::vector<TDirName>& names, const std::vector<uint32_t>& entries);
  void LeaveLevel(std::vector<TLevel>& levels);
  // Tells CandidatesSettled how far FoundOrder is final now.
  void Settle(const std::vector<TLevel>& levels);
  // Puts `found` in path order (FoundOrder says where each came from); duplicates go.
  void SortCandidates(TCandidateList& found);
  // The same, once FoundOrder already holds that order.
  void TakeFoundOrder(TCandidateList& found);

  TCandidateList* FoundFiles = nullptr;  // exists only during ScanAndProcess
  TTextArena* FoundPaths = nullptr;      // the same
  // Whether the walk's order (FoundOrder as the walk fills it) is path order: false once a
  // path was rewritten to its canonical form, or the walk ended early.
  bool WalkOrderHolds = true;
  // The first entries of FoundOrder known to be final (see Settle).
  size_t Settled = 0;
};

}  // namespace trawlex
