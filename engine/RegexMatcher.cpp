#include "engine/RegexMatcher.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#ifndef TRAWLEX_NO_PCRE2
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#endif

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "engine/CaseFold.h"
#include "engine/RangeProcessor.h"

namespace trawlex {

namespace {

#ifndef TRAWLEX_NO_PCRE2
// About a second of backtracking on this machine's cores before a file is given up.
std::atomic<uint32_t> MatchLimit{20'000'000};
constexpr uint32_t DepthLimit = 1'000'000;
constexpr size_t JitStackMax = size_t{8} << 20;

pcre2_code* CodeOf(void* p) { return static_cast<pcre2_code*>(p); }

std::string LibraryMessage(int code) {
  PCRE2_UCHAR buffer[256];
  if (pcre2_get_error_message(code, buffer, sizeof buffer) < 0) return "error " + std::to_string(code);
  return reinterpret_cast<const char*>(buffer);
}

#endif

// The position of a byte offset in characters, counted from 1.
[[maybe_unused]] int64_t CharPosition(const std::string& text, size_t offset) {
  int64_t n = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++n;
  return n;
}

size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

bool IsAsciiAlnum(unsigned char c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

// Whether no match of `p` can hold a line break or look past one. Errs on the side of no:
// anything that might (escapes of line breaks, classes of space or of everything, "." in
// dot-all mode, ranges that start from an escape, references to the subject's edges) says no.
bool PatternIsLineBound(const std::string& p) {
  bool inClass = false;
  bool lastWasEscape = false;
  for (size_t i = 0; i < p.size(); ++i) {
    const auto c = static_cast<unsigned char>(p[i]);
    if (c == '\n' || c == '\r' || c < 0x20) return false;
    if (c == '\\') {
      if (i + 1 >= p.size()) return false;
      const char e = p[++i];
      if (std::strchr("nrRsvHWDxoc0123456789pPXCAzZGNQ", e)) return false;
      lastWasEscape = true;
      continue;
    }
    if (inClass) {
      if (c == '-' && lastWasEscape && i + 1 < p.size() && p[i + 1] != ']') return false;
      if (c == '[' && i + 1 < p.size() && p[i + 1] == ':') return false;
      if (c == ']') inClass = false;
    } else if (c == '[') {
      if (i + 1 < p.size() && p[i + 1] == '^') return false;
      inClass = true;
      if (i + 1 < p.size() && p[i + 1] == ']') ++i;  // a leading "]" is a member
    } else if (c == '(' && i + 1 < p.size() && (p[i + 1] == '*' || p[i + 1] == '?')) {
      if (p[i + 1] == '*') return false;
      // Option letters up to ")" or ":": dot-all, extended or a callout could change lines.
      for (size_t j = i + 2; j < p.size() && p[j] != ')' && p[j] != ':'; ++j) {
        if (p[j] == 's' || p[j] == 'x' || p[j] == 'C') return false;
        if (!IsAsciiAlnum(static_cast<unsigned char>(p[j])) && p[j] != '-' && p[j] != '^') break;
      }
    }
    lastWasEscape = false;
  }
  return true;
}

// After an atom at `i`: skips a quantifier; returns its lowest count (1 without one).
size_t SkipQuantifier(const std::string& p, size_t& i) {
  if (i >= p.size()) return 1;
  size_t low = 1;
  const char q = p[i];
  if (q == '?' || q == '*') {
    low = 0;
    ++i;
  } else if (q == '+') {
    ++i;
  } else if (q == '{' && i + 1 < p.size() && (p[i + 1] >= '0' && p[i + 1] <= '9')) {
    size_t j = i + 1, n = 0;
    while (j < p.size() && p[j] >= '0' && p[j] <= '9') n = std::min<size_t>(n * 10 + static_cast<size_t>(p[j++] - '0'), 1000);
    if (j < p.size() && p[j] == ',') {
      ++j;
      while (j < p.size() && p[j] >= '0' && p[j] <= '9') ++j;
    }
    if (j >= p.size() || p[j] != '}') return 1;  // not a quantifier: a literal "{" follows
    low = n;
    i = j + 1;
  } else {
    return 1;
  }
  if (i < p.size() && (p[i] == '?' || p[i] == '+')) ++i;  // lazy or possessive
  return low;
}

// Skips a character class that starts at p[i] == '['; false when it does not end.
bool SkipClass(const std::string& p, size_t& i) {
  size_t j = i + 1;
  if (j < p.size() && p[j] == '^') ++j;
  if (j < p.size() && p[j] == ']') ++j;
  for (; j < p.size(); ++j) {
    if (p[j] == '\\') {
      ++j;
    } else if (p[j] == '[' && j + 1 < p.size() && p[j + 1] == ':') {
      const size_t end = p.find(":]", j + 2);
      if (end == std::string::npos) return false;
      j = end + 1;
    } else if (p[j] == ']') {
      i = j + 1;
      return true;
    }
  }
  return false;
}

// Skips a group that starts at p[i] == '('; false when it does not end.
bool SkipGroup(const std::string& p, size_t& i) {
  int depth = 0;
  for (size_t j = i; j < p.size(); ++j) {
    if (p[j] == '\\') {
      if (j + 1 < p.size() && p[j + 1] == 'Q') return false;
      ++j;
    } else if (p[j] == '[') {
      if (!SkipClass(p, j)) return false;
      --j;
    } else if (p[j] == '(') {
      ++depth;
    } else if (p[j] == ')' && --depth == 0) {
      i = j + 1;
      return true;
    }
  }
  return false;
}

struct TRequiredText {
  std::string Text;
  bool Caseless = false;
  bool AtStart = false;  // every match starts with it
};

// One atom of a pattern: where it ends, and its bytes when it is one plain character.
struct TAtom {
  size_t End = 0;
  std::string Literal;
};

// The escape at p[i] == '\\'; false when the reading does not follow it.
bool ReadEscape(const std::string& p, size_t i, TAtom& atom) {
  if (i + 1 >= p.size()) return false;
  const auto e = static_cast<unsigned char>(p[i + 1]);
  atom.End = i + 2;
  if (e == 'Q' || e == 'E') return false;
  if (!IsAsciiAlnum(e) && e < 0x80) {
    atom.Literal.assign(1, static_cast<char>(e));
  } else if (atom.End < p.size() && (p[atom.End] == '{' || p[atom.End] == '<' || p[atom.End] == '\'')) {
    const char close = p[atom.End] == '{' ? '}' : p[atom.End] == '<' ? '>' : '\'';
    const size_t end = p.find(close, atom.End);
    if (end == std::string::npos) return false;
    atom.End = end + 1;
  } else if (e == 'x' || e == 'c') {
    return false;  // a character by its code: not followed
  }
  return true;
}

// The atom at p[i]; false at an alternative, at the end of an enclosing group and at anything
// the reading does not follow.
bool ReadAtom(const std::string& p, size_t i, TAtom& atom) {
  const auto c = static_cast<unsigned char>(p[i]);
  atom.End = i;
  atom.Literal.clear();
  switch (c) {
    case '|':
    case ')':
    case '*':
    case '+':
    case '?':
      return false;
    case '(':
      if (i + 2 < p.size() && p[i + 1] == '?' && (IsAsciiAlnum(static_cast<unsigned char>(p[i + 2])) || p[i + 2] == '-' || p[i + 2] == '^')) {
        // Options set for the rest of the pattern (or a named group, a subroutine call...).
        const size_t close = p.find_first_of(":)", i);
        if (close == std::string::npos || p[close] == ')') return false;
      }
      return SkipGroup(p, atom.End);
    case '[':
      return SkipClass(p, atom.End);
    case '\\':
      return ReadEscape(p, i, atom);
    case '.':
    case '^':
    case '$':
      atom.End = i + 1;
      return true;
    case '{':
      atom.Literal = "{";
      atom.End = i + 1;
      return true;
    default:
      atom.End = std::min(p.size(), i + Utf8Length(c));
      atom.Literal = p.substr(i, atom.End - i);
      return true;
  }
}

// Whether the atom p[i, end) takes no width: an anchor, a word boundary or a lookaround.
bool TakesNoWidth(const std::string& p, size_t i, size_t end) {
  const char c = p[i];
  if (c == '^' || (c == '\\' && end == i + 2 && std::strchr("bBAGK", p[i + 1]))) return true;
  return c == '(' && i + 2 < p.size() && p[i + 1] == '?' &&
         (p[i + 2] == '=' || p[i + 2] == '!' || (p[i + 2] == '<' && i + 3 < p.size() && (p[i + 3] == '=' || p[i + 3] == '!')));
}

// The runs of plain characters in the atoms of a pattern's top level, read in order, and
// the longest of them.
class TRunReader {
 public:
  explicit TRunReader(bool caseless) : Caseless(caseless) {}
  // An atom repeated at least `low` times; `quantified` when it has a quantifier.
  void Take(const std::string& literal, size_t low, bool quantified, bool noWidth);
  TRequiredText Longest() {
    Flush();
    return Best;
  }

 private:
  void Flush() {
    if (Run.size() > Best.Text.size()) Best = {Run, Caseless, RunAtStart};
    Run.clear();
  }
  const bool Caseless;
  TRequiredText Best;
  std::string Run;
  bool RunAtStart = false;   // the run is the first thing every match holds
  bool WidthBefore = false;  // something that takes width comes before the current point
};

void TRunReader::Take(const std::string& literal, size_t low, bool quantified, bool noWidth) {
  bool usable = !literal.empty();
  if (usable && Caseless) {
    const auto b = static_cast<unsigned char>(literal[0]);
    usable = b < 0x80 && b != 'k' && b != 'K' && b != 's' && b != 'S';
  }
  if (usable && low > 0) {
    if (Run.empty()) RunAtStart = !WidthBefore;
    Run += literal;
    if (quantified) Flush();
  } else {
    Flush();
  }
  if (!noWidth) WidthBefore = true;
}

// A run of plain characters that every match of `p` holds, read from the pattern's top
// level: the longest such run, or nothing when the pattern has alternatives there or
// anything the reading does not follow. Under case folding only ASCII letters whose cases
// are all ASCII take part (not k and s: the Kelvin sign and the long s fold to them).
TRequiredText RequiredText(const std::string& p, bool caseSensitive) {
  bool caseless = !caseSensitive;
  size_t i = 0;
  if (p.rfind("(?i)", 0) == 0) {
    caseless = true;
    i = 4;
  }
  TRunReader runs(caseless);
  TAtom atom;
  while (i < p.size()) {
    if (!ReadAtom(p, i, atom)) return {};
    size_t next = atom.End;
    const size_t low = SkipQuantifier(p, next);
    runs.Take(atom.Literal, low, next != atom.End, TakesNoWidth(p, i, atom.End));
    i = next;
  }
  return runs.Longest();
}

}  // namespace

#ifndef TRAWLEX_NO_PCRE2

void TRegex::SetMatchLimit(uint32_t limit) { MatchLimit.store(limit, std::memory_order_relaxed); }

TRegex::TRegex(const std::string& pattern, bool caseSensitive) : FPattern(pattern) {
  pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
  if (!context) throw EOutOfMemory();
  pcre2_set_newline(context, PCRE2_NEWLINE_ANYCRLF);
  pcre2_set_bsr(context, PCRE2_BSR_ANYCRLF);
  uint32_t options = PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF | PCRE2_MULTILINE;
  if (!caseSensitive) options |= PCRE2_CASELESS;
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options, &error, &offset, context);
  // Anchored matching has a code of its own: the JIT serves only options given when compiling
  // (asked for at match time, the interpreter would run, which checks the UTF-8 of all the
  // bytes after the start on each call).
  pcre2_code* anchored =
      code ? pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options | PCRE2_ANCHORED, &error,
                           &offset, context)
           : nullptr;
  // Tried at line starts only: by ^ (right), or by a leading .*, which needs a code of its
  // own where a byte that is not UTF-8 stops the .* mid-line.
  uint32_t firstType = 0;
  if (anchored) pcre2_pattern_info(code, PCRE2_INFO_FIRSTCODETYPE, &firstType);
  pcre2_code* midLine = nullptr;
  if (firstType == 2) {
    int midError = 0;
    PCRE2_SIZE midOffset = 0;
    midLine = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options | PCRE2_NO_DOTSTAR_ANCHOR,
                            &midError, &midOffset, context);
    uint32_t midType = 2;
    if (midLine) pcre2_pattern_info(midLine, PCRE2_INFO_FIRSTCODETYPE, &midType);
    if (midType == 2) {
      pcre2_code_free(midLine);
      midLine = nullptr;
    }
  }
  pcre2_compile_context_free(context);
  if (!code || !anchored) {
    pcre2_code_free(code);
    throw ETrawlexError("The regular expression is not valid at position " + std::to_string(CharPosition(pattern, offset)) +
                        ": " + LibraryMessage(error));
  }
  FCode = code;
  FAnchoredCode = anchored;
  pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);  // without the JIT the interpreter serves
  pcre2_jit_compile(anchored, PCRE2_JIT_COMPLETE | PCRE2_JIT_PARTIAL_HARD);
  if (midLine) pcre2_jit_compile(midLine, PCRE2_JIT_COMPLETE);
  FMidLineCode = midLine;
  uint32_t captures = 0;
  pcre2_pattern_info(code, PCRE2_INFO_CAPTURECOUNT, &captures);
  FCaptureCount = static_cast<int32_t>(captures);
  Analyse(caseSensitive);
}

