#include "engine/GitIgnore.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "base/TextUtils.h"
#include "engine/GitConfig.h"

namespace trawlex {

// ---- the pattern match -------------------------------------------------------------------

namespace {

enum TWild { Match, NoMatch, AbortAll, AbortToStarStar };

bool IsGlobSpecial(unsigned char c) { return c == '*' || c == '?' || c == '[' || c == '\\'; }

bool ClassHas(std::string_view name, unsigned char c) {
  if (name == "alnum") return std::isalnum(c);
  if (name == "alpha") return std::isalpha(c);
  if (name == "blank") return c == ' ' || c == '\t';
  if (name == "cntrl") return std::iscntrl(c);
  if (name == "digit") return std::isdigit(c);
  if (name == "graph") return std::isgraph(c);
  if (name == "lower") return std::islower(c);
  if (name == "print") return std::isprint(c);
  if (name == "punct") return std::ispunct(c);
  if (name == "space") return std::isspace(c);
  if (name == "upper") return std::isupper(c);
  return std::isxdigit(c);  // "xdigit"; other names are refused before
}

bool KnownClass(std::string_view name) {
  for (const char* known : {"alnum", "alpha", "blank", "cntrl", "digit", "graph", "lower", "print", "punct", "space", "upper", "xdigit"})
    if (name == known) return true;
  return false;
}

// Folding lowers the text's letters and the pattern's plain ones, but (as git does) not a
// letter after "\\" or inside a class, so "\\Q" and "[Q]" then match neither "q" nor "Q".
inline unsigned char Fold(unsigned char c, bool fold) { return fold && c >= 'A' && c <= 'Z' ? c + 32 : c; }

// One bracket expression "[...]" of a pattern against one byte of the text.
class TBracket {
 public:
  // `p` is at the "[", `tc` the text's byte (lowered when folding).
  TBracket(const unsigned char* p, unsigned char tc, bool fold) : P(p), Tc(tc), Folding(fold) {}
  // Match when the byte is in the set (End() is then at its "]"), NoMatch when not or when it
  // is a "/" of a path, AbortAll when the expression does not end or names no known class.
  TWild Compare(bool pathname);
  const unsigned char* End() const { return P; }

 private:
  bool Range(unsigned char low);
  bool NamedClass();
  const unsigned char* P;
  unsigned char Pc = 0;  // the pattern's byte at P; 0 when no range may end at it
  const unsigned char Tc;
  const bool Folding;
  bool Matched = false;
};

TWild TBracket::Compare(bool pathname) {
  Pc = *++P;
  if (Pc == '^') Pc = '!';
  const bool negated = Pc == '!';
  if (negated) Pc = *++P;
  unsigned char prev = 0;
  do {
    if (!Pc) return AbortAll;
    if (Pc == '\\') {
      Pc = *++P;
      if (!Pc) return AbortAll;
      if (Tc == Pc) Matched = true;
    } else if (Pc == '-' && prev && P[1] && P[1] != ']') {
      if (!Range(prev)) return AbortAll;
    } else if (Pc == '[' && P[1] == ':') {
      if (!NamedClass()) return AbortAll;
    } else if (Tc == Pc) {
      Matched = true;
    }
  } while (prev = Pc, (Pc = *++P) != ']');
  return Matched == negated || (pathname && Tc == '/') ? NoMatch : Match;
}

// A range from `low` to the byte after the "-" at P; false when the pattern ends in it.
bool TBracket::Range(unsigned char low) {
  Pc = *++P;
  if (Pc == '\\') {
    Pc = *++P;
    if (!Pc) return false;
  }
  if ((Tc <= Pc && Tc >= low) || (Folding && Tc >= 'a' && Tc <= 'z' && Tc - 32 <= Pc && Tc - 32 >= low)) Matched = true;
  Pc = 0;  // no range from here on
  return true;
}

// A "[:name:]" at P; without its ":]" the "[" is a plain one. False when the expression does
// not end or the name is unknown.
bool TBracket::NamedClass() {
  const unsigned char* s = P += 2;
  while ((Pc = *P) && Pc != ']') ++P;
  if (!Pc) return false;
  const std::ptrdiff_t length = P - s - 1;
  if (length < 0 || P[-1] != ':') {
    P = s - 2;
    Pc = '[';
    if (Tc == Pc) Matched = true;
    return true;
  }
  const std::string_view name(reinterpret_cast<const char*>(s), static_cast<size_t>(length));
  if (!KnownClass(name)) return false;
  if (ClassHas(name, Tc) || (Folding && name == "upper" && std::islower(Tc))) Matched = true;
  Pc = 0;
  return true;
}

// git's wildmatch of a pattern against a text. A star tries the rest of the pattern at each
// place it may reach, each try a Compare of its own.
class TWildMatch {
 public:
  TWildMatch(bool pathname, bool fold) : Pathname(pathname), Folding(fold) {}
  TWild Compare(const unsigned char* p, const unsigned char* text) const;

