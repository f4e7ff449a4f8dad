#pragma once
// git's configuration files, read the way git reads them for one repository: the system's
// file (/etc/gitconfig, or $GIT_CONFIG_SYSTEM; none with $GIT_CONFIG_NOSYSTEM), the user's
// ($XDG_CONFIG_HOME/git/config, by default ~/.config/git/config, then ~/.gitconfig; or
// $GIT_CONFIG_GLOBAL alone), the repository's config, and its work tree's config.worktree
// when extensions.worktreeConfig is set. A later setting overrides an earlier one.
// "[include] path" and "[includeIf "gitdir:..."] path" (also "gitdir/i:" and "onbranch:")
// read another file at that place; "hasconfig:" and unknown conditions are taken as false.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trawlex {

// Reads a small file whole. 1: read; 0: there is no such file; -1: it cannot be read
// (`error` says why).
int ReadGitFile(const std::string& path, std::string& text, std::string& error);

// One setting: `Key` is "section.name" or "section.subsection.name" with the section and the
// name in lower case (a subsection keeps its case); a name without "=" has no `Value`.
struct TGitSetting {
  std::string Key;
  std::optional<std::string> Value;
  std::string File;  // the file that holds it (set by ReadRepoConfig)
};

// Adds the settings of one file's text to `out` in their order. Returns 0 when all of it
// was read, else the number of the first line git refuses (nothing from there on is added).
int ParseGitConfig(std::string_view text, std::vector<TGitSetting>& out);

// git's reading of a boolean: no value, "true", "yes", "on" or a non-zero number (with an
// optional k, m or g); "false", "no", "off", "" or zero. Nothing when it is neither.
std::optional<bool> GitConfigBool(const std::optional<std::string>& value);

// A path as git expands it: "~" and "~/..." lead into $HOME. Nothing when $HOME is unset
// and the path needs it, or for "~user/...".
std::optional<std::string> ExpandGitPath(const std::string& path);

// The user's git folder: $XDG_CONFIG_HOME/git, by default ~/.config/git ("" without either).
std::string GitUserFolder();

// Whether `path` starts at a root (else git takes it from some folder).
bool IsAbsoluteGitPath(std::string_view path);

// Every setting in force for the repository whose own folder (".git", or a linked work
// tree's folder in it) is `gitDir` and whose shared folder is `commonDir`, in git's order.
// Files that cannot be read or that git would refuse are told in `errors` as
// "path: reason"; the settings before the fault are kept.
std::vector<TGitSetting> ReadRepoConfig(const std::string& gitDir, const std::string& commonDir,
                                        std::vector<std::string>& errors);

}  // namespace trawlex
