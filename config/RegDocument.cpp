#include "config/RegDocument.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "base/Errors.h"
#include "base/TextUtils.h"

namespace trawlex {

namespace {

const char* const kHeader = "Windows Registry Editor Version 5.00";
// The header of the older export form, whose texts are 8-bit text throughout.
const char* const kHeader4 = "REGEDIT4";
const char* const kEol = "\r\n";

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareTextAscii(a, b) == 0;  // the sizes settle most comparisons
}

// ---- UTF-8 and UTF-16LE ---------------------------------------------------------------
// Text is kept as UTF-8 bytes; the registry keeps strings as UTF-16. BytesToUtf16 and
// Utf16ToBytes carry any bytes and any code units (lone surrogates included) both ways
// unchanged.

std::string Utf8ToUtf16Le(std::string_view s) {
  const std::u16string units = BytesToUtf16(s);
  std::string out;
  out.reserve(2 * units.size());
  for (const char16_t u : units) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>((u >> 8) & 0xFF);
  }
  return out;
}

// Decodes UTF-16LE up to the first zero unit (the string's end in the registry), or, for a
// whole file, all of it: a stray zero must not cut off the values after it.
std::string Utf16LeToUtf8(std::string_view bytes, bool toFirstZero = true) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (size_t k = 0; k + 1 < bytes.size(); k += 2) {
    const char16_t u = static_cast<char16_t>(static_cast<unsigned char>(bytes[k]) | (static_cast<unsigned char>(bytes[k + 1]) << 8));
    if (u == 0 && toFirstZero) break;
    units += u;
  }
  return Utf16ToBytes(units);
}

// Text that can stand between quotes: text on one line. Its code units, whatever they are
// (a lone surrogate of a hand edit, a byte that is not UTF-8), go into the file as they are.
bool QuotableText(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos; }

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

void AppendHex(std::string& line, std::string& out, std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) {
      line += ',';
      // Long blocks wrap as regedit wraps them: a backslash ends the line, two blanks start
      // the next one.
      if (line.size() + 3 > 79) {
        out += line + "\\" + kEol;
        line = "  ";
      }
    }
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    line += digits[b >> 4];
    line += digits[b & 15];
  }
}

std::string FormatValue(const TRegValue& v) {
  std::string out;
  std::string line = v.Name.empty() ? std::string("@") : Quote(v.Name);
  line += '=';
  char prefix[32];
  if (v.Type == RegUnreadable) {
    line += v.Data;  // as it stood in the file
  } else if (v.Type == RegSz && QuotableText(v.Data)) {
    line += Quote(v.Data);
  } else if (v.Type == RegDword && v.Data.size() == 4) {
    uint32_t u = 0;
    for (int i = 3; i >= 0; --i) u = (u << 8) | static_cast<unsigned char>(v.Data[i]);
    std::snprintf(prefix, sizeof prefix, "dword:%08x", u);
    line += prefix;
  } else {
    if (v.Type == RegBinary) {
      line += "hex:";
    } else {
      std::snprintf(prefix, sizeof prefix, "hex(%x):", v.Type);
      line += prefix;
    }
    if (IsStringType(v.Type)) {
      AppendHex(line, out, Utf8ToUtf16Le(v.Data) + std::string(2, '\0'));
    } else {
      AppendHex(line, out, v.Data);
    }
  }
  out += line;
  out += kEol;
  return out;
}

std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t bs = path.find('\\', start);
    parts.push_back(path.substr(start, bs == std::string_view::npos ? std::string_view::npos : bs - start));
    if (bs == std::string_view::npos) return parts;
    start = bs + 1;
  }
}

// Parents before children, siblings by name as regedit lists them.
bool KeyPathLess(const std::string& a, const std::string& b) {
  const auto pa = SplitPath(a), pb = SplitPath(b);
  for (size_t i = 0; i < pa.size() && i < pb.size(); ++i) {
    const int c = CompareTextAscii(pa[i], pb[i]);
    if (c != 0) return c < 0;
  }
  return pa.size() < pb.size();
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHexNumber(std::string_view s, uint32_t& out) {
  if (s.empty() || s.size() > 8) return false;
  out = 0;
  for (const char c : s) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    out = (out << 4) | static_cast<uint32_t>(d);
  }
  return true;
}

// Parses a quoted text starting at s[pos] == '"'; `pos` ends after the closing quote.
bool ParseQuoted(std::string_view s, size_t& pos, std::string& out) {
  out.clear();
  size_t i = pos + 1;
  // Most texts hold no backslash: taken whole up to the closing quote.
  size_t plainEnd = i;
  while (plainEnd < s.size() && s[plainEnd] != '"' && s[plainEnd] != '\\') ++plainEnd;
  if (plainEnd == s.size()) return false;
  out.assign(s.substr(i, plainEnd - i));
  for (i = plainEnd; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') {
      pos = i + 1;
      return true;
    }
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out += s[++i];
    } else if (c == '\\' && i + 1 < s.size() && (s[i + 1] == 'r' || s[i + 1] == 'n')) {
      out += s[++i] == 'r' ? '\r' : '\n';  // as regedit exports a line break inside a text
    } else {
      out += c;
    }
  }
  return false;
}