 private:
  std::optional<TWild> Star(const unsigned char* pattern, const unsigned char*& p, const unsigned char*& text) const;
  bool SkipStars(const unsigned char* pattern, const unsigned char*& p) const;
  TWild TryAfterStar(const unsigned char* p, const unsigned char* text, bool matchSlash) const;
  const bool Pathname, Folding;
};

TWild TWildMatch::Compare(const unsigned char* p, const unsigned char* text) const {
  const unsigned char* const pattern = p;
  for (; *p; ++text, ++p) {
    unsigned char pc = Fold(*p, Folding);
    const unsigned char tc = Fold(*text, Folding);
    if (tc == 0 && pc != '*') return AbortAll;
    switch (pc) {
      case '\\':
        pc = *++p;  // the next byte literally (a "\" at the end matches nothing)
        [[fallthrough]];
      default:
        if (tc != pc) return NoMatch;
        continue;
      case '?':
        if (Pathname && tc == '/') return NoMatch;
        continue;
      case '*':
        if (const std::optional<TWild> verdict = Star(pattern, p, text)) return *verdict;
        continue;
      case '[': {
        TBracket bracket(p, tc, Folding);
        const TWild verdict = bracket.Compare(Pathname);
        if (verdict != Match) return verdict;
        p = bracket.End();
        continue;
      }
    }
  }
  return *text ? NoMatch : Match;
}

// The star at p (of the pattern that starts at `pattern`) against the text from `text` on:
// the verdict, or none when the match goes on at p and text (both at a "/").
std::optional<TWild> TWildMatch::Star(const unsigned char* pattern, const unsigned char*& p,
                                      const unsigned char*& text) const {
  const bool folders = SkipStars(pattern, p);
  // "**/" may match no folder at all: "a/**/b" matches "a/b".
  if (folders && p[0] == '/' && Compare(p + 1, text) == Match) return Match;
  const bool matchSlash = folders || !Pathname;
  if (*p == 0) {
    // A trailing "**" matches everything, a trailing "*" the rest of one name.
    if (!matchSlash && std::strchr(reinterpret_cast<const char*>(text), '/')) return NoMatch;
    return Match;
  }
  if (!matchSlash && *p == '/') {
    // One "*" before a "/" takes the rest of this name.
    const char* slash = std::strchr(reinterpret_cast<const char*>(text), '/');
    if (!slash) return NoMatch;
    text = reinterpret_cast<const unsigned char*>(slash);
    return std::nullopt;  // the slash is matched by the loop
  }
  return TryAfterStar(p, text, matchSlash);
}

// Moves p from a "*" past the stars that follow it; true for a "**" that is a whole name
// ("**", "**/", "/**", "/**/"), which matches any number of folders.
bool TWildMatch::SkipStars(const unsigned char* pattern, const unsigned char*& p) const {
  if (*++p != '*') return false;
  const unsigned char* before = p - 2;
  while (*++p == '*') {
  }
  return (before < pattern || *before == '/') && (*p == 0 || *p == '/' || (p[0] == '\\' && p[1] == '/'));
}

// The rest of the pattern (at p) tried at each place of the text a star may take it to.
TWild TWildMatch::TryAfterStar(const unsigned char* p, const unsigned char* text, bool matchSlash) const {
  unsigned char tc = Fold(*text, Folding);
  for (;;) {
    if (tc == 0) break;
    if (!IsGlobSpecial(*p)) {
      // The byte after the star must come next: skip to it.
      const unsigned char want = Fold(*p, Folding);
      while ((tc = Fold(*text, Folding)) != 0 && (matchSlash || tc != '/')) {
        if (tc == want) break;
        ++text;
      }
      if (tc != want) return NoMatch;
    }
    const TWild matched = Compare(p, text);
    if (matched != NoMatch) {
      if (!matchSlash || matched != AbortToStarStar) return matched;
    } else if (!matchSlash && tc == '/') {
      return AbortToStarStar;
    }
    tc = Fold(*++text, Folding);
  }
  return AbortAll;
}

}  // namespace

bool GitWildMatch(const char* pattern, const char* text, bool pathname, bool fold) {
  return TWildMatch(pathname, fold).Compare(reinterpret_cast<const unsigned char*>(pattern),
                                            reinterpret_cast<const unsigned char*>(text)) == Match;
}

// ---- one ignore file ---------------------------------------------------------------------

namespace {

// Trailing blanks go unless the last is escaped with "\".
void TrimTrailingSpaces(std::string& line) {
  size_t lastSpace = std::string::npos;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ' ') {
      if (lastSpace == std::string::npos) lastSpace = i;
    } else if (line[i] == '\\') {
      if (++i >= line.size()) return;
      lastSpace = std::string::npos;
    } else {
      lastSpace = std::string::npos;
    }
  }
  if (lastSpace != std::string::npos) line.resize(lastSpace);
}

