#include "engine/Sha256.h"

namespace trawlex {

TDigest Sha256(std::string_view data) {
  TSha256 h;
  h.Update(data.data(), data.size());
  return h.Final();
}

std::string DigestHex(const TDigest& digest) {
  static const char* const digits = "0123456789abcdef";
  std::string s;
  for (uint8_t b : digest) {
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

}  // namespace trawlex