TRegex::~TRegex() {
  pcre2_code_free(CodeOf(FCode));
  pcre2_code_free(CodeOf(FAnchoredCode));
  pcre2_code_free(CodeOf(FMidLineCode));
}

int32_t TRegex::GroupNumber(const std::string& name) const {
  const int n = pcre2_substring_number_from_name(CodeOf(FCode), reinterpret_cast<PCRE2_SPTR>(name.c_str()));
  return n > 0 ? n : -1;
}

// ---- TRegexMatcher ------------------------------------------------------------------------

TRegexMatcher::TRegexMatcher(const TRegex& regex) : FRegex(regex) {
  FMatchData = pcre2_match_data_create_from_pattern(CodeOf(regex.FCode), nullptr);
  auto* context = pcre2_match_context_create(nullptr);
  FContext = context;
  FStack = pcre2_jit_stack_create(32 << 10, JitStackMax, nullptr);
  if (!FMatchData || !context || !FStack) {
    this->~TRegexMatcher();
    throw EOutOfMemory();
  }
  pcre2_set_match_limit(context, MatchLimit.load(std::memory_order_relaxed));
  pcre2_set_depth_limit(context, DepthLimit);
  pcre2_jit_stack_assign(context, nullptr, static_cast<pcre2_jit_stack*>(FStack));
}

