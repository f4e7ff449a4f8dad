#pragma once
// The two inner loops of the fast scan: find the next position where a find could start,
// and count the line breaks in a stretch of bytes that holds no candidate. Both may read
// up to 16 bytes past `end` (the reader keeps zero padding there).
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace trawlex {

struct TCandidateFilter {
  // A find can start at p only if data[p + Offset1] is First1 or First2 and, when the
  // target has two bytes or more, data[p + Offset2] is Second1 or Second2 (the two cases of
  // a letter). The offsets pick the target's two rarest bytes, so that few positions pass.
  unsigned char First1, First2, Second1, Second2;
  int32_t Offset1 = 0, Offset2 = 1;
  bool TwoBytes;
};

// The filter for a target (upper-cased when the search ignores case): its two rarest
// bytes in ordinary text and code.
TCandidateFilter MakeCandidateFilter(std::string_view pattern, bool caseSensitive);

// Index of the first candidate in [begin, end), or end.
const unsigned char* FindCandidate(const TCandidateFilter& f, const unsigned char* begin, const unsigned char* end);

struct TBreakCount {
  int64_t Breaks = 0;
  const unsigned char* LastBreak = nullptr;  // the last break byte seen, or null
};

// Line breaks in [begin, end): every CR, and every LF not right after a CR. `prevIsCR`
// says whether the byte before `begin` is a CR.
TBreakCount CountLineBreaks(const unsigned char* begin, const unsigned char* end, bool prevIsCR);

// The candidate searches look at [begin, end) and read up to the largest offset past each
// position: `end` must leave the whole target inside the data (end <= size - length + 1).

// FindCandidate and CountLineBreaks in one pass: the first candidate in [begin, end) (or
// end), with the line breaks before it added to `count`. For scans that need every line
// counted anyway, this reads each byte once instead of twice.
const unsigned char* FindCandidateCountingBreaks(const TCandidateFilter& f, const unsigned char* begin,
                                                 const unsigned char* end, bool prevIsCR, TBreakCount& count);

// The line breaks that a forward search for candidates passes, counted in the same pass
// (FindCandidateCountingBreaks), for a scan that tries a pattern at candidates only and
// needs every line counted: its owner takes the count up at the marks and where it stands.
struct TBreakMark {
  const unsigned char* At = nullptr;         // the breaks before this byte are counted
  int64_t Breaks = 0;                        // breaks from the tally's start to At
  const unsigned char* LastBreak = nullptr;  // the last break byte before At, or null
};

class TBreakTally {
 public:
  // Counting starts at `at`; `prevIsCR` says whether the byte before it is a CR.
  void Start(const unsigned char* at, bool prevIsCR);
  // The first candidate in [begin, end) (or end), with the breaks before it counted. A
  // stretch between where the count stands and `begin` is counted too; before it, the
  // search does not count again.
  const unsigned char* FindCandidate(const TCandidateFilter& f, const unsigned char* begin, const unsigned char* end);
  // Keeps the count at `at`: no line break may stand between it and where the count stands.
  void Mark(const unsigned char* at);
  const TBreakMark& Now() const { return FNow; }
  std::vector<TBreakMark> Marks;

 private:
  bool PrevIsCR(const unsigned char* at) const { return at > FStart ? at[-1] == 13 : FStartAfterCR; }
  const unsigned char* FStart = nullptr;
  bool FStartAfterCR = false;
  TBreakMark FNow;
};

// Whether the 32-byte kernels may be used where the processor has them (on by default;
// tests turn them off to check the 16-byte ones on the same machine).
void UseWideScanKernels(bool use);

// The first CR or LF in [begin, end), or end.
// The last CR or LF in [begin, end), or null when there is none.
const unsigned char* FindLastLineBreak(const unsigned char* begin, const unsigned char* end);
const unsigned char* FindLineBreak(const unsigned char* begin, const unsigned char* end);

}  // namespace trawlex
