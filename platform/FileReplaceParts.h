#pragma once
// Pieces of the file rewriter and the durable writes that their POSIX and Windows versions
// share.
#include <cstdint>
#include <string>

namespace trawlex::rewrite_parts {

// The longest file name, in bytes, that the file systems in use allow.
constexpr size_t NameMax = 255;

// The last name of `path`: what follows its last path delimiter.
std::string FileNameOf(const std::string& path);
// `name` inside `folder`, with one path delimiter between them.
std::string InFolder(const std::string& folder, const std::string& name);
// The n-th temporary name with `prefix` in `folder`: prefix, n, ".tmp".
std::string TempNameAt(const std::string& folder, const std::string& prefix, uint64_t n);
// A fresh name for the temporary file beside `target` that a durable write fills: hidden,
// with the process id and a count that differs at every call.
std::string DurableTempName(const std::string& target, uint64_t processId);
// Creates the folder `path` (mode 0700 where modes exist) in a parent that exists; true when
// it was made or was there already, else false with `error` set.
bool MakeOneDirectory(const std::string& path, std::string& error);

}  // namespace trawlex::rewrite_parts
