#pragma once
// One typed value of the settings store as the registry keeps it, and the rules by which the
// store's typed reads accept (or refuse) what is stored. The rules are free functions so that
// every store implementation applies the very same ones.
#include <cstdint>
#include <optional>
#include <string>

#include "config/Config.h"

namespace trawlex {

// The registry's value type numbers.
enum TRegType : uint32_t {
  RegNone = 0,
  RegSz = 1,
  RegExpandSz = 2,
  RegBinary = 3,
  RegDword = 4,
  RegMultiSz = 7,
  RegQword = 11,
  // Not a registry type: a value whose data in the settings file did not parse. It is kept as
  // the text after "=", written back unchanged, and every typed read refuses it.
  RegUnreadable = 0xFFFFFFFFu,
};

struct TRegValue {
  std::string Name;
  uint32_t Type = RegNone;
  // For RegSz and RegExpandSz the text (UTF-8, no terminating zero); for every other type
  // the bytes as the registry holds them (a RegDword is 4 bytes, little-endian).
  std::string Data;
};

bool IsStringType(uint32_t type);

TRegValue MakeStringValue(const std::string& name, const std::string& text);
TRegValue MakeDwordValue(const std::string& name, int32_t value);
TRegValue MakeBinaryValue(const std::string& name, const void* data, size_t size);

// Typed reads of a stored value (null: not stored, giving the default). A value of a type the
// read does not accept raises "Invalid data type for '%s'" with `ident`.
std::string ReadStringValue(const TRegValue* value, const std::string& ident, const std::string& def);
int32_t ReadIntegerValue(const TRegValue* value, const std::string& ident, int32_t def);
double ReadFloatValue(const TRegValue* value, const std::string& ident, double def);
void ReadBytesValue(const TRegValue* value, const std::string& ident, void* buffer, int32_t size, const void* def);

// The value WriteInteger stores over `existing`: a string stays a string holding the number.
TRegValue IntegerValueOver(const TRegValue* existing, const std::string& ident, int32_t value);

// Numbers as the registry and the stored byte blocks hold them: the low `size` bytes of
// `value`, least significant first.
void PutLittleEndian(void* out, uint64_t value, size_t size);
uint64_t GetLittleEndian(const void* in, size_t size);

// A signed 32-bit decimal integer, optionally signed and surrounded by blanks.
std::optional<int32_t> ParseInt32(const std::string& text);

}  // namespace trawlex
