#pragma once
// Pieces of the file rewriter that its POSIX and Windows versions share.
#include <cstdint>
#include <string>

namespace trawlex::rewrite_parts {

// The longest file name, in bytes, that the file systems in use allow.
constexpr size_t NameMax = 255;

// `name` inside `folder`, with one path delimiter between them.
std::string InFolder(const std::string& folder, const std::string& name);
// The n-th temporary name with `prefix` in `folder`: prefix, n, ".tmp".
std::string TempNameAt(const std::string& folder, const std::string& prefix, uint64_t n);

}  // namespace trawlex::rewrite_parts
