#include "engine/ChangeSet.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "engine/CharReader.h"
#include "engine/RangeProcessor.h"
#include "engine/RegexReplace.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "engine/TextEncoding.h"
#include "platform/Platform.h"

namespace trawlex {

namespace {

// Where the tools that apply patches look for a NUL byte to call a file binary.
constexpr size_t BinaryProbeSize = 8000;

// The lines of a text as patch tools see them: each ends after an LF, the last one may end
// without. A CR is an ordinary byte here, so CR LF and lone CR stay inside their lines.
class TLines {
 public:
  explicit TLines(std::string_view text) : Text(text) {
    for (size_t p = 0; p < text.size();) {
      Starts.push_back(p);
      const void* lf = std::memchr(text.data() + p, '\n', text.size() - p);
      p = lf ? static_cast<size_t>(static_cast<const char*>(lf) - text.data()) + 1 : text.size();
    }
  }
  int32_t Count() const { return static_cast<int32_t>(Starts.size()); }
  size_t Start(int32_t i) const { return Starts[static_cast<size_t>(i)]; }
  size_t End(int32_t i) const { return i + 1 < Count() ? Starts[static_cast<size_t>(i) + 1] : Text.size(); }
  std::string_view Line(int32_t i) const { return Text.substr(Start(i), End(i) - Start(i)); }
  // The line that holds byte `offset`.
  int32_t LineOf(size_t offset) const {
    return static_cast<int32_t>(std::upper_bound(Starts.begin(), Starts.end(), offset) - Starts.begin()) - 1;
  }

