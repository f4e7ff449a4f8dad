#pragma once
// The change set of a replace: what replacing the selected finds with a text would make of
// each file, shown before anything is written. Every file with a selected find gets a unified
// diff with three lines of context (paths a/... and b/... relative to the search's base
// directory), so that `git apply` and `patch -p1` run in that directory accept it. Bytes come
// out as they are in the file: CR LF, lone CR, bytes that are not UTF-8, NUL bytes, and a
// missing final line break ("\ No newline at end of file", only ever at the end of a hunk: a
// change whose new text ends inside a line takes in the lines after it until it ends with a
// line break or the file does, so both sides of every hunk are whole lines).
//
// A file reached under several names gets one diff, under the name of the file itself
// (symbolic links resolved) inside the base directory, and one more under each other
// hard-linked name the search reached, since both tools write a new file in place of the one
// they patch while the replace changes every name of the file. A file reached only through
// symbolic links that lead out of the base directory is named with its number of finds.
//
// A file that looks binary (a NUL byte among its first 8000 bytes) is listed by name with its
// number of finds instead, and so is a UTF-16 file (with its encoding), since neither tool
// applies a diff to UTF-16 bytes; a file that changed since the search, or cannot be read, gets a
// line that says so instead of a diff made of stale offsets. These lines never start like a
// diff header, so both tools pass over them.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ReplaceThread.h"

namespace trawlex {

class TSearchParams;

// Lines of unchanged text around each change.
constexpr int32_t ChangeSetContext = 3;

struct TChangeSet {
  std::string Text;
  int32_t Diffs = 0;     // files with a diff
  int32_t Binary = 0;    // binary-looking files, named with their finds
  int32_t Encoded = 0;   // UTF-16 files, named with their encoding and finds
  int32_t NotShown = 0;  // files changed since the search or unreadable, named with the reason
  int32_t Linked = 0;    // files whose real file lies outside the base directory, named with their finds
};

// The change set of every job; the files are read now and nothing is written.
TChangeSet BuildChangeSet(const TSearchParams& params, const TReplaceJobList& jobs, const std::string& replaceText);

// The diff of one file whose current bytes are `content`, given the finds of `job` (ascending,
// not overlapping, inside the content). `name` is the path relative to the base directory.
// Empty when the replacement changes nothing.
// `texts`, when given, holds each find's own replacement instead (regular-expression mode).
std::string FileDiff(const std::string& name, std::string_view content, const TReplaceFile& job,
                     std::string_view replaceText, const std::vector<std::string>* texts = nullptr);

// A path as it stands in a diff header: as it is, or in double quotes with C escapes when it
// holds a blank, a quote, a backslash, a control byte or a byte above 127.
std::string DiffPathName(const std::string& path);

}  // namespace trawlex