TRegexMatcher::~TRegexMatcher() {
  pcre2_match_data_free(static_cast<pcre2_match_data*>(FMatchData));
  pcre2_match_context_free(static_cast<pcre2_match_context*>(FContext));
  pcre2_jit_stack_free(static_cast<pcre2_jit_stack*>(FStack));
  FMatchData = FContext = FStack = nullptr;
}

bool TRegexMatcher::Find(const unsigned char* data, int64_t size, int64_t from, uint32_t flags, TRegexFind& found) {
  uint32_t options = 0;
  if (flags & NotEmptyAtStart) options |= PCRE2_NOTEMPTY_ATSTART;
  if (flags & NotEol) options |= PCRE2_NOTEOL;
  if (flags & MoreMayFollow) options |= PCRE2_PARTIAL_HARD;
  auto* md = static_cast<pcre2_match_data*>(FMatchData);
  static const unsigned char empty = 0;
  const unsigned char* subject = data ? data : &empty;
  int rc = pcre2_match(CodeOf(flags & Anchored ? FRegex.FAnchoredCode : FRegex.FCode), subject, static_cast<PCRE2_SIZE>(size),
                       static_cast<PCRE2_SIZE>(from), options, md, static_cast<pcre2_match_context*>(FContext));
  if (FRegex.FMidLineCode && !(flags & Anchored) && (rc >= 0 || rc == PCRE2_ERROR_NOMATCH || rc == PCRE2_ERROR_PARTIAL)) {
    // Only lines were tried: where a byte that is not UTF-8 lies before the match (or the
    // end), a match may start after it, so try every position there.
    const PCRE2_SIZE until = rc == PCRE2_ERROR_NOMATCH ? static_cast<PCRE2_SIZE>(size) : pcre2_get_ovector_pointer(md)[0];
    if (until > static_cast<PCRE2_SIZE>(from) &&
        !IsValidUtf8(std::string_view(reinterpret_cast<const char*>(subject) + from, until - static_cast<PCRE2_SIZE>(from))))
      rc = pcre2_match(CodeOf(FRegex.FMidLineCode), subject, static_cast<PCRE2_SIZE>(size), static_cast<PCRE2_SIZE>(from),
                       options, md, static_cast<pcre2_match_context*>(FContext));
  }
  if (rc == PCRE2_ERROR_NOMATCH) return false;
  if (rc == PCRE2_ERROR_PARTIAL) throw ERegexNeedsMore();
  if (rc < 0) {
    if (rc == PCRE2_ERROR_NOMEMORY) throw EOutOfMemory();
    throw ETrawlexError("The regular expression gave up on this file (" + LibraryMessage(rc) + ")");
  }
  const PCRE2_SIZE* v = pcre2_get_ovector_pointer(md);
  found.Pos = static_cast<int64_t>(v[0]);
  // \K can put a match's start after its end: it is then empty where it ends.
  found.Length = v[1] >= v[0] ? static_cast<int64_t>(v[1] - v[0]) : 0;
  if (v[1] < v[0]) found.Pos = static_cast<int64_t>(v[1]);
  return true;
}

