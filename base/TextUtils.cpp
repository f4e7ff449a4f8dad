#include "base/TextUtils.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/Platform.h"

namespace trawlex {

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(UpperByte(static_cast<unsigned char>(c)));
  return out;
}

int CompareTextAscii(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    // Sorting paths compares long common beginnings: equal bytes are passed eight at a time.
    while (i + 8 <= n && std::memcmp(a.data() + i, b.data() + i, 8) == 0) i += 8;
    if (i == n) break;
    const int d = UpperByte(static_cast<unsigned char>(a[i])) - UpperByte(static_cast<unsigned char>(b[i]));
    if (d) return d;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int CompareBytes(std::string_view a, std::string_view b) {
  const int c = a.compare(b);  // char_traits<char>::compare uses memcmp: unsigned bytes
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool BinarySearch(int32_t low, int32_t high, int32_t& index, const std::function<int(int32_t)>& compare) {
  while (low <= high) {
    const int32_t mid = static_cast<int32_t>((static_cast<int64_t>(low) + high) / 2);
    const int c = compare(mid);
    if (c == 0) {
      index = mid;
      return true;
    }
    if (c < 0) low = mid + 1;
    else high = mid - 1;
  }
  index = low;
  return false;
}

int32_t PosText(std::string_view sub, std::string_view text, int32_t from) {
  if (from < 1) from = 1;
  if (sub.empty() || sub.size() > text.size()) return 0;
  for (size_t i = static_cast<size_t>(from - 1); i + sub.size() <= text.size(); ++i) {
    size_t k = 0;
    while (k < sub.size() && UpperByte(static_cast<unsigned char>(text[i + k])) ==
                                 UpperByte(static_cast<unsigned char>(sub[k])))
      ++k;
    if (k == sub.size()) return static_cast<int32_t>(i + 1);
  }
  return 0;
}

int32_t CompareIntArrays(const std::vector<int32_t>& a, const std::vector<int32_t>& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return a[i] - b[i];
  if (a.size() > n) return a[n];
  if (b.size() > n) return -b[n];
  return 0;
}

std::string Spaces(int32_t n) { return n > 0 ? std::string(static_cast<size_t>(n), ' ') : std::string(); }

std::string TrimText(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return std::string(s.substr(b, e - b));
}

std::string StringsToText(const std::vector<std::string>& list) {
  std::string all;
  for (const auto& line : list) {
    all += line;
    all += "\r\n";
  }
  const std::string trimmed = TrimText(all);
  std::string out;
  out.reserve(trimmed.size());
  for (size_t i = 0; i < trimmed.size(); ++i) {
    const char c = trimmed[i];
    if (c == '\r') {
      if (i + 1 < trimmed.size() && trimmed[i + 1] == '\n') ++i;
      out += '|';
    } else if (c == '\n') {
      out += '|';
    } else {
      out += c;
    }
  }
  return out;
}

void TextToStrings(std::string_view text, std::vector<std::string>& list) {
  list.clear();
  size_t start = 0;
  for (;;) {
    const size_t bar = text.find('|', start);
    if (bar == std::string_view::npos) {
      list.push_back(TrimText(text.substr(start)));
      return;
    }
    list.push_back(TrimText(text.substr(start, bar - start)));
    start = bar + 1;
  }
}

std::string ReplaceAll(std::string_view text, std::string_view oldText, std::string_view newText) {
  if (oldText.empty()) return std::string(text);
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(oldText, start);
    if (at == std::string_view::npos) break;
    out.append(text.substr(start, at - start));
    out.append(newText);
    start = at + oldText.size();
  }
  out.append(text.substr(start));
  return out;
}

std::string Plural(std::string_view noun) {
  if (noun.empty()) return "s";
  const unsigned char last = static_cast<unsigned char>(noun.back());
  const char L = static_cast<char>(UpperByte(last));
  const char P = noun.size() >= 2 ? static_cast<char>(UpperByte(static_cast<unsigned char>(noun[noun.size() - 2]))) : 0;
  // A lone capital is a symbol's name ("Ys"), not a word in capitals ("FILES").
  const bool upper = last >= 'A' && last <= 'Z' && noun.size() >= 2;
  std::string out(noun);
  if (L == 'J' || L == 'S' || L == 'X' || L == 'Z' || ((P == 'C' || P == 'S') && L == 'H')) {
    out += upper ? "ES" : "es";
  } else if (L == 'Y' && noun.size() >= 2 && P != 'A' && P != 'E' && P != 'I' && P != 'O' && P != 'U') {
    out.pop_back();
    out += upper ? "IES" : "ies";
  } else {
    out += upper ? "S" : "s";
  }
  return out;
}

std::string CountText(int64_t count, std::string_view noun, std::string_view pluralForm) {
  std::string out = std::to_string(count) + ' ';
  if (count == 1) out += noun;
  else if (!pluralForm.empty()) out += pluralForm;
  else out += Plural(noun);
  return out;
}

std::string DurationText(TDateTime days) {
  // Whole seconds and milliseconds come from one rounded millisecond count, so that
  // 12.9996 s reads 13.000 and never 12.000.
  int64_t ms = std::llround(days * MSecsPerDay);
  if (ms < 0) ms = 0;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld.%03lld", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
  return buf;
}

TDateTime UtcToLocal(TDateTime t) { return t - TimeZoneBiasMinutes() / 1440.0; }

std::string GeneralFloatText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", value);
  std::string s = buf;
  if (s == "-0") s = "0";
  return s;
}

