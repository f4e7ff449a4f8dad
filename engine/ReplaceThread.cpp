#include "engine/ReplaceThread.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <optional>
#include <string_view>

#include "base/Errors.h"
#include "engine/CharReader.h"
#include "engine/RangeProcessor.h"
#include "engine/RegexReplace.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/TextEncoding.h"
#include "engine/UndoJournal.h"
#include "platform/FileReplace.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

// How file times appear in the log.
constexpr const char* LogTimePattern = "yyyy/mm/dd hh:nn:ss";

// Where the new content goes: the temporary file of a rewrite, through a large buffer so
// that a file with millions of finds costs a few writes, not one per piece. A failed
// write raises with the system's reason.
class TRewriterSink {
 public:
  explicit TRewriterSink(TFileRewriter& rewriter) : Rewriter(rewriter) { Buffer.reserve(Capacity); }
  void Write(const char* data, size_t count) {
    if (Buffer.size() + count > Capacity) {
      Flush();
      if (count >= Capacity) {
        Put(data, count);
        return;
      }
    }
    Buffer.append(data, count);
  }
  void Flush() {
    Put(Buffer.data(), Buffer.size());
    Buffer.clear();
  }

 private:
  static constexpr size_t Capacity = size_t{4} << 20;
  void Put(const char* data, size_t count) {
    if (count > 0 && !Rewriter.Write(data, count)) throw ETrawlexError(Rewriter.Error());
  }
  TFileRewriter& Rewriter;
  std::string Buffer;
};

}  // namespace

TFindCounts BuildReplaceJobs(const TSearchParams& params, TReplaceJobList& jobs) {
  TFindCounts counts;
  jobs.clear();
  for (int32_t r = 0; r < params.GetResultCount(); ++r) {
    TSearchFile* file = params.GetResult(r);
    std::unique_ptr<TReplaceFile> job;
    if (file->SearchFailed) {
      counts.Total += file->GetFindCount();
      continue;
    }
    for (int32_t l = 0; l < file->GetLineCount(); ++l) {
      const TSearchLine* line = file->GetLine(l);
      counts.Total += line->GetFindCount();
      line->ForEachSelectedFind([&](int64_t offset, int32_t length) {
        if (!job) job = std::make_unique<TReplaceFile>(file);
        job->AddFind(offset, length);
        ++counts.Selected;
      });
    }
    if (job) jobs.push_back(std::move(job));
  }
  return counts;
}

std::string MakeTempFileName(const std::string& prefix) { return FirstFreeTempName(TempDirectory(), prefix); }

std::string MakeTempFileName(const std::string& prefix, const std::string& folder) {
  return FirstFreeTempName(folder, prefix);
}

TReplaceThread::~TReplaceThread() { WaitFor(); }

void TReplaceThread::Execute() {
  if (!Jobs) return;
  UndoFolder =
      ResolvedPath(Journal ? std::filesystem::path(Journal->Path()).parent_path().string() : DefaultUndoFolder());
  // A copy left beside any name of a file holds it back under all its names, whichever
  // name comes first.
  for (const auto& job : *Jobs) {
    const TFileIdentity& id = job->File->Identity;
    if (!id.Known()) continue;
    if (std::string backup = FindLeftBackup(job->File->Name, "Trawlex"); !backup.empty())
      LeftBackups.emplace(std::make_pair(id.Device, id.Inode), std::move(backup));
  }
  for (const auto& job : *Jobs) {
    // Later files would only be read and dropped: nothing is handed over after a stop.
    if (Terminated()) break;
    const TOutcome outcome = ReplaceInFile(*job);
    if (outcome == TOutcome::Stopped) break;
    if (outcome == TOutcome::Replaced) FFilesReplaced.fetch_add(1, std::memory_order_relaxed);
    if (outcome == TOutcome::NotReplaced) FFilesNotReplaced.fetch_add(1, std::memory_order_relaxed);
  }
}