 private:
  std::string_view Text;
  std::vector<size_t> Starts;
};

// Old lines First..Last (whole lines around one or more finds) and what they become.
struct TBlock {
  int32_t First = 0, Last = 0;
  std::string NewText;
};

void AppendLine(std::string& out, char prefix, std::string_view line) {
  out += prefix;
  out.append(line.data(), line.size());
  if (line.empty() || line.back() != '\n') out += "\n\\ No newline at end of file\n";
}

std::string Range(int32_t start0, int32_t count) {
  // An empty range names the line before it.
  return std::to_string(count == 0 ? start0 : start0 + 1) + "," + std::to_string(count);
}

std::vector<TBlock> ChangedBlocks(const TLines& lines, std::string_view content, const TReplaceFile& job,
                                  std::string_view replaceText, const std::vector<std::string>* texts) {
  std::vector<TBlock> blocks;
  std::vector<int32_t> firstFind;  // per block, its first find
  for (int32_t i = 0; i < job.FindCount(); ++i) {
    const size_t offset = static_cast<size_t>(job.FindOffset(i));
    const size_t end = offset + static_cast<size_t>(std::max(job.FindLength(i), 1));
    const int32_t first = lines.LineOf(offset), last = lines.LineOf(end - 1);
    if (!blocks.empty() && first <= blocks.back().Last + 1) {  // adjacent lines: one change
      blocks.back().Last = std::max(blocks.back().Last, last);
    } else {
      blocks.push_back({first, last, {}});
      firstFind.push_back(i);
    }
  }
  for (size_t b = 0; b < blocks.size(); ++b) {
    TBlock& block = blocks[b];
    const size_t blockEnd = lines.End(block.Last);
    size_t p = lines.Start(block.First);
    // An empty find at the very end of the content ("$", "\z") belongs to the last line.
    const auto inBlock = [&](size_t offset) {
      return offset < blockEnd || (offset == blockEnd && blockEnd == content.size());
    };
    for (int32_t i = firstFind[b]; i < job.FindCount() && inBlock(static_cast<size_t>(job.FindOffset(i))); ++i) {
      const size_t offset = static_cast<size_t>(job.FindOffset(i));
      block.NewText.append(content.substr(p, offset - p));
      block.NewText.append(texts ? std::string_view((*texts)[static_cast<size_t>(i)]) : replaceText);
      p = offset + static_cast<size_t>(job.FindLength(i));
    }
    block.NewText.append(content.substr(p, blockEnd - p));
  }
  // A new side that ends inside a line (a replacement took its line break away) would put
  // "\ No newline at end of file" in the middle of a hunk, which `patch` refuses: the block
  // takes in the lines after it, and the block that follows when they meet, until its new
  // side ends with a line break or the file ends.
  std::vector<TBlock> joined;
  for (size_t b = 0; b < blocks.size(); ++b) {
    TBlock block = std::move(blocks[b]);
    while (!block.NewText.empty() && block.NewText.back() != '\n' && block.Last + 1 < lines.Count()) {
      if (b + 1 < blocks.size() && blocks[b + 1].First == block.Last + 1) {
        block.NewText += blocks[b + 1].NewText;
        block.Last = blocks[b + 1].Last;
        ++b;
      } else {
        ++block.Last;
        block.NewText += lines.Line(block.Last);
      }
    }
    joined.push_back(std::move(block));
  }
  blocks = std::move(joined);
  // A replacement equal to the find (same case) changes nothing there.
  std::erase_if(blocks, [&](const TBlock& block) {
    const size_t start = lines.Start(block.First);
    return content.substr(start, lines.End(block.Last) - start) == block.NewText;
  });
  return blocks;
}

bool LooksBinary(std::string_view content) {
  return content.substr(0, BinaryProbeSize).find('\0') != std::string_view::npos;
}

// The base directory's part of `path` taken off, so that the tools find the file from there.
std::string RelativeName(const std::string& path, const std::string& baseDir) {
  std::string base = baseDir;
  if (!base.empty() && base.back() != PathDelim) base += PathDelim;
  std::string name;
  if (!base.empty() && path.size() > base.size() && path.compare(0, base.size(), base) == 0) {
    name = path.substr(base.size());
  } else {
    size_t skip = 0;
    while (skip < path.size() && path[skip] == PathDelim) ++skip;
    name = path.substr(skip);
  }
  std::replace(name.begin(), name.end(), PathDelim, '/');  // patch files name paths with '/'
  return name;
}

// Whether the finds of `job` still hold the target in `content` (the size and time checks come
// first; they miss a quick same-size edit).
bool FindsStillThere(const TSearchParams& params, std::string_view content, const TReplaceFile& job) {
  const TFindRule rule(params);
  const auto* data = reinterpret_cast<const unsigned char*>(content.data());
  const auto size = static_cast<int32_t>(content.size());
  int64_t previousEnd = 0;
  for (int32_t i = 0; i < job.FindCount(); ++i) {
    const int64_t offset = job.FindOffset(i), length = job.FindLength(i);
    if (offset < previousEnd || length < 0 || offset + length > static_cast<int64_t>(content.size())) return false;
    int32_t found = -1;
    if (!rule.IsFindAt(data, size, static_cast<int32_t>(offset), &found) || found != length) return false;
    previousEnd = offset + length;
  }
  return true;
}

}  // namespace

std::string DiffPathName(const std::string& path) {
  const bool plain = std::all_of(path.begin(), path.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > ' ' && u < 0x7f && c != '"' && c != '\\';
  });
  if (plain) return path;
  std::string quoted = "\"";
  for (char c : path) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': quoted += "\\\""; break;
      case '\\': quoted += "\\\\"; break;
      case '\t': quoted += "\\t"; break;
      case '\n': quoted += "\\n"; break;
      default:
        if (u < ' ' || u >= 0x7f) {
          const char octal[] = {'\\', static_cast<char>('0' + (u >> 6)), static_cast<char>('0' + ((u >> 3) & 7)),
                                static_cast<char>('0' + (u & 7))};
          quoted.append(octal, sizeof octal);
        } else {
          quoted += c;
        }
    }
  }
  return quoted + "\"";
}

