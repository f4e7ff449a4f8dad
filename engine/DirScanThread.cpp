#include "engine/DirScanThread.h"

#include <algorithm>

#include "base/TextUtils.h"
#include "engine/SearchParams.h"
#include "platform/Wildcard.h"

namespace trawlex {

TDirScanThread& TDirScanThread::SetParams(TDirScanParams* params) {
  Params = params;
  return *this;
}

void TDirScanThread::ReportStatus(const std::string& text) {
  if (OnStatus) SyncMessage(text, OnStatus);
}

void TDirScanThread::ReportError(const std::string& text) {
  if (OnError) SyncMessage(text, OnError);
}

void TDirScanThread::ScanAndProcess(const std::string& baseDir) {
  TTextArena paths;  // outlives every view of it, the helpers' included
  TCandidateList found;
  struct TEnd {
    TDirScanThread& Thread;
    ~TEnd() {
      Thread.CandidatesEnding();
      Thread.FoundFiles = nullptr;
      Thread.FoundPaths = nullptr;
    }
  } end{*this};
  FoundFiles = &found;
  FoundPaths = &paths;

  ScanDir(baseDir);
  // Each directory contributes its own names once, so the list only needs sorting; the
  // order is the same as inserting every path at its binary-search position. The folded
  // keys are made once instead of at every comparison.
  // The start that every name shares orders nothing and is left out of the keys.
  size_t common = found.empty() ? 0 : found[0].size();
  for (const std::string_view name : found)
    common = static_cast<size_t>(
        std::mismatch(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(std::min(common, name.size())), found[0].begin())
            .first -
        name.begin());
  std::string folded;  // all folded names after the common start, one after the other
  size_t total = 0;
  for (const std::string_view name : found) total += name.size() - common;
  folded.reserve(total);
  struct TKey {
    size_t Begin;
    uint32_t Length, Index;
  };
  std::vector<TKey> keys;
  keys.reserve(found.size());
  for (size_t i = 0; i < found.size(); ++i) {
    const std::string_view name = found[i];
    keys.push_back({folded.size(), static_cast<uint32_t>(name.size() - common), static_cast<uint32_t>(i)});
    for (size_t k = common; k < name.size(); ++k) folded += static_cast<char>(UpperByte(static_cast<unsigned char>(name[k])));
  }
  std::sort(keys.begin(), keys.end(), [&](const TKey& a, const TKey& b) {
    const std::string_view x(folded.data() + a.Begin, a.Length), y(folded.data() + b.Begin, b.Length);
    if (x != y) return x < y;  // compares bytes unsigned
    return CompareBytes(found[a.Index], found[b.Index]) < 0;
  });
  std::string().swap(folded);
  TCandidateList sorted;
  sorted.reserve(found.size());
  FoundOrder.clear();
  FoundOrder.reserve(found.size());
  for (const TKey& k : keys) {
    const std::string_view name = found[k.Index];
    if (sorted.empty() || sorted.back() != name) {  // a duplicate is searched once
      sorted.push_back(name);
      FoundOrder.push_back(k.Index);
    }
  }
  std::vector<TKey>().swap(keys);
  found = std::move(sorted);
  FFilesFound.store(static_cast<int32_t>(found.size()), std::memory_order_relaxed);
  ReportStatus("Processing files");
  ProcessFiles(found);
}

static bool NeedsCanonicalForm(const std::string& path) {
  return path.find("/.") != std::string::npos || path.find("//") != std::string::npos;
}

namespace {
// Folders kept open on the way down; those further up are closed and opened again from
// their child ("..", checked to be the same folder) when the walk comes back to them.
constexpr size_t OpenFolderWindow = 48;
}  // namespace

struct TDirScanThread::TLevel {
  std::string Path;
  std::string Name;  // within the folder above
  TDirHandle Handle;
  std::vector<std::string> Subdirs;  // still to visit, in listing order
  size_t Next = 0;
};

void TDirScanThread::ScanDir(const std::string& baseDir) {
  // The walk keeps its own stack instead of recursing, so a deep tree cannot exhaust the
  // thread's stack.
  std::vector<TLevel> levels;
  levels.emplace_back();
  levels.back().Path = baseDir;
  std::string error;
  ReportStatus("Reading dir " + baseDir);
  if (!levels.back().Handle.Open(baseDir, error)) {
    ReportError(baseDir + ": " + error);
    return;
  }
  if (!ReadLevel(levels.back())) return;
  while (!levels.empty()) {
    if (Terminated()) return;
    TLevel& top = levels.back();
    if (top.Next >= top.Subdirs.size()) {
      LeaveLevel(levels);
      continue;
    }
    TLevel child;
    child.Name = std::move(top.Subdirs[top.Next++]);
    child.Path = PathJoin(top.Path, child.Name);
    ReportStatus("Reading dir " + child.Path);
    if (!child.Handle.OpenChild(top.Handle, child.Name, error)) {
      ReportError(child.Path + ": " + error);
      continue;
    }
    levels.push_back(std::move(child));
    if (levels.size() > OpenFolderWindow + 1) levels[levels.size() - 1 - OpenFolderWindow].Handle.Close();
    if (!ReadLevel(levels.back())) return;
  }
}

void TDirScanThread::LeaveLevel(std::vector<TLevel>& levels) {
  TLevel& done = levels.back();
  if (levels.size() >= 2) {
    TLevel& parent = levels[levels.size() - 2];
    // Reopened on every way up, so that the folder on top of the walk is always open.
    if (!parent.Handle.IsOpen()) {
      TDirHandle again;
      std::string error;
      const bool opened = done.Handle.IsOpen() && again.OpenChild(done.Handle, "..", error);
      if (opened && again.SameFolder(parent.Handle)) {
        parent.Handle = std::move(again);
      } else if (parent.Next < parent.Subdirs.size()) {
        ReportError(parent.Path + ": " + (opened || error.empty() ? "The folder was moved while it was being searched" : error));
        parent.Subdirs.clear();
      }
    }
  }
  levels.pop_back();
}

bool TDirScanThread::ReadLevel(TLevel& level) {
  const std::string& dir = level.Path;
  std::vector<TDirName> names;
  std::string error;
  if (!level.Handle.List(names, error)) {
    ReportError(dir + ": " + error);
    return !Terminated();
  }

  // Entries matching each pattern in turn, each entry taken once (by the first pattern).
  std::vector<bool> taken(names.size(), false);
  for (const std::string& pattern : Params->FilePatterns) {
    for (size_t i = 0; i < names.size(); ++i) {
      const TDirName& e = names[i];
      if (taken[i] || e.Kind != TEntryKind::File || IsHiddenName(e.Name) || !MatchesWildcard(e.Name, pattern)) continue;
      if (Terminated()) return false;
      taken[i] = true;
      std::string path = PathJoin(dir, e.Name);
      if (NeedsCanonicalForm(path)) path = CanonicalPath(path);
      FoundFiles->push_back(FoundPaths->Add(path));
      CandidateAdded(FoundFiles->back());
    }
  }

  if (Params->IncludeSubdirs)
    for (TDirName& e : names)
      if (e.Kind == TEntryKind::Directory && e.Name[0] != '.') level.Subdirs.push_back(std::move(e.Name));
  return true;
}

}  // namespace trawlex
