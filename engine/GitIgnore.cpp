#include "engine/GitIgnore.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "base/TextUtils.h"

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

TWild DoWild(const unsigned char* p, const unsigned char* text, bool pathname) {
  const unsigned char* const pattern = p;
  for (; *p; ++text, ++p) {
    unsigned char pc = *p;
    unsigned char tc = *text;
    if (tc == 0 && pc != '*') return AbortAll;
    switch (pc) {
      case '\\':
        pc = *++p;  // the next byte literally (a "\" at the end matches nothing)
        [[fallthrough]];
      default:
        if (tc != pc) return NoMatch;
        continue;
      case '?':
        if (pathname && tc == '/') return NoMatch;
        continue;
      case '*': {
        bool matchSlash;
        if (*++p == '*') {
          const unsigned char* before = p - 2;
          while (*++p == '*') {
          }
          if ((before < pattern || *before == '/') && (*p == 0 || *p == '/' || (p[0] == '\\' && p[1] == '/'))) {
            // "**/" may match no folder at all: "a/**/b" matches "a/b".
            if (p[0] == '/' && DoWild(p + 1, text, pathname) == Match) return Match;
            matchSlash = true;
          } else {
            matchSlash = !pathname;
          }
        } else {
          matchSlash = !pathname;
        }
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
          break;  // the slash is matched by the loop
        }
        for (;;) {
          if (tc == 0) break;
          if (!IsGlobSpecial(*p)) {
            // The byte after the star must come next: skip to it.
            const unsigned char want = *p;
            while ((tc = *text) != 0 && (matchSlash || tc != '/')) {
              if (tc == want) break;
              ++text;
            }
            if (tc != want) return NoMatch;
          }
          const TWild matched = DoWild(p, text, pathname);
          if (matched != NoMatch) {
            if (!matchSlash || matched != AbortToStarStar) return matched;
          } else if (!matchSlash && tc == '/') {
            return AbortToStarStar;
          }
          tc = *++text;
        }
        return AbortAll;
      }
      case '[': {
        pc = *++p;
        if (pc == '^') pc = '!';
        const bool negated = pc == '!';
        if (negated) pc = *++p;
        unsigned char prev = 0;
        bool matched = false;
        do {
          if (!pc) return AbortAll;
          if (pc == '\\') {
            pc = *++p;
            if (!pc) return AbortAll;
            if (tc == pc) matched = true;
          } else if (pc == '-' && prev && p[1] && p[1] != ']') {
            pc = *++p;
            if (pc == '\\') {
              pc = *++p;
              if (!pc) return AbortAll;
            }
            if (tc <= pc && tc >= prev) matched = true;
            pc = 0;  // no range from here on
          } else if (pc == '[' && p[1] == ':') {
            const unsigned char* s = p += 2;
            while ((pc = *p) && pc != ']') ++p;
            if (!pc) return AbortAll;
            const std::ptrdiff_t length = p - s - 1;
            if (length < 0 || p[-1] != ':') {
              // No ":]": a plain "[" in the class.
              p = s - 2;
              pc = '[';
              if (tc == pc) matched = true;
              continue;
            }
            const std::string_view name(reinterpret_cast<const char*>(s), static_cast<size_t>(length));
            if (!KnownClass(name)) return AbortAll;
            if (ClassHas(name, tc)) matched = true;
            pc = 0;
          } else if (tc == pc) {
            matched = true;
          }
        } while (prev = pc, (pc = *++p) != ']');
        if (matched == negated || (pathname && tc == '/')) return NoMatch;
        continue;
      }
    }
  }
  return *text ? NoMatch : Match;
}

}  // namespace

bool GitWildMatch(const char* pattern, const char* text, bool pathname) {
  return DoWild(reinterpret_cast<const unsigned char*>(pattern), reinterpret_cast<const unsigned char*>(text), pathname) ==
         Match;
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
    p.EndsWith = !t.empty() && t[0] == '*' && !HasWildcard(t.substr(1));
    if (p.Text.empty() && !p.BaseName) continue;  // "/" alone matches nothing
    Patterns.push_back(std::move(p));
  }
}

TIgnoreList::TResult TIgnoreList::Match(const std::string& path, std::string_view name, bool isDir) const {
  for (auto it = Patterns.rbegin(); it != Patterns.rend(); ++it) {
    const TPattern& p = *it;
    if (p.DirOnly && !isDir) continue;
    bool hit;
    if (p.BaseName) {
      if (p.Literal)
        hit = name == p.Text;
      else if (p.EndsWith)
        hit = name.size() >= p.Text.size() - 1 && name.substr(name.size() - (p.Text.size() - 1)) == std::string_view(p.Text).substr(1);
      else
        hit = GitWildMatch(p.Text.c_str(), std::string(name).c_str(), false);
    } else {
      // Relative to the folder of the file, which holds the entry.
      if (path.size() <= Base.size() || path.compare(0, Base.size(), Base) != 0) continue;
      const char* rest = path.c_str() + Base.size();
      hit = p.Literal ? p.Text == rest : GitWildMatch(p.Text.c_str(), rest, true);
    }
    if (hit) return p.Negative ? Included : Ignored;
  }
  return NoMatch;
}

// ---- the files of a repository -----------------------------------------------------------