std::string TReplaceThread::LeftBackupMessage(const std::string& backup, const std::string& path) const {
  // Only a copy whose content an undo journal recorded is the old content of this file; any
  // other file may stand under that name.
  std::string kept;
  TJournalEntry entry;
  std::ifstream in(backup, std::ios::binary);
  if (in) kept.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  const std::string folder = Journal ? std::filesystem::path(Journal->Path()).parent_path().string() : DefaultUndoFolder();
  if (!in || in.bad() || !FindJournalEntry(folder, backup, Sha256(kept), entry))
    return "The hidden file " + backup + " beside this file is named as the copy of its old content that an "
           "interrupted replace leaves, but no undo journal recorded such a copy, so it is not a copy the program can "
           "vouch for. The file was not changed. Compare the two (cmp '" + backup + "' '" + path +
           "'), and remove the hidden file once it is not needed";
  // Copied back, not moved: the file keeps its inode and with it every other name.
  return "An earlier replace was interrupted while it rewrote this file, which may be incomplete; its old content is "
         "kept in " + backup + ". The file was not changed. To restore the old content: cp '" + backup + "' '" + path +
         "' && rm '" + backup + "'";
}

std::string TReplaceThread::RecoverLeftBackup(const std::string& backup, const std::string& path) {
  if (!Journal) return LeftBackupMessage(backup, path);
  std::string kept;
  {
    std::ifstream in(backup, std::ios::binary);
    if (!in) return LeftBackupMessage(backup, path);
    kept.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return LeftBackupMessage(backup, path);
  }
  const std::string folder = std::filesystem::path(Journal->Path()).parent_path().string();
  TJournalEntry entry;
  if (!FindJournalEntry(folder, backup, Sha256(kept), entry)) return LeftBackupMessage(backup, path);
  TFileRewriter rewriter("Trawlex");
  rewriter.Cancelled = [this] { return Terminated(); };
  std::string current;
  if (!rewriter.Open(entry.Path) || !rewriter.ReadContent(current) ||
      !InterruptedRewriteRecoverable(entry, kept, current))
    return LeftBackupMessage(backup, path);
  const bool complete = static_cast<int64_t>(current.size()) == entry.NewSize && Sha256(current) == entry.NewHash;
  if (!complete && current != kept) {
    if (!rewriter.CheckWritable() || !rewriter.CommitInPlace(current, kept))
      return LeftBackupMessage(backup, path) + " (" + rewriter.Error() + ")";
  }
  std::remove(backup.c_str());
  if (complete)
    return "An earlier replace was interrupted after it had rewritten this file; the copy of the old content it left in " +
           backup + " was removed (the undo journal keeps it). The file was not changed: search again to replace in it";
  return "An earlier replace was interrupted while it rewrote this file; its old content was copied back from " + backup +
         ". The file was not replaced: search again to replace in it";
}