std::string_view TrimEnd(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

std::string_view TrimStart(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}


}  // namespace

bool IsRegExportStart(std::string_view start) {
  if (start.size() % 2 != 0 && start.size() >= 2 && static_cast<unsigned char>(start[0]) == 0xFF) start.remove_suffix(1);
  const std::string text = RegFileText(start);
  std::string_view rest = text;
  while (!rest.empty() && static_cast<unsigned char>(rest.front()) <= 32) rest.remove_prefix(1);
  return rest.substr(0, std::strlen(kHeader)) == kHeader || rest.substr(0, std::strlen(kHeader4)) == kHeader4;
}

bool KeyIsAtOrBelow(const std::string& path, const std::string& root) {
  if (path.size() < root.size()) return false;
  if (CompareTextAscii(std::string_view(path).substr(0, root.size()), root) != 0) return false;
  return path.size() == root.size() || path[root.size()] == '\\';
}

const TRegValue* TRegKey::FindValue(const std::string& name) const {
  for (const auto& v : Values) {
    if (SameName(v.Name, name)) return &v;
  }
  return nullptr;
}

TRegValue* TRegKey::FindValue(const std::string& name) {
  return const_cast<TRegValue*>(static_cast<const TRegKey*>(this)->FindValue(name));
}

void TRegKey::PutValue(TRegValue value) {
  if (TRegValue* old = FindValue(value.Name)) {
    old->Type = value.Type;
    old->Data = std::move(value.Data);
  } else {
    Values.push_back(std::move(value));
  }
}

const TRegKey* TRegDocument::FindKey(const std::string& path) const {
  for (const auto& k : FKeys) {
    if (SameName(k.Path, path)) return &k;
  }
  return nullptr;
}

TRegKey* TRegDocument::FindKey(const std::string& path) {
  return const_cast<TRegKey*>(static_cast<const TRegDocument*>(this)->FindKey(path));
}

TRegKey& TRegDocument::CreateKey(const std::string& path) {
  if (TRegKey* k = FindKey(path)) return *k;
  FKeys.push_back(TRegKey{path, {}});
  return FKeys.back();
}

bool TRegDocument::KeyExists(const std::string& path) const {
  return std::any_of(FKeys.begin(), FKeys.end(), [&](const TRegKey& k) { return KeyIsAtOrBelow(k.Path, path); });
}

std::vector<std::string> TRegDocument::SubKeyNames(const std::string& path) const {
  std::vector<std::string> names;
  for (const auto& k : FKeys) {
    if (k.Path.size() <= path.size() || !KeyIsAtOrBelow(k.Path, path)) continue;
    const std::string rest = k.Path.substr(path.size() + 1);
    const std::string child = rest.substr(0, rest.find('\\'));
    if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return SameName(n, child); })) {
      names.push_back(child);
    }
  }
  return names;
}

void TRegDocument::DeleteKey(const std::string& path) {
  std::erase_if(FKeys, [&](const TRegKey& k) { return KeyIsAtOrBelow(k.Path, path); });
}

std::string RegFileText(std::string_view file) {
  if (file.size() >= 2 && static_cast<unsigned char>(file[0]) == 0xFF && static_cast<unsigned char>(file[1]) == 0xFE) {
    std::string text = Utf16LeToUtf8(file.substr(2), false);
    if (file.size() % 2 != 0) text += file.back();  // a cut-off last character stays visible
    return text;
  }
  if (file.substr(0, 3) == "\xEF\xBB\xBF") file.remove_prefix(3);
  return std::string(file);
}

std::string TRegDocument::Format() const { return "\xFF\xFE" + Utf8ToUtf16Le(FormatText()); }

std::string TRegDocument::FormatText() const {
  std::vector<const TRegKey*> keys;
  for (const auto& k : FKeys) keys.push_back(&k);
  std::stable_sort(keys.begin(), keys.end(), [](const TRegKey* a, const TRegKey* b) { return KeyPathLess(a->Path, b->Path); });
  std::string out = kHeader;
  out += kEol;
  out += kEol;
  for (const TRegKey* k : keys) {
    out += "[" + k->Path + "]" + kEol;
    for (const auto& v : k->Values) out += FormatValue(v);
    out += kEol;
  }
  return out;
}

