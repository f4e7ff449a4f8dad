#pragma once
// Characters in valid UTF-8: decoding, Unicode simple case folding and word characters,
// and the matcher of a target whose case is ignored beyond ASCII. Bytes that are not
// valid UTF-8 stay bytes: they fold only A-Z and are word bytes only when ASCII.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ScanKernels.h"

namespace trawlex {

// The code point of the valid UTF-8 character at `p` (shortest form, no surrogate, at most
// U+10FFFF, wholly before `end`) and its length in bytes; 0 when there is none there.
int DecodeUtf8(const unsigned char* p, const unsigned char* end, uint32_t& cp);
// The valid UTF-8 character that ends just before `p` and starts at or after `begin`; 0
// when the bytes before `p` do not end one.
int DecodeUtf8Before(const unsigned char* p, const unsigned char* begin, uint32_t& cp);
void AppendUtf8(std::string& out, uint32_t cp);
bool IsValidUtf8(std::string_view text);
bool IsAscii(std::string_view text);

uint32_t FoldCase(uint32_t cp);
bool IsWordChar(uint32_t cp);
// Every code point that folds as `cp` does, `cp` among them, ascending.
std::vector<uint32_t> CaseVariants(uint32_t cp);

// Whether a word character ends just before `pos` (not looking before `lo`) or starts at
// `pos` (not looking at or past `end`). Valid UTF-8 gives characters; any other byte is a
// word byte when it is an ASCII letter, digit or underscore.
bool WordCharBefore(const unsigned char* data, int64_t lo, int64_t pos);
bool WordCharAt(const unsigned char* data, int64_t pos, int64_t end);
// Whether the first (last) character of a target is a word character, by the same rule.
bool StartsWithWordChar(std::string_view text);
bool EndsWithWordChar(std::string_view text);

// Whether a case-insensitive search with this target (and exclude text) folds beyond
// ASCII: the texts are valid UTF-8 and one of them holds a character beyond ASCII. An
// ASCII target keeps the byte matcher and its speed.
bool FoldsBeyondAscii(std::string_view target, std::string_view exclude);

// Start positions (1-based, overlaps included) of the target in `text` by simple folding.
std::vector<int32_t> FoldPositions(std::string_view target, std::string_view text);

// A target prepared for case-insensitive matching by simple folding.
class TFoldTarget {
 public:
  TFoldTarget(std::string_view target, std::string_view exclude);

  // The length of the find starting at `pos`, or -1; reads no byte at or past `end`.
  // `compared`, when given, grows by the characters compared.
  int32_t MatchAt(const unsigned char* data, int64_t pos, int64_t end, int64_t* compared = nullptr) const;
  // Whether the find at pos (`length` bytes) lies inside an occurrence of the exclude text,
  // looking no further back than `lo` and no further on than `end`.
  bool Excluded(const unsigned char* data, int64_t lo, int64_t pos, int32_t length, int64_t end,
                int64_t* compared = nullptr) const;

  int32_t MinLength = 0;  // the fewest bytes a find can have
  int32_t MaxLength = 0;  // the most
  int32_t MaxExcludeLength = 0;
  bool FirstByte[256] = {};
  std::vector<TCandidateFilter> Filters;  // a position passes when one of them passes

 private:
  // Folded code points; for the exclude text, per occurrence of the target in it, what
  // must stand before the find (last first) and after it.
  std::vector<uint32_t> Target, Exclude;
  struct TAround {
    std::vector<uint32_t> Before, After;
  };
  std::vector<TAround> Excludes;
  void MakeFilters();
  friend class TFoldStream;
};

// Finds of a fold target by feeding the text's characters once, in order (Knuth-Morris-
// Pratt over folded characters): linear in the text whatever the target. For a scan whose
// direct comparisons stop paying (a text of "ä" and a target of many "ä" then an "x").
class TFoldStream {
 public:
  // Occurrences of the target, or (`exclude`) of the exclude text.
  TFoldStream(const TFoldTarget& target, bool exclude);
  // As TFoldTarget::MatchAt and Excluded, for positions that only grow from call to call
  // (a smaller one, or one past what was fed, starts the feeding over).
  int32_t MatchAt(const unsigned char* data, int64_t pos, int64_t end);
  bool Excluded(const unsigned char* data, int64_t lo, int64_t pos, int32_t length, int64_t end);

 private:
  void Feed(const unsigned char* data, int64_t from, int64_t pos, int64_t end);
  const std::vector<uint32_t>& Pattern;
  int64_t Reach;  // the most bytes an occurrence can have
  std::vector<int32_t> Failure;
  std::vector<int64_t> Starts;  // where each of the last characters fed starts, in a ring
  int64_t Fed = -1;             // the next position to feed
  int64_t Asked = -1;
  int64_t Units = 0;
  int32_t State = 0;
  std::deque<std::pair<int64_t, int64_t>> Found;  // occurrences not yet asked about: start, end
};

// Where finds of a fold target may start, for one scan that asks at ever later positions:
// each filter's last answer is kept, so that no stretch is read twice by one filter.
class TFoldCandidates {
 public:
  explicit TFoldCandidates(const TFoldTarget& target) : Target(target), Known(target.Filters.size()) {}
  // The first position in [from, to) where a find may start, or `to`; `data[p]` is the byte
  // at position p. Reads as far past each position as FindCandidate does.
  int64_t Find(const unsigned char* data, int64_t from, int64_t to);

 private:
  struct TKnown {
    int64_t From = -1;  // no candidate in [From, Hit), and Hit is one (or none up to Seen)
    int64_t Hit = -1;
    int64_t Seen = -1;
  };
  const TFoldTarget& Target;
  std::vector<TKnown> Known;
};

}  // namespace trawlex