std::string FileDiff(const std::string& name, std::string_view content, const TReplaceFile& job,
                     std::string_view replaceText, const std::vector<std::string>* texts) {
  const TLines lines(content);
  const std::vector<TBlock> blocks = ChangedBlocks(lines, content, job, replaceText, texts);
  if (blocks.empty()) return {};
  std::string out = "--- " + DiffPathName("a/" + name) + "\n+++ " + DiffPathName("b/" + name) + "\n";
  int32_t delta = 0;  // new line number minus old line number before the current hunk
  for (size_t b = 0; b < blocks.size();) {
    // One hunk: the blocks whose contexts meet or overlap.
    size_t e = b + 1;
    while (e < blocks.size() && blocks[e].First - blocks[e - 1].Last - 1 <= 2 * ChangeSetContext) ++e;
    const int32_t first = std::max(0, blocks[b].First - ChangeSetContext);
    const int32_t last = std::min(lines.Count() - 1, blocks[e - 1].Last + ChangeSetContext);
    std::vector<TLines> newLines;
    int32_t hunkDelta = 0;
    for (size_t k = b; k < e; ++k) {
      newLines.emplace_back(blocks[k].NewText);
      hunkDelta += newLines.back().Count() - (blocks[k].Last - blocks[k].First + 1);
    }
    const int32_t oldCount = last - first + 1;
    out += "@@ -" + Range(first, oldCount) + " +" + Range(first + delta, oldCount + hunkDelta) + " @@\n";
    size_t k = b;
    for (int32_t i = first; i <= last;) {
      if (k < e && i == blocks[k].First) {
        for (int32_t j = blocks[k].First; j <= blocks[k].Last; ++j) AppendLine(out, '-', lines.Line(j));
        const TLines& added = newLines[k - b];
        for (int32_t j = 0; j < added.Count(); ++j) AppendLine(out, '+', added.Line(j));
        i = blocks[k].Last + 1;
        ++k;
      } else {
        AppendLine(out, ' ', lines.Line(i));
        ++i;
      }
    }
    delta += hunkDelta;
    b = e;
  }
  return out;
}

namespace {

// The names a diff of one file goes under: each name a patch tool writes as a regular file
// of the tree. Both tools write a new file in place of the one they patch, so a file with
// several hard-linked names in the tree needs a diff under each to end as the replace
// leaves it; a symbolic link is left alone and the file it names gets the diff, under its
// own name, when that lies inside the tree.
struct TDiffNames {
  std::vector<std::string> Names;  // relative, as in a diff header
  bool Outside = false;            // the real file lies outside the tree
};

// The name of the file itself, symbolic links resolved, relative to the tree; empty when it
// lies outside.
class TNamer {
 public:
  explicit TNamer(const std::string& baseDir) : RealBase(ResolvedPath(baseDir)) {
    if (!RealBase.empty() && RealBase.back() != PathDelim) RealBase += PathDelim;
  }
  std::string RealName(const std::string& path) const {
    const std::string resolved = ResolvedPath(path);
    const bool inside = resolved.size() > RealBase.size() && resolved.compare(0, RealBase.size(), RealBase) == 0;
    return inside ? RelativeName(resolved, RealBase) : std::string();
  }

 private:
  std::string RealBase;
};

TDiffNames DiffNames(const TNamer& namer, const std::vector<const TReplaceFile*>& group) {
  TDiffNames names;
  for (const TReplaceFile* job : group) {
    const std::string real = namer.RealName(job->File->Name);
    if (!real.empty() && std::find(names.Names.begin(), names.Names.end(), real) == names.Names.end())
      names.Names.push_back(real);
  }
  names.Outside = names.Names.empty();
  return names;
}

// The jobs of one file (by device and inode), in job order: the replace changes the file
// under the first of its names and passes over the others.
using TJobGroups = std::map<std::pair<uint64_t, uint64_t>, std::vector<const TReplaceFile*>>;

TJobGroups GroupsByFile(const TReplaceJobList& jobs) {
  TJobGroups groups;
  for (const auto& job : jobs) {
    const TFileIdentity& id = job->File->Identity;
    if (id.Known()) groups[{id.Device, id.Inode}].push_back(job.get());
  }
  return groups;
}

std::string FindsToReplace(const TReplaceFile& job) { return CountText(job.FindCount(), "find") + " to replace"; }

// A change set, one file at a time.
class TChangeSetBuilder {
 public:
  TChangeSetBuilder(const TSearchParams& params, const std::string& replaceText)
      : Params(params), ReplaceText(replaceText), Namer(params.BaseDir) {}

  // The changes of `job`, under the names of the files of `group` (the jobs of its file), or
  // the reason they are not shown.
  void Add(const TReplaceFile& job, const std::vector<const TReplaceFile*>& group);

  TChangeSet Set;

