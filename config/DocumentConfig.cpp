#include "config/DocumentConfig.h"

#include <cstring>

#include "base/Errors.h"
#include "base/TextUtils.h"
#include "config/RegValue.h"

namespace trawlex {

namespace {

const char* const kHive = "HKEY_CURRENT_USER";

bool HasControlChar(const std::string& s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) < 0x20) return true;
  }
  return false;
}

// A key path below the hive: non-empty names separated by single backslashes.
bool ValidKeyNames(const std::string& path) {
  if (path.empty() || HasControlChar(path)) return false;
  size_t start = 0;
  for (;;) {
    const size_t bs = path.find('\\', start);
    const size_t len = (bs == std::string::npos ? path.size() : bs) - start;
    if (len == 0 || TrimText(path.substr(start, len)).empty()) return false;
    if (bs == std::string::npos) return true;
    start = bs + 1;
  }
}

std::string DoubleBytes(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  std::string out(8, '\0');
  PutLittleEndian(out.data(), bits, 8);
  return out;
}

}  // namespace

TDocumentConfig::TDocumentConfig(const std::string& keyPath) : FKeyPath(keyPath) {
  std::string trimmed = keyPath;
  while (!trimmed.empty() && trimmed.front() == '\\') trimmed.erase(0, 1);
  while (!trimmed.empty() && trimmed.back() == '\\') trimmed.pop_back();
  if (!ValidKeyNames(trimmed)) throw ETrawlexError(Fmt("Failed to create key %s", keyPath));
  FFullPath = std::string(kHive) + "\\" + trimmed;
}

std::string TDocumentConfig::SectionKey(const std::string& section) const {
  if (section.empty()) return FFullPath;
  return ValidKeyNames(section) ? FFullPath + "\\" + section : std::string();
}

const TRegValue* TDocumentConfig::FindIn(const TRegDocument& doc, const std::string& section,
                                         const std::string& ident) const {
  const std::string path = SectionKey(section);
  if (path.empty()) return nullptr;
  const TRegKey* key = doc.FindKey(path);
  return key ? key->FindValue(ident) : nullptr;
}

template <class R>
R TDocumentConfig::ReadWith(const std::string& section, const std::string& ident,
                            const std::function<R(const TRegValue*)>& rule) {
  const auto doc = ReadDocument(ident);
  return rule(FindIn(*doc, section, ident));
}

void TDocumentConfig::CheckWritable(const std::string& section, const std::string& ident, std::string& path,
                                    std::string& shown) const {
  path = SectionKey(section);
  shown = section.empty() ? FKeyPath : FKeyPath + "\\" + section;
  if (path.empty()) throw ETrawlexError(Fmt("Failed to create key %s", shown));
  // A name with a line break or other control character cannot be written as a value line.
  if (HasControlChar(ident)) throw ETrawlexError(Fmt("Failed to set data for '%s'", ident));
}

void TDocumentConfig::PutValueOver(const std::string& section, const std::string& ident,
                                   std::function<TRegValue(const TRegValue* existing)> make) {
  std::string path, shown;
  CheckWritable(section, ident, path, shown);
  ChangeDocument(shown, ident, [root = FFullPath, path, ident, make = std::move(make)](TRegDocument& doc) {
    doc.CreateKey(root);
    TRegKey& key = doc.CreateKey(path);
    key.PutValue(make(key.FindValue(ident)));
    return true;
  });
}

void TDocumentConfig::PutValue(const std::string& section, TRegValue value) {
  const std::string ident = value.Name;
  PutValueOver(section, ident, [value = std::move(value)](const TRegValue*) { return value; });
}