bool TRegexMatcher::Group(int32_t i, int64_t& start, int64_t& end) const {
  auto* md = static_cast<pcre2_match_data*>(FMatchData);
  if (i < 0 || static_cast<uint32_t>(i) >= pcre2_get_ovector_count(md)) return false;
  const PCRE2_SIZE* v = pcre2_get_ovector_pointer(md);
  if (v[2 * i] == PCRE2_UNSET) return false;
  start = static_cast<int64_t>(v[2 * i]);
  end = static_cast<int64_t>(std::max(v[2 * i], v[2 * i + 1]));
  return true;
}

#else  // TRAWLEX_NO_PCRE2

void TRegex::SetMatchLimit(uint32_t) {}
TRegex::TRegex(const std::string& pattern, bool) : FPattern(pattern) {
  throw ETrawlexError("This build of the program has no regular expressions");
}
TRegex::~TRegex() = default;
int32_t TRegex::GroupNumber(const std::string&) const { return -1; }
TRegexMatcher::TRegexMatcher(const TRegex& regex) : FRegex(regex) {}
TRegexMatcher::~TRegexMatcher() = default;
bool TRegexMatcher::Find(const unsigned char*, int64_t, int64_t, uint32_t, TRegexFind&) { return false; }
bool TRegexMatcher::Group(int32_t, int64_t&, int64_t&) const { return false; }

