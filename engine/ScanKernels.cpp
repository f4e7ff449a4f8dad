#include "engine/ScanKernels.h"

#include <atomic>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace trawlex {

// Bits set in a 16-bit mask, without relying on a popcount instruction.
static inline int Bits16(unsigned x) {
  x = x - ((x >> 1) & 0x5555u);
  x = (x & 0x3333u) + ((x >> 2) & 0x3333u);
  x = (x + (x >> 4)) & 0x0F0Fu;
  return static_cast<int>((x + (x >> 8)) & 0x1Fu);
}


#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TRAWLEX_HAVE_AVX2_KERNELS 1
#include <immintrin.h>

// The same two loops 32 bytes at a time, for processors with AVX2 (chosen at run time).
#define TRAWLEX_AVX2 __attribute__((target("avx2,popcnt,lzcnt,bmi")))

// The candidate bytes of the 32 positions from `at` as a byte mask. `BothCases`: a filter
// byte may stand in two cases (else First2 and Second2 repeat First1 and Second1).
template <bool TwoBytes, bool BothCases>
TRAWLEX_AVX2 static inline __m256i CandidateMaskAvx2(const TCandidateFilter& f, const unsigned char* at, __m256i a1,
                                                     __m256i a2, __m256i b1, __m256i b2) {
  const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + f.Offset1));
  __m256i m = _mm256_cmpeq_epi8(va, a1);
  if (BothCases) m = _mm256_or_si256(m, _mm256_cmpeq_epi8(va, a2));
  if (TwoBytes) {
    const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + f.Offset2));
    __m256i mb = _mm256_cmpeq_epi8(vb, b1);
    if (BothCases) mb = _mm256_or_si256(mb, _mm256_cmpeq_epi8(vb, b2));
    m = _mm256_and_si256(m, mb);
  }
  return m;
}

template <bool TwoBytes, bool BothCases>
TRAWLEX_AVX2 static const unsigned char* FindCandidateAvx2Loop(const TCandidateFilter& f, const unsigned char* p,
                                                               const unsigned char* end) {
  const __m256i a1 = _mm256_set1_epi8(static_cast<char>(f.First1));
  const __m256i a2 = _mm256_set1_epi8(static_cast<char>(f.First2));
  const __m256i b1 = _mm256_set1_epi8(static_cast<char>(f.Second1));
  const __m256i b2 = _mm256_set1_epi8(static_cast<char>(f.Second2));
  const auto candidates = [&](const unsigned char* at) TRAWLEX_AVX2 {
    return CandidateMaskAvx2<TwoBytes, BothCases>(f, at, a1, a2, b1, b2);
  };
  // Two vectors a step while nothing is found, which is nearly always.
  while (end - p >= 64) {
    const __m256i m0 = candidates(p), m1 = candidates(p + 32);
    const __m256i any = _mm256_or_si256(m0, m1);
    if (!_mm256_testz_si256(any, any)) {
      const auto mask0 = static_cast<uint32_t>(_mm256_movemask_epi8(m0));
      if (mask0) return p + __builtin_ctz(mask0);
      return p + 32 + __builtin_ctz(static_cast<uint32_t>(_mm256_movemask_epi8(m1)));
    }
    p += 64;
  }
  while (end - p >= 32) {
    const auto mask = static_cast<uint32_t>(_mm256_movemask_epi8(candidates(p)));
    if (mask) return p + __builtin_ctz(mask);
    p += 32;
  }
  return p;  // the rest, fewer than 32 bytes, is left to the caller's loop
}

TRAWLEX_AVX2 static const unsigned char* FindCandidateAvx2(const TCandidateFilter& f, const unsigned char* p,
                                                           const unsigned char* end) {
  const bool bothCases = f.First1 != f.First2 || f.Second1 != f.Second2;
  if (f.TwoBytes)
    return bothCases ? FindCandidateAvx2Loop<true, true>(f, p, end) : FindCandidateAvx2Loop<true, false>(f, p, end);
  return bothCases ? FindCandidateAvx2Loop<false, true>(f, p, end) : FindCandidateAvx2Loop<false, false>(f, p, end);
}

