// The SHA-256 the Windows build computes without Nettle, checked here against Nettle itself:
// journals made on either system must carry the same digests.
#include <gtest/gtest.h>
#include <nettle/sha2.h>

#include <string>

#include "engine/Sha256.h"

namespace trawlex {
namespace {

TDigest NettleDigest(const std::string& text) {
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, text.size(), reinterpret_cast<const uint8_t*>(text.data()));
  TDigest out;
  sha256_digest(&context, out.size(), out.data());
  return out;
}

TEST(Sha256OwnTest, SameDigestsAsNettleForEveryLengthAndSplit) {
  std::string text;
  for (size_t n = 0; n < 300; ++n) text += static_cast<char>(n * 131 + 7);
  text += std::string(70000, '\xff');
  // Every length around the padding edges (55, 56, 64 ...), then one long text.
  for (size_t length : {size_t{0}, size_t{1}, size_t{55}, size_t{56}, size_t{57}, size_t{63}, size_t{64},
                        size_t{65}, size_t{119}, size_t{120}, size_t{128}, size_t{299}, text.size()}) {
    const std::string part = text.substr(0, length);
    const TDigest expected = NettleDigest(part);
    EXPECT_EQ(DigestHex(Sha256(part)), DigestHex(expected)) << length;
    for (size_t split : {size_t{1}, size_t{7}, size_t{64}, size_t{65}}) {
      TSha256 pieces;
      for (size_t at = 0; at < part.size(); at += split) pieces.Update(part.data() + at, std::min(split, part.size() - at));
      EXPECT_EQ(DigestHex(pieces.Final()), DigestHex(expected)) << length << " in pieces of " << split;
    }
  }
}

}  // namespace
}  // namespace trawlex