#endif

void TRegex::Analyse(bool caseSensitive) {
  FLineBound = PatternIsLineBound(FPattern);
  const TRequiredText required = RequiredText(FPattern, caseSensitive);
  // The prefilter looks for the text itself: it pays when every match starts with it
  // (the match is tried there only) or when lines are all a match can see.
  if (required.AtStart || FLineBound) {
    FRequired = required.Text;
    FRequiredCase = !required.Caseless;
  }
  FRequiredAtStart = required.AtStart;
}

// ---- TRegexSearch -------------------------------------------------------------------------

TRegexSearch::TRegexSearch(const std::string& target, const std::string& exclude, bool caseSensitive, bool wholeWord)
    : WholeWord(wholeWord) {
  Target = std::make_unique<TRegex>(target, caseSensitive);
  if (!exclude.empty()) {
    try {
      Exclude = std::make_unique<TRegex>(exclude, caseSensitive);
    } catch (const ETrawlexError& e) {
      throw ETrawlexError(std::string("Exclude: ") + e.what());
    }
  }
}

// ---- TRegexScanner ------------------------------------------------------------------------

int64_t NextCharStart(const unsigned char* data, int64_t size, int64_t pos) {
  if (pos >= size) return pos + 1;
  if (data[pos] == 13 && pos + 1 < size && data[pos + 1] == 10) return pos + 2;
  int64_t next = pos + 1;
  if (data[pos] >= 0xC2 && data[pos] < 0xF5) {
    const int64_t end = std::min<int64_t>(size, pos + static_cast<int64_t>(Utf8Length(data[pos])));
    while (next < end && (data[next] & 0xC0) == 0x80) ++next;
  }
  return next;
}