bool HasWildcard(std::string_view text) {
  for (const char c : text)
    if (IsGlobSpecial(static_cast<unsigned char>(c))) return true;
  return false;
}

}  // namespace

void TIgnoreList::Parse(std::string_view text, const std::string& base) {
  Base = base;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    std::string line(text.substr(0, nl));
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (nl != std::string_view::npos && !line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    TrimTrailingSpaces(line);
    TPattern p;
    std::string_view t = line;
    if (!t.empty() && t[0] == '!') {
      p.Negative = true;
      t.remove_prefix(1);
    }
    if (!t.empty() && t.back() == '/') {
      p.DirOnly = true;
      t.remove_suffix(1);
    }
    p.BaseName = t.find('/') == std::string_view::npos;
    if (!p.BaseName && t[0] == '/') t.remove_prefix(1);  // anchored: the base stands in front
    p.Text = t;
    p.Literal = !HasWildcard(t);
    p.Prefix = p.Literal ? t.size() : t.find_first_of("*?[\\");
    p.EndsWith = !t.empty() && t[0] == '*' && !HasWildcard(t.substr(1));
    if (p.Text.empty() && !p.BaseName) continue;  // "/" alone matches nothing
    Patterns.push_back(std::move(p));
  }
}

namespace {

bool SameText(std::string_view a, std::string_view b, bool fold) {
  return fold ? a.size() == b.size() && CompareTextAscii(a, b) == 0 : a == b;
}

}  // namespace

