#include "engine/TextEncoding.h"

#include <cstdint>

#include "engine/CaseFold.h"

namespace trawlex {

TTextEncoding DetectEncoding(const unsigned char* data, size_t size) {
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) return TTextEncoding::Utf8Bom;
  if (size >= 2 && size % 2 == 0) {
    if (data[0] == 0xFF && data[1] == 0xFE) return TTextEncoding::Utf16LE;
    if (data[0] == 0xFE && data[1] == 0xFF) return TTextEncoding::Utf16BE;
  }
  return TTextEncoding::Bytes;
}

const char* EncodingName(TTextEncoding e) {
  switch (e) {
    case TTextEncoding::Utf16LE: return "UTF-16LE";
    case TTextEncoding::Utf16BE: return "UTF-16BE";
    case TTextEncoding::Utf8Bom: return "UTF-8 with a byte-order mark";
    case TTextEncoding::Bytes: break;
  }
  return "bytes";
}

namespace {

// Code points with surrogates allowed: what a lone surrogate became on decoding.
void AppendCodePoint(std::string& out, uint32_t cp) {
  if (cp >= 0xD800 && cp <= 0xDFFF) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    AppendUtf8(out, cp);
  }
}

}  // namespace

bool DecodeUtf16Text(const unsigned char* data, size_t size, std::string& text, const std::function<bool()>& stopRequested) {
  const TTextEncoding e = DetectEncoding(data, size);
  if (!IsUtf16(e)) return false;
  const bool little = e == TTextEncoding::Utf16LE;
  auto unit = [&](size_t i) -> uint32_t {
    return little ? (uint32_t{data[i + 1]} << 8 | data[i]) : (uint32_t{data[i]} << 8 | data[i + 1]);
  };
  std::string out;
  out.reserve(size / 2 * 3 / 2);
  constexpr size_t PieceBytes = size_t{2} << 20;
  size_t pieceEnd = PieceBytes;
  for (size_t i = 2; i < size; i += 2) {
    if (i >= pieceEnd) {
      if (stopRequested && stopRequested()) break;
      pieceEnd = i + PieceBytes;
    }
    const uint32_t u = unit(i);
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < size) {
      const uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendCodePoint(out, u);
  }
  text = std::move(out);
  return true;
}

bool EncodeUtf16Text(std::string_view text, TTextEncoding e, std::string& content) {
  const bool little = e == TTextEncoding::Utf16LE;
  std::string out;
  out.reserve(text.size() * 2 + 2);
  auto put = [&](uint32_t u) {
    const auto hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += little ? lo : hi;
    out += little ? hi : lo;
  };
  put(0xFEFF);
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* end = p + text.size();
  while (p < end) {
    uint32_t cp;
    int n = DecodeUtf8(p, end, cp);
    if (n == 0) {
      // A lone surrogate as decoding wrote it; anything else has no UTF-16 form.
      if (end - p < 3 || p[0] != 0xED || p[1] < 0xA0 || p[1] > 0xBF || (p[2] & 0xC0) != 0x80) return false;
      cp = (uint32_t{p[1]} & 0x3F) << 6 | (p[2] & 0x3Fu) | 0xD000;
      n = 3;
    }
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
    p += n;
  }
  content = std::move(out);
  return true;
}

}  // namespace trawlex