std::string TimeZoneText() {
  const double hours = UtcToLocal(0) * 24.0;
  std::string out = "GMT ";
  if (hours > 0) out += '+';
  out += GeneralFloatText(std::round(hours * 1e9) / 1e9);
  return out;
}

std::string VersionText(const TVersion& version, int maxParts) {
  std::string out;
  for (size_t i = 0; i < version.size() && static_cast<int>(i) < maxParts; ++i) {
    if (i) out += '.';
    out += std::to_string(version[i]);
  }
  return out;
}

TVersion ParseVersion(std::string_view text) {
  TVersion v;
  size_t start = 0;
  while (start <= text.size()) {
    size_t dot = text.find('.', start);
    if (dot == std::string_view::npos) dot = text.size();
    const std::string_view piece = text.substr(start, dot - start);
    if (piece.empty()) break;
    int32_t n = 0;
    const char* b = piece.data();
    const char* e = b + piece.size();
    if (*b == '+') ++b;  // a leading sign is part of an integer's text
    const auto r = std::from_chars(b, e, n);
    if (r.ec != std::errc() || r.ptr != e || b == e) break;
    v.push_back(n);
    start = dot + 1;
  }
  return v;
}

size_t Utf8SequenceAt(std::string_view s, size_t i, uint32_t& code) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    code = c;
    return 1;
  }
  size_t len;
  uint32_t min;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2, code = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3, code = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4, code = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const unsigned char d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    code = (code << 6) | (d & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return len;
}

namespace {

void AppendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The surrogate whose three-byte form starts at s[i], or 0.
uint32_t SurrogateAt(std::string_view s, size_t i) {
  if (i + 2 >= s.size() || static_cast<unsigned char>(s[i]) != 0xED) return 0;
  const unsigned char b1 = static_cast<unsigned char>(s[i + 1]), b2 = static_cast<unsigned char>(s[i + 2]);
  if (b1 < 0xA0 || b1 > 0xBF || (b2 & 0xC0) != 0x80) return 0;
  return 0xD000 | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
}

bool IsHigh(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// One line of code units as bytes; `escapes`: a lone U+DC80..U+DCFF as the byte it stands for.
std::string UnitsToBytes(std::u16string_view units, bool escapes) {
  std::string out;
  out.reserve(units.size());
  for (size_t k = 0; k < units.size(); ++k) {
    const uint32_t u = units[k];
    if (IsHigh(u) && k + 1 < units.size() && IsLow(units[k + 1])) {
      AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[k + 1] - 0xDC00u));
      ++k;
    } else if (escapes && u >= 0xDC80 && u <= 0xDCFF) {
      out += static_cast<char>(u - 0xDC00);
    } else {
      AppendUtf8(out, u);  // a lone surrogate in its three-byte form
    }
  }
  return out;
}

}  // namespace

std::u16string BytesToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    uint32_t code;
    const size_t len = Utf8SequenceAt(s, i, code);
    if (len > 0) {
      if (code >= 0x10000) {
        out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
      } else {
        out += static_cast<char16_t>(code);
      }
      i += len;
      continue;
    }
    // A lone surrogate's form stands for it, except a high one whose next unit would be a
    // low one: the two would be read back as one character.
    if (const uint32_t u = SurrogateAt(s, i); u != 0) {
      uint32_t next = 0;
      const bool lowNext = i + 3 < s.size() && (SurrogateAt(s, i + 3) >= 0xDC00 || Utf8SequenceAt(s, i + 3, next) == 0);
      if (!IsHigh(u) || !lowNext) {
        out += static_cast<char16_t>(u);
        i += 3;
        continue;
      }
    }
    out += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(s[i]));
    ++i;
  }
  return out;
}

std::string Utf16ToBytes(std::u16string_view units) {
  std::string out;
  // Line by line: where a line's escaped bytes would be read back as other units, its lone
  // surrogates all go in their three-byte form, which always comes back.
  for (size_t start = 0; start < units.size();) {
    size_t end = units.find(u'\n', start);
    end = end == std::u16string_view::npos ? units.size() : end + 1;
    const std::u16string_view line = units.substr(start, end - start);
    std::string bytes = UnitsToBytes(line, true);
    if (BytesToUtf16(bytes) != line) bytes = UnitsToBytes(line, false);
    out += bytes;
    start = end;
  }
  return out;
}

std::string PathJoin(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (out.empty() || out.back() != PathDelim) out += PathDelim;
  out += name;
  return out;
}

std::string CanonicalPath(const std::string& path) {
  std::string result;
  return CanonicalizePath(path, result) ? result : path;
}

bool VolumeInfo(const std::string& path, std::string& fileSystem, std::string& volumeName) {
  const size_t colon = path.find(':');
  const size_t delim = path.find(PathDelim);
  if (colon == std::string::npos && delim == std::string::npos) return false;
  size_t end = 0;
  if (colon != std::string::npos) end = colon;
  if (delim != std::string::npos && (colon == std::string::npos || delim > colon)) end = delim;
  const std::string root = path.substr(0, end + 1);
  // On this OS a path's volume is the mount that holds it, not its first segment.
  return QueryVolume(path, fileSystem, volumeName) || QueryVolume(root, fileSystem, volumeName);
}

}  // namespace trawlex
