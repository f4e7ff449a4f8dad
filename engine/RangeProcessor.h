#pragma once
// Finds the target of a search in one file: loads it whole, scans a range of bytes once
// from left to right, splits it into lines (CR, LF and CR LF each end one line) and
// records every line with finds as a line item under the file item, with the 1-based
// columns of its finds. Case folding and word characters follow Unicode in valid UTF-8
// and ASCII elsewhere (CaseFold.h); a UTF-16 file is searched as its text in UTF-8.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/CaseFold.h"
#include "engine/CharReader.h"
#include "engine/ScanKernels.h"
#include "engine/SearchResult.h"

namespace trawlex {

class TSearchParams;
class TSearchFile;
class TSearchLine;
class TLineArena;
class TRegexScanner;
class TRegexSearch;
struct TRegexFind;

class TRangeProcessor {
 public:
  explicit TRangeProcessor(TSearchParams* params);
  ~TRangeProcessor();

  TCharReader Reader;
  TSearchParams* Params;
  // A find is about to open the first line item of a file that has none.
  std::function<void()> OnNewFindLine;
  // Asked between the blocks of a file read a block at a time, every few MiB of a file held
  // whole and of its decoding: true ends its scan there, with the finds made so far, so that
  // a stop need not wait for the rest of a large file.
  std::function<bool()> StopRequested;
  bool StopNow() const { return StopRequested && StopRequested(); }
  // A line item was made whole and joined its file. Line items join in batches (one lock
  // each), in order, and each has all its finds by then.
  std::function<void(TSearchLine*)> OnLineCreated;
  int64_t LineNo = 0;
  std::string FileName;
  // How a scan works: copied and restored whole by code that changes it for a while.
  struct TModes {
    // Make a line item of every line, with or without finds (the preview).
    bool AllLines = false;
    // Visit every byte in turn instead of jumping between candidates; the results are the
    // same, only slower (kept as the reference the fast path is checked against).
    bool ByteByByte = false;
    // Check candidates with the linear-time matcher from the start, instead of only once
    // direct comparisons stop paying (tests use it to cover that path on small inputs).
    bool AlwaysLinear = false;
    // Raise the parameters' line-number digits as line items are made. A worker that
    // searches ahead of the hand-overs turns it off and raises them when it hands over.
    bool UpdateLineNoDigits = true;
    // Count the lines of a scan that finds nothing (LineNo and the file's TotalLines). The
    // search turns it off: a file without finds is dropped, and counting its lines would
    // cost a second look at every byte.
    bool CountLinesWithoutFinds = true;
    // SearchFile leaves out a file whose first BinaryProbeSize bytes hold a zero byte.
    bool SkipBinary = false;
  };
  TModes Modes;
  int64_t Size = 0;
  TSearchFile* File = nullptr;

  const TCharReader& Bytes() const { return Reader; }

  void SetFileName(const std::string& path);
  // Loads the file of the item and gives the item the size and last-write time of what
  // was read.
  void SetFile(TSearchFile* file);
  // Gives the file item the last-write time of the loaded file, once per load (searching
  // does it at the file's first find).
  void TakeFileInfo(TSearchFile* file);
  void StampFileTime();
  // Loads bytes held in memory instead of a file (the preview and tests use it).
  void SetBytes(std::string_view bytes, const std::string& path = {});
  // For the preview of a large file: loads the whole lines of the item's file around file
  // position `position` (a line start) instead of all of it, from up to `reach` bytes before
  // it to up to `reach` bytes after it, with the line at `position` whole however long (up
  // to LongLinePiece). The line items made then carry the file's positions: SliceStart is
  // the position of the first byte held. False, with nothing loaded, for a file of at most
  // `wholeMax` bytes and for a UTF-16 one (whose positions are those of its decoded text):
  // those are loaded whole with SetFile. Fails as SetFile does.
  bool SetFileAround(TSearchFile* file, int64_t position, int64_t wholeMax, int64_t reach);
  // The file position of the first byte held (0 unless SetFileAround holds a slice).
  int64_t SliceStart = 0;
  // After SetFile or SetFileAround: whether the file's last byte is a line break.
  bool FileEndsWithBreak = false;
  // Scans first..last (clamped to the data); returns the number of finds starting there.
  int32_t Process(int64_t first, int64_t last);
  // Searches the whole file of the item, as SetFile and then Process over all of it do. A
  // file larger than `wholeMax` bytes is not held whole: it is read `block` bytes at a
  // time (more where a line is longer) and each part searched as it arrives, with the same
  // finds, lines and counts. Returns the number of finds. Such a file may be of any size;
  // a line longer than LongLinePiece is not held whole: a find in it is listed with the
  // piece of the line around it (its line number, and a text that starts where the piece
  // does), so that no line costs more memory than that.
  // `shortReadsEnd`: a read of the file that gives fewer bytes than asked for reaches its
  // end (TDirHandle::ShortReadsEndFiles); else it is read until a read gives nothing.
  int32_t SearchFile(TSearchFile* file, int64_t wholeMax, size_t block = DefaultBlockSize, bool shortReadsEnd = false);
  static constexpr size_t DefaultBlockSize = size_t{1} << 20;
  static constexpr int64_t LongLinePiece = int64_t{16} << 20;
  // How much of a file's start the binary test looks at.
  static constexpr size_t BinaryProbeSize = size_t{64} << 10;
  // Whether the last SearchFile left its file out as binary (it then made no line item).
  bool SkippedBinary = false;

