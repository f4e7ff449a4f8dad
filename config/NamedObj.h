#pragma once
// Named objects and the owning list that keeps their names unique: the shape of the
// configuration framework, where an element's name is also its key in the settings store.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace trawlex {

class TNamedObjList;

// An object with a name that knows the list it was added to (not owned by it).
class TNamedObj {
 public:
  explicit TNamedObj(std::string name) : FName(std::move(name)) {}
  virtual ~TNamedObj() = default;
  TNamedObj(const TNamedObj&) = delete;
  TNamedObj& operator=(const TNamedObj&) = delete;

  // The name exactly as given at creation.
  const std::string& Name() const { return FName; }
  // The list the object was added to; it stays set after the object is extracted, so an
  // extracted element still reaches its list's store and section.
  TNamedObjList* List() const { return FList; }
  virtual std::string ClassName() const { return "TNamedObj"; }

 private:
  friend class TNamedObjList;
  std::string FName;
  TNamedObjList* FList = nullptr;
};

// An owning list of named objects: names are unique without regard to ASCII letter case and
// surrounding blanks, and every item is of the class the list fixes.
class TNamedObjList : public TNamedObj {
 public:
  TNamedObjList() : TNamedObj("") {}
  ~TNamedObjList() override;

  std::string ClassName() const override { return "TNamedObjList"; }

  // The class every item must be (directly or by derivation): its name and the check.
  virtual std::string ItemClassName() const { return "TNamedObj"; }
  virtual bool IsItemClass(const TNamedObj& item) const { return true; }
  // The form of a name used for comparisons: blanks and control characters trimmed.
  virtual std::string NormaliseName(const std::string& name) const;
  // Called after the built-in checks when an item is added; raise to refuse the item.
  virtual void ValidateItem(const TNamedObj& item) {}

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  // Raises "List index out of bounds (%d)" outside 0..Count-1.
  TNamedObj& GetItem(int32_t index) const;
  // Checks the item, takes it over and appends it; returns its index. A refused item is
  // destroyed and the error raised; the list is then unchanged.
  int32_t Add(std::unique_ptr<TNamedObj> item);
  // The most recently added item whose normalised name matches, or null.
  TNamedObj* Find(const std::string& name) const;
  // Takes the item out without destroying it; null (and no change) when it is not here.
  std::unique_ptr<TNamedObj> Extract(TNamedObj& item);
  int32_t IndexOf(const TNamedObj& item) const;

  // Creates an item of class T named `name` (further arguments go to T's constructor) and
  // adds it. A refused item never outlives the call.
  template <class T, class... A>
  T& CreateItem(std::string name, A&&... args) {
    auto item = std::make_unique<T>(std::move(name), std::forward<A>(args)...);
    T& ref = *item;
    Add(std::move(item));
    return ref;
  }

 private:
  std::vector<std::unique_ptr<TNamedObj>> FItems;
};

}  // namespace trawlex