namespace {

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

size_t FoldedHash(std::string_view s) {
  size_t h = 1469598103934665603ull;
  for (const char c : s) {
    h ^= static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    h *= 1099511628211ull;
  }
  return h;
}

// The values of one key by name (letter case ignored), held as indexes into the key's value
// list so that no name is copied. It reaches the list through the key list, which may move.
class TValueIndex {
 public:
  TValueIndex(const std::vector<TRegKey>* keys, size_t key)
      : FSet(16, THash{keys, key}, TEqual{keys, key}) {}
  // The index of the value named like the one at `index`, inserting `index` when there is none.
  size_t FindOrAdd(size_t index) { return *FSet.insert(index).first; }

 private:
  struct THash {
    const std::vector<TRegKey>* Keys;
    size_t Key;
    size_t operator()(size_t i) const { return FoldedHash((*Keys)[Key].Values[i].Name); }
  };
  struct TEqual {
    const std::vector<TRegKey>* Keys;
    size_t Key;
    bool operator()(size_t a, size_t b) const {
      const auto& v = (*Keys)[Key].Values;
      return SameName(v[a].Name, v[b].Name);
    }
  };
  std::unordered_set<size_t, THash, TEqual> FSet;
};

// The data of a value line after "=" (continuation lines joined) as a typed value; false when
// it does not parse. `eightBit`: the bytes of text blocks are 8-bit text, not UTF-16LE.
bool ParseValueData(std::string_view rest, bool eightBit, TRegValue& value) {
  if (rest.substr(0, 6) == "dword:") {
    // Exactly eight digits, as regedit writes them: a shorter number is a cut-off value.
    const std::string_view digits = rest.substr(6);
    uint32_t u;
    if (digits.size() != 8 || !ParseHexNumber(digits, u)) return false;
    value = MakeDwordValue(value.Name, static_cast<int32_t>(u));
    return true;
  }
  uint32_t type = RegBinary;
  size_t colon = 3;
  if (rest.size() > 3 && rest[3] == '(') {
    const size_t close = rest.find(')');
    if (close == std::string_view::npos || !ParseHexNumber(rest.substr(4, close - 4), type)) return false;
    colon = close + 1;
  }
  if (colon >= rest.size() || rest[colon] != ':') return false;
  std::string bytes;
  std::string_view l = rest.substr(colon + 1);
  while (!l.empty()) {
    const size_t comma = l.find(',');
    const std::string_view tok = TrimStart(TrimEnd(l.substr(0, comma)));
    if (tok.size() != 2 || HexDigit(tok[0]) < 0 || HexDigit(tok[1]) < 0) return false;
    bytes += static_cast<char>(HexDigit(tok[0]) * 16 + HexDigit(tok[1]));
    if (comma == std::string_view::npos) break;
    l.remove_prefix(comma + 1);
    if (TrimEnd(l).empty()) return false;  // a byte is missing after the last comma
  }
  value.Type = type;
  if (!eightBit) {
    value.Data = IsStringType(type) ? Utf16LeToUtf8(bytes) : bytes;
  } else if (IsStringType(type)) {
    value.Data = bytes.substr(0, bytes.find('\0'));
  } else {
    // A list of texts is kept as the registry holds it, in UTF-16LE.
    value.Data = type == RegMultiSz ? Utf8ToUtf16Le(bytes) : bytes;
  }
  return true;
}

}  // namespace

namespace {

// Reads the lines of an export into keys, one line (or block of continued lines) at a time,
// listing the first few lines that do not parse.
class TRegParser {
 public:
  TRegParser(std::vector<TRegKey>& keys, std::string& error) : Keys(keys), Error(error) {}

