#include "engine/Sha256.h"

#include <nettle/sha2.h>

namespace trawlex {

struct TSha256::TState {
  sha256_ctx Context;
};

TSha256::TSha256() : State(std::make_unique<TState>()) { sha256_init(&State->Context); }
TSha256::~TSha256() = default;

void TSha256::Update(const void* data, size_t count) {
  sha256_update(&State->Context, count, static_cast<const uint8_t*>(data));
}

TDigest TSha256::Final() {
  TDigest out;
  sha256_digest(&State->Context, out.size(), out.data());
  return out;
}

}  // namespace trawlex
