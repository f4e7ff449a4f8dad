#include "engine/DirScanThread.h"

#include <algorithm>

#include "base/TextUtils.h"
#include "engine/GitIgnore.h"
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

// Orders `found` by folded path, exact bytes breaking ties, and drops duplicates; fills
// FoundOrder. The walk already gives this order in nearly every tree (see ScanDir); this
// sort is for the trees where it cannot.
void TDirScanThread::SortCandidates(TCandidateList& found) {
  // The folded keys are made once instead of at every comparison, and the start that
  // every name shares orders nothing and is left out of them.
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
  FoundOrder.clear();
  FoundOrder.reserve(keys.size());
  for (const TKey& k : keys) FoundOrder.push_back(k.Index);
  std::vector<TKey>().swap(keys);
  TakeFoundOrder(found);
}

void TDirScanThread::TakeFoundOrder(TCandidateList& found) {
  TCandidateList sorted;
  sorted.reserve(found.size());
  size_t kept = 0;
  for (const size_t i : FoundOrder) {
    const std::string_view name = found[i];
    if (sorted.empty() || sorted.back() != name) {  // a duplicate is searched once
      sorted.push_back(name);
      FoundOrder[kept++] = i;
    }
  }
  FoundOrder.resize(kept);
  found = std::move(sorted);
}

static bool NeedsCanonicalForm(const std::string& path);

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
  FoundOrder.clear();
  FoundShortReadsEnd.clear();
  // Paths below a base folder that needs its canonical form are all rewritten, and their
  // order is known only once they are sorted.
  WalkOrderHolds = !NeedsCanonicalForm(PathJoin(baseDir, "x"));
  Settled = 0;

  ScanDir(baseDir);
  if (WalkOrderHolds && FoundOrder.size() == found.size())
    TakeFoundOrder(found);
  else
    SortCandidates(found);
  FFilesFound.store(static_cast<int32_t>(found.size()), std::memory_order_relaxed);
  ReportStatus("Processing files");
  ProcessFiles(found);
}

// Whether the path holds an empty, "." or ".." segment (a hidden name such as ".git" is
// an ordinary segment).
static bool NeedsCanonicalForm(const std::string& path) {
  for (size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1)) {
    const size_t next = path.find('/', at + 1);
    const std::string_view segment = std::string_view(path).substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    if ((segment.empty() && next != std::string::npos) || segment == "." || segment == "..") return true;
  }
  return false;
}

namespace {
// Folders kept open on the way down; those further up are closed and opened again from
// their child ("..", checked to be the same folder) when the walk comes back to them.
constexpr size_t OpenFolderWindow = 48;
}  // namespace

struct TDirScanThread::TLevel {
  std::string Path;
  std::string Name;  // within the folder above
  std::string Rel;   // the path below the base folder, "/" between names ("" for the base)
  // The ignore rules of the folder above until the folder is read, then its own.
  TIgnoreScope Ignore;
  TDirHandle Handle;
  // The folder's candidates and subfolders in path order: a candidate by its place in the
  // found list, a subfolder by its name (Candidate unused).
  struct TStep {
    size_t Candidate = 0;
    std::string Subdir;  // empty for a candidate
    bool TiedWithPrevious = false;  // a subfolder whose name folds as the one before does
  };
  std::vector<TStep> Steps;
  size_t Next = 0;
  // While the walk is in a run of tied subfolders: where their candidates began in the
  // order, which is sorted once the run is done.
  size_t TiedFrom = SIZE_MAX;
  bool SubdirsDropped = false;  // the folder was lost on the way back: no more subfolders
  bool ShortReadsEnd = false;   // see TDirHandle::ShortReadsEndFiles
};