TReplaceThread::TOutcome TReplaceThread::ReplaceInFile(const TReplaceFile& job) {
  const std::string& path = job.File->Name;
  SyncMessage(path, OnFileStarted);
  // Another name (hard or symbolic link) of a file this run has replaced: its finds were
  // those of the same bytes, already replaced.
  const TFileIdentity& id = job.File->Identity;
  if (id.Known()) {
    const auto done = Replaced.find({id.Device, id.Inode});
    if (done != Replaced.end()) {
      Log(path + ": The same file as " + done->second + ", already replaced");
      return TOutcome::SameAsReplaced;
    }
    const auto left = LeftBackups.find({id.Device, id.Inode});
    if (left != LeftBackups.end()) {
      // Recovered (or not) once, under the first of the file's names; the others say the same.
      auto said = LeftBackupOutcomes.find(left->first);
      if (said == LeftBackupOutcomes.end())
        said = LeftBackupOutcomes.emplace(left->first, RecoverLeftBackup(left->second, path)).first;
      Log(path + ": " + said->second);
      return TOutcome::NotReplaced;
    }
  }
  // A search of a tree that holds the undo folder finds the targets and replacements that
  // the journals record; rewriting a journal would leave it unreadable.
  if (FolderOf(ResolvedPath(path)) == UndoFolder) {
    Log(path + ": It is an undo journal of this program, which a replace never changes");
    return TOutcome::NotReplaced;
  }
  // Nor the files a rewrite keeps beside a file: a copy of the old content that a killed
  // rewrite left is what puts that file back.
  if (IsRewriterFileName(std::filesystem::path(path).filename().string(), "Trawlex")) {
    Log(path + ": It is a file this program keeps beside a file it rewrites (a copy of its old content, or its new "
               "content on the way), which a replace never changes");
    return TOutcome::NotReplaced;
  }
  try {
    return RewriteFile(job, path);
  } catch (const std::bad_alloc&) {
    Log(path + ": Out of memory");
  } catch (const std::exception& e) {
    Log(path + ": " + e.what());
  }
  return TOutcome::NotReplaced;
}

std::string TReplaceThread::CheckFinds(const TReplaceFile& job, const std::string& content) const {
  const TSearchParams* params = ParamsOf(job);
  TRAWLEX_ASSERT(params, "Replace without search parameters");
  const TFindRule rule(*params);
  const auto* data = reinterpret_cast<const unsigned char*>(content.data());
  const auto size = static_cast<int32_t>(content.size());
  int64_t previousEnd = 0;
  for (int32_t i = 0; i < job.FindCount(); ++i) {
    const int64_t offset = job.FindOffset(i), length = job.FindLength(i);
    if (offset < previousEnd || length < 0 || offset + length > size)
      return "The finds to replace overlap or lie outside the file, so it was not changed";
    // Under every rule the find was made by, not only its own bytes: an edit beside a
    // find can end a whole word or complete the exclude text.
    int32_t found = -1;
    if (!rule.IsFindAt(data, size, static_cast<int32_t>(offset), &found) || found != length)
      return Fmt("The file changed since the search: the find at byte %d is no longer the target, so it was not changed",
                 offset);
    previousEnd = offset + length;
  }
  return {};
}

bool TReplaceThread::SameFileAsSearched(const TSearchFile& file, const TFileInfo& now, int64_t size,
                                        const std::string& path) {
  if (size != file.Size) {
    Log(path + ":");
    Log(Fmt("Error: size was %d, now %d", file.Size, size));
    return false;
  }
  if (now.LastWrite() != file.FileTime) {
    Log(path + ":");
    Log(Fmt("Error: time was %s, now %s", FormatDateTime(LogTimePattern, file.FileTime),
            FormatDateTime(LogTimePattern, now.LastWrite())));
    return false;
  }
  // Size and a 2-second time miss a quick same-size edit, an edit that restored the time,
  // and another file (or a link to one) put at the path; the identity (and, once the finds
  // are checked, the inode's change time) do not.
  const TFileIdentity& searched = file.Identity;
  if (searched.Known() && (searched.Device != now.Device || searched.Inode != now.Inode)) {
    Log(path + ": The file was replaced by another file since the search, so it was not changed");
    return false;
  }
  return true;
}

// The new content of a file as it is made: hashed for the undo journal when one is kept, and
// gathered whole (an in-place rewrite, written in one go) or sent to the temporary file.
class TReplaceThread::TNewContent {
 public:
  TNewContent(TFileRewriter& rewriter, bool hashed, bool gathered)
      : Temp(rewriter), Hashed(hashed), Gathering(gathered) {}
  void Put(const char* data, size_t count) {
    if (Hashed) Hash.Update(data, count);
    if (Gathering) Gathered.append(data, count);
    else Temp.Write(data, count);
  }
  void Finish() {
    if (!Gathering) Temp.Flush();
  }
  TDigest Digest() { return Hash.Final(); }
  std::string Gathered;