TRegexScanner::TRegexScanner(const TRegexSearch& search) : FSearch(search), FTarget(*search.Target) {
  if (search.Exclude) FExclude = std::make_unique<TRegexMatcher>(*search.Exclude);
}

TRegexScanner::~TRegexScanner() = default;

bool TRegexScanner::Excluded(const unsigned char* data, int64_t size, const TRegexFind& f) {
  if (!FExclude) return false;
  if (data != FExcludeData || f.Pos < FExcludeAsked) {
    FExcludeData = data;
    FExcludeNext = 0;
    FExcludeMatch = {-1, 0};
    FExcludeDone = false;
  }
  FExcludeAsked = f.Pos;
  const int64_t end = f.Pos + f.Length;
  // The exclude matches, left to right: the first one that ends at or after the find's end
  // is the only one that can hold it.
  while (!FExcludeDone && (FExcludeMatch.Pos < 0 || FExcludeMatch.Pos + FExcludeMatch.Length < end)) {
    if (FExcludeNext > size) {
      FExcludeDone = true;
      break;
    }
    TRegexFind m;
    const bool afterEmpty = FExcludeMatch.Pos >= 0 && FExcludeMatch.Length == 0 && FExcludeNext == FExcludeMatch.Pos;
    if (afterEmpty && FExclude->Find(data, size, FExcludeNext, TRegexMatcher::Anchored | TRegexMatcher::NotEmptyAtStart, m)) {
    } else if (afterEmpty) {
      FExcludeNext = NextCharStart(data, size, FExcludeNext);
      continue;
    } else if (!FExclude->Find(data, size, FExcludeNext, 0, m)) {
      FExcludeDone = true;
      break;
    }
    FExcludeMatch = m;
    FExcludeNext = m.Pos + m.Length;
  }
  if (FExcludeMatch.Pos < 0) return false;
  return FExcludeMatch.Pos <= f.Pos && end <= FExcludeMatch.Pos + FExcludeMatch.Length;
}

bool TRegexScanner::Accepted(const unsigned char* data, int64_t size, const TRegexFind& f) {
  if (FSearch.WholeWord) {
    // Word characters as the literal search takes them: every script's in valid UTF-8
    // (an ASCII byte is looked at here, the rest decoded).
    auto wordBefore = [data](int64_t lo, int64_t p) {
      return p > lo && (data[p - 1] < 0x80 ? IsWordByte(data[p - 1]) : WordCharBefore(data, lo, p));
    };
    auto wordAt = [data](int64_t p, int64_t end) {
      return p < end && (data[p] < 0x80 ? IsWordByte(data[p]) : WordCharAt(data, p, end));
    };
    const int64_t end = f.Pos + f.Length;
    if (f.Length == 0) {
      if (wordBefore(0, f.Pos) && wordAt(end, size)) return false;
    } else {
      if (wordAt(f.Pos, end) && wordBefore(0, f.Pos)) return false;
      if (wordBefore(f.Pos, end) && wordAt(end, size)) return false;
    }
  }
  return !Excluded(data, size, f);
}

