#include "config/RegValue.h"

#include <charconv>
#include <cstring>

#include "base/Errors.h"
#include "base/TextUtils.h"

namespace trawlex {

namespace {

[[noreturn]] void RaiseInvalidType(const std::string& ident) {
  throw ETrawlexError(Fmt("Invalid data type for '%s'", ident));
}

}  // namespace

void PutLittleEndian(void* out, uint64_t value, size_t size) {
  auto* p = static_cast<unsigned char*>(out);
  for (size_t i = 0; i < size; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t GetLittleEndian(const void* in, size_t size) {
  const auto* p = static_cast<const unsigned char*>(in);
  uint64_t value = 0;
  for (size_t i = size; i > 0; --i) value = (value << 8) | p[i - 1];
  return value;
}

bool IsStringType(uint32_t type) { return type == RegSz || type == RegExpandSz; }

TRegValue MakeStringValue(const std::string& name, const std::string& text) {
  // A registry string ends at its first zero character.
  return {name, RegSz, text.substr(0, text.find('\0'))};
}

TRegValue MakeDwordValue(const std::string& name, int32_t value) {
  std::string bytes(4, '\0');
  PutLittleEndian(bytes.data(), static_cast<uint32_t>(value), 4);
  return {name, RegDword, bytes};
}

TRegValue MakeBinaryValue(const std::string& name, const void* data, size_t size) {
  return {name, RegBinary, std::string(static_cast<const char*>(data), size)};
}

std::string ReadStringValue(const TRegValue* value, const std::string& ident, const std::string& def) {
  if (!value) return def;
  if (value->Type == RegUnreadable) RaiseInvalidType(ident);
  if (value->Data.empty()) return std::string();  // an empty value is the empty text whatever its type
  if (!IsStringType(value->Type)) RaiseInvalidType(ident);
  return value->Data;
}

int32_t ReadIntegerValue(const TRegValue* value, const std::string& ident, int32_t def) {
  if (!value) return def;
  if (IsStringType(value->Type)) return ParseInt32(value->Data).value_or(def);
  if (value->Type != RegDword || value->Data.size() != 4) RaiseInvalidType(ident);
  return static_cast<int32_t>(static_cast<uint32_t>(GetLittleEndian(value->Data.data(), 4)));
}

double ReadFloatValue(const TRegValue* value, const std::string& ident, double def) {
  if (!value) return def;
  if (value->Type != RegBinary || value->Data.size() != sizeof(double)) RaiseInvalidType(ident);
  const uint64_t bits = GetLittleEndian(value->Data.data(), sizeof(double));
  double out;
  std::memcpy(&out, &bits, sizeof out);
  return out;
}

void ReadBytesValue(const TRegValue* value, const std::string& ident, void* buffer, int32_t size, const void* def) {
  if (size < 0) size = 0;
  if (value) {
    // Binary values and values of a type the store does not know are byte blocks.
    const bool binary = value->Type != RegSz && value->Type != RegExpandSz && value->Type != RegDword &&
                        value->Type != RegUnreadable;
    if (!binary || value->Data.size() > static_cast<size_t>(size)) RaiseInvalidType(ident);
    if (!value->Data.empty()) std::memmove(buffer, value->Data.data(), value->Data.size());
    if (value->Data.size() == static_cast<size_t>(size)) return;
  }
  if (def && size > 0) std::memmove(buffer, def, static_cast<size_t>(size));
}

TRegValue IntegerValueOver(const TRegValue* existing, const std::string& ident, int32_t value) {
  if (existing && IsStringType(existing->Type)) return MakeStringValue(ident, std::to_string(value));
  return MakeDwordValue(ident, value);
}

std::optional<int32_t> ParseInt32(const std::string& text) {
  const std::string t = TrimText(text);
  const char* b = t.data();
  const char* e = b + t.size();
  if (b != e && *b == '+') ++b;
  if (b == e || *b == '+' || ((*b == '-') && b + 1 == e)) return std::nullopt;
  int32_t n = 0;
  const auto r = std::from_chars(b, e, n);
  if (r.ec != std::errc() || r.ptr != e) return std::nullopt;
  return n;
}

}  // namespace trawlex