 private:
  TRewriterSink Temp;
  TSha256 Hash;
  bool Hashed, Gathering;
};

// A file read whole on its way to its new content.
struct TReplaceThread::TWholeFile {
  std::string Content;
  // A UTF-16 file's finds lie in its text, decoded; the new text is encoded back whole.
  bool Utf16 = false;
  TTextEncoding Encoding = TTextEncoding::Bytes;
  std::string Decoded;
  std::string Encoded;  // a UTF-16 file's new content
  // A regular expression's finds each get their own replacement, made from their captures.
  bool Regex = false;
  std::vector<std::string> Expanded;
  int64_t NewSize = 0;

  const std::string& SearchedText() const { return Utf16 ? Decoded : Content; }
  const std::vector<std::string>* Texts() const { return Regex ? &Expanded : nullptr; }
};

const TSearchParams* TReplaceThread::ParamsOf(const TReplaceFile& job) const {
  return job.File->Params ? job.File->Params : Params;
}

const std::string& TReplaceThread::ReplacementOf(const std::vector<std::string>* texts, int32_t i) const {
  return texts ? (*texts)[static_cast<size_t>(i)] : ReplaceText;
}

int64_t TReplaceThread::NewSizeOf(const TReplaceFile& job, int64_t size, const std::vector<std::string>* texts) const {
  for (int32_t i = 0; i < job.FindCount(); ++i)
    size += static_cast<int64_t>(ReplacementOf(texts, i).size()) - job.FindLength(i);
  return size;
}

TReplaceThread::TOutcome TReplaceThread::Refuse(const std::string& path, const std::string& reason) {
  Log(path + ": " + reason);
  return TOutcome::NotReplaced;
}

TReplaceThread::TOutcome TReplaceThread::WriteFailed(const std::string& path, const ETrawlexError& e) {
  Log("Write failed for " + path);
  Log(path + ": " + e.what());
  return TOutcome::NotReplaced;
}

TReplaceThread::TOutcome TReplaceThread::RewriteFile(const TReplaceFile& job, const std::string& path) {
  TFileRewriter rewriter("Trawlex");  // removes its temporary file and its lock on every way out
  rewriter.Cancelled = [this] { return Terminated(); };

  // From here on the file is locked: no other replace changes it until it is placed.
  if (!rewriter.Open(path)) return Terminated() ? TOutcome::Stopped : Refuse(path, rewriter.Error());
  if (const std::string backup = rewriter.LeftBackup(); !backup.empty())
    return Refuse(path, LeftBackupMessage(backup, rewriter.RealPath()));
  if (RewritesInPieces(job, rewriter)) {
    bool wholeAfterAll = false;
    const TOutcome outcome = RewriteInPieces(job, path, rewriter, wholeAfterAll);
    if (!wholeAfterAll) return outcome;
  }
  return RewriteWhole(job, path, rewriter);
}

bool TReplaceThread::RewritesInPieces(const TReplaceFile& job, TFileRewriter& rewriter) const {
  // A large file is replaced a piece at a time where its finds are bytes of the file
  // replaced by the same text. A regular expression's replacements come from the whole
  // text, and a UTF-16 file is written back from its decoded text: those are read whole.
  const TSearchParams* jobParams = ParamsOf(job);
  char head[2] = {};
  return rewriter.Info().Size >= StreamFrom && !(jobParams && jobParams->RegExp) &&
         !(rewriter.ReadPiece(head, 2, 0) == 2 && IsUtf16(DetectEncoding(reinterpret_cast<const unsigned char*>(head), 2))) &&
         (rewriter.Mode() == TRewriteMode::Rename || rewriter.Info().Size >= TCharReader::MaxFileSize);
}

