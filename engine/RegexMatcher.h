#pragma once
// The regular-expression mode of a search: patterns in Perl's syntax compiled by PCRE2 (with
// its JIT), matched over the bytes of a file. Valid UTF-8 is matched as characters with
// Unicode properties (\w, \b and case folding know every script); bytes that are not UTF-8
// never match a pattern item, and the text around them is matched as usual. CR, LF and
// CR LF end lines for ^, $ and ".". A match that runs away is stopped by the library's
// match and depth limits and raises ETrawlexError with the reason.
//
// Threads: a TRegex is read-only once made and shared by every thread of a search; each
// thread matches through a TRegexMatcher (or TRegexScanner) of its own.
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace trawlex {

class TBreakTally;

// A match reached the end of the bytes in memory and the data goes on: read more, try again.
class ERegexNeedsMore : public std::exception {
 public:
  const char* what() const noexcept override { return "A match runs past the bytes read"; }
};

struct TRegexFind {
  int64_t Pos = 0;
  int64_t Length = 0;
};

class TRegex {
 public:
  // Compiles `pattern`; raises ETrawlexError naming the position of the fault and the
  // library's reason.
  TRegex(const std::string& pattern, bool caseSensitive);
  ~TRegex();
  TRegex(const TRegex&) = delete;
  TRegex& operator=(const TRegex&) = delete;

  const std::string& Pattern() const { return FPattern; }
  int32_t CaptureCount() const { return FCaptureCount; }
  // The number of the group called `name`, or -1.
  int32_t GroupNumber(const std::string& name) const;
  // No match can hold a line break (nor look past one), so a line is all the context a
  // find needs: the scan may look at the lines around candidates only.
  bool LineBound() const { return FLineBound; }
  // Text that every match contains, or empty; compared with case when RequiredCase.
  const std::string& Required() const { return FRequired; }
  bool RequiredCase() const { return FRequiredCase; }
  // Every match starts with Required().
  bool RequiredAtStart() const { return FRequiredAtStart; }

  // The match limit of every matcher: reached, a file's search stops. Tests lower it.
  static void SetMatchLimit(uint32_t limit);

 private:
  friend class TRegexMatcher;
  void Analyse(bool caseSensitive);
  std::string FPattern;
  void* FCode = nullptr;          // pcre2_code
  void* FAnchoredCode = nullptr;  // the same, anchored
  // The same with a leading .* not tied to line starts, for a pattern the library ties so:
  // a .* cannot pass a byte that is not UTF-8, so after one a match may start mid-line.
  void* FMidLineCode = nullptr;
  int32_t FCaptureCount = 0;
  bool FLineBound = false;
  std::string FRequired;
  bool FRequiredCase = true;
  bool FRequiredAtStart = false;
};

// Matches one pattern; keeps the captures of its last match.
class TRegexMatcher {
 public:
  explicit TRegexMatcher(const TRegex& regex);
  ~TRegexMatcher();
  TRegexMatcher(const TRegexMatcher&) = delete;
  TRegexMatcher& operator=(const TRegexMatcher&) = delete;

  enum TFlags : uint32_t {
    Anchored = 1,         // only a match that starts at `from`
    NotEmptyAtStart = 2,  // no empty match at `from`
    NotEol = 4,           // the subject's end is not the end of a line
    MoreMayFollow = 8,    // the subject's end is not the data's: raise ERegexNeedsMore at it
  };
  // The first match in data[0, size) that starts at or after `from`; false when there is
  // none. Raises ETrawlexError when the match runs away.
  bool Find(const unsigned char* data, int64_t size, int64_t from, uint32_t flags, TRegexFind& found);
  // Group `i` of the last match, or false when it took no part in it.
  bool Group(int32_t i, int64_t& start, int64_t& end) const;
  const TRegex& Regex() const { return FRegex; }

 private:
  const TRegex& FRegex;
  void* FMatchData = nullptr;  // pcre2_match_data
  void* FContext = nullptr;    // pcre2_match_context
  void* FStack = nullptr;      // pcre2_jit_stack
};

// The rules of a search in this mode: the target pattern, the exclude pattern (a find
// inside one of its matches is dropped) and whole word (the word rule at both ends of a
// match). Made once per search, on the thread that starts it.
class TRegexSearch {
 public:
  // Raises ETrawlexError for a pattern that does not compile, naming which one.
  TRegexSearch(const std::string& target, const std::string& exclude, bool caseSensitive, bool wholeWord);
  std::unique_ptr<TRegex> Target, Exclude;
  bool WholeWord = false;
};

// The finds of a search in buffers: one per thread.
class TRegexScanner {
 public:
  explicit TRegexScanner(const TRegexSearch& search);
  ~TRegexScanner();

  // Appends every find that starts in [from, to) of data[0, size), in order. Finds do not
  // overlap; an empty match is a find of length zero. With a tally (started at or before
  // data + from), the search for the pattern's required text counts the line breaks before
  // `to` that it passes, and marks the count where a line with finds or a find starts.
  void FindAll(const unsigned char* data, int64_t size, int64_t from, int64_t to, std::vector<TRegexFind>& finds,
               TBreakTally* tally = nullptr);
  // Whether a find of `length` bytes starts at `pos` under every rule; asked of one buffer
  // at ascending positions. On true, Matcher() holds its captures.
  bool IsFindAt(const unsigned char* data, int64_t size, int64_t pos, int64_t length);
  TRegexMatcher& Matcher() { return FTarget; }
  // Other bytes are to be searched from now on (another file, or the window of a block scan
  // moved): what the exclude pattern matched in the bytes before is forgotten. Calls on the
  // same bytes at ascending positions keep it, so a file is searched for the exclude once.
  void NewSubject() { FExcludeData = nullptr; }
  // The bytes given to FindAll end before the data does: a find that may run on past them
  // raises ERegexNeedsMore.
  bool MoreMayFollow = false;
  // When set, asked every 64 KiB of the bytes FindAll goes through: true ends it there, with
  // the finds made so far (a stop need not wait for a slow pattern to cross a large file).
  const std::function<bool()>* StopRequested = nullptr;

 private:
  // Whether FindAll is to end at `pos`: asked of StopRequested once per StopCheckBytes.
  bool StopDue(int64_t pos);
  static constexpr int64_t StopCheckBytes = int64_t{64} << 10;
  int64_t FNextStopCheck = 0;
  bool FStopped = false;
  bool Accepted(const unsigned char* data, int64_t size, const TRegexFind& f);
  bool Excluded(const unsigned char* data, int64_t size, const TRegexFind& f);
  // Finds starting in [from, lastStart] of a subject data[0, subjectSize) that ends before
  // the data's (size) when notEol.
  void FindInRange(const unsigned char* data, int64_t subjectSize, int64_t size, int64_t from, int64_t lastStart,
                   bool notEol, std::vector<TRegexFind>& finds);
  // FindAll where every match holds a required text: at its occurrences only, or in the
  // lines that hold one.
  struct TRequiredRun;
  void FindAtEachOccurrence(TRequiredRun& run, int64_t from);
  void FindInLinesWithOccurrences(TRequiredRun& run, int64_t from);
  const TRegexSearch& FSearch;
  TRegexMatcher FTarget;
  std::unique_ptr<TRegexMatcher> FExclude;
  // The exclude pattern's matches, found left to right from the buffer's start as far as
  // the finds asked about.
  const unsigned char* FExcludeData = nullptr;
  int64_t FExcludeNext = 0;
  int64_t FExcludeAsked = 0;  // the find asked about last
  TRegexFind FExcludeMatch{-1, 0};
  bool FExcludeDone = false;
};

// Where the next match may start after an empty one at `pos`: one character on (a CR LF
// counts as one).
int64_t NextCharStart(const unsigned char* data, int64_t size, int64_t pos);

}  // namespace trawlex