void TRegexScanner::FindInRange(const unsigned char* data, int64_t subjectSize, int64_t size, int64_t from,
                                int64_t lastStart, bool notEol, std::vector<TRegexFind>& finds) {
  // Matches as Perl lists them: after an empty match, the next may not be empty where it
  // started, else the search moves on by a character.
  const uint32_t eol = notEol ? uint32_t{TRegexMatcher::NotEol} : 0u;
  int64_t pos = from;
  bool afterEmpty = false;
  while (pos <= lastStart && !StopDue(pos)) {
    TRegexFind m;
    if (afterEmpty) {
      afterEmpty = false;
      if (!FTarget.Find(data, subjectSize, pos, eol | TRegexMatcher::Anchored | TRegexMatcher::NotEmptyAtStart, m)) {
        pos = NextCharStart(data, subjectSize, pos);
        continue;
      }
    } else if (!FTarget.Find(data, subjectSize, pos, eol, m)) {
      break;
    }
    if (m.Pos > lastStart) break;
    if (!Accepted(data, size, m)) {
      // Not a find: the search goes on after the start of this match.
      pos = NextCharStart(data, subjectSize, m.Pos);
      continue;
    }
    finds.push_back(m);
    pos = m.Pos + m.Length;
    afterEmpty = m.Length == 0;
  }
}

bool TRegexScanner::StopDue(int64_t pos) {
  if (FStopped || !StopRequested || !*StopRequested || pos < FNextStopCheck) return FStopped;
  FNextStopCheck = pos + StopCheckBytes;
  FStopped = (*StopRequested)();
  return FStopped;
}

// One FindAll over a pattern whose matches all hold a required text: the occurrences of the
// text are looked for first (counting the line breaks passed before `To` into the tally).
struct TRegexScanner::TRequiredRun {
  TRequiredRun(const TRegex& regex, const unsigned char* data, int64_t size, int64_t to, int64_t lastStart,
               std::vector<TRegexFind>& finds, TBreakTally* tally)
      : Data(data),
        Size(size),
        To(to),
        LastStart(lastStart),
        Finds(finds),
        Tally(tally),
        N(static_cast<int64_t>(regex.Required().size())),
        CaseSensitive(regex.RequiredCase()),
        Pattern(CaseSensitive ? regex.Required() : UpperAscii(regex.Required())),
        Filter(MakeCandidateFilter(Pattern, CaseSensitive)),
        FitEnd(size - N + 1) {}
  // The next occurrence of the required text at or after `q`, or -1.
  int64_t NextOccurrence(int64_t q);
  bool EqualAt(int64_t q) const;

  const unsigned char* const Data;
  const int64_t Size, To, LastStart;
  std::vector<TRegexFind>& Finds;
  TBreakTally* const Tally;
  const int64_t N;  // the text's length
  const bool CaseSensitive;
  const std::string Pattern;  // the text as compared (upper-cased when case is ignored)
  const TCandidateFilter Filter;
  const int64_t FitEnd;  // candidates stop where the text no longer fits
};

int64_t TRegexScanner::TRequiredRun::NextOccurrence(int64_t q) {
  while (q < FitEnd) {
    const bool counting = Tally && q < To;
    const int64_t end = counting ? std::min(FitEnd, To) : FitEnd;
    const unsigned char* c =
        counting ? Tally->FindCandidate(Filter, Data + q, Data + end) : FindCandidate(Filter, Data + q, Data + end);
    if (c >= Data + end) {
      if (end == FitEnd) return -1;
      q = end;
      continue;
    }
    const int64_t at = c - Data;
    if (EqualAt(at)) return at;
    q = at + 1;
  }
  return -1;
}

bool TRegexScanner::TRequiredRun::EqualAt(int64_t q) const {
  const auto* lit = reinterpret_cast<const unsigned char*>(Pattern.data());
  if (CaseSensitive) return std::memcmp(Data + q, lit, static_cast<size_t>(N)) == 0;
  for (int64_t k = 0; k < N; ++k)
    if (UpperByte(Data[q + k]) != lit[k]) return false;
  return true;
}