template <bool TwoBytes, bool BothCases>
TRAWLEX_AVX2 static const unsigned char* FindCandidateCountingAvx2Loop(const TCandidateFilter& f, const unsigned char* p,
                                                                       const unsigned char* end, bool& prevIsCR,
                                                                       TBreakCount& count, bool& found) {
  const __m256i a1 = _mm256_set1_epi8(static_cast<char>(f.First1));
  const __m256i a2 = _mm256_set1_epi8(static_cast<char>(f.First2));
  const __m256i b1 = _mm256_set1_epi8(static_cast<char>(f.Second1));
  const __m256i b2 = _mm256_set1_epi8(static_cast<char>(f.Second2));
  const __m256i lf = _mm256_set1_epi8(10);
  const __m256i cr = _mm256_set1_epi8(13);
  uint32_t carry = prevIsCR ? 1u : 0u;
  found = false;
  // A step without a CR (nearly every one) adds its LFs to byte lanes, at most 2 a lane,
  // summed every 127 steps and at the end; the last such step with an LF is kept to find
  // the last break in.
  const __m256i zero = _mm256_setzero_si256();
  __m256i lanes = zero, sums = zero;
  int32_t steps = 0;
  const unsigned char* lastLFStep = nullptr;
  // 64 bytes a step while they hold no candidate, which is nearly always.
  while (end - p >= 64) {
    const __m256i c0 = CandidateMaskAvx2<TwoBytes, BothCases>(f, p, a1, a2, b1, b2);
    const __m256i c1 = CandidateMaskAvx2<TwoBytes, BothCases>(f, p + 32, a1, a2, b1, b2);
    const __m256i any = _mm256_or_si256(c0, c1);
    if (!_mm256_testz_si256(any, any)) break;  // the step below finds where
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    const __m256i l0 = _mm256_cmpeq_epi8(v0, lf), l1 = _mm256_cmpeq_epi8(v1, lf);
    const __m256i r0 = _mm256_cmpeq_epi8(v0, cr), r1 = _mm256_cmpeq_epi8(v1, cr);
    const __m256i anyCR = _mm256_or_si256(r0, r1);
    if (carry == 0 && _mm256_testz_si256(anyCR, anyCR)) {
      lanes = _mm256_sub_epi8(_mm256_sub_epi8(lanes, l0), l1);
      const __m256i anyLF = _mm256_or_si256(l0, l1);
      lastLFStep = _mm256_testz_si256(anyLF, anyLF) ? lastLFStep : p;
      if (++steps == 127) {
        sums = _mm256_add_epi64(sums, _mm256_sad_epu8(lanes, zero));
        lanes = zero;
        steps = 0;
      }
    } else {
      const uint64_t mlf = static_cast<uint32_t>(_mm256_movemask_epi8(l0)) |
                           (uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(l1))} << 32);
      const uint64_t mcr = static_cast<uint32_t>(_mm256_movemask_epi8(r0)) |
                           (uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(r1))} << 32);
      if (mlf | mcr) {
        const uint64_t afterCR = (mcr << 1) | carry;
        count.Breaks += __builtin_popcountll(mcr | (mlf & ~afterCR));
        count.LastBreak = p + (63 - __builtin_clzll(mlf | mcr));
      }
      carry = static_cast<uint32_t>(mcr >> 63);
    }
    p += 64;
  }
  sums = _mm256_add_epi64(sums, _mm256_sad_epu8(lanes, zero));
  count.Breaks += _mm256_extract_epi64(sums, 0) + _mm256_extract_epi64(sums, 1) + _mm256_extract_epi64(sums, 2) +
                  _mm256_extract_epi64(sums, 3);
  if (lastLFStep && (!count.LastBreak || lastLFStep > count.LastBreak)) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lastLFStep));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lastLFStep + 32));
    const uint64_t mlf = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v0, lf))) |
                         (uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v1, lf)))} << 32);
    count.LastBreak = lastLFStep + (63 - __builtin_clzll(mlf));
  }
  while (end - p >= 32) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const auto cand = static_cast<uint32_t>(_mm256_movemask_epi8(CandidateMaskAvx2<TwoBytes, BothCases>(f, p, a1, a2, b1, b2)));
    const uint32_t keep = cand ? (uint32_t{1} << __builtin_ctz(cand)) - 1u : 0xFFFFFFFFu;
    const uint32_t mlf = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v0, lf))) & keep;
    const uint32_t mcr = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v0, cr))) & keep;
    if (mlf | mcr) {
      const uint32_t afterCR = (mcr << 1) | carry;
      count.Breaks += __builtin_popcount(mcr | (mlf & ~afterCR));
      count.LastBreak = p + (31 - __builtin_clz(mlf | mcr));
    }
    if (cand) {
      found = true;
      return p + __builtin_ctz(cand);
    }
    carry = mcr >> 31;
    p += 32;
  }
  prevIsCR = carry != 0;
  return p;
}

