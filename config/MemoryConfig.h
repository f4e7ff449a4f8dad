#pragma once
// A settings store held in memory: the same sections, names, types and rules as the file
// store, without a file. Stores opened from one another share the content, as stores on the
// same registry key do. Serves tests of the elements, and runs that must not touch the
// user's settings.
#include <memory>
#include <string>

#include "config/DocumentConfig.h"

namespace trawlex {

class TMemoryConfig : public TDocumentConfig {
 public:
  explicit TMemoryConfig(const std::string& keyPath = "Software\\vantorel\\Trawlex");
  TMemoryConfig(std::shared_ptr<TRegDocument> content, const std::string& keyPath);

  IConfigPtr OpenSubConfig(const std::string& name) override;
  // The shared content, for putting values of any type in place.
  TRegDocument& Content() { return *FContent; }
  // The number of changes kept so far (writes that changed nothing are not counted).
  int32_t ChangeCount() const { return FChanges; }

 protected:
  std::shared_ptr<const TRegDocument> ReadDocument(const std::string& what) override;
  void ChangeDocument(const std::string& keyPath, const std::string& what, const TChange& change) override;

 private:
  std::shared_ptr<TRegDocument> FContent;
  int32_t FChanges = 0;
};

}  // namespace trawlex