namespace {

// 1: read; 0: there is no such file; -1: it cannot be read (`error` says why).
int ReadSmallFile(const std::string& path, std::string& text, std::string& error) {
  text.clear();
  if (!FileExists(path)) return 0;
  TReadOnlyFile file;
  if (!file.Open(path, error)) return -1;
  char buffer[65536];
  for (;;) {
    const int64_t got = file.ReadSome(buffer, sizeof buffer, error);
    if (got < 0) return -1;
    if (got == 0) return 1;
    text.append(buffer, static_cast<size_t>(got));
  }
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string LowerAscii(std::string s) {
  for (char& c : s) c = LowerChar(c);
  return s;
}

std::string Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return std::string(s);
}

// The value of core.excludesFile in one configuration file, when it sets it.
bool ConfigExcludesFile(const std::string& text, std::string& value) {
  bool inCore = false, found = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    std::string line = Trim(std::string_view(text).substr(start, nl - start));
    start = nl + 1;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      inCore = close != std::string::npos && LowerAscii(Trim(line.substr(1, close - 1))) == "core";
      line = close == std::string::npos ? "" : Trim(line.substr(close + 1));  // "[core] key = v"
      if (line.empty()) continue;
    }
    if (!inCore) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos || LowerAscii(Trim(line.substr(0, eq))) != "excludesfile") continue;
    // The value: quotes removed, "\" escapes taken, a comment outside quotes cut off.
    std::string v;
    bool quoted = false;
    const std::string raw = Trim(line.substr(eq + 1));
    for (size_t i = 0; i < raw.size(); ++i) {
      const char c = raw[i];
      if (c == '"') {
        quoted = !quoted;
      } else if (c == '\\' && i + 1 < raw.size()) {
        const char e = raw[++i];
        v += e == 'n' ? '\n' : e == 't' ? '\t' : e;
      } else if ((c == '#' || c == ';') && !quoted) {
        break;
      } else {
        v += c;
      }
    }
    value = Trim(v);
    found = true;
  }
  return found;
}

// The repository's own folder for a work tree's ".git" (a folder, or a file naming it), and
// the folder it shares with its other work trees.
std::string CommonGitDir(const std::string& top) {
  std::string gitDir = PathJoin(top, ".git"), text, error;
  if (!DirectoryExists(gitDir) && ReadSmallFile(gitDir, text, error) == 1 && text.rfind("gitdir:", 0) == 0) {
    std::string named = Trim(std::string_view(text).substr(7));
    if (!named.empty() && named.back() == '\n') named.pop_back();
    named = Trim(named);
    gitDir = !named.empty() && named[0] == '/' ? named : PathJoin(top, named);
  }
  if (ReadSmallFile(PathJoin(gitDir, "commondir"), text, error) == 1) {
    const std::string common = Trim(text.substr(0, text.find('\n')));
    if (!common.empty()) return common[0] == '/' ? common : PathJoin(gitDir, common);
  }
  return gitDir;
}

void ReadIgnoreFile(TIgnoreList& list, const std::string& path, const std::string& base, std::vector<std::string>& errors) {
  std::string text, error;
  const int read = ReadSmallFile(path, text, error);
  if (read < 0) errors.push_back(path + ": " + error);
  if (read > 0) list.Parse(text, base);
}

std::shared_ptr<const TIgnoreRepo> LoadRepo(const std::string& top, std::vector<std::string>& errors) {
  auto repo = std::make_shared<TIgnoreRepo>();
  const std::string common = CommonGitDir(top);
  ReadIgnoreFile(repo->InfoExclude, PathJoin(PathJoin(common, "info"), "exclude"), "", errors);

  // core.excludesFile: the last of the system, user and repository settings that sets it.
  const std::string home = Env("HOME"), xdg = Env("XDG_CONFIG_HOME");
  const std::string xdgGit = !xdg.empty() ? PathJoin(xdg, "git") : PathJoin(PathJoin(home, ".config"), "git");
  std::vector<std::string> configs;
  if (Env("GIT_CONFIG_NOSYSTEM").empty()) configs.push_back(Env("GIT_CONFIG_SYSTEM").empty() ? "/etc/gitconfig" : Env("GIT_CONFIG_SYSTEM"));
  if (!Env("GIT_CONFIG_GLOBAL").empty()) {
    configs.push_back(Env("GIT_CONFIG_GLOBAL"));
  } else {
    configs.push_back(PathJoin(xdgGit, "config"));
    if (!home.empty()) configs.push_back(PathJoin(home, ".gitconfig"));
  }
  configs.push_back(PathJoin(common, "config"));
  std::string excludes = PathJoin(xdgGit, "ignore"), text, error;
  for (const std::string& config : configs) {
    std::string value;
    if (ReadSmallFile(config, text, error) == 1 && ConfigExcludesFile(text, value)) excludes = value;
  }
  if (excludes.rfind("~/", 0) == 0) excludes = PathJoin(home, excludes.substr(2));
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
  std::string path = scope->RelTop.empty() ? std::string(name) : scope->RelTop + "/" + std::string(name);
  for (const TIgnoreFrame* f = scope.get(); f; f = f->Parent.get()) {
    if (f->List.Empty()) continue;
    const TIgnoreList::TResult r = f->List.Match(path, name, isDir);
    if (r != TIgnoreList::NoMatch) return r == TIgnoreList::Ignored;
  }
  for (const TIgnoreList* list : {&scope->Repo->InfoExclude, &scope->Repo->UserExcludes}) {
    const TIgnoreList::TResult r = list->Match(path, name, isDir);
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