TIgnoreList::TResult TIgnoreList::Match(const std::string& path, std::string_view name, bool isDir, bool fold) const {
  for (auto it = Patterns.rbegin(); it != Patterns.rend(); ++it) {
    const TPattern& p = *it;
    if (p.DirOnly && !isDir) continue;
    bool hit;
    if (p.BaseName) {
      if (p.Literal)
        hit = SameText(name, p.Text, fold);
      else if (p.EndsWith)
        hit = name.size() >= p.Text.size() - 1 &&
              SameText(name.substr(name.size() - (p.Text.size() - 1)), std::string_view(p.Text).substr(1), fold);
      else
        hit = GitWildMatch(p.Text.c_str(), std::string(name).c_str(), false, fold);
    } else {
      // Relative to the folder of the file, which holds the entry.
      if (path.size() <= Base.size() || path.compare(0, Base.size(), Base) != 0) continue;
      const std::string_view rest = std::string_view(path).substr(Base.size());
      // The part before the first wildcard is compared as text, the rest matched on its own:
      // so "a**/b" has a "**" of its own that spans folders, as in git.
      hit = rest.size() >= p.Prefix && SameText(rest.substr(0, p.Prefix), std::string_view(p.Text).substr(0, p.Prefix), fold) &&
            (p.Literal ? rest.size() == p.Prefix
                       : GitWildMatch(p.Text.c_str() + p.Prefix, path.c_str() + Base.size() + p.Prefix, true, fold));
    }
    if (hit) return p.Negative ? Included : Ignored;
  }
  return NoMatch;
}

// ---- the files of a repository -----------------------------------------------------------

namespace {

std::string Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
  return std::string(s);
}

struct TGitDirs {
  std::string Own;     // the work tree's own folder: ".git", or a linked work tree's folder in it
  std::string Common;  // the folder it shares with its other work trees
};

TGitDirs FindGitDirs(const std::string& top) {
  TGitDirs dirs{PathJoin(top, ".git"), {}};
  std::string text, error;
  if (!DirectoryExists(dirs.Own) && ReadGitFile(dirs.Own, text, error) == 1 && text.rfind("gitdir:", 0) == 0) {
    const std::string named = Trim(std::string_view(text).substr(7));
    dirs.Own = !named.empty() && named[0] == '/' ? named : PathJoin(top, named);
  }
  dirs.Common = dirs.Own;
  if (ReadGitFile(PathJoin(dirs.Own, "commondir"), text, error) == 1) {
    const std::string common = Trim(text.substr(0, text.find('\n')));
    if (!common.empty()) dirs.Common = common[0] == '/' ? common : PathJoin(dirs.Own, common);
  }
  return dirs;
}

void ReadIgnoreFile(TIgnoreList& list, const std::string& path, const std::string& base, std::vector<std::string>& errors) {
  std::string text, error;
  const int read = ReadGitFile(path, text, error);
  if (read < 0) errors.push_back(path + ": " + error);
  if (read > 0) list.Parse(text, base);
}

std::shared_ptr<const TIgnoreRepo> LoadRepo(const std::string& top, std::vector<std::string>& errors) {
  auto repo = std::make_shared<TIgnoreRepo>();
  const TGitDirs dirs = FindGitDirs(top);
  ReadIgnoreFile(repo->InfoExclude, PathJoin(PathJoin(dirs.Common, "info"), "exclude"), "", errors);

  // The last setting of each wins. Without core.excludesFile git reads git/ignore in the
  // user's configuration folder.
  const std::string folder = GitUserFolder();
  std::string excludes = folder.empty() ? std::string() : PathJoin(folder, "ignore");
  for (const TGitSetting& s : ReadRepoConfig(dirs.Own, dirs.Common, errors)) {
    if (s.Key == "core.excludesfile") {
      const std::optional<std::string> path = s.Value ? ExpandGitPath(*s.Value) : std::nullopt;
      if (!path) {
        errors.push_back(s.File + ": core.excludesFile names no file it can be found at: " + s.Value.value_or(""));
        continue;
      }
      // A relative path starts at the work tree's top, where git runs.
      excludes = path->empty() || IsAbsoluteGitPath(*path) ? *path : PathJoin(top, *path);
    } else if (s.Key == "core.ignorecase") {
      const std::optional<bool> on = GitConfigBool(s.Value);
      if (on)
        repo->IgnoreCase = *on;
      else
        errors.push_back(s.File + ": core.ignoreCase is neither true nor false: " + s.Value.value_or(""));
    }
  }
  if (!excludes.empty()) ReadIgnoreFile(repo->UserExcludes, excludes, "", errors);
  return repo;
}

