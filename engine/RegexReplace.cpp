#include "engine/RegexReplace.h"

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "engine/RegexMatcher.h"
#include "engine/ReplaceThread.h"
#include "engine/SearchParams.h"

namespace trawlex {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// Reads a replacement text into its pieces, one character, escape or group reference at a
// time.
class TRegexReplacement::TParser {
 public:
  TParser(const std::string& text, const TRegex& regex, std::vector<TPiece>& pieces)
      : Text(text), Regex(regex), Pieces(pieces) {}

  void Parse() {
    for (At = 0; At < Text.size(); ++At) {
      const char c = Text[At];
      if (c == '\\' && At + 1 < Text.size()) Escape();
      else if (c == '$') Reference();
      else Literal += c;
    }
    if (!Literal.empty()) Pieces.push_back({std::move(Literal), -1});
  }

 private:
  bool Next(char c) const { return At + 1 < Text.size() && Text[At + 1] == c; }

  // A backslash at At with a character after it.
  void Escape() {
    const char e = Text[At + 1];
    const char* escaped = e == 'n' ? "\n" : e == 'r' ? "\r" : e == 't' ? "\t" : e == '\\' ? "\\" : nullptr;
    if (escaped) {
      Literal += escaped;
      ++At;
      return;
    }
    if (IsDigit(e)) throw ETrawlexError(std::string("The replacement holds \\") + e + ": a group is written $" + e + " here");
    Literal += '\\';
  }

  // A "$" at At: a dollar sign or a reference to a group.
  void Reference() {
    if (Next('$')) {
      Literal += '$';
      ++At;
    } else if (At + 1 < Text.size() && IsDigit(Text[At + 1])) {
      NumberedGroup();
    } else if (Next('{')) {
      BracedGroup();
    } else {
      throw ETrawlexError(Fmt("The replacement has a \"$\" at position %d that names no group: write $$ for a dollar sign",
                              int64_t(At + 1)));
    }
  }

  // One or two digits: $1 ... $99.
  void NumberedGroup() {
    size_t j = At + 1;
    int32_t group = Text[j++] - '0';
    if (j < Text.size() && IsDigit(Text[j])) group = group * 10 + (Text[j++] - '0');
    AddGroup(CheckGroup(group, Text.substr(At + 1, j - At - 1)));
    At = j - 1;
  }

  // ${12} or ${name}.
  void BracedGroup() {
    const size_t close = Text.find('}', At + 2);
    if (close == std::string::npos)
      throw ETrawlexError(Fmt("The replacement has \"${\" without its \"}\" at position %d", int64_t(At + 1)));
    const std::string name = Text.substr(At + 2, close - At - 2);
    bool numeric = !name.empty() && name.size() <= 2;
    for (const char d : name) numeric = numeric && IsDigit(d);
    if (numeric) {
      AddGroup(CheckGroup(std::stoi(name), name));
    } else {
      const int32_t group = name.empty() ? -1 : Regex.GroupNumber(name);
      if (group < 0) throw ETrawlexError("The replacement names the group \"" + name + "\", which the regular expression lacks");
      AddGroup(group);
    }
    At = close;
  }

  int32_t CheckGroup(int32_t group, const std::string& written) const {
    if (group > Regex.CaptureCount())
      throw ETrawlexError("The replacement names group " + written + ", but the regular expression has " +
                          (Regex.CaptureCount() == 0 ? std::string("no groups")
                           : Regex.CaptureCount() == 1 ? std::string("1 group")
                                                       : std::to_string(Regex.CaptureCount()) + " groups"));
    return group;
  }

  void AddGroup(int32_t group) {
    if (!Literal.empty()) Pieces.push_back({std::move(Literal), -1});
    Literal.clear();
    Pieces.push_back({{}, group});
  }

  const std::string& Text;
  const TRegex& Regex;
  std::vector<TPiece>& Pieces;
  std::string Literal;  // the literal text since the last group
  size_t At = 0;        // the character being read
};

TRegexReplacement::TRegexReplacement(const std::string& text, const TRegex& regex) { TParser(text, regex, Pieces).Parse(); }

bool TRegexReplacement::Constant() const {
  for (const TPiece& piece : Pieces)
    if (piece.Group >= 0) return false;
  return true;
}

void TRegexReplacement::Expand(const TRegexMatcher& matcher, const unsigned char* data, std::string& out) const {
  for (const TPiece& piece : Pieces) {
    if (piece.Group < 0) {
      out += piece.Text;
      continue;
    }
    int64_t start = 0, end = 0;
    if (matcher.Group(piece.Group, start, end))  // a group that took no part gives nothing
      out.append(reinterpret_cast<const char*>(data) + start, static_cast<size_t>(end - start));
  }
}

std::string ExpandRegexReplacements(TRegexScanner& scanner, const TRegexReplacement& replacement, const TReplaceFile& job,
                                    const std::string& content, std::vector<std::string>& texts) {
  texts.assign(static_cast<size_t>(job.FindCount()), std::string());
  scanner.NewSubject();
  const auto* data = reinterpret_cast<const unsigned char*>(content.data());
  const auto size = static_cast<int64_t>(content.size());
  int64_t previousEnd = 0;
  for (int32_t i = 0; i < job.FindCount(); ++i) {
    const int64_t offset = job.FindOffset(i), length = job.FindLength(i);
    if (offset < previousEnd || length < 0 || offset + length > size)
      return "The finds to replace overlap or lie outside the file, so it was not changed";
    if (!scanner.IsFindAt(data, size, offset, length))
      return Fmt("The file changed since the search: the find at byte %d is no longer a match of the regular expression, "
                 "so it was not changed",
                 offset);
    replacement.Expand(scanner.Matcher(), data, texts[static_cast<size_t>(i)]);
    previousEnd = offset + length;
  }
  return {};
}

std::string RegexReplacementTexts(const TSearchParams& params, const std::string& replaceText, const TReplaceFile& job,
                                  const std::string& content, std::vector<std::string>& texts) {
  if (!params.Regex) return "The regular expression was not compiled before the search";
  try {
    const TRegexReplacement replacement(replaceText, *params.Regex->Target);
    TRegexScanner scanner(*params.Regex);
    return ExpandRegexReplacements(scanner, replacement, job, content, texts);
  } catch (const ETrawlexError& e) {
    return e.what();
  }
}

}  // namespace trawlex