namespace {
bool FoldedEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperByte(static_cast<unsigned char>(a[i])) != UpperByte(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Full paths in the order the candidate list takes: folded, exact bytes breaking a tie.
bool PathBefore(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = UpperByte(static_cast<unsigned char>(a[i])), y = UpperByte(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return CompareBytes(a, b) < 0;
}
}  // namespace

void TDirScanThread::ScanDir(const std::string& baseDir) {
  // The walk keeps its own stack instead of recursing, so a deep tree cannot exhaust the
  // thread's stack.
  std::vector<TLevel> levels;
  levels.emplace_back();
  levels.back().Path = baseDir;
  std::string error;
  ReportStatus("Reading dir " + baseDir);
  if (Params->SkipIgnored) {
    bool ignored = false;
    std::vector<std::string> errors;
    levels.back().Ignore = IgnoreScopeAbove(baseDir, ignored, errors);
    for (const std::string& e : errors) ReportError(e);
    if (ignored) return;  // the searched folder is itself ignored: so is all of it
  }
  if (!levels.back().Handle.Open(baseDir, error)) {
    ReportError(baseDir + ": " + error);
    return;
  }
  levels.back().ShortReadsEnd = levels.back().Handle.ShortReadsEndFiles();
  if (!ReadLevel(levels.back())) return;
  while (!levels.empty()) {
    if (Terminated()) return;
    TLevel& top = levels.back();
    if (top.TiedFrom != SIZE_MAX && (top.Next >= top.Steps.size() || !top.Steps[top.Next].TiedWithPrevious)) {
      std::sort(FoundOrder.begin() + static_cast<std::ptrdiff_t>(top.TiedFrom), FoundOrder.end(),
                [&](size_t a, size_t b) { return PathBefore((*FoundFiles)[a], (*FoundFiles)[b]); });
      top.TiedFrom = SIZE_MAX;
    }
    // The folder's candidates go into the order until its next subfolder, whose whole
    // tree comes next.
    while (top.Next < top.Steps.size() && top.Steps[top.Next].Subdir.empty())
      FoundOrder.push_back(top.Steps[top.Next++].Candidate);
    if (top.Next >= top.Steps.size()) {
      LeaveLevel(levels);
      continue;
    }
    if (top.TiedFrom == SIZE_MAX && top.Next + 1 < top.Steps.size() && top.Steps[top.Next + 1].TiedWithPrevious)
      top.TiedFrom = FoundOrder.size();
    TLevel child;
    child.Name = std::move(top.Steps[top.Next++].Subdir);
    if (top.SubdirsDropped) continue;
    Settle(levels);
    if (Terminated()) return;
    child.Path = PathJoin(top.Path, child.Name);
    child.Rel = top.Rel.empty() ? child.Name : top.Rel + "/" + child.Name;
    child.Ignore = top.Ignore;
    ReportStatus("Reading dir " + child.Path);
    if (!child.Handle.OpenChild(top.Handle, child.Name, error)) {
      ReportError(child.Path + ": " + error);
      continue;
    }
    // A folder on the same device is on the same file system; another is asked.
    child.ShortReadsEnd = child.Handle.DeviceId() == top.Handle.DeviceId() ? top.ShortReadsEnd
                                                                           : child.Handle.ShortReadsEndFiles();
    levels.push_back(std::move(child));
    if (levels.size() > OpenFolderWindow + 1) levels[levels.size() - 1 - OpenFolderWindow].Handle.Close();
    if (!ReadLevel(levels.back())) return;
  }
}

// The walk visits the candidates in path order (see ReadLevel) but where a run of tied
// folders is still open: its candidates are sorted once the run is done, and those before
// it stay where they are. A path met twice would be searched once, so the order is known
// only up to it (a listing names each entry once: it does not happen while the order holds).
void TDirScanThread::Settle(const std::vector<TLevel>& levels) {
  if (!WalkOrderHolds) return;
  size_t known = FoundOrder.size();
  for (const TLevel& level : levels) known = std::min(known, level.TiedFrom);  // the outermost is the lowest
  const size_t before = Settled;
  for (; Settled < known; ++Settled) {
    if (Settled > 0 && SettledCandidate(Settled) == SettledCandidate(Settled - 1)) {
      WalkOrderHolds = false;  // sorted at the end, which keeps the settled ones first
      break;
    }
  }
  if (Settled > before) CandidatesSettled(Settled);
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
      } else if (!parent.SubdirsDropped) {
        // Its remaining candidates are still searched, by their paths.
        bool subdirsLeft = false;
        for (size_t i = parent.Next; i < parent.Steps.size() && !subdirsLeft; ++i) subdirsLeft = !parent.Steps[i].Subdir.empty();
        if (subdirsLeft)
          ReportError(parent.Path + ": " + (opened || error.empty() ? "The folder was moved while it was being searched" : error));
        parent.SubdirsDropped = true;
      }
    }
  }
  levels.pop_back();
}

bool TDirScanThread::ReadLevel(TLevel& level) {
  std::vector<TDirName> names;
  std::string error;
  FFoldersEntered.fetch_add(1, std::memory_order_relaxed);
  if (!ListedAhead(level.Path, names) && !level.Handle.List(names, error)) {
    ReportError(level.Path + ": " + error);
    return !Terminated();
  }
  if (Params->SkipIgnored) EnterIgnoreScope(level, names);
  std::vector<uint32_t> entries;
  if (!PickFiles(level, names, entries)) return false;
  if (Params->IncludeSubdirs) PickSubdirs(level, names, entries);
  SortInPathOrder(names, entries);
  AddSteps(level, names, entries);
  return true;
}

void TDirScanThread::EnterIgnoreScope(TLevel& level, const std::vector<TDirName>& names) {
  const std::string& dir = level.Path;
  std::vector<std::string> errors;
  const std::string name = level.Name.empty() ? dir.substr(dir.find_last_of(PathDelims) + 1) : level.Name;
  level.Ignore = EnterIgnoreFolder(level.Ignore, dir, name, names, errors);
  for (const std::string& e : errors) ReportError(e);
}