void TRegexScanner::FindAll(const unsigned char* data, int64_t size, int64_t from, int64_t to,
                            std::vector<TRegexFind>& finds, TBreakTally* tally) {
  FStopped = false;
  FNextStopCheck = from + StopCheckBytes;
  const TRegex& regex = *FSearch.Target;
  to = std::min(to, size);
  // A find may start at the data's end (an empty match there), but nowhere else at `to`.
  const int64_t lastStart = to >= size ? size : to - 1;
  if (regex.Required().empty() || (to - from < 4096 && !MoreMayFollow)) {
    FindInRange(data, size, size, from, lastStart, false, finds);
    return;
  }
  TRequiredRun run(regex, data, size, to, lastStart, finds, tally);
  if (regex.RequiredAtStart())
    FindAtEachOccurrence(run, from);
  else
    FindInLinesWithOccurrences(run, from);
}

// Every match starts with the text: a match is tried at each occurrence only.
void TRegexScanner::FindAtEachOccurrence(TRequiredRun& run, int64_t pos) {
  const unsigned char* data = run.Data;
  const int64_t size = run.Size;
  while (pos < run.To && !StopDue(pos)) {
    const int64_t q = run.NextOccurrence(pos);
    if (q < 0 || q >= run.To) break;
    TRegexFind m;
    const uint32_t more = MoreMayFollow ? uint32_t{TRegexMatcher::MoreMayFollow} : 0u;
    const bool matched = FTarget.Find(data, size, q, TRegexMatcher::Anchored | more, m);
    // The byte after a match decides whole word: it must be in memory too.
    if (matched && MoreMayFollow && m.Pos + m.Length >= size) throw ERegexNeedsMore();
    if (matched && Accepted(data, size, m)) {
      if (run.Tally && run.Tally->Now().At == data + q) run.Tally->Mark(data + q);
      run.Finds.push_back(m);
      pos = std::max(m.Pos + m.Length, q + 1);
    } else {
      pos = q + 1;
    }
  }
}

// Lines are all a match can see: only the lines that hold the text are searched.
void TRegexScanner::FindInLinesWithOccurrences(TRequiredRun& run, int64_t pos) {
  const unsigned char* data = run.Data;
  const int64_t size = run.Size;
  while (pos < run.To && !StopDue(pos)) {
    const int64_t q = run.NextOccurrence(pos);
    if (q < 0) break;
    int64_t lineStart = q;
    while (lineStart > pos && data[lineStart - 1] != 10 && data[lineStart - 1] != 13) --lineStart;
    if (lineStart >= run.To) break;
    const unsigned char* brk = FindLineBreak(data + q + run.N, data + size);
    int64_t lineEnd = brk - data;  // the break, or the data's end
    if (lineEnd < size) lineEnd += data[lineEnd] == 13 && lineEnd + 1 < size && data[lineEnd + 1] == 10 ? 2 : 1;
    const bool last = lineEnd >= size;
    const size_t before = run.Finds.size();
    const int64_t lastInLine = last ? run.LastStart : std::min(run.LastStart, lineEnd - 1);
    FindInRange(data, last ? size : lineEnd, size, lineStart, lastInLine, !last, run.Finds);
    // The line holds no break before the occurrence, where the count may stand.
    if (run.Tally && run.Finds.size() > before && run.Tally->Now().At == data + q) run.Tally->Mark(data + lineStart);
    pos = lineEnd;
  }
}

bool TRegexScanner::IsFindAt(const unsigned char* data, int64_t size, int64_t pos, int64_t length) {
  TRegexFind m;
  if (!FTarget.Find(data, size, pos, TRegexMatcher::Anchored, m)) return false;
  // A find right after an empty one at the same place was the non-empty match there.
  if (m.Length != length && m.Length == 0 &&
      !FTarget.Find(data, size, pos, TRegexMatcher::Anchored | TRegexMatcher::NotEmptyAtStart, m))
    return false;
  if (m.Pos != pos || m.Length != length) return false;
  return Accepted(data, size, m);
}

}  // namespace trawlex
