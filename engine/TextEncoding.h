#pragma once
// Files that say how their text is encoded with a byte-order mark. A UTF-16 file (little
// or big endian) is searched as its text in UTF-8 and written back in UTF-16 with its
// mark; the round trip keeps every byte, unpaired surrogates included (they travel as the
// three bytes UTF-8 would give them, which no valid UTF-8 text holds).
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace trawlex {

enum class TTextEncoding { Bytes, Utf8Bom, Utf16LE, Utf16BE };

// By the byte-order mark at the start. UTF-16 needs an even number of bytes: a file with
// an odd one is not UTF-16 whatever its start, and stays bytes.
TTextEncoding DetectEncoding(const unsigned char* data, size_t size);
inline TTextEncoding DetectEncoding(std::string_view content) {
  return DetectEncoding(reinterpret_cast<const unsigned char*>(content.data()), content.size());
}
inline bool IsUtf16(TTextEncoding e) { return e == TTextEncoding::Utf16LE || e == TTextEncoding::Utf16BE; }
// "UTF-16LE", "UTF-16BE", "UTF-8 with a byte-order mark", "bytes".
const char* EncodingName(TTextEncoding e);

// The text of a UTF-16 file after its mark, in UTF-8; false (and `text` untouched) when
// the content is not UTF-16 by DetectEncoding. `stopRequested`, when given, is asked between
// pieces of a few MiB: true ends the decoding there, `text` then holding the text so far.
bool DecodeUtf16Text(const unsigned char* data, size_t size, std::string& text,
                     const std::function<bool()>& stopRequested = {});
inline bool DecodeUtf16Text(std::string_view content, std::string& text) {
  return DecodeUtf16Text(reinterpret_cast<const unsigned char*>(content.data()), content.size(), text);
}
// A UTF-8 text as the content of a UTF-16 file, with its mark; false when the text holds
// bytes that are not UTF-8 (they have no UTF-16 form).
bool EncodeUtf16Text(std::string_view text, TTextEncoding e, std::string& content);

}  // namespace trawlex