bool TReplaceThread::ReadyToWrite(const TSearchFile& file, const std::string& path, TFileRewriter& rewriter) {
  const TFileIdentity& searched = file.Identity;
  if (searched.Known() && searched.ChangeNs != rewriter.Info().ChangeNs) {
    Refuse(path, "The file changed since the search, so it was not changed");
    return false;
  }
  if (!rewriter.CheckWritable() || !rewriter.BeginWrite()) {
    Refuse(path, rewriter.Error());
    return false;
  }
  return true;
}

TReplaceThread::TOutcome TReplaceThread::RewriteWhole(const TReplaceFile& job, const std::string& path,
                                                      TFileRewriter& rewriter) {
  TWholeFile f;
  if (!rewriter.ReadContent(f.Content)) return Refuse(path, rewriter.Error());
  const auto size = static_cast<int64_t>(f.Content.size());
  if (!SameFileAsSearched(*job.File, rewriter.Info(), size, path)) return TOutcome::NotReplaced;
  if (const std::string why = CheckWholeFinds(job, f); !why.empty()) return Refuse(path, why);
  if (!ReadyToWrite(*job.File, path, rewriter)) return TOutcome::NotReplaced;

  const bool inPlace = rewriter.Mode() == TRewriteMode::InPlace;
  if (const std::string why = f.Utf16 ? EncodeNewText(job, f) : std::string(); !why.empty()) return Refuse(path, why);
  f.NewSize = f.Utf16 ? static_cast<int64_t>(f.Encoded.size()) : NewSizeOf(job, size, f.Texts());
  TNewContent out(rewriter, Journal != nullptr, inPlace);
  if (inPlace) out.Gathered.reserve(static_cast<size_t>(f.NewSize));
  if (const std::optional<TOutcome> ended = WriteWhole(job, path, f, out)) return *ended;
  return Place(
      job, path, rewriter,
      [&](uint64_t device, uint64_t inode) {
        return Journal->AddFile(rewriter.RealPath(), path, device, inode, inPlace, f.Content, f.NewSize, out.Digest(),
                                out.Gathered);
      },
      [&] { return inPlace ? rewriter.CommitInPlace(f.Content, out.Gathered) : rewriter.Commit(); });
}

std::string TReplaceThread::CheckWholeFinds(const TReplaceFile& job, TWholeFile& f) const {
  f.Encoding = DetectEncoding(f.Content);
  f.Utf16 = DecodeUtf16Text(f.Content, f.Decoded);
  const TSearchParams* params = ParamsOf(job);
  f.Regex = params && params->RegExp;
  return f.Regex ? RegexReplacementTexts(*params, ReplaceText, job, f.SearchedText(), f.Expanded)
                 : CheckFinds(job, f.SearchedText());
}

std::string TReplaceThread::EncodeNewText(const TReplaceFile& job, TWholeFile& f) const {
  std::string text;
  text.reserve(f.Decoded.size());
  int64_t at = 0;
  for (int32_t i = 0; i < job.FindCount(); ++i) {
    text.append(f.Decoded, static_cast<size_t>(at), static_cast<size_t>(job.FindOffset(i) - at));
    text += ReplacementOf(f.Texts(), i);
    at = job.FindOffset(i) + job.FindLength(i);
  }
  text.append(f.Decoded, static_cast<size_t>(at));
  if (!EncodeUtf16Text(text, f.Encoding, f.Encoded))
    return Fmt("The replacement text is not valid UTF-8, so it has no %s form; the file was not changed",
               EncodingName(f.Encoding));
  return {};
}