TRAWLEX_AVX2 static const unsigned char* FindCandidateCountingAvx2(const TCandidateFilter& f, const unsigned char* p,
                                                                   const unsigned char* end, bool& prevIsCR,
                                                                   TBreakCount& count, bool& found) {
  const bool bothCases = f.First1 != f.First2 || f.Second1 != f.Second2;
  if (f.TwoBytes)
    return bothCases ? FindCandidateCountingAvx2Loop<true, true>(f, p, end, prevIsCR, count, found)
                     : FindCandidateCountingAvx2Loop<true, false>(f, p, end, prevIsCR, count, found);
  return bothCases ? FindCandidateCountingAvx2Loop<false, true>(f, p, end, prevIsCR, count, found)
                   : FindCandidateCountingAvx2Loop<false, false>(f, p, end, prevIsCR, count, found);
}

// Line breaks 64 bytes at a time; the rest, fewer than 64 bytes, is left to the caller.
TRAWLEX_AVX2 static const unsigned char* CountLineBreaksAvx2(const unsigned char* p, const unsigned char* end,
                                                             bool& prevIsCR, TBreakCount& count) {
  const __m256i lf = _mm256_set1_epi8(10);
  const __m256i cr = _mm256_set1_epi8(13);
  uint64_t carry = prevIsCR ? 1u : 0u;
  while (end - p >= 64) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    const uint64_t mlf = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v0, lf))) |
                         uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v1, lf)))} << 32;
    const uint64_t mcr = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v0, cr))) |
                         uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v1, cr)))} << 32;
    if (mlf | mcr) {
      const uint64_t afterCR = (mcr << 1) | carry;
      count.Breaks += __builtin_popcountll(mcr | (mlf & ~afterCR));
      count.LastBreak = p + (63 - __builtin_clzll(mlf | mcr));
    }
    carry = mcr >> 63;
    p += 64;
  }
  prevIsCR = carry != 0;
  return p;
}

static std::atomic<bool> gWideKernels{true};

static bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
                          __builtin_cpu_supports("bmi");
  return has && gWideKernels.load(std::memory_order_relaxed);
}
#endif

void UseWideScanKernels(bool use) {
#if defined(TRAWLEX_HAVE_AVX2_KERNELS)
  gWideKernels.store(use, std::memory_order_relaxed);
#else
  (void)use;
#endif
}

static inline bool IsCandidate(const TCandidateFilter& f, const unsigned char* p) {
  if (p[f.Offset1] != f.First1 && p[f.Offset1] != f.First2) return false;
  return !f.TwoBytes || p[f.Offset2] == f.Second1 || p[f.Offset2] == f.Second2;
}

const unsigned char* FindCandidate(const TCandidateFilter& f, const unsigned char* p, const unsigned char* end) {
  if (!f.TwoBytes && f.First1 == f.First2) {
    const void* hit = std::memchr(p + f.Offset1, f.First1, static_cast<size_t>(end - p));
    return hit ? static_cast<const unsigned char*>(hit) - f.Offset1 : end;
  }
#if defined(TRAWLEX_HAVE_AVX2_KERNELS)
  if (HasAvx2()) {
    p = FindCandidateAvx2(f, p, end);
    if (end - p >= 32) return p;
  }
#endif
#if defined(__SSE2__)
  const __m128i a1 = _mm_set1_epi8(static_cast<char>(f.First1));
  const __m128i a2 = _mm_set1_epi8(static_cast<char>(f.First2));
  const __m128i b1 = _mm_set1_epi8(static_cast<char>(f.Second1));
  const __m128i b2 = _mm_set1_epi8(static_cast<char>(f.Second2));
  while (end - p >= 16) {
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + f.Offset1));
    __m128i m = _mm_or_si128(_mm_cmpeq_epi8(va, a1), _mm_cmpeq_epi8(va, a2));
    if (f.TwoBytes) {
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + f.Offset2));
      m = _mm_and_si128(m, _mm_or_si128(_mm_cmpeq_epi8(vb, b1), _mm_cmpeq_epi8(vb, b2)));
    }
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(m));
    if (mask) return p + __builtin_ctz(mask);
    p += 16;
  }
#endif
  for (; p < end; ++p)
    if (IsCandidate(f, p)) return p;
  return end;
}

