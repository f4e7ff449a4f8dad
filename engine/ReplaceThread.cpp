#include "engine/ReplaceThread.h"

#include <new>
#include <string_view>

#include "engine/Errors.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "platform/FileReplace.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

// How file times appear in the log.
constexpr const char* LogTimePattern = "yyyy/mm/dd hh:nn:ss";

// The temporary file of a rewrite; a failed write raises with the system's reason.
class TRewriterSink : public IByteSink {
 public:
  explicit TRewriterSink(TFileRewriter& rewriter) : Rewriter(rewriter) {}
  void Write(const unsigned char* data, size_t count) override {
    if (!Rewriter.Write(data, count)) throw ETrawlexError(Rewriter.Error());
  }

 private:
  TFileRewriter& Rewriter;
};

// The new content collected in memory, for a file that is written in place.
class TMemorySink : public IByteSink {
 public:
  std::string Bytes;
  void Write(const unsigned char* data, size_t count) override {
    Bytes.append(reinterpret_cast<const char*>(data), count);
  }
};

}  // namespace

TFindCounts BuildReplaceJobs(const TSearchParams& params, TReplaceJobList& jobs) {
  TFindCounts counts;
  jobs.clear();
  for (int32_t r = 0; r < params.GetResultCount(); ++r) {
    TSearchFile* file = params.GetResult(r);
    std::unique_ptr<TReplaceFile> job;
    for (int32_t l = 0; l < file->GetLineCount(); ++l) {
      const TSearchLine* line = file->GetLine(l);
      const int32_t finds = line->GetFindCount();
      counts.Total += finds;
      for (int32_t k = 0; k < finds; ++k) {
        if (!line->GetFindSelected(k)) continue;
        if (!job) job = std::make_unique<TReplaceFile>(file);
        job->AddFind(line->GetFindPos(k), line->GetFindLength(k));
        ++counts.Selected;
      }
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
  for (const auto& job : *Jobs) {
    // Later files would only be read and dropped: nothing is handed over after a stop.
    if (Terminated()) break;
    const TOutcome outcome = ReplaceInFile(*job);
    if (outcome == TOutcome::Stopped) break;
    (outcome == TOutcome::Replaced ? FFilesReplaced : FFilesNotReplaced).fetch_add(1, std::memory_order_relaxed);
  }
}

TReplaceThread::TOutcome TReplaceThread::ReplaceInFile(const TReplaceFile& job) {
  const std::string& path = job.File->Name;
  SyncMessage(path, OnFileStarted);
  try {
    return RewriteFile(job, path);
  } catch (const std::bad_alloc&) {
    Log(path + ": Out of memory");
  } catch (const std::exception& e) {
    Log(path + ": " + e.what());
  }
  return TOutcome::NotReplaced;
}

std::string TReplaceThread::CheckFinds(const TReplaceFile& job) const {
  const TSearchParams* params = job.File->Params ? job.File->Params : Params;
  TRAWLEX_ASSERT(params, "Replace without search parameters");
  const std::string& target = params->Target();
  const TBytesEqual equal = params->CaseSensitive() ? &BytesEqualExact : &BytesEqualIgnoreCase;
  const auto* data = Reader.Data();
  int64_t previousEnd = 0;
  for (int32_t i = 0; i < job.FindCount(); ++i) {
    const int64_t offset = job.FindOffset(i), length = job.FindLength(i);
    if (offset < previousEnd || length < 0 || offset + length > Reader.Size())
      return "The finds to replace overlap or lie outside the file, so it was not changed";
    if (static_cast<size_t>(length) != target.size() ||
        !equal(data + offset, reinterpret_cast<const unsigned char*>(target.data()), target.size()))
      return Fmt("The file changed since the search: the find at byte %d is no longer the target, so it was not changed",
                 offset);
    previousEnd = offset + length;
  }
  return {};
}

TReplaceThread::TOutcome TReplaceThread::RewriteFile(const TReplaceFile& job, const std::string& path) {
  const TSearchFile& file = *job.File;
  TFileRewriter rewriter("Trawlex");  // removes its temporary file on every way out
  auto refuse = [&](const std::string& reason) {
    Log(path + ": " + reason);
    return TOutcome::NotReplaced;
  };

  if (!rewriter.Open(path)) return refuse(rewriter.Error());
  Reader.Load(rewriter.RealPath());
  const int32_t size = Reader.Size();
  if (size != file.Size) {
    Log(path + ":");
    Log(Fmt("Error: size was %d, now %d", file.Size, size));
    return TOutcome::NotReplaced;
  }
  if (rewriter.Info().LastWrite() != file.FileTime) {
    Log(path + ":");
    Log(Fmt("Error: time was %s, now %s", FormatDateTime(LogTimePattern, file.FileTime),
            FormatDateTime(LogTimePattern, rewriter.Info().LastWrite())));
    return TOutcome::NotReplaced;
  }
  // The content read must be that of the file examined, and the finds must still be there:
  // size and a 2-second time miss a quick same-size edit.
  if (!rewriter.Unchanged()) return refuse(rewriter.Error());
  if (const std::string why = CheckFinds(job); !why.empty()) return refuse(why);
  if (!rewriter.CheckWritable()) return refuse(rewriter.Error());
  if (!rewriter.BeginWrite()) return refuse(rewriter.Error());

  const bool inPlace = rewriter.Mode() == TRewriteMode::InPlace;
  TRewriterSink toTemp(rewriter);
  TMemorySink toMemory;
  IByteSink& out = inPlace ? static_cast<IByteSink&>(toMemory) : toTemp;
  const auto* replacement = reinterpret_cast<const unsigned char*>(ReplaceText.data());
  int64_t p = 0;
  int32_t written = 0;
  try {
    for (int32_t i = 0; i < job.FindCount(); ++i) {
      if (Terminated()) return TOutcome::Stopped;
      const int64_t gap = job.FindOffset(i) - p;
      if (gap > 0) {
        Reader.WriteRange(p, gap, out);
        p = job.FindOffset(i);
      }
      out.Write(replacement, ReplaceText.size());
      ++written;
      p += job.FindLength(i);
    }
    if (p < size) Reader.WriteRange(p, size - p, out);
  } catch (const ETrawlexError& e) {
    Log("Write failed for " + path);
    Log(path + ": " + e.what());
    return TOutcome::NotReplaced;
  }

  const std::string_view oldContent(reinterpret_cast<const char*>(Reader.Data()), static_cast<size_t>(size));
  const bool placed = inPlace ? rewriter.CommitInPlace(oldContent, toMemory.Bytes) : rewriter.Commit();
  if (!placed) return refuse(rewriter.Error());
  if (!rewriter.Warning().empty()) Log(path + ": " + rewriter.Warning());
  FReplacedCount.fetch_add(written, std::memory_order_relaxed);
  return TOutcome::Replaced;
}

}  // namespace trawlex