std::optional<TReplaceThread::TOutcome> TReplaceThread::WriteWhole(const TReplaceFile& job, const std::string& path,
                                                                   const TWholeFile& f, TNewContent& out) {
  const auto size = static_cast<int64_t>(f.Content.size());
  int64_t p = 0;
  try {
    if (f.Utf16) {
      out.Put(f.Encoded.data(), f.Encoded.size());
      p = size;
    }
    for (int32_t i = 0; !f.Utf16 && i < job.FindCount(); ++i) {
      if (Terminated()) return TOutcome::Stopped;
      const int64_t gap = job.FindOffset(i) - p;
      if (gap > 0) {
        out.Put(f.Content.data() + p, static_cast<size_t>(gap));
        p = job.FindOffset(i);
      }
      const std::string& replacement = ReplacementOf(f.Texts(), i);
      out.Put(replacement.data(), replacement.size());
      p += job.FindLength(i);
    }
    if (p < size) out.Put(f.Content.data() + p, static_cast<size_t>(size - p));
    out.Finish();
  } catch (const ETrawlexError& e) {
    return WriteFailed(path, e);
  }
  return std::nullopt;
}

TReplaceThread::TOutcome TReplaceThread::Place(const TReplaceFile& job, const std::string& path, TFileRewriter& rewriter,
                                               const std::function<int32_t(uint64_t device, uint64_t inode)>& keepOld,
                                               const std::function<bool()>& commit) {
  // The old content reaches the journal on disk before the file changes.
  int32_t entry = -1;
  if (Journal) {
    uint64_t device = 0, inode = 0;
    rewriter.PlacedIdentity(device, inode);
    entry = keepOld(device, inode);
    if (entry < 0)
      return Refuse(path, "Its old content could not be kept for undo (" + Journal->Error() + "), so it was not changed");
  }
  if (!commit()) return Refuse(path, rewriter.Error());
  if (TFileInfo placedInfo; Journal && GetFileInfo(rewriter.RealPath(), placedInfo))
    Journal->MarkPlaced(entry, placedInfo.ModifiedNs);
  if (!rewriter.Warning().empty()) Log(path + ": " + rewriter.Warning());
  // Every find was written: a write that stopped short never reaches the file.
  FReplacedCount.fetch_add(job.FindCount(), std::memory_order_relaxed);
  const TFileInfo& now = rewriter.Info();
  const TFileIdentity& searched = job.File->Identity;
  Replaced.emplace(std::make_pair(now.Device, now.Inode), path);
  if (searched.Known()) Replaced.emplace(std::make_pair(searched.Device, searched.Inode), path);
  return TOutcome::Replaced;
}

TReplaceThread::TOutcome TReplaceThread::RewriteInPieces(const TReplaceFile& job, const std::string& path,
                                                         TFileRewriter& rewriter, bool& wholeAfterAll) {
  // The same checks as for a file read whole, on what the system says of the locked file;
  // the finds are checked as the pieces around them are read, before the file is placed.
  const int64_t size = rewriter.Info().Size;
  if (!SameFileAsSearched(*job.File, rewriter.Info(), size, path)) return TOutcome::NotReplaced;
  if (!ReadyToWrite(*job.File, path, rewriter)) return TOutcome::NotReplaced;
  if (rewriter.Mode() == TRewriteMode::InPlace) {
    // A new file could not get its metadata: below 2 GiB it is rewritten in place, whole.
    wholeAfterAll = size < TCharReader::MaxFileSize;
    if (wholeAfterAll) return TOutcome::NotReplaced;
    return Refuse(path, "It must keep its inode (several names, or attributes a new file cannot get), and a file of "
                        "2 GiB or more is rewritten only through a new file, so it was not changed");
  }
  TNewContent out(rewriter, Journal != nullptr, false);
  if (const std::optional<TOutcome> ended = CopyWithReplacements(job, path, rewriter, out)) return *ended;
  return Place(
      job, path, rewriter,
      [&](uint64_t device, uint64_t inode) {
        return Journal->AddFileInPieces(
            rewriter.RealPath(), path, device, inode, size,
            [&](char* to, size_t count, int64_t offset) { return rewriter.ReadPiece(to, count, offset); },
            NewSizeOf(job, size, nullptr), out.Digest());
      },
      [&] { return rewriter.Commit(); });
}