const unsigned char* FindCandidateCountingBreaks(const TCandidateFilter& f, const unsigned char* p,
                                                 const unsigned char* end, bool prevIsCR, TBreakCount& count) {
#if defined(TRAWLEX_HAVE_AVX2_KERNELS)
  if (HasAvx2()) {
    bool found;
    p = FindCandidateCountingAvx2(f, p, end, prevIsCR, count, found);
    if (found) return p;
  }
#endif
#if defined(__SSE2__)
  const __m128i a1 = _mm_set1_epi8(static_cast<char>(f.First1));
  const __m128i a2 = _mm_set1_epi8(static_cast<char>(f.First2));
  const __m128i b1 = _mm_set1_epi8(static_cast<char>(f.Second1));
  const __m128i b2 = _mm_set1_epi8(static_cast<char>(f.Second2));
  const __m128i lf = _mm_set1_epi8(10);
  const __m128i cr = _mm_set1_epi8(13);
  unsigned carry = prevIsCR ? 1u : 0u;
  while (end - p >= 16) {
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + f.Offset1));
    __m128i m = _mm_or_si128(_mm_cmpeq_epi8(va, a1), _mm_cmpeq_epi8(va, a2));
    if (f.TwoBytes) {
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + f.Offset2));
      m = _mm_and_si128(m, _mm_or_si128(_mm_cmpeq_epi8(vb, b1), _mm_cmpeq_epi8(vb, b2)));
    }
    const unsigned cand = static_cast<unsigned>(_mm_movemask_epi8(m));
    // Only the bytes before the candidate belong to this stretch.
    const unsigned keep = cand ? (1u << __builtin_ctz(cand)) - 1u : 0xFFFFu;
    const unsigned mlf = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v0, lf))) & keep;
    const unsigned mcr = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v0, cr))) & keep;
    if (mlf | mcr) {
      const unsigned afterCR = ((mcr << 1) | carry) & 0xFFFFu;
      count.Breaks += Bits16(mcr | (mlf & ~afterCR));
      count.LastBreak = p + (31 - __builtin_clz(mlf | mcr));
    }
    if (cand) return p + __builtin_ctz(cand);
    carry = (mcr >> 15) & 1u;
    p += 16;
  }
  prevIsCR = carry != 0;
#endif
  for (; p < end; ++p) {
    if (IsCandidate(f, p)) return p;
    const unsigned char c = *p;
    if (c == 13) {
      ++count.Breaks;
      count.LastBreak = p;
    } else if (c == 10) {
      if (!prevIsCR) ++count.Breaks;
      count.LastBreak = p;
    }
    prevIsCR = c == 13;
  }
  return end;
}

void TBreakTally::Start(const unsigned char* at, bool prevIsCR) {
  FStart = at;
  FStartAfterCR = prevIsCR;
  FNow = {at, 0, nullptr};
  Marks.clear();
}

const unsigned char* TBreakTally::FindCandidate(const TCandidateFilter& f, const unsigned char* begin,
                                                const unsigned char* end) {
  if (begin < FNow.At) {
    // Bytes counted already: only looked at.
    const unsigned char* stop = end < FNow.At ? end : FNow.At;
    const unsigned char* c = trawlex::FindCandidate(f, begin, stop);
    if (c < stop || stop == end) return c;
    begin = stop;
  }
  if (begin > FNow.At) {
    const TBreakCount gap = CountLineBreaks(FNow.At, begin, PrevIsCR(FNow.At));
    FNow.Breaks += gap.Breaks;
    if (gap.LastBreak) FNow.LastBreak = gap.LastBreak;
    FNow.At = begin;
  }
  if (begin >= end) return end;
  TBreakCount breaks;
  const unsigned char* c = FindCandidateCountingBreaks(f, begin, end, PrevIsCR(begin), breaks);
  FNow.Breaks += breaks.Breaks;
  if (breaks.LastBreak) FNow.LastBreak = breaks.LastBreak;
  FNow.At = c;
  return c;
}

void TBreakTally::Mark(const unsigned char* at) {
  TBreakMark m = FNow;
  m.At = at;
  Marks.push_back(m);
}