bool TDocumentConfig::ReadBool(const std::string& section, const std::string& ident, bool def) {
  return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

TDateTime TDocumentConfig::ReadDate(const std::string& section, const std::string& ident, TDateTime def) {
  return ReadFloat(section, ident, def);
}

TDateTime TDocumentConfig::ReadDateTime(const std::string& section, const std::string& ident, TDateTime def) {
  return ReadFloat(section, ident, def);
}

TDateTime TDocumentConfig::ReadTime(const std::string& section, const std::string& ident, TDateTime def) {
  return ReadFloat(section, ident, def);
}

int32_t TDocumentConfig::ReadInteger(const std::string& section, const std::string& ident, int32_t def) {
  return ReadWith<int32_t>(section, ident, [&](const TRegValue* v) { return ReadIntegerValue(v, ident, def); });
}

double TDocumentConfig::ReadFloat(const std::string& section, const std::string& ident, double def) {
  return ReadWith<double>(section, ident, [&](const TRegValue* v) { return ReadFloatValue(v, ident, def); });
}

std::string TDocumentConfig::ReadString(const std::string& section, const std::string& ident, const std::string& def) {
  return ReadWith<std::string>(section, ident, [&](const TRegValue* v) { return ReadStringValue(v, ident, def); });
}

void TDocumentConfig::WriteBool(const std::string& section, const std::string& ident, bool value) {
  WriteString(section, ident, value ? "1" : "0");
}

void TDocumentConfig::WriteDate(const std::string& section, const std::string& ident, TDateTime value) {
  WriteFloat(section, ident, value);
}

void TDocumentConfig::WriteDateTime(const std::string& section, const std::string& ident, TDateTime value) {
  WriteFloat(section, ident, value);
}

void TDocumentConfig::WriteTime(const std::string& section, const std::string& ident, TDateTime value) {
  WriteFloat(section, ident, value);
}

void TDocumentConfig::WriteFloat(const std::string& section, const std::string& ident, double value) {
  PutValue(section, TRegValue{ident, RegBinary, DoubleBytes(value)});
}

void TDocumentConfig::WriteInteger(const std::string& section, const std::string& ident, int32_t value) {
  // The existing value's type decides, so the check and the write are one step.
  PutValueOver(section, ident, [ident, value](const TRegValue* existing) { return IntegerValueOver(existing, ident, value); });
}

void TDocumentConfig::WriteString(const std::string& section, const std::string& ident, const std::string& value) {
  PutValue(section, MakeStringValue(ident, value));
}

void TDocumentConfig::ReadSection(const std::string& section, TStrings& names) {
  names.clear();
  const auto doc = ReadDocument(section);
  const std::string path = SectionKey(section);
  if (path.empty()) return;
  if (const TRegKey* key = doc->FindKey(path)) {
    for (const auto& v : key->Values) names.push_back(v.Name);
  }
}

void TDocumentConfig::ReadSections(TStrings& names) {
  names = ReadDocument(FKeyPath)->SubKeyNames(FFullPath);
}

void TDocumentConfig::EraseSection(const std::string& section) {
  const std::string path = SectionKey(section);
  if (path.empty()) return;
  ChangeDocument(FKeyPath, section, [path, section](TRegDocument& doc) {
    if (section.empty()) {
      // The top level is the store's own key: its values go, its sections stay.
      TRegKey* key = doc.FindKey(path);
      if (!key || key->Values.empty()) return false;
      key->Values.clear();
      return true;
    }
    if (!doc.KeyExists(path)) return false;
    doc.DeleteKey(path);
    return true;
  });
}

bool TDocumentConfig::ValueExists(const std::string& section, const std::string& ident) {
  return FindIn(*ReadDocument(ident), section, ident) != nullptr;
}

void TDocumentConfig::ReadStrings(const std::string& section, const std::string& ident, TStrings& target,
                                  const TStrings& def) {
  const std::string text = ReadString(section, ident, StringsText(def));
  SetStringsText(target, text);
}

void TDocumentConfig::WriteStrings(const std::string& section, const std::string& ident, const TStrings& source) {
  WriteString(section, ident, StringsText(source));
}

void TDocumentConfig::ReadBytes(const std::string& section, const std::string& ident, void* buffer, int32_t size,
                                const void* def) {
  const auto doc = ReadDocument(ident);
  ReadBytesValue(FindIn(*doc, section, ident), ident, buffer, size, def);
}

void TDocumentConfig::WriteBytes(const std::string& section, const std::string& ident, int32_t size,
                                 const void* buffer) {
  PutValue(section, MakeBinaryValue(ident, buffer, size > 0 ? static_cast<size_t>(size) : 0));
}

void TDocumentConfig::MergeStrings(const std::string& section, const std::string& ident, const TStrings& source,
                                   int32_t limit) {
  std::string path, shown;
  CheckWritable(section, ident, path, shown);
  // The stored lines are those in the store when the write is made, not when the list was read.
  ChangeDocument(shown, ident, [root = FFullPath, path, ident, source, limit](TRegDocument& doc) {
    doc.CreateKey(root);
    TRegKey& key = doc.CreateKey(path);
    TStrings stored;
    const TRegValue* old = key.FindValue(ident);
    if (old && IsStringType(old->Type)) SetStringsText(stored, old->Data);
    key.PutValue(MakeStringValue(ident, StringsText(MergeHistory(source, stored, limit))));
    return true;
  });
}

std::unique_ptr<IConfigBatch> TDocumentConfig::OpenBatch() { return std::make_unique<TDocumentBatch>(*this); }

// ---- TDocumentBatch ------------------------------------------------------------------------

TDocumentBatch::TDocumentBatch(TDocumentConfig& target) : TDocumentConfig(target.KeyPath()), FTarget(target) {}

std::shared_ptr<const TRegDocument> TDocumentBatch::ReadDocument(const std::string& what) {
  if (!FReading) FReading = FTarget.ReadDocument(what);
  return FReading;
}

void TDocumentBatch::ChangeDocument(const std::string& keyPath, const std::string& what, const TChange& change) {
  if (FReading) {
    auto next = std::make_shared<TRegDocument>(*FReading);
    if (change(*next)) FReading = std::move(next);
  }
  FChanges.push_back({keyPath, what, change});
}

void TDocumentBatch::Commit() {
  if (FChanges.empty()) return;
  std::vector<TKeptChange> changes = std::move(FChanges);
  FChanges.clear();
  FReading.reset();
  FTarget.ChangeDocument(changes.front().KeyPath, changes.front().What, [&changes](TRegDocument& doc) {
    bool changed = false;
    for (const TKeptChange& c : changes) changed = c.Change(doc) || changed;
    return changed;
  });
}

}  // namespace trawlex
