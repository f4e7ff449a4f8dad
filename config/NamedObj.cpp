#include "config/NamedObj.h"

#include "base/Errors.h"
#include "base/TextUtils.h"

namespace trawlex {

TNamedObjList::~TNamedObjList() {
  // Later items may refer to earlier ones; release in reverse order of creation.
  while (!FItems.empty()) FItems.pop_back();
}

std::string TNamedObjList::NormaliseName(const std::string& name) const { return TrimText(name); }

TNamedObj& TNamedObjList::GetItem(int32_t index) const {
  if (index < 0 || index >= Count()) throw ETrawlexError(Fmt("List index out of bounds (%d)", index));
  return *FItems[static_cast<size_t>(index)];
}

int32_t TNamedObjList::Add(std::unique_ptr<TNamedObj> item) {
  TRAWLEX_ASSERT(item != nullptr, "TNamedObjList::Add of no item");
  if (!IsItemClass(*item)) {
    throw ETrawlexError(Fmt("Item must be %s but is %s", ItemClassName(), item->ClassName()));
  }
  if (const TNamedObj* existing = Find(item->Name())) {
    throw ETrawlexError(Fmt("An item with the name \"%s\" already exists", existing->Name()));
  }
  item->FList = this;
  ValidateItem(*item);
  FItems.push_back(std::move(item));
  return Count() - 1;
}

TNamedObj* TNamedObjList::Find(const std::string& name) const {
  const std::string sought = NormaliseName(name);
  for (auto it = FItems.rbegin(); it != FItems.rend(); ++it) {
    if (CompareTextAscii(NormaliseName((*it)->Name()), sought) == 0) return it->get();
  }
  return nullptr;
}

std::unique_ptr<TNamedObj> TNamedObjList::Extract(TNamedObj& item) {
  for (auto it = FItems.begin(); it != FItems.end(); ++it) {
    if (it->get() == &item) {
      std::unique_ptr<TNamedObj> out = std::move(*it);
      FItems.erase(it);
      return out;
    }
  }
  return nullptr;
}

int32_t TNamedObjList::IndexOf(const TNamedObj& item) const {
  for (size_t i = 0; i < FItems.size(); ++i) {
    if (FItems[i].get() == &item) return static_cast<int32_t>(i);
  }
  return -1;
}

}  // namespace trawlex