  bool Run(std::string_view input) {
    std::string decoded;
    if (input.size() >= 2 && static_cast<unsigned char>(input[0]) == 0xFF && static_cast<unsigned char>(input[1]) == 0xFE) {
      decoded = RegFileText(input);  // as regedit itself saves an export
      input = decoded;
    } else if (input.size() >= 3 && input.substr(0, 3) == "\xEF\xBB\xBF") {
      input.remove_prefix(3);
    }
    Lines = SplitTextLines(input);
    size_t i = 0;
    while (i < Lines.size() && TrimEnd(Lines[i]).empty()) ++i;
    if (i == Lines.size()) return true;  // an empty file holds no settings
    ReadHeader(i);
    for (++i; i < Lines.size(); ++i) {
      const std::string_view line = TrimStart(TrimEnd(Lines[i]));
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[')
        KeyLine(i, line);
      else if (line[0] != '"' && line[0] != '@')
        Bad(i, "not a key or value line");
      else
        ValueLine(i, line);
    }
    if (BadLines > MaxListed) Error += Fmt("; %d more", static_cast<int64_t>(BadLines - MaxListed));
    return BadLines == 0;
  }

 private:
  static constexpr int MaxListed = 5;

  void Bad(size_t index, const std::string& what) {
    if (++BadLines > MaxListed) return;
    if (!Error.empty()) Error += "; ";
    Error += Fmt("line %d: %s", static_cast<int64_t>(index + 1), what);
  }

  // Without the header the first line is not read; the lines after it still are.
  void ReadHeader(size_t i) {
    const std::string header = TrimText(Lines[i]);
    EightBit = header == kHeader4;
    if (header != kHeader && !EightBit) Bad(i, "the header line is missing");
  }

  void KeyLine(size_t i, std::string_view line) {
    Key = SIZE_MAX;
    KeySkipped = true;
    if (line.back() != ']' || line.size() < 3) return Bad(i, "a key line must end with \"]\"");
    if (line[1] == '-') return Bad(i, "deleting keys is not supported in a settings file");
    const std::string path(line.substr(1, line.size() - 2));
    const auto [it, added] = KeyIndex.try_emplace(LowerAscii(path), Keys.size());
    if (added) {
      Keys.push_back(TRegKey{path, {}});
      ValueIndex.push_back(nullptr);
    }
    Key = it->second;
    KeySkipped = false;
  }

  // A value line starting at Lines[i]; `i` moves past its continuation lines.
  void ValueLine(size_t& i, std::string_view line) {
    const size_t first = i;
    TRegValue value;
    size_t pos = 0;
    const bool named = line[0] == '@' ? (pos = 1, true) : ParseQuoted(line, pos, value.Name);
    std::string_view rest = named ? TrimStart(line.substr(pos)) : std::string_view();
    const bool hasEquals = !rest.empty() && rest[0] == '=';
    if (hasEquals) rest = TrimStart(rest.substr(1));
    // The continuation lines of a block belong to it whatever becomes of the value.
    std::string joined;
    if (rest.substr(0, 3) == "hex" && rest.back() == '\\') {
      joined = rest;
      while (!joined.empty() && joined.back() == '\\' && i + 1 < Lines.size()) {
        joined.pop_back();
        joined += TrimStart(TrimEnd(Lines[++i]));
      }
      rest = joined;
    }
    if (KeySkipped) return;
    if (Key == SIZE_MAX) return Bad(first, "a value before the first key");
    if (!named) return Bad(first, "the value name has no closing quote");
    if (!hasEquals) return Bad(first, "\"=\" is missing after the value name");
    if (ReadData(first, rest, value)) AddValue(std::move(value));
  }

  // The data after "=": false, with the line named, where it cannot be kept.
  bool ReadData(size_t first, std::string_view rest, TRegValue& value) {
    if (!rest.empty() && rest[0] == '"') {
      size_t end = 0;
      if (!ParseQuoted(rest, end, value.Data)) return Bad(first, "the text has no closing quote"), false;
      if (!TrimEnd(rest.substr(end)).empty()) return Bad(first, "text after the closing quote"), false;
      value.Type = RegSz;
      return true;
    }
    if (rest.substr(0, 6) == "dword:" || rest.substr(0, 3) == "hex") {
      if (!rest.empty() && rest.back() == '\\') return Bad(first, "the value ends in a continuation line that is missing"), false;
      // A value of a known type whose data does not parse stays in the file as it is, and is
      // read as a value of the wrong type.
      if (!ParseValueData(rest, EightBit, value)) {
        value.Type = RegUnreadable;
        value.Data = std::string(rest);
      }
      return true;
    }
    if (rest == "-") return Bad(first, "deleting values is not supported in a settings file"), false;
    return Bad(first, "a value of unknown type"), false;
  }

  void AddValue(TRegValue&& value) {
    std::vector<TRegValue>& values = Keys[Key].Values;
    if (!ValueIndex[Key]) ValueIndex[Key] = std::make_unique<TValueIndex>(&Keys, Key);
    values.push_back(std::move(value));
    const size_t found = ValueIndex[Key]->FindOrAdd(values.size() - 1);
    if (found != values.size() - 1) {
      // A name given twice: the later value wins, in the place of the first.
      values[found].Type = values.back().Type;
      values[found].Data = std::move(values.back().Data);
      values.pop_back();
    }
  }

  std::vector<TRegKey>& Keys;
  std::string& Error;
  std::vector<std::string_view> Lines;
  int BadLines = 0;
  bool EightBit = false;
  // Lookups by lower-case name while parsing, so that a file of many values parses in linear time.
  std::unordered_map<std::string, size_t> KeyIndex;
  std::vector<std::unique_ptr<TValueIndex>> ValueIndex;  // one per key
  size_t Key = SIZE_MAX;    // index of the current key in Keys
  bool KeySkipped = false;  // the current key line did not parse: its values are dropped
};

}  // namespace

bool TRegDocument::Parse(std::string_view input, std::string& error) {
  FKeys.clear();
  error.clear();
  return TRegParser(FKeys, error).Run(input);
}

}  // namespace trawlex
