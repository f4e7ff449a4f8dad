#include "engine/DirScanThread.h"

#include <algorithm>

#include "engine/SearchParams.h"
#include "engine/TextUtils.h"
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
  TCandidateList found;
  TCandidateList unused;  // duplicates, kept until the end like every other candidate
  struct TEnd {
    TDirScanThread& Thread;
    ~TEnd() {
      Thread.CandidatesEnding();
      Thread.FoundFiles = nullptr;
    }
  } end{*this};
  FoundFiles = &found;

  ScanDir(baseDir);
  // Each directory contributes its own names once, so the list only needs sorting; the
  // order is the same as inserting every path at its binary-search position. The folded
  // keys are made once instead of at every comparison.
  std::string folded;  // all folded names, one after the other
  size_t total = 0;
  for (const auto& item : found) total += GetItemName(*item).size();
  folded.reserve(total);
  struct TKey {
    size_t Begin, Length, Index;
  };
  std::vector<TKey> keys;
  keys.reserve(found.size());
  for (size_t i = 0; i < found.size(); ++i) {
    const std::string& name = GetItemName(*found[i]);
    keys.push_back({folded.size(), name.size(), i});
    for (const char c : name) folded += static_cast<char>(UpperByte(static_cast<unsigned char>(c)));
  }
  std::sort(keys.begin(), keys.end(), [&](const TKey& a, const TKey& b) {
    const std::string_view x(folded.data() + a.Begin, a.Length), y(folded.data() + b.Begin, b.Length);
    if (x != y) return x < y;  // compares bytes unsigned
    return CompareBytes(GetItemName(*found[a.Index]), GetItemName(*found[b.Index])) < 0;
  });
  TCandidateList sorted;
  sorted.reserve(found.size());
  FoundOrder.clear();
  FoundOrder.reserve(found.size());
  for (const TKey& k : keys) {
    auto& item = found[k.Index];
    if (!sorted.empty() && GetItemName(*sorted.back()) == GetItemName(*item)) {
      unused.push_back(std::move(item));
    } else {
      sorted.push_back(std::move(item));
      FoundOrder.push_back(k.Index);
    }
  }
  found = std::move(sorted);
  FFilesFound.store(static_cast<int32_t>(found.size()), std::memory_order_relaxed);
  ReportStatus("Processing files");
  ProcessFiles(found);
}

static bool NeedsCanonicalForm(const std::string& path) {
  return path.find("/.") != std::string::npos || path.find("//") != std::string::npos;
}

void TDirScanThread::ScanDir(const std::string& dir) {
  ReportStatus("Reading dir " + dir);
  std::vector<TDirName> names;
  ListDirectory(dir, names);  // a directory that cannot be read yields nothing

  // Entries matching each pattern in turn, each entry taken once (by the first pattern).
  std::vector<bool> taken(names.size(), false);
  for (const std::string& pattern : Params->FilePatterns) {
    for (size_t i = 0; i < names.size(); ++i) {
      const TDirName& e = names[i];
      if (taken[i] || e.Kind != TEntryKind::File || IsHiddenName(e.Name) || !MatchesWildcard(e.Name, pattern)) continue;
      if (Terminated()) return;
      taken[i] = true;
      std::string path = PathJoin(dir, e.Name);
      if (NeedsCanonicalForm(path)) path = CanonicalPath(path);
      // The listing gives names and kinds only; size and time are those of the file as
      // it is read (one system call fewer per file, and true to the bytes searched).
      FoundFiles->push_back(CreateItem(path, TFileInfo{}));
      CandidateAdded(*FoundFiles->back());
    }
  }

  if (!Params->IncludeSubdirs) return;
  for (const TDirName& e : names) {
    if (Terminated()) return;
    if (e.Kind == TEntryKind::Directory && e.Name[0] != '.') ScanDir(PathJoin(dir, e.Name));
  }
}

}  // namespace trawlex
