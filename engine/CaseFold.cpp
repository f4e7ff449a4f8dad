#include "engine/CaseFold.h"

#include <algorithm>
#include <iterator>
#include <map>

namespace trawlex {

namespace {

#include "engine/UnicodeTables.inc"

bool IsWordAscii(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

// A byte that is not part of valid UTF-8 stands for itself, apart from every code point.
constexpr uint32_t RawByte = 0x200000;

// The folded character (or raw byte) at p and its length; 0 at the end.
int ReadUnit(const unsigned char* p, const unsigned char* end, uint32_t& unit) {
  if (p >= end) return 0;
  if (*p < 0x80) {
    unit = (*p >= 'A' && *p <= 'Z') ? *p + 32u : *p;
    return 1;
  }
  if (const int n = DecodeUtf8(p, end, unit)) {
    unit = FoldCase(unit);
    return n;
  }
  unit = RawByte | *p;
  return 1;
}

int ReadUnitBefore(const unsigned char* p, const unsigned char* begin, uint32_t& unit) {
  if (p <= begin) return 0;
  if (const int n = DecodeUtf8Before(p, begin, unit)) {
    unit = FoldCase(unit);
    return n;
  }
  unit = RawByte | p[-1];
  return 1;
}

std::vector<uint32_t> Units(std::string_view text) {
  std::vector<uint32_t> units;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  uint32_t u;
  while (const int n = ReadUnit(p, end, u)) {
    units.push_back(u);
    p += n;
  }
  return units;
}

// The spellings of a folded unit, as bytes.
std::vector<std::string> Spellings(uint32_t unit) {
  std::vector<std::string> out;
  if (unit & RawByte) {
    out.emplace_back(1, static_cast<char>(unit & 0xFF));
    return out;
  }
  for (const uint32_t cp : CaseVariants(unit)) {
    out.emplace_back();
    AppendUtf8(out.back(), cp);
  }
  return out;
}

// How often a byte turns up in ordinary text and code: lower is rarer.
int Commonness(unsigned char b) {
  if (b >= 0x80 && b < 0xC0) return 1;  // a continuation byte names the letter
  if (b >= 0xC0) return 2;
  if (IsWordAscii(b)) return 3;
  return 4;
}

}  // namespace

int DecodeUtf8(const unsigned char* p, const unsigned char* end, uint32_t& cp) {
  if (p >= end) return 0;
  const unsigned char b0 = p[0];
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  if (b0 < 0xC2 || b0 > 0xF4) return 0;
  const int n = b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4;
  if (end - p < n) return 0;
  for (int i = 1; i < n; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  if (n == 2) {
    cp = (uint32_t{b0} & 0x1F) << 6 | (p[1] & 0x3Fu);
    return 2;
  }
  if (n == 3) {
    if ((b0 == 0xE0 && p[1] < 0xA0) || (b0 == 0xED && p[1] >= 0xA0)) return 0;  // overlong, surrogate
    cp = (uint32_t{b0} & 0x0F) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
    return 3;
  }
  if ((b0 == 0xF0 && p[1] < 0x90) || (b0 == 0xF4 && p[1] >= 0x90)) return 0;  // overlong, beyond U+10FFFF
  cp = (uint32_t{b0} & 0x07) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu);
  return 4;
}

int DecodeUtf8Before(const unsigned char* p, const unsigned char* begin, uint32_t& cp) {
  for (int k = 1; k <= 4 && p - k >= begin; ++k) {
    const unsigned char b = p[-k];
    if ((b & 0xC0) == 0x80) continue;  // a continuation byte: the character starts earlier
    return DecodeUtf8(p - k, p, cp) == k ? k : 0;
  }
  return 0;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  uint32_t cp;
  while (p < end) {
    const int n = DecodeUtf8(p, end, cp);
    if (n == 0) return false;
    p += n;
  }
  return true;
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

uint32_t FoldCase(uint32_t cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
  const auto* it = std::lower_bound(std::begin(kFoldPairs), std::end(kFoldPairs), cp,
                                    [](const uint32_t(&pair)[2], uint32_t c) { return pair[0] < c; });
  return it != std::end(kFoldPairs) && (*it)[0] == cp ? (*it)[1] : cp;
}

bool IsWordChar(uint32_t cp) {
  if (cp < 0x80) return IsWordAscii(static_cast<unsigned char>(cp));
  const auto* it = std::upper_bound(std::begin(kWordRanges), std::end(kWordRanges), cp,
                                    [](uint32_t c, const uint32_t(&range)[2]) { return c < range[0]; });
  return it != std::begin(kWordRanges) && cp <= it[-1][1];
}

std::vector<uint32_t> CaseVariants(uint32_t cp) {
  const uint32_t folded = FoldCase(cp);
  std::vector<uint32_t> out{folded};
  for (const auto& pair : kFoldPairs)
    if (pair[1] == folded) out.push_back(pair[0]);
  std::sort(out.begin(), out.end());
  return out;
}

bool WordCharBefore(const unsigned char* data, int64_t lo, int64_t pos) {
  if (pos <= lo) return false;
  const unsigned char b = data[pos - 1];
  if (b < 0x80) return IsWordAscii(b);
  uint32_t cp;
  return DecodeUtf8Before(data + pos, data + lo, cp) > 0 && IsWordChar(cp);
}

bool WordCharAt(const unsigned char* data, int64_t pos, int64_t end) {
  if (pos >= end) return false;
  const unsigned char b = data[pos];
  if (b < 0x80) return IsWordAscii(b);
  uint32_t cp;
  return DecodeUtf8(data + pos, data + end, cp) > 0 && IsWordChar(cp);
}

bool StartsWithWordChar(std::string_view text) {
  return WordCharAt(reinterpret_cast<const unsigned char*>(text.data()), 0, static_cast<int64_t>(text.size()));
}

bool EndsWithWordChar(std::string_view text) {
  return WordCharBefore(reinterpret_cast<const unsigned char*>(text.data()), 0, static_cast<int64_t>(text.size()));
}

bool FoldsBeyondAscii(std::string_view target, std::string_view exclude) {
  return !target.empty() && IsValidUtf8(target) && !(IsAscii(target) && IsAscii(exclude));
}

std::vector<int32_t> FoldPositions(std::string_view target, std::string_view text) {
  std::vector<int32_t> out;
  const std::vector<uint32_t> want = Units(target);
  if (want.empty() || want.size() >= Units(text).size()) return out;
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  const auto end = static_cast<int64_t>(text.size());
  for (int64_t pos = 0; pos < end; ++pos) {
    int64_t q = pos;
    size_t i = 0;
    uint32_t u;
    for (; i < want.size(); ++i) {
      const int n = ReadUnit(data + q, data + end, u);
      if (n == 0 || u != want[i]) break;
      q += n;
    }
    if (i == want.size()) out.push_back(static_cast<int32_t>(pos + 1));
  }
  return out;
}

TFoldTarget::TFoldTarget(std::string_view target, std::string_view exclude) : Target(Units(target)) {
  for (const uint32_t unit : Target) {
    int32_t lo = 4, hi = 1;
    for (const std::string& s : Spellings(unit)) {
      lo = std::min(lo, static_cast<int32_t>(s.size()));
      hi = std::max(hi, static_cast<int32_t>(s.size()));
    }
    MinLength += lo;
    MaxLength += hi;
  }
  MaxExcludeLength = 4 * static_cast<int32_t>(exclude.size());
  Exclude = Units(exclude);
  for (const int32_t q : FoldPositions(target, exclude)) {
    const std::string_view before = exclude.substr(0, static_cast<size_t>(q - 1));
    const auto* at = reinterpret_cast<const unsigned char*>(exclude.data()) + q - 1;
    const int32_t length = MatchAt(at, 0, static_cast<int64_t>(exclude.size()) - (q - 1));
    TAround around;
    around.Before = Units(before);
    std::reverse(around.Before.begin(), around.Before.end());
    around.After = Units(exclude.substr(static_cast<size_t>(q - 1 + length)));
    Excludes.push_back(std::move(around));
  }
  MakeFilters();
}

int32_t TFoldTarget::MatchAt(const unsigned char* data, int64_t pos, int64_t end, int64_t* compared) const {
  int64_t q = pos;
  uint32_t u;
  size_t i = 0;
  for (; i < Target.size(); ++i) {
    const int n = ReadUnit(data + q, data + end, u);
    if (n == 0 || u != Target[i]) break;
    q += n;
  }
  if (compared) *compared += static_cast<int64_t>(i) + 1;
  return i == Target.size() ? static_cast<int32_t>(q - pos) : -1;
}

TFoldStream::TFoldStream(const TFoldTarget& target, bool exclude)
    : Pattern(exclude ? target.Exclude : target.Target),
      Reach(exclude ? target.MaxExcludeLength : target.MaxLength),
      Failure(Pattern.size(), 0),
      Starts(Pattern.size(), 0) {
  for (size_t i = 1, k = 0; i < Pattern.size(); ++i) {
    while (k > 0 && Pattern[i] != Pattern[k]) k = static_cast<size_t>(Failure[k - 1]);
    if (Pattern[i] == Pattern[k]) ++k;
    Failure[i] = static_cast<int32_t>(k);
  }
}

void TFoldStream::Feed(const unsigned char* data, int64_t from, int64_t pos, int64_t end) {
  const auto m = static_cast<int64_t>(Pattern.size());
  if (pos < Asked || pos > Fed) {
    Fed = from;
    State = 0;
    Units = 0;
    Found.clear();
  }
  Asked = pos;
  // Every occurrence that starts by pos has ended once the characters fed reach this far.
  const int64_t until = std::min(end, pos + Reach);
  uint32_t u;
  while (Fed < until) {
    const int n = ReadUnit(data + Fed, data + end, u);
    Starts[static_cast<size_t>(Units % m)] = Fed;
    while (State > 0 && Pattern[static_cast<size_t>(State)] != u) State = Failure[static_cast<size_t>(State - 1)];
    if (Pattern[static_cast<size_t>(State)] == u) ++State;
    ++Units;
    Fed += n;
    if (State == m) {
      Found.emplace_back(Starts[static_cast<size_t>((Units - m) % m)], Fed);
      State = Failure[static_cast<size_t>(m - 1)];
    }
  }
}

int32_t TFoldStream::MatchAt(const unsigned char* data, int64_t pos, int64_t end) {
  if (Pattern.empty()) return -1;
  Feed(data, pos, pos, end);
  while (!Found.empty() && Found.front().first < pos) Found.pop_front();
  if (Found.empty() || Found.front().first != pos) return -1;
  return static_cast<int32_t>(Found.front().second - pos);
}

bool TFoldStream::Excluded(const unsigned char* data, int64_t lo, int64_t pos, int32_t length, int64_t end) {
  if (Pattern.empty()) return false;
  // Feeding may start inside a character: its stray bytes match nothing, and the
  // characters after them are read as ever.
  Feed(data, std::max(lo, pos - Reach - 4), pos, end);
  // Occurrences all have the exclude text's characters, so the latest to start by pos is
  // the one that reaches furthest.
  while (Found.size() > 1 && Found[1].first <= pos) Found.pop_front();
  return !Found.empty() && Found.front().first <= pos && Found.front().second >= pos + length;
}

bool TFoldTarget::Excluded(const unsigned char* data, int64_t lo, int64_t pos, int32_t length, int64_t end,
                           int64_t* compared) const {
  uint32_t u;
  if (compared) *compared += static_cast<int64_t>(Excludes.size()) * static_cast<int64_t>(Exclude.size());
  for (const TAround& around : Excludes) {
    bool equal = true;
    int64_t q = pos + length;
    for (size_t i = 0; equal && i < around.After.size(); ++i) {
      const int n = ReadUnit(data + q, data + end, u);
      equal = n > 0 && u == around.After[i];
      q += n;
    }
    q = pos;
    for (size_t i = 0; equal && i < around.Before.size(); ++i) {
      const int n = ReadUnitBefore(data + q, data + lo, u);
      equal = n > 0 && u == around.Before[i];
      q -= n;
    }
    if (equal) return true;
  }
  return false;
}

int64_t TFoldCandidates::Find(const unsigned char* data, int64_t from, int64_t to) {
  int64_t best = to;
  for (size_t i = 0; i < Known.size(); ++i) {
    TKnown& k = Known[i];
    if (k.From < 0 || from < k.From || from > (k.Hit >= 0 ? k.Hit : k.Seen))
      k = TKnown{from, -1, from};  // nothing known from here on
    if (k.Hit < 0 && k.Seen < best) {
      const unsigned char* c = FindCandidate(Target.Filters[i], data + k.Seen, data + best);
      k.Seen = c - data;
      if (k.Seen < best) k.Hit = k.Seen;
    }
    if (k.Hit >= 0 && k.Hit < best) best = k.Hit;
  }
  return best;
}

namespace {

using TByteSets = std::vector<std::vector<unsigned char>>;

// The bytes the spellings hold at each of their first `count` offsets: a set an offset.
void AddByteSets(const std::vector<std::string>& spellings, size_t count, TByteSets& sets) {
  for (size_t k = 0; k < count; ++k) {
    sets.emplace_back();
    for (const std::string& s : spellings) sets.back().push_back(static_cast<unsigned char>(s[k]));
  }
}

// The spellings of a character grouped so that each group has one length and at most two
// first bytes.
std::vector<std::vector<std::string>> GroupsForFilters(const std::vector<std::string>& spellings) {
  std::map<size_t, std::map<unsigned char, std::vector<std::string>>> byLength;
  for (const std::string& s : spellings) byLength[s.size()][static_cast<unsigned char>(s[0])].push_back(s);
  std::vector<std::vector<std::string>> groups;
  for (const auto& [length, byLead] : byLength) {
    int leads = 0;
    for (const auto& [lead, group] : byLead) {
      if (leads % 2 == 0) groups.emplace_back();
      groups.back().insert(groups.back().end(), group.begin(), group.end());
      ++leads;
    }
  }
  return groups;
}

// The bytes each offset after the first character may hold while lengths stay fixed, and
// the first bytes of the first character whose length varies, up to its shortest spelling.
TByteSets BytesAfterFirst(const std::vector<uint32_t>& target) {
  TByteSets rest;
  for (size_t i = 1; i < target.size(); ++i) {
    const std::vector<std::string> spellings = Spellings(target[i]);
    size_t shortest = 4, longest = 1;
    for (const std::string& s : spellings) {
      shortest = std::min(shortest, s.size());
      longest = std::max(longest, s.size());
    }
    AddByteSets(spellings, shortest, rest);
    if (shortest != longest) break;
  }
  return rest;
}

// A filter on the rarest offsets (one or two) whose sets hold two distinct bytes at most.
TCandidateFilter FilterOfSets(TByteSets& sets) {
  std::vector<std::pair<int, size_t>> usable;
  for (size_t o = 0; o < sets.size(); ++o) {
    std::sort(sets[o].begin(), sets[o].end());
    sets[o].erase(std::unique(sets[o].begin(), sets[o].end()), sets[o].end());
    if (sets[o].size() > 2) continue;
    int score = 0;
    for (const unsigned char b : sets[o]) score = std::max(score, Commonness(b));
    usable.emplace_back(score, o);
  }
  std::stable_sort(usable.begin(), usable.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  TCandidateFilter f{};
  const std::vector<unsigned char>& one = sets[usable[0].second];
  f.Offset1 = static_cast<int32_t>(usable[0].second);
  f.First1 = one[0];
  f.First2 = one.back();
  f.TwoBytes = usable.size() > 1;
  f.Offset2 = 0;
  f.Second1 = f.Second2 = 0;
  if (f.TwoBytes) {
    const std::vector<unsigned char>& two = sets[usable[1].second];
    f.Offset2 = static_cast<int32_t>(usable[1].second);
    f.Second1 = two[0];
    f.Second2 = two.back();
  }
  return f;
}

}  // namespace

void TFoldTarget::MakeFilters() {
  if (Target.empty()) return;
  // The spellings of the first character, grouped: a filter per group. After it, the
  // characters whose spellings all have one length keep fixed offsets, so their bytes can
  // serve a filter too.
  const std::vector<std::string> first = Spellings(Target[0]);
  for (const std::string& s : first) FirstByte[static_cast<unsigned char>(s[0])] = true;
  const TByteSets rest = BytesAfterFirst(Target);
  for (const std::vector<std::string>& group : GroupsForFilters(first)) {
    TByteSets sets;
    AddByteSets(group, group.front().size(), sets);
    sets.insert(sets.end(), rest.begin(), rest.end());
    Filters.push_back(FilterOfSets(sets));
  }
}

}  // namespace trawlex