namespace {

// The bytes of a file open in a rewriter, read a piece at a time for a rewrite in pieces. A
// read that fails or comes short raises.
class TFilePieces {
 public:
  explicit TFilePieces(TFileRewriter& rewriter) : Rewriter(rewriter) {}

  void ReadAt(char* to, size_t count, int64_t offset) {
    for (size_t got = 0; got < count;) {
      const int64_t n = Rewriter.ReadPiece(to + got, count - got, offset + static_cast<int64_t>(got));
      if (n < 0) throw ETrawlexError(Rewriter.Error());
      if (n == 0) throw ETrawlexError("The file changed while it was being replaced, so it was not changed");
      got += static_cast<size_t>(n);
    }
  }
  // Hands bytes `p` to `to` of the file to `put` a piece at a time; `p` ends at `to`.
  template <typename TPut>
  void CopyTo(int64_t& p, int64_t to, TPut&& put) {
    while (p < to) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(to - p, static_cast<int64_t>(Piece)));
      ReadAt(Copy.data(), n, p);
      put(Copy.data(), n);
      p += static_cast<int64_t>(n);
    }
  }
  // Whether the find at `offset` is still one of `length` bytes under `rule`, checked with
  // `context` bytes on either side (within the file's `size`).
  bool FindAt(const TFindRule& rule, int64_t offset, int64_t length, int64_t context, int64_t size) {
    const int64_t from = std::max<int64_t>(0, offset - context);
    const int64_t to = std::min(size, offset + length + context);
    Window.resize(static_cast<size_t>(to - from));
    ReadAt(Window.data(), Window.size(), from);
    int32_t found = -1;  // case folded beyond ASCII, a find's length may differ from the target's
    return rule.IsFindAt(reinterpret_cast<const unsigned char*>(Window.data()), to - from, offset - from, &found) &&
           found == length;
  }

 private:
  static constexpr size_t Piece = size_t{4} << 20;
  TFileRewriter& Rewriter;
  std::string Copy = std::string(Piece, '\0');
  std::string Window;
};

}  // namespace

std::optional<TReplaceThread::TOutcome> TReplaceThread::CopyWithReplacements(const TReplaceFile& job,
                                                                             const std::string& path,
                                                                             TFileRewriter& rewriter, TNewContent& out) {
  const TSearchParams* params = ParamsOf(job);
  TRAWLEX_ASSERT(params, "Replace without search parameters");
  const TFindRule rule(*params);
  // A find is checked with the bytes around it that its rules look at (the exclude text on
  // either side, the bytes before and after for whole words).
  // Folded, the exclude text may be longer in the file, and a word character takes up to 4 bytes.
  const int64_t context = 4 * static_cast<int64_t>(params->Exclude().size()) + 4;
  const int64_t size = rewriter.Info().Size;
  TFilePieces file(rewriter);
  auto put = [&](const char* data, size_t count) { out.Put(data, count); };
  int64_t p = 0, previousEnd = 0;
  try {
    for (int32_t i = 0; i < job.FindCount(); ++i) {
      if (Terminated()) return TOutcome::Stopped;
      const int64_t offset = job.FindOffset(i), length = job.FindLength(i);
      if (offset < previousEnd || length < 0 || offset + length > size)
        return Refuse(path, "The finds to replace overlap or lie outside the file, so it was not changed");
      if (!file.FindAt(rule, offset, length, context, size))
        return Refuse(path, Fmt("The file changed since the search: the find at byte %d is no longer the target, so it "
                                "was not changed",
                                offset));
      previousEnd = offset + length;
      file.CopyTo(p, offset, put);
      put(ReplaceText.data(), ReplaceText.size());
      p += length;
    }
    file.CopyTo(p, size, put);
    out.Finish();
  } catch (const ETrawlexError& e) {
    return WriteFailed(path, e);
  }
  return std::nullopt;
}

}  // namespace trawlex
