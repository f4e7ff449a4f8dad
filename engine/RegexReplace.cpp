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

TRegexReplacement::TRegexReplacement(const std::string& text, const TRegex& regex) {
  std::string literal;
  auto addGroup = [&](int32_t group) {
    if (!literal.empty()) Pieces.push_back({std::move(literal), -1});
    literal.clear();
    Pieces.push_back({{}, group});
  };
  auto checkGroup = [&](int32_t group, const std::string& written) {
    if (group > regex.CaptureCount())
      throw ETrawlexError("The replacement names group " + written + ", but the regular expression has " +
                          (regex.CaptureCount() == 0 ? std::string("no groups")
                           : regex.CaptureCount() == 1 ? std::string("1 group")
                                                       : std::to_string(regex.CaptureCount()) + " groups"));
    return group;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      const char e = text[i + 1];
      const char* escaped = e == 'n' ? "\n" : e == 'r' ? "\r" : e == 't' ? "\t" : e == '\\' ? "\\" : nullptr;
      if (escaped) {
        literal += escaped;
        ++i;
        continue;
      }
      if (IsDigit(e))
        throw ETrawlexError(std::string("The replacement holds \\") + e + ": a group is written $" + e + " here");
      literal += c;
      continue;
    }
    if (c != '$') {
      literal += c;
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == '$') {
      literal += '$';
      ++i;
    } else if (i + 1 < text.size() && IsDigit(text[i + 1])) {
      // One or two digits: $1 ... $99.
      size_t j = i + 1;
      int32_t group = text[j++] - '0';
      if (j < text.size() && IsDigit(text[j])) group = group * 10 + (text[j++] - '0');
      addGroup(checkGroup(group, text.substr(i + 1, j - i - 1)));
      i = j - 1;
    } else if (i + 1 < text.size() && text[i + 1] == '{') {
      const size_t close = text.find('}', i + 2);
      if (close == std::string::npos)
        throw ETrawlexError(Fmt("The replacement has \"${\" without its \"}\" at position %d", int64_t(i + 1)));
      const std::string name = text.substr(i + 2, close - i - 2);
      bool numeric = !name.empty() && name.size() <= 2;
      for (const char d : name) numeric = numeric && IsDigit(d);
      if (numeric) {
        addGroup(checkGroup(std::stoi(name), name));
      } else {
        const int32_t group = name.empty() ? -1 : regex.GroupNumber(name);
        if (group < 0) throw ETrawlexError("The replacement names the group \"" + name + "\", which the regular expression lacks");
        addGroup(group);
      }
      i = close;
    } else {
      throw ETrawlexError(Fmt("The replacement has a \"$\" at position %d that names no group: write $$ for a dollar sign",
                              int64_t(i + 1)));
    }
  }
  if (!literal.empty()) Pieces.push_back({std::move(literal), -1});
}

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