// How common a byte is in ordinary text and code (higher: more common).
static int ByteFrequency(unsigned char c) {
  static const int letters[26] = {// a..z, English letter frequencies
                                  820, 150, 280, 430, 1270, 220, 200, 610, 700, 15, 77, 400, 240,
                                  670, 750, 190, 10, 600, 630, 910, 280, 98, 240, 15, 200, 8};
  if (c >= 'a' && c <= 'z') return letters[c - 'a'];
  if (c >= 'A' && c <= 'Z') return letters[c - 'A'] / 8;
  if (c >= '0' && c <= '9') return 120;
  switch (c) {
    case ' ': return 1800;
    case '\n': return 400;
    case '\t': case '_': case '.': case '(': case ')': case ',': case ';': case '=': case '"': return 200;
    case '-': case '/': case '*': case ':': case '<': case '>': case '{': case '}': case '[': case ']':
    case '#': case '\'': case '&': case '+': case '!': case '\r': return 100;
    default: return c < 128 ? 30 : 10;
  }
}

TCandidateFilter MakeCandidateFilter(std::string_view pattern, bool caseSensitive) {
  auto frequency = [&](unsigned char c) {
    if (caseSensitive || !(c >= 'A' && c <= 'Z')) return ByteFrequency(c);
    return ByteFrequency(c) + ByteFrequency(static_cast<unsigned char>(c + 32));  // either case
  };
  auto rarest = [&](int32_t skip) {
    int32_t best = -1;
    for (int32_t i = 0; i < static_cast<int32_t>(pattern.size()); ++i) {
      if (i == skip) continue;
      if (best < 0 || frequency(static_cast<unsigned char>(pattern[static_cast<size_t>(i)])) <
                          frequency(static_cast<unsigned char>(pattern[static_cast<size_t>(best)])))
        best = i;
    }
    return best;
  };
  auto cases = [&](unsigned char c, unsigned char& one, unsigned char& other) {
    one = c;
    other = (!caseSensitive && c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
  };
  TCandidateFilter f;
  f.TwoBytes = pattern.size() >= 2;
  f.Offset1 = rarest(-1);
  cases(static_cast<unsigned char>(pattern[static_cast<size_t>(f.Offset1)]), f.First1, f.First2);
  if (f.TwoBytes) {
    f.Offset2 = rarest(f.Offset1);
    cases(static_cast<unsigned char>(pattern[static_cast<size_t>(f.Offset2)]), f.Second1, f.Second2);
  } else {
    f.Offset2 = 0;
    f.Second1 = f.Second2 = f.First1;
  }
  return f;
}

const unsigned char* FindLastLineBreak(const unsigned char* begin, const unsigned char* end) {
  const unsigned char* p = end;
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8(10);
  const __m128i cr = _mm_set1_epi8(13);
  while (p - begin >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 16));
    const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr))));
    if (m) return p - 16 + (31 - __builtin_clz(m));
    p -= 16;
  }
#endif
  while (p > begin) {
    --p;
    if (*p == 10 || *p == 13) return p;
  }
  return nullptr;
}

const unsigned char* FindLineBreak(const unsigned char* p, const unsigned char* end) {
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8(10);
  const __m128i cr = _mm_set1_epi8(13);
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr))));
    if (m) return p + __builtin_ctz(m);
    p += 16;
  }
#endif
  for (; p < end; ++p)
    if (*p == 10 || *p == 13) return p;
  return end;
}

TBreakCount CountLineBreaks(const unsigned char* p, const unsigned char* end, bool prevIsCR) {
  TBreakCount r;
#if defined(TRAWLEX_HAVE_AVX2_KERNELS)
  if (HasAvx2()) p = CountLineBreaksAvx2(p, end, prevIsCR, r);
#endif
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8(10);
  const __m128i cr = _mm_set1_epi8(13);
  unsigned carry = prevIsCR ? 1u : 0u;
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const unsigned mlf = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
    const unsigned mcr = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
    if (mlf | mcr) {
      const unsigned afterCR = ((mcr << 1) | carry) & 0xFFFFu;
      r.Breaks += Bits16(mcr | (mlf & ~afterCR));
      r.LastBreak = p + (31 - __builtin_clz(mlf | mcr));  // a line starts after either byte
    }
    carry = (mcr >> 15) & 1u;
    p += 16;
  }
  prevIsCR = carry != 0;
#endif
  for (; p < end; ++p) {
    const unsigned char c = *p;
    if (c == 13) {
      ++r.Breaks;
      r.LastBreak = p;
    } else if (c == 10) {
      if (!prevIsCR) ++r.Breaks;
      r.LastBreak = p;
    }
    prevIsCR = c == 13;
  }
  return r;
}

}  // namespace trawlex
