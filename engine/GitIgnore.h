#pragma once
// The ignore files of a git work tree, applied the way git decides what it ignores: the
// .gitignore file of each folder from the repository's top down (a deeper one overrides
// those above it), then .git/info/exclude, then the user's excludes file (core.excludesFile,
// by default $XDG_CONFIG_HOME/git/ignore), with letters in either case when core.ignoreCase
// is set (both read from git's configuration files: see GitConfig.h). Within one file the
// last matching pattern wins;
// "!" re-includes, a trailing "/" matches folders only, a "/" at the start or in the middle
// anchors the pattern to its file's folder, "**" spans folders, "\" escapes.
//
// A walk takes the rules folder by folder: a folder that is ignored is never entered, so
// nothing below it can be re-included (as in git).
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace trawlex {

// git's pattern match: "*" and "?" never match "/" when `pathname` is set, "**" between
// slashes matches any number of folders, "[...]" classes with ranges, "!"/"^" negation and
// "[:alpha:]" names, "\" takes the next byte literally. Bytes compare exactly, or with
// `fold` as git's core.ignoreCase has them compare (ASCII letters in either case, with git's
// own exceptions: a letter after "\" or inside "[...]" is taken as written).
bool GitWildMatch(const char* pattern, const char* text, bool pathname, bool fold = false);

// The patterns of one ignore file, matched relative to the folder that holds it.
class TIgnoreList {
 public:
  enum TResult { NoMatch, Ignored, Included };
  // `base`: the folder relative to the repository's top, with a trailing "/" ("" at the top).
  void Parse(std::string_view text, const std::string& base);
  bool Empty() const { return Patterns.empty(); }
  // `path`: the entry relative to the repository's top; `name`: its last part.
  // `fold`: letters match in either case (core.ignoreCase).
  TResult Match(const std::string& path, std::string_view name, bool isDir, bool fold) const;

 private:
  struct TPattern {
    std::string Text;     // without "!", the trailing "/" and (anchored) the leading "/"
    bool Negative = false;
    bool DirOnly = false;
    bool BaseName = false;  // no "/": matches the name in any folder below
    bool Literal = false;   // no wildcard at all
    bool EndsWith = false;  // "*" and then no wildcard: a comparison of the name's end
    size_t Prefix = 0;      // the length of the text before its first wildcard
  };
  std::string Base;
  std::vector<TPattern> Patterns;
};

// What one repository contributes beyond its .gitignore files.
struct TIgnoreRepo {
  TIgnoreList InfoExclude;  // .git/info/exclude
  TIgnoreList UserExcludes;  // core.excludesFile
  bool IgnoreCase = false;   // core.ignoreCase: patterns match letters in either case
};

// The rules in force in one folder of a walk: its own .gitignore, then those above it.
struct TIgnoreFrame {
  std::shared_ptr<const TIgnoreFrame> Parent;
  std::shared_ptr<const TIgnoreRepo> Repo;
  std::string RelTop;  // the folder relative to the repository's top ("" at the top)
  TIgnoreList List;
};
using TIgnoreScope = std::shared_ptr<const TIgnoreFrame>;

// Whether git ignores the entry `name` of the folder of `scope` (null: outside any work tree,
// nothing is ignored).
bool IsIgnored(const TIgnoreScope& scope, std::string_view name, bool isDir);

// The scope of the folder `path`, named `name` in the folder of `parent`, whose entries are
// `names`: a folder holding ".git" is the top of a repository of its own. Ignore files that
// cannot be read are told in `errors` as "path: reason", and left out.
TIgnoreScope EnterIgnoreFolder(const TIgnoreScope& parent, const std::string& path, std::string_view name,
                               const std::vector<TDirName>& names, std::vector<std::string>& errors);

// Where a walk of `dir` (a resolved path) begins: the scope of the folder above it, with
// the rules of every folder from the repository's top down to there (null when `dir` is no
// part of a work tree, or is itself a repository's top). `dirIgnored` tells whether `dir`
// itself, or a folder on the way down to it, is ignored.
TIgnoreScope IgnoreScopeAbove(const std::string& dir, bool& dirIgnored, std::vector<std::string>& errors);

}  // namespace trawlex
