#pragma once
// Text, number, version and path routines shared by every layer; no window in sight.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace trawlex {

using TVersion = std::vector<int32_t>;

inline unsigned char UpperByte(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }
inline char LowerChar(char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch; }
// ASCII a-z to A-Z; every other byte unchanged.
std::string UpperAscii(std::string_view s);
// Byte-wise comparison after mapping a-z to A-Z, bytes unsigned, a prefix first.
int CompareTextAscii(std::string_view a, std::string_view b);
// Byte-wise comparison, bytes unsigned, a prefix first.
int CompareBytes(std::string_view a, std::string_view b);

// Searches Low..High with Compare(i) (negative: item i sorts before the sought one).
// True with Index at the match, else false with Index where it would be inserted.
bool BinarySearch(int32_t low, int32_t high, int32_t& index, const std::function<int(int32_t)>& compare);
// 1-based position of `sub` in `text` at or after `from`, ASCII letters folded; 0 if absent.
int32_t PosText(std::string_view sub, std::string_view text, int32_t from = 1);
int32_t CompareIntArrays(const std::vector<int32_t>& a, const std::vector<int32_t>& b);
std::string Spaces(int32_t n);
// Leading and trailing bytes of code 32 or less removed.
std::string TrimText(std::string_view s);
std::string StringsToText(const std::vector<std::string>& list);
void TextToStrings(std::string_view text, std::vector<std::string>& list);
std::string ReplaceAll(std::string_view text, std::string_view oldText, std::string_view newText);
std::string Plural(std::string_view noun);
std::string CountText(int64_t count, std::string_view noun, std::string_view pluralForm = {});
// Whole seconds, ".", three digits of milliseconds: 12.345 for 12 s 345 ms.
std::string DurationText(TDateTime days);
TDateTime UtcToLocal(TDateTime t);
std::string TimeZoneText();
// The general number format: at most 15 significant digits, no trailing zeros.
std::string GeneralFloatText(double value);

std::string VersionText(const TVersion& version, int maxParts);
TVersion ParseVersion(std::string_view text);

// Length of the valid UTF-8 sequence that starts at s[i] (1 to 4) with its code point in
// `code`, or 0 when the byte there starts none (stray, overlong, surrogate, cut short).
size_t Utf8SequenceAt(std::string_view s, size_t i, uint32_t& code);

// Text kept as bytes and text kept as UTF-16 code units (the registry's, the windows'), each
// turned into the other without losing anything: a byte that is not part of valid UTF-8
// travels as the lone surrogate U+DC00 + byte, and a lone surrogate of the UTF-16 text as
// its three-byte form (ED A0..BF 80..BF), so that any bytes and any code units come back
// exactly as they were.
std::u16string BytesToUtf16(std::string_view bytes);
std::string Utf16ToBytes(std::u16string_view units);

std::string PathJoin(std::string_view dir, std::string_view name);
std::string CanonicalPath(const std::string& path);
// The root of `path` is its beginning up to the later of its first ":" and its first path
// delimiter; without either, false.
bool VolumeInfo(const std::string& path, std::string& fileSystem, std::string& volumeName);

}  // namespace trawlex