bool HoldsGitEntry(const std::vector<TDirName>& names) {
  for (const TDirName& n : names)
    if (n.Name == ".git") return true;
  return false;
}

}  // namespace

bool IsIgnored(const TIgnoreScope& scope, std::string_view name, bool isDir) {
  if (!scope) return false;
  if (name == ".git") return true;  // a linked work tree's or a submodule's link to its repository
  const bool fold = scope->Repo->IgnoreCase;
  std::string path = scope->RelTop.empty() ? std::string(name) : scope->RelTop + "/" + std::string(name);
  for (const TIgnoreFrame* f = scope.get(); f; f = f->Parent.get()) {
    if (f->List.Empty()) continue;
    const TIgnoreList::TResult r = f->List.Match(path, name, isDir, fold);
    if (r != TIgnoreList::NoMatch) return r == TIgnoreList::Ignored;
  }
  for (const TIgnoreList* list : {&scope->Repo->InfoExclude, &scope->Repo->UserExcludes}) {
    const TIgnoreList::TResult r = list->Match(path, name, isDir, fold);
    if (r != TIgnoreList::NoMatch) return r == TIgnoreList::Ignored;
  }
  return false;
}

TIgnoreScope EnterIgnoreFolder(const TIgnoreScope& parent, const std::string& path, std::string_view name,
                               const std::vector<TDirName>& names, std::vector<std::string>& errors) {
  auto frame = std::make_shared<TIgnoreFrame>();
  if (HoldsGitEntry(names)) {
    frame->Repo = LoadRepo(path, errors);  // the top of a repository of its own
  } else if (parent) {
    frame->Parent = parent;
    frame->Repo = parent->Repo;
    frame->RelTop = parent->RelTop.empty() ? std::string(name) : parent->RelTop + "/" + std::string(name);
  } else {
    return nullptr;
  }
  for (const TDirName& n : names)
    if (n.Name == ".gitignore" && n.Kind == TEntryKind::File)
      ReadIgnoreFile(frame->List, PathJoin(path, ".gitignore"), frame->RelTop.empty() ? "" : frame->RelTop + "/", errors);
  return frame;
}

TIgnoreScope IgnoreScopeAbove(const std::string& dir, bool& dirIgnored, std::vector<std::string>& errors) {
  dirIgnored = false;
  // The folders above `dir` up to the repository's top, nearest first.
  std::vector<std::string> above;
  std::string top;
  if (FileExists(PathJoin(dir, ".git")) || DirectoryExists(PathJoin(dir, ".git"))) return nullptr;
  for (std::string folder = FolderOf(dir); !folder.empty(); folder = FolderOf(folder)) {
    above.push_back(folder);
    if (FileExists(PathJoin(folder, ".git")) || DirectoryExists(PathJoin(folder, ".git"))) {
      top = folder;
      break;
    }
    if (FolderOf(folder) == folder) break;
  }
  if (top.empty()) return nullptr;
  TIgnoreScope scope;
  for (size_t i = above.size(); i-- > 0;) {
    const std::string& folder = above[i];
    const std::string& next = i > 0 ? above[i - 1] : dir;  // the folder below, on the way to `dir`
    std::vector<TDirName> names;
    if (i + 1 == above.size()) names.push_back({".git", TEntryKind::Directory});
    if (FileExists(PathJoin(folder, ".gitignore"))) names.push_back({".gitignore", TEntryKind::File});
    const std::string name = folder.substr(FolderOf(folder).size() + (FolderOf(folder).back() == PathDelim ? 0 : 1));
    scope = EnterIgnoreFolder(scope, folder, name, names, errors);
    const std::string nextName = next.substr(next.find_last_of(PathDelims) + 1);
    if (IsIgnored(scope, nextName, true)) dirIgnored = true;
  }
  return scope;
}

}  // namespace trawlex