// Entries matching any pattern, hidden entries unless asked for, and all but regular files
// left out.
bool TDirScanThread::PickFiles(const TLevel& level, const std::vector<TDirName>& names,
                               std::vector<uint32_t>& entries) {
  std::vector<bool> taken(names.size(), false);
  const bool ignoring = Params->SkipIgnored;
  const bool hidden = Params->IncludeHidden;
  for (const std::string& pattern : Params->FilePatterns) {
    for (size_t i = 0; i < names.size(); ++i) {
      const TDirName& e = names[i];
      if (taken[i] || e.Kind != TEntryKind::File || (!hidden && IsHiddenName(e.Name)) || !MatchesWildcard(e.Name, pattern)) continue;
      if (ignoring && IsIgnored(level.Ignore, e.Name, false)) {
        taken[i] = true;  // not asked again for the next pattern
        continue;
      }
      if (Terminated()) return false;
      taken[i] = true;
      entries.push_back(static_cast<uint32_t>(i));
    }
  }
  return true;
}

// The subfolders the search goes into.
void TDirScanThread::PickSubdirs(const TLevel& level, const std::vector<TDirName>& names,
                                 std::vector<uint32_t>& entries) {
  const bool ignoring = Params->SkipIgnored;
  const bool hidden = Params->IncludeHidden;
  for (size_t i = 0; i < names.size(); ++i) {
    const TDirName& e = names[i];
    if (e.Kind != TEntryKind::Directory || (!hidden && e.Name[0] == '.')) continue;
    // A skipped folder is never opened.
    if (!Params->SkipFolders.empty() && Params->SkipsFolder(e.Name, level.Rel.empty() ? e.Name : level.Rel + "/" + e.Name))
      continue;
    // The repository's own folder is no part of its work tree.
    if (ignoring && (e.Name == ".git" || IsIgnored(level.Ignore, e.Name, true))) continue;
    entries.push_back(static_cast<uint32_t>(i));
  }
}

// In path order, so that the walk visits the tree in the order it is searched: each name
// folded, with the delimiter after a folder's name (what follows it in the paths below
// it), exact bytes breaking a tie.
void TDirScanThread::SortInPathOrder(const std::vector<TDirName>& names, std::vector<uint32_t>& entries) {
  std::string folded;
  struct TKey {
    uint32_t Begin, Length, Entry;
  };
  std::vector<TKey> keys;
  keys.reserve(entries.size());
  for (const uint32_t i : entries) {
    const std::string& name = names[i].Name;
    keys.push_back({static_cast<uint32_t>(folded.size()), static_cast<uint32_t>(name.size()), i});
    for (const char c : name) folded += static_cast<char>(UpperByte(static_cast<unsigned char>(c)));
    if (names[i].Kind == TEntryKind::Directory) {
      folded += PathDelim;
      ++keys.back().Length;
    }
  }
  std::sort(keys.begin(), keys.end(), [&](const TKey& a, const TKey& b) {
    const std::string_view x(folded.data() + a.Begin, a.Length), y(folded.data() + b.Begin, b.Length);
    if (x != y) return x < y;  // compares bytes unsigned
    return CompareBytes(names[a.Entry].Name, names[b.Entry].Name) < 0;
  });
  for (size_t k = 0; k < keys.size(); ++k) entries[k] = keys[k].Entry;
}

// The folder's steps in the order of `entries`: its subfolders by name, its files joined
// to the candidates.
void TDirScanThread::AddSteps(TLevel& level, std::vector<TDirName>& names, const std::vector<uint32_t>& entries) {
  const std::string& dir = level.Path;
  std::vector<std::string_view> added;
  std::vector<bool> shortReadsEnd;
  added.reserve(entries.size());
  // A name holds no delimiter, so only the folder's part, or a name that starts with a
  // full stop, can give a path that needs its canonical form.
  const bool folderNeedsCanonical = NeedsCanonicalForm(PathJoin(dir, "x"));
  level.Steps.reserve(entries.size());
  for (const uint32_t i : entries) {
    TDirName& e = names[i];
    if (e.Kind == TEntryKind::Directory) {
      // Folders whose names differ only in case are next to each other; the paths below
      // them interleave.
      const bool tied = !level.Steps.empty() && !level.Steps.back().Subdir.empty() &&
                        FoldedEqual(level.Steps.back().Subdir, e.Name);
      level.Steps.push_back({0, std::move(e.Name), tied});
      continue;
    }
    std::string path = PathJoin(dir, e.Name);
    if ((folderNeedsCanonical || e.Name[0] == '.') && NeedsCanonicalForm(path)) {
      path = CanonicalPath(path);
      WalkOrderHolds = false;  // the path no longer need sort where its folder does
    }
    level.Steps.push_back({FoundFiles->size(), {}});
    FoundFiles->push_back(FoundPaths->Add(path));
    added.push_back(FoundFiles->back());
    // A linked file may be on another file system.
    shortReadsEnd.push_back(level.ShortReadsEnd && !e.ViaLink);
    FoundShortReadsEnd.push_back(shortReadsEnd.back());
  }
  FFilesFound.store(static_cast<int32_t>(FoundFiles->size()), std::memory_order_relaxed);
  CandidatesAdded(added, shortReadsEnd);
}

}  // namespace trawlex
