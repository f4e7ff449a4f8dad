#pragma once
// Headless replace: `trawlex --report --replace-all TEXT [--dry-run] [switches]` searches
// as --report does, prints the report, then replaces every find with TEXT. With --diff it
// prints only the change set (a patch) instead, and changes nothing.
#include <cstdio>
#include <string>
#include <vector>

namespace trawlex {

// Whether the arguments ask for a replace or its change set ("--replace-all" or "--diff" not
// taken as a switch's value).
bool IsReplaceAllRequest(const std::vector<std::string>& args);

// Runs the search, writes the report to `out`, then (unless --dry-run) selects every find
// and rewrites the files: log lines go to `err`, "Finished. Replaced N finds" to `out`.
// Exit status: 2 when the input is bad, a file could not be searched, or a file was
// refused or failed; otherwise 0 with finds and 1 without.
// Usage lines name the program `programName` ("trawlex" where none is given).
int RunReplaceAll(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, const std::string& programName);
int RunReplaceAll(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace trawlex
