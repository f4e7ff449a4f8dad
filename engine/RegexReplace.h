#pragma once
// The replacement text of the regular-expression mode: $1 ... $99, ${name} or ${12}, $0
// (the whole match), $$ (a dollar), and \n, \r, \t, \\ (a line feed, a carriage return, a
// tab, a backslash); every other character stands for itself. Made from the captures of
// each find again when the replace reads the file.
#include <cstdint>
#include <string>
#include <vector>

namespace trawlex {

class TRegex;
class TRegexMatcher;
class TRegexScanner;
class TReplaceFile;

class TRegexReplacement {
 public:
  // Reads `text` for `regex`; raises ETrawlexError, in words, for a reference to a group the
  // pattern lacks or a "$" that starts no reference.
  TRegexReplacement(const std::string& text, const TRegex& regex);
  // Appends the replacement of the matcher's last match in `data`.
  void Expand(const TRegexMatcher& matcher, const unsigned char* data, std::string& out) const;
  // Whether the replacement is the same for every find (it names no group).
  bool Constant() const;

 private:
  struct TPiece {
    std::string Text;    // literal text, when Group < 0
    int32_t Group = -1;
  };
  std::vector<TPiece> Pieces;
  class TParser;
};

// The replacement of each find of `job` in `content`, each checked first to be a find
// still (same start, same length, every rule of the search): empty when all are, else the
// reason the file is not changed.
std::string ExpandRegexReplacements(TRegexScanner& scanner, const TRegexReplacement& replacement, const TReplaceFile& job,
                                    const std::string& content, std::vector<std::string>& texts);

class TSearchParams;

// The same for a search in regular-expression mode and the replacement as the user wrote it
// (which may be refused: its reason is returned).
std::string RegexReplacementTexts(const TSearchParams& params, const std::string& replaceText, const TReplaceFile& job,
                                  const std::string& content, std::vector<std::string>& texts);

}  // namespace trawlex