  // Line navigation over the loaded data; an invalid position reads as byte 0.
  bool IsLineBreak(int32_t p) const;
  bool IsCRLF(int32_t p) const;
  int32_t GetLineEnd(int32_t p) const;
  int32_t GetLineStart(int32_t p) const;
  int32_t GetPrevLineStart(int32_t p) const;
  int32_t GetNextLineStart(int32_t p) const;

 private:
  // The target as the scan compares it (upper-cased when case is ignored), the bytes a
  // find can start with and the candidate filter: made once per target and case rule,
  // not once per file.
  struct TPreparedTarget {
    std::string Source;
    std::string ExcludeKey;  // the exclude text when it takes effect
    bool CaseSensitive = false;
    // Set when case is ignored beyond ASCII: finds are matched by simple folding.
    std::shared_ptr<const TFoldTarget> Fold;
    bool StartsWord = false, EndsWord = false;  // the target's first and last character
    bool Valid = false;
    std::string Pattern;
    bool FirstByte[256] = {};
    TCandidateFilter Filter{};
    // For the linear-time matcher, made when a scan first needs them: the exclude text as
    // compared (upper-cased when case is ignored) and the failure tables of both texts.
    std::string ExcludeSource;
    std::string ExcludePattern;
    std::vector<int32_t> TargetFailure, ExcludeFailure;
  };
  const TPreparedTarget& Prepare();

  int32_t Scan(int64_t first, int64_t last, size_t block);
  class TLiteralScan;  // one Scan call (RangeProcessor.cpp)
  // Regular-expression mode (RegexScan.cpp): the finds are made into line items as the
  // literal scan makes its own.
  int32_t SearchFileRegex(TSearchFile* file, int64_t wholeMax, size_t block, bool shortReadsEnd);
  int32_t ScanRegex(int64_t first, int64_t last, size_t block);
  class TRegexScan;  // one ScanRegex call (RegexScan.cpp)
  // The scanner of the parameters' expression, made again when the expression changes.
  TRegexScanner& ScannerOfParams();
  // Tells the regex scanner, if there is one, that other bytes follow (see NewSubject).
  void NewRegexSubject();
  // How SearchFile loads a file: whole up to WholeMax bytes, else a block at a time (or it
  // fails with TooLarge when that is set); as text (Text: a UTF-16 file is decoded, the
  // byte-order mark of UTF-8 belongs to no line) or as bytes.
  struct TFileLoad {
    int64_t WholeMax;
    bool ShortReadsEnd;
    bool Text;
    const char* TooLarge;
  };
  using TScanStep = int32_t (TRangeProcessor::*)(int64_t first, int64_t last, size_t block);
  // The steps both kinds of search share: load or open the file, leave a binary one out, and
  // scan it whole or a block at a time with `scan`.
  int32_t LoadAndScan(TSearchFile* file, const TFileLoad& load, size_t block, TScanStep scan);
  int32_t ScanDecodedWhole(TSearchFile* file, TScanStep scan);
  // Whether the start of a file holds a zero byte: SkippedBinary then tells that it is left out.
  bool HoldsZeroByte(const unsigned char* data, size_t size);
  std::unique_ptr<TRegexScanner> RegexScanner;
  const TRegexSearch* RegexScannerFor = nullptr;
  void BeginFile(TSearchFile* file);
  void FileLoaded(TSearchFile* file);
  // A UTF-16 file is searched as its text in UTF-8; false for any other file.
  bool DecodeText();

  bool FileTimeStamped = true;
  TPreparedTarget Prepared;
  std::vector<TSearchLine> MadeLines;  // made, not yet added to the file
  // Where the lines of the files this processor searches keep their texts and finds.
  std::shared_ptr<TLineArena> Arena = std::make_shared<TLineArena>();
};

int32_t DecimalDigits(int64_t n);

// Whether a find of a search starts at `pos` of `data` (`size` bytes) under every rule it
// was found by: the target's bytes, the case rule, whole word and the exclude text. The
// replace checks each find with it again before it writes.
class TFindRule {
 public:
  explicit TFindRule(const TSearchParams& params);
  // `length`, when given, receives the length of the find (folding may change it).
  bool IsFindAt(const unsigned char* data, int64_t size, int64_t pos, int32_t* length = nullptr) const;

 private:
  const TSearchParams& Params;
  std::string Pattern;  // upper-cased when case is ignored
  std::shared_ptr<const TFoldTarget> Fold;
};

inline bool IsWordByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

}  // namespace trawlex
