#pragma once
// IConfig: the settings store as the configuration elements see it. A store holds sections
// (an empty section is its top level) of named, typed values; every read returns its default
// when the section or the value does not exist. Stores are shared by reference count
// (IConfigPtr); the last holder's release destroys the store.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace trawlex {

// A list of lines; its text is every line followed by CR LF.
using TStrings = std::vector<std::string>;

class IConfig;
using IConfigPtr = std::shared_ptr<IConfig>;

// A store seen through one reading of its content (see IConfig::OpenBatch).
class IConfigBatch {
 public:
  virtual ~IConfigBatch() = default;
  // The store whose reads all come from the one reading, and whose writes are kept for Commit.
  virtual IConfig& Store() = 0;
  // Applies the kept writes to the underlying store in one step, on its content as it is now.
  virtual void Commit() = 0;
};

class IConfig {
 public:
  virtual ~IConfig() = default;

  virtual bool ReadBool(const std::string& section, const std::string& ident, bool def) = 0;
  virtual TDateTime ReadDate(const std::string& section, const std::string& ident, TDateTime def) = 0;
  virtual TDateTime ReadDateTime(const std::string& section, const std::string& ident, TDateTime def) = 0;
  virtual int32_t ReadInteger(const std::string& section, const std::string& ident, int32_t def) = 0;
  virtual double ReadFloat(const std::string& section, const std::string& ident, double def) = 0;
  virtual std::string ReadString(const std::string& section, const std::string& ident, const std::string& def) = 0;
  virtual TDateTime ReadTime(const std::string& section, const std::string& ident, TDateTime def) = 0;
  virtual void WriteBool(const std::string& section, const std::string& ident, bool value) = 0;
  virtual void WriteDate(const std::string& section, const std::string& ident, TDateTime value) = 0;
  virtual void WriteDateTime(const std::string& section, const std::string& ident, TDateTime value) = 0;
  virtual void WriteFloat(const std::string& section, const std::string& ident, double value) = 0;
  virtual void WriteInteger(const std::string& section, const std::string& ident, int32_t value) = 0;
  virtual void WriteString(const std::string& section, const std::string& ident, const std::string& value) = 0;
  virtual void WriteTime(const std::string& section, const std::string& ident, TDateTime value) = 0;
  // The names of the values in `section`; empty when it does not exist.
  virtual void ReadSection(const std::string& section, TStrings& names) = 0;
  // The names of the sections.
  virtual void ReadSections(TStrings& names) = 0;
  // Deletes the section with all its values; a missing section is no error.
  virtual void EraseSection(const std::string& section) = 0;
  // Whether the section holds a value of that name (names compared without regard to case).
  virtual bool ValueExists(const std::string& section, const std::string& ident) = 0;
  // A new, separate store one level below this one, named `name`.
  virtual IConfigPtr OpenSubConfig(const std::string& name) = 0;
  // Replaces `target` with the stored list; the text of `def` is the default. `target` and
  // `def` may be the same list.
  virtual void ReadStrings(const std::string& section, const std::string& ident, TStrings& target,
                           const TStrings& def) = 0;
  virtual void WriteStrings(const std::string& section, const std::string& ident, const TStrings& source) = 0;
  // Fills `buffer` with the stored block when one of exactly `size` bytes is stored;
  // otherwise copies `size` bytes from `def` into `buffer` when `def` is given.
  virtual void ReadBytes(const std::string& section, const std::string& ident, void* buffer, int32_t size,
                         const void* def) = 0;
  virtual void WriteBytes(const std::string& section, const std::string& ident, int32_t size, const void* buffer) = 0;

  // Writes a history list: the lines of `source` first, then the stored lines that are not
  // among them (letter case ignored), up to `limit` lines in all. So two running copies that
  // each add to a history keep both additions. The document stores make the read of the
  // stored lines and the write one step; this default reads, then writes.
  virtual void MergeStrings(const std::string& section, const std::string& ident, const TStrings& source,
                            int32_t limit);
  // A batch over this store: every read comes from one reading of the store, and the writes
  // go to the store together on Commit, as one step (for the file store, one locked write).
  // Null when the store has no such step; then its own operations serve.
  virtual std::unique_ptr<IConfigBatch> OpenBatch() { return nullptr; }
};

// The history `source` followed by the lines of `stored` that it lacks (empty lines and
// duplicates, letter case ignored, are skipped), cut to `limit` lines unless `source` alone
// is longer.
TStrings MergeHistory(const TStrings& source, const TStrings& stored, int32_t limit);

// A list's text: every line followed by CR LF; an empty list gives the empty text.
std::string StringsText(const TStrings& lines);
// Splits text into lines at CR LF, lone CR or lone LF; a final line break adds no empty line.
void SetStringsText(TStrings& lines, const std::string& text);
// The lines of a text: each CR LF, lone CR or lone LF ends one; a last line without a
// break counts, an empty rest after the last break does not.
std::vector<std::string_view> SplitTextLines(std::string_view text);

}  // namespace trawlex
