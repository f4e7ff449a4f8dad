#include "config/MemoryConfig.h"

namespace trawlex {

TMemoryConfig::TMemoryConfig(const std::string& keyPath)
    : TMemoryConfig(std::make_shared<TRegDocument>(), keyPath) {}

TMemoryConfig::TMemoryConfig(std::shared_ptr<TRegDocument> content, const std::string& keyPath)
    : TDocumentConfig(keyPath), FContent(std::move(content)) {}

IConfigPtr TMemoryConfig::OpenSubConfig(const std::string& name) {
  return std::make_shared<TMemoryConfig>(FContent, KeyPath() + "\\" + name);
}

std::shared_ptr<const TRegDocument> TMemoryConfig::ReadDocument(const std::string&) {
  return std::make_shared<const TRegDocument>(*FContent);  // a reading, unchanged by later writes
}

void TMemoryConfig::ChangeDocument(const std::string&, const std::string&, const TChange& change) {
  TRegDocument next = *FContent;  // a change that raises leaves the content as it was
  if (change(next)) {
    *FContent = std::move(next);
    ++FChanges;
  }
}

}  // namespace trawlex
