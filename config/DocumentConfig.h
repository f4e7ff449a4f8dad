#pragma once
// IConfig over a registry document: every operation reads the store's current content, or
// changes it through one self-contained step that the concrete store makes exclusive and
// durable. The value type rules live here once, for the memory and the file store alike.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/Config.h"
#include "config/RegDocument.h"

namespace trawlex {

class TDocumentConfig : public IConfig {
 public:
  // `keyPath` is the store's key below HKEY_CURRENT_USER, for example Software\vantorel\Trawlex.
  explicit TDocumentConfig(const std::string& keyPath);

  // The store's key below HKEY_CURRENT_USER, as given at creation.
  const std::string& KeyPath() const { return FKeyPath; }

  bool ReadBool(const std::string& section, const std::string& ident, bool def) override;
  TDateTime ReadDate(const std::string& section, const std::string& ident, TDateTime def) override;
  TDateTime ReadDateTime(const std::string& section, const std::string& ident, TDateTime def) override;
  int32_t ReadInteger(const std::string& section, const std::string& ident, int32_t def) override;
  double ReadFloat(const std::string& section, const std::string& ident, double def) override;
  std::string ReadString(const std::string& section, const std::string& ident, const std::string& def) override;
  TDateTime ReadTime(const std::string& section, const std::string& ident, TDateTime def) override;
  void WriteBool(const std::string& section, const std::string& ident, bool value) override;
  void WriteDate(const std::string& section, const std::string& ident, TDateTime value) override;
  void WriteDateTime(const std::string& section, const std::string& ident, TDateTime value) override;
  void WriteFloat(const std::string& section, const std::string& ident, double value) override;
  void WriteInteger(const std::string& section, const std::string& ident, int32_t value) override;
  void WriteString(const std::string& section, const std::string& ident, const std::string& value) override;
  void WriteTime(const std::string& section, const std::string& ident, TDateTime value) override;
  void ReadSection(const std::string& section, TStrings& names) override;
  void ReadSections(TStrings& names) override;
  void EraseSection(const std::string& section) override;
  bool ValueExists(const std::string& section, const std::string& ident) override;
  void ReadStrings(const std::string& section, const std::string& ident, TStrings& target, const TStrings& def) override;
  void WriteStrings(const std::string& section, const std::string& ident, const TStrings& source) override;
  void ReadBytes(const std::string& section, const std::string& ident, void* buffer, int32_t size,
                 const void* def) override;
  void WriteBytes(const std::string& section, const std::string& ident, int32_t size, const void* buffer) override;
  void MergeStrings(const std::string& section, const std::string& ident, const TStrings& source,
                    int32_t limit) override;
  std::unique_ptr<IConfigBatch> OpenBatch() override;

 protected:
  friend class TDocumentBatch;

  // Returns true when it changed the document (only then is the result stored). A change
  // owns what it needs: a batch keeps it and applies it again later.
  using TChange = std::function<bool(TRegDocument&)>;

  // The store's current content. A store that reports its own troubles (the file store)
  // answers what it could read; otherwise a failure raises "Failed to get data for '%s'" with
  // `what`.
  virtual std::shared_ptr<const TRegDocument> ReadDocument(const std::string& what) = 0;
  // Applies `change` to the current content and keeps the result, as one step that no other
  // store instance interleaves with. When the change raises, or the result cannot be kept
  // ("Failed to set data for '%s'" with `what`), the store is unchanged. `keyPath` names the
  // key being written, for "Failed to create key %s".
  virtual void ChangeDocument(const std::string& keyPath, const std::string& what, const TChange& change) = 0;

  // The full path ("HKEY_CURRENT_USER\...") of a section's key; empty when the section name
  // cannot be a key name.
  std::string SectionKey(const std::string& section) const;

 private:
  const TRegValue* FindIn(const TRegDocument& doc, const std::string& section, const std::string& ident) const;
  void PutValue(const std::string& section, TRegValue value);
  // Checks the section and name (CheckWritable), then stores what `make` gives for the value
  // named `ident` as it stands (null: none), as one change of the document.
  void PutValueOver(const std::string& section, const std::string& ident,
                    std::function<TRegValue(const TRegValue* existing)> make);
  // The key paths of a section for a write: full and as shown in "Failed to create key %s";
  // raises that error when the section cannot be a key, and "Failed to set data" when the
  // value name cannot be written.
  void CheckWritable(const std::string& section, const std::string& ident, std::string& path,
                     std::string& shown) const;
  template <class R>
  R ReadWith(const std::string& section, const std::string& ident, const std::function<R(const TRegValue*)>& rule);

  std::string FKeyPath;
  std::string FFullPath;
};

// A store over one reading of another document store: reads come from that reading (taken at
// the first read), writes change it and are kept, and Commit applies the kept writes to the
// other store's current content in one of its steps. Without any read, writes are only kept.
class TDocumentBatch final : public TDocumentConfig, public IConfigBatch {
 public:
  explicit TDocumentBatch(TDocumentConfig& target);

  IConfig& Store() override { return *this; }
  void Commit() override;
  IConfigPtr OpenSubConfig(const std::string& name) override { return FTarget.OpenSubConfig(name); }

 protected:
  std::shared_ptr<const TRegDocument> ReadDocument(const std::string& what) override;
  void ChangeDocument(const std::string& keyPath, const std::string& what, const TChange& change) override;

 private:
  struct TKeptChange {
    std::string KeyPath, What;
    TChange Change;
  };
  TDocumentConfig& FTarget;
  std::shared_ptr<const TRegDocument> FReading;
  std::vector<TKeptChange> FChanges;
};

}  // namespace trawlex
