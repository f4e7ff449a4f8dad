#pragma once
// The inputs of a search as configuration elements, in the order the settings keep them:
// cbxTarget.Text, cbxDirectory.Directory, memPatterns.Lines (when wanted), cbxExclude.Text,
// chkSubdirs.Checked, chkCaseSenstv.Checked, chkWholeWord.Checked, chkRegExp.Checked, chkHidden.Checked,
// chkBinarySkip.Checked, cbxFolderSkip.Text, chkIgnored.Checked. The window binds its
// controls; without a window, plain stand-ins with the same names and properties serve, so
// the command line is read by one parser either way.
#include <memory>
#include <string>
#include <vector>

#include "config/CfgBindings.h"
#include "config/CfgElements.h"

namespace trawlex {

// What the search window shows for an input: the caption of its label or box ("&" marks the
// access key; empty: the control has none) and its hint. The usage text names the switches by
// the same words.
struct TInputText {
  const char* Caption;
  const char* Hint;
};
namespace InputText {
inline constexpr TInputText Target{"&Target", "Find this text"};
inline constexpr TInputText Directory{"", ""};
inline constexpr TInputText Patterns{"", "List of filename patterns, using wildcards"};
inline constexpr TInputText Exclude{"Exclude", "Exclude finds where target is part of this"};
inline constexpr TInputText Subdirs{"Subdirs", "Search subdirectories recursively"};
inline constexpr TInputText CaseSensitive{"Case sensitive", "Only include if case in file matches target"};
inline constexpr TInputText WholeWord{"Whole word", "Include whole words only"};
inline constexpr TInputText RegExp{"Regular expression",
                                   "Target and exclude text are regular expressions (Perl syntax); the replacement may hold $1, ${name}"};
inline constexpr TInputText Hidden{"Hidden files", "Also search files and folders whose names begin with a dot"};
inline constexpr TInputText BinarySkip{"Skip binary", "Leave out files with a zero byte in their first 64 KiB"};
inline constexpr TInputText Ignored{"Skip ignored", "Leave out what git ignores (.gitignore, .git/info/exclude, your excludes file)"};
inline constexpr TInputText FolderSkip{"S&kip folders", "Folders never searched: names, or paths with a /, separated by |"};
}  // namespace InputText

struct TSearchInputControls {
  ICfgComponent* Target;     // published "Text"
  ICfgComponent* Directory;  // published "Directory"
  ICfgStrings* Patterns;     // null: the patterns are not part of the list
  ICfgComponent* Exclude;    // published "Text"
  ICfgComponent* Subdirs;    // published "Checked"
  ICfgComponent* CaseSensitive;
  ICfgComponent* WholeWord;
  ICfgComponent* RegExp;      // published "Checked"
  ICfgComponent* Hidden;      // published "Checked"
  ICfgComponent* BinarySkip;  // published "Checked"
  ICfgComponent* FolderSkip;  // published "Text"
  ICfgComponent* Ignored;     // published "Checked"
};

// Adds the elements of the last search's inputs to `list`, in their order.
void AddSearchInputElements(TBaseCfgList& list, const TSearchInputControls& controls);

// A text input without a window ("TTextInput": "Text" and "Directory").
class TTextInput : public ICfgComponent {
 public:
  explicit TTextInput(std::string name);
  std::string ComponentName() const override { return FName; }
  std::string ComponentClassName() const override { return "TTextInput"; }
  const TPropRegistry& Properties() const override;
  std::string Text() const { return FText; }
  void SetText(const std::string& text) { FText = text; }

 private:
  std::string FName, FText;
};

// A switch without a window ("TCheckInput": "Checked").
class TCheckInput : public ICfgComponent {
 public:
  TCheckInput(std::string name, bool checked);
  std::string ComponentName() const override { return FName; }
  std::string ComponentClassName() const override { return "TCheckInput"; }
  const TPropRegistry& Properties() const override;
  bool Checked() const { return FChecked; }
  void SetChecked(bool checked) { FChecked = checked; }

 private:
  std::string FName;
  bool FChecked;
};

// The search inputs with the search window's design values (patterns "*.*", Subdirs on),
// bound into a list over a store of their own.
class TSearchInputs {
 public:
  TSearchInputs();
  TBaseCfgList& List() { return *FList; }

  TTextInput Target{"cbxTarget"}, Directory{"cbxDirectory"}, Exclude{"cbxExclude"}, FolderSkip{"cbxFolderSkip"};
  std::vector<std::string> Patterns{"*.*"};
  TCheckInput Subdirs{"chkSubdirs", true}, CaseSensitive{"chkCaseSenstv", false}, WholeWord{"chkWholeWord", false};
  TCheckInput RegExp{"chkRegExp", false};
  TCheckInput Hidden{"chkHidden", false}, BinarySkip{"chkBinarySkip", false}, Ignored{"chkIgnored", false};

 private:
  TStringsRef FPatternLines{Patterns};
  std::unique_ptr<TBaseCfgList> FList;
};

}  // namespace trawlex
