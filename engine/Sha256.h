#pragma once
// SHA-256 of file contents, for the undo journal's integrity checks. Nettle computes it; the
// Windows build, which has no Nettle, computes it with its own code (Sha256Own.cpp).
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace trawlex {

using TDigest = std::array<uint8_t, 32>;

// SHA-256, fed in pieces.
class TSha256 {
 public:
  TSha256();
  ~TSha256();
  TSha256(const TSha256&) = delete;
  TSha256& operator=(const TSha256&) = delete;
  void Update(const void* data, size_t count);
  TDigest Final();

 private:
  struct TState;
  std::unique_ptr<TState> State;
};
TDigest Sha256(std::string_view data);
std::string DigestHex(const TDigest& digest);

}  // namespace trawlex