 private:
  // The diffs of `content` under each name of its file in the tree.
  void AddDiffs(const TReplaceFile& job, const std::vector<const TReplaceFile*>& group, const std::string& name,
                std::string_view content, const std::vector<std::string>* texts);
  // A line of the change set that tells why a file's changes are not shown, counted in `count`.
  void NotShown(int32_t& count, const std::string& why) {
    Set.Text += "Not shown: " + why + "\n";
    ++count;
  }

  const TSearchParams& Params;
  const std::string& ReplaceText;
  TCharReader Reader;
  const TNamer Namer;
};

void TChangeSetBuilder::Add(const TReplaceFile& job, const std::vector<const TReplaceFile*>& group) {
  const TSearchFile& file = *job.File;
  const TSearchParams& searched = file.Params ? *file.Params : Params;
  const std::string name = RelativeName(file.Name, Params.BaseDir);
  try {
    Reader.Load(file.Name);
  } catch (const std::exception& e) {
    NotShown(Set.NotShown, DiffPathName(name) + " cannot be read: " + e.what());
    return;
  }
  const std::string_view content(reinterpret_cast<const char*>(Reader.Data()), static_cast<size_t>(Reader.Size()));
  // The finds of a UTF-16 file lie in its text, decoded.
  std::string decoded;
  const bool utf16 = DecodeUtf16Text(content, decoded);
  const std::string_view searchedText = utf16 ? std::string_view(decoded) : content;
  // A regular expression's finds each get the replacement made from their captures.
  std::vector<std::string> texts;
  std::string regexRefusal;
  if (searched.RegExp) regexRefusal = RegexReplacementTexts(searched, ReplaceText, job, std::string(searchedText), texts);
  if (!regexRefusal.empty() && Reader.Size() == file.Size) {
    NotShown(Set.NotShown, DiffPathName(name) + ": " + regexRefusal);
  } else if (Reader.Size() != file.Size || Reader.LoadedInfo().LastWrite() != file.FileTime ||
             (!searched.RegExp && !FindsStillThere(searched, searchedText, job))) {
    NotShown(Set.NotShown, DiffPathName(name) + " changed since the search; search again to see its changes");
  } else if (utf16) {
    // No patch tool applies a diff to UTF-16 bytes: the file is named instead.
    NotShown(Set.Encoded, std::string(EncodingName(DetectEncoding(content))) + " text file " + DiffPathName(name) + ", " +
                              FindsToReplace(job));
  } else if (LooksBinary(content)) {
    NotShown(Set.Binary, "binary file " + DiffPathName(name) + ", " + FindsToReplace(job));
  } else {
    AddDiffs(job, group, name, content, searched.RegExp ? &texts : nullptr);
  }
}

void TChangeSetBuilder::AddDiffs(const TReplaceFile& job, const std::vector<const TReplaceFile*>& group,
                                 const std::string& name, std::string_view content, const std::vector<std::string>* texts) {
  const TDiffNames names = DiffNames(Namer, group);
  if (names.Outside) {
    NotShown(Set.Linked,
             DiffPathName(name) + ", " + FindsToReplace(job) + ": a symbolic link to a file outside the searched folder");
    return;
  }
  bool shown = false;
  for (const std::string& diffName : names.Names) {
    const std::string diff = FileDiff(diffName, content, job, ReplaceText, texts);
    Set.Text += diff;
    shown = shown || !diff.empty();
  }
  if (shown) ++Set.Diffs;
}

}  // namespace

TChangeSet BuildChangeSet(const TSearchParams& params, const TReplaceJobList& jobs, const std::string& replaceText) {
  TChangeSetBuilder builder(params, replaceText);
  TJobGroups groups = GroupsByFile(jobs);
  for (const auto& job : jobs) {
    std::vector<const TReplaceFile*> group{job.get()};
    const TFileIdentity& id = job->File->Identity;
    if (id.Known()) {
      const std::vector<const TReplaceFile*>& same = groups[{id.Device, id.Inode}];
      if (same.front() != job.get()) continue;  // shown with the file's first name
      group = same;
    }
    builder.Add(*job, group);
  }
  return std::move(builder.Set);
}

}  // namespace trawlex
