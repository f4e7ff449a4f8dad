#include "engine/GitConfig.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/TextUtils.h"
#include "engine/GitIgnore.h"
#include "platform/Platform.h"

namespace trawlex {

int ReadGitFile(const std::string& path, std::string& text, std::string& error) {
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

// ---- one file's text ----------------------------------------------------------------------

namespace {

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsAlpha(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsKeyChar(int c) { return IsAlpha(c) || (c >= '0' && c <= '9') || c == '-'; }
char Lower(int c) { return LowerChar(static_cast<char>(c)); }

// The text byte by byte as git's reader gives it: "\r\n" as "\n", and "\n" for ever at the end.
class TConfigText {
 public:
  explicit TConfigText(std::string_view text) : Text(text) {
    if (Text.substr(0, 3) == "\xEF\xBB\xBF") Text.remove_prefix(3);
  }
  int Next() {
    CharLine = Line;
    if (Pos >= Text.size()) {
      Eof = true;
      return '\n';
    }
    int c = static_cast<unsigned char>(Text[Pos++]);
    if (c == '\r' && Pos < Text.size() && Text[Pos] == '\n') c = Text[Pos++];
    if (c == '\n') ++Line;
    return c;
  }
  bool Eof = false;
  int CharLine = 1;  // the line of the byte Next gave last

 private:
  std::string_view Text;
  size_t Pos = 0;
  int Line = 1;
};

// "[section]", "[section.sub]" or "[section "sub"]" after the "[": the name lower-cased but
// for a quoted subsection.
bool ReadSection(TConfigText& t, std::string& name) {
  for (;;) {
    int c = t.Next();
    if (t.Eof) return false;
    if (c == ']') return true;
    if (IsSpace(c)) {
      do {
        if (c == '\n') return false;
        c = t.Next();
      } while (IsSpace(c));
      if (c != '"') return false;
      name += '.';
      for (;;) {
        c = t.Next();
        if (c == '\n') return false;
        if (c == '"') break;
        if (c == '\\' && (c = t.Next()) == '\n') return false;
        name += static_cast<char>(c);
      }
      return t.Next() == ']';
    }
    if (!IsKeyChar(c) && c != '.') return false;
    name += Lower(c);
  }
}

// The value after "=": quotes removed, escapes taken, a comment cut off, blanks trimmed
// at both ends (not inside quotes); a "\" at a line's end continues it on the next.
std::optional<std::string> ReadValue(TConfigText& t) {
  std::string value;
  bool quoted = false, comment = false;
  size_t trimTo = 0;
  for (;;) {
    int c = t.Next();
    if (c == '\n') {
      if (quoted) return std::nullopt;
      if (trimTo) value.resize(trimTo);
      return value;
    }
    if (comment) continue;
    if (IsSpace(c) && !quoted) {
      if (!trimTo) trimTo = value.size();
      if (!value.empty()) value += static_cast<char>(c);
      continue;
    }
    if (!quoted && (c == ';' || c == '#')) {
      comment = true;
      continue;
    }
    trimTo = 0;
    if (c == '\\') {
      switch (c = t.Next()) {
        case '\n': continue;
        case 't': c = '\t'; break;
        case 'b': c = '\b'; break;
        case 'n': c = '\n'; break;
        case '\\':
        case '"': break;
        default: return std::nullopt;
      }
      value += static_cast<char>(c);
      continue;
    }
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    value += static_cast<char>(c);
  }
}

}  // namespace

int ParseGitConfig(std::string_view text, std::vector<TGitSetting>& out) {
  TConfigText t(text);
  std::string key;
  size_t sectionLength = 0;
  bool comment = false;
  for (;;) {
    int c = t.Next();
    if (c == '\n') {
      if (t.Eof) return 0;
      comment = false;
      continue;
    }
    if (comment || IsSpace(c)) continue;
    if (c == '#' || c == ';') {
      comment = true;
      continue;
    }
    if (c == '[') {
      key.clear();
      if (!ReadSection(t, key) || key.empty()) return t.CharLine;
      key += '.';
      sectionLength = key.size();
      continue;
    }
    if (!IsAlpha(c)) return t.CharLine;
    key.resize(sectionLength);
    key += Lower(c);
    for (;;) {
      c = t.Next();
      if (t.Eof || !IsKeyChar(c)) break;
      key += Lower(c);
    }
    while (c == ' ' || c == '\t') c = t.Next();
    TGitSetting setting{key, std::nullopt, {}};
    if (c != '\n') {
      if (c != '=' || !(setting.Value = ReadValue(t))) return t.CharLine;
    }
    out.push_back(std::move(setting));
  }
}

std::optional<bool> GitConfigBool(const std::optional<std::string>& value) {
  if (!value) return true;
  std::string v = *value;
  for (char& c : v) c = LowerChar(c);
  if (v == "true" || v == "yes" || v == "on") return true;
  if (v.empty() || v == "false" || v == "no" || v == "off") return false;
  // A number as C reads one (decimal, 0x hexadecimal, 0 octal), times k, m or g.
  char* end = nullptr;
  errno = 0;
  long long n = std::strtoll(v.c_str(), &end, 0);
  if (end == v.c_str() || errno == ERANGE) return std::nullopt;
  const std::string_view unit(end);
  const long long factor = unit.empty() ? 1 : unit == "k" ? 1024 : unit == "m" ? 1024 * 1024 : unit == "g" ? 1024 * 1024 * 1024 : 0;
  if (!factor || n > INT_MAX / factor || n < INT_MIN / factor) return std::nullopt;
  return n != 0;
}

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

}  // namespace

std::string GitUserFolder() {
  const std::string xdg = Env("XDG_CONFIG_HOME"), home = Env("HOME");
  if (!xdg.empty()) return PathJoin(xdg, "git");
  return home.empty() ? std::string() : PathJoin(PathJoin(home, ".config"), "git");
}

bool IsAbsoluteGitPath(std::string_view path) {
  if (!path.empty() && (path[0] == '/' || path[0] == PathDelim)) return true;
#ifdef _WIN32
  return path.size() > 1 && path[1] == ':';
#else
  return false;
#endif
}

std::optional<std::string> ExpandGitPath(const std::string& path) {
  if (path.empty() || path[0] != '~') return path;
  if (path.size() > 1 && path[1] != '/' && path[1] != PathDelim) return std::nullopt;  // "~user"
  const char* home = std::getenv("HOME");
  if (!home) return std::nullopt;
  return home + path.substr(1);
}

// ---- the files of a repository ------------------------------------------------------------

namespace {

constexpr int MaxIncludeDepth = 10;  // as git: deeper is taken for a loop

struct TConfigRead {
  std::string GitDir;
  std::vector<TGitSetting> Settings;
  std::vector<std::string>& Errors;
};

// "gitdir:" (`fold`: "gitdir/i:") of "[includeIf]": whether the repository's folder matches
// `pattern`, written in the file `configFile`.
bool GitDirMatches(std::string pattern, bool fold, const std::string& configFile, const std::string& gitDir) {
  if (pattern.size() >= 2 && pattern[0] == '~' && (pattern[1] == '/' || pattern[1] == PathDelim)) {
    const char* home = std::getenv("HOME");
    if (!home) return false;
    pattern = ResolvedPath(home) + pattern.substr(1);
  } else if (!pattern.empty() && pattern[0] == '~') {
    return false;
  }
  size_t prefix = 0;  // compared as text, so that wildcards in the folder's own name stay literal
  if (pattern.size() >= 2 && pattern[0] == '.' && (pattern[1] == '/' || pattern[1] == PathDelim)) {
    const std::string file = ResolvedPath(configFile);
    const std::string folder = file.substr(0, file.find_last_of(PathDelims));
    pattern = folder + pattern.substr(1);
    prefix = folder.size() + 1;
  } else if (!IsAbsoluteGitPath(pattern)) {
    pattern = "**/" + pattern;
  }
  if (!pattern.empty() && (pattern.back() == '/' || pattern.back() == PathDelim)) pattern += "**";
  // The folder's real path first, then the path the walk took to it.
  for (const std::string& text : {ResolvedPath(gitDir), gitDir}) {
    if (text.size() < prefix) continue;
    const std::string_view a(pattern.data(), prefix), b(text.data(), prefix);
    if (fold ? CompareTextAscii(a, b) != 0 : a != b) continue;
    if (GitWildMatch(pattern.c_str() + prefix, text.c_str() + prefix, true, fold)) return true;
  }
  return false;
}

// "onbranch:" of "[includeIf]": whether the branch checked out matches `pattern`.
bool BranchMatches(std::string pattern, const std::string& gitDir) {
  std::string head, error;
  if (ReadGitFile(PathJoin(gitDir, "HEAD"), head, error) != 1 || head.rfind("ref: refs/heads/", 0) != 0) return false;
  head = head.substr(16, head.find_first_of("\r\n") - 16);
  if (!pattern.empty() && pattern.back() == '/') pattern += "**";
  return GitWildMatch(pattern.c_str(), head.c_str(), true);
}

void ReadConfigFile(TConfigRead& read, const std::string& path, int depth) {
  std::string text, error;
  const int got = ReadGitFile(path, text, error);
  if (got < 0) read.Errors.push_back(path + ": " + error);
  if (got <= 0) return;
  std::vector<TGitSetting> settings;
  if (const int bad = ParseGitConfig(text, settings))
    read.Errors.push_back(path + ": line " + std::to_string(bad) + " is no git setting");
  for (TGitSetting& s : settings) {
    bool include = s.Key == "include.path";
    if (!include && s.Key.rfind("includeif.", 0) == 0 && s.Key.size() > 15 && s.Key.compare(s.Key.size() - 5, 5, ".path") == 0) {
      const std::string condition = s.Key.substr(10, s.Key.size() - 15);
      if (condition.rfind("gitdir:", 0) == 0)
        include = GitDirMatches(condition.substr(7), false, path, read.GitDir);
      else if (condition.rfind("gitdir/i:", 0) == 0)
        include = GitDirMatches(condition.substr(9), true, path, read.GitDir);
      else if (condition.rfind("onbranch:", 0) == 0)
        include = BranchMatches(condition.substr(9), read.GitDir);
    }
    s.File = path;
    read.Settings.push_back(s);
    if (!include) continue;
    std::optional<std::string> named;
    if (!s.Value) {
      read.Errors.push_back(path + ": a file to include is not named");
      continue;
    }
    if (!(named = ExpandGitPath(*s.Value))) {
      read.Errors.push_back(path + ": cannot tell which file \"" + *s.Value + "\" is");
      continue;
    }
    if (!IsAbsoluteGitPath(*named)) named = path.substr(0, path.find_last_of(PathDelims) + 1) + *named;
    if (depth == MaxIncludeDepth) {
      read.Errors.push_back(path + ": includes " + *named + " more than " + std::to_string(MaxIncludeDepth) +
                            " files deep (a loop?)");
      continue;
    }
    ReadConfigFile(read, *named, depth + 1);
  }
}

}  // namespace

std::vector<TGitSetting> ReadRepoConfig(const std::string& gitDir, const std::string& commonDir,
                                        std::vector<std::string>& errors) {
  TConfigRead read{gitDir, {}, errors};
  const char* noSystem = std::getenv("GIT_CONFIG_NOSYSTEM");  // a boolean: "0" and "false" read it
  if (!noSystem || !GitConfigBool(std::string(noSystem)).value_or(true))
    ReadConfigFile(read, Env("GIT_CONFIG_SYSTEM").empty() ? "/etc/gitconfig" : Env("GIT_CONFIG_SYSTEM"), 0);
  if (!Env("GIT_CONFIG_GLOBAL").empty()) {
    ReadConfigFile(read, Env("GIT_CONFIG_GLOBAL"), 0);
  } else {
    const std::string folder = GitUserFolder(), home = Env("HOME");
    if (!folder.empty()) ReadConfigFile(read, PathJoin(folder, "config"), 0);
    if (!home.empty()) ReadConfigFile(read, PathJoin(home, ".gitconfig"), 0);
  }
  const size_t repoStart = read.Settings.size();
  ReadConfigFile(read, PathJoin(commonDir, "config"), 0);
  bool worktreeConfig = false;
  for (size_t i = repoStart; i < read.Settings.size(); ++i)
    if (read.Settings[i].Key == "extensions.worktreeconfig") worktreeConfig = GitConfigBool(read.Settings[i].Value).value_or(false);
  if (worktreeConfig) ReadConfigFile(read, PathJoin(gitDir, "config.worktree"), 0);
  return std::move(read.Settings);
}

}  // namespace trawlex
