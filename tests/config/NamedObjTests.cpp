#include <gtest/gtest.h>

#include "base/Errors.h"
#include "config/NamedObj.h"

namespace trawlex {
namespace {

int Destroyed = 0;

class TCountedObj : public TNamedObj {
 public:
  using TNamedObj::TNamedObj;
  ~TCountedObj() override { ++Destroyed; }
  std::string ClassName() const override { return "TCountedObj"; }
};

class TChosenObj : public TCountedObj {
 public:
  using TCountedObj::TCountedObj;
  std::string ClassName() const override { return "TChosenObj"; }
};

// A list that takes only TChosenObj and refuses names beginning with "x".
class TChosenList : public TNamedObjList {
 public:
  std::string ItemClassName() const override { return "TChosenObj"; }
  bool IsItemClass(const TNamedObj& item) const override { return dynamic_cast<const TChosenObj*>(&item); }
  void ValidateItem(const TNamedObj& item) override {
    if (!item.Name().empty() && item.Name()[0] == 'x') throw ETrawlexError("refused");
  }
};

TEST(NamedObjList, NamesCollideRegardlessOfCaseAndSurroundingBlanks) {
  TNamedObjList list;
  list.CreateItem<TNamedObj>(" width\t");
  for (const char* name : {"Width", "WIDTH", "  width", "width "}) {
    try {
      list.CreateItem<TNamedObj>(name);
      FAIL() << name;
    } catch (const ETrawlexError& e) {
      EXPECT_STREQ("An item with the name \" width\t\" already exists", e.what());
    }
  }
  EXPECT_EQ(1, list.Count());
  // Inner blanks and non-letters still tell names apart.
  list.CreateItem<TNamedObj>("wid th");
  list.CreateItem<TNamedObj>("width2");
  EXPECT_EQ(3, list.Count());
}

TEST(NamedObjList, RefusedItemIsDestroyedExactlyOnceAndListUnchanged) {
  Destroyed = 0;
  {
    TChosenList list;
    list.CreateItem<TChosenObj>("a");
    EXPECT_THROW(list.CreateItem<TChosenObj>("A"), ETrawlexError);
    EXPECT_EQ(1, Destroyed);
    try {
      list.CreateItem<TCountedObj>("b");
      FAIL();
    } catch (const ETrawlexError& e) {
      EXPECT_STREQ("Item must be TChosenObj but is TCountedObj", e.what());
    }
    EXPECT_EQ(2, Destroyed);
    EXPECT_THROW(list.CreateItem<TChosenObj>("xyz"), ETrawlexError);  // the list's own check
    EXPECT_EQ(3, Destroyed);
    EXPECT_EQ(1, list.Count());
    EXPECT_EQ(nullptr, list.Find("xyz"));
  }
  EXPECT_EQ(4, Destroyed);  // the list destroyed the one item it held
}

TEST(NamedObjList, FindNormalisesAndReturnsNullWhenAbsent) {
  TNamedObjList empty;
  EXPECT_EQ(0, empty.Count());
  EXPECT_EQ(nullptr, empty.Find(""));
  EXPECT_EQ(nullptr, empty.Find("a"));

  TNamedObjList list;
  TNamedObj& blank = list.CreateItem<TNamedObj>("   ");
  TNamedObj& b = list.CreateItem<TNamedObj>("cbxTarget.Items");
  EXPECT_EQ(&blank, list.Find(""));
  EXPECT_EQ(&b, list.Find(" CBXTARGET.items "));
  EXPECT_EQ(nullptr, list.Find("cbxTarget"));
  EXPECT_EQ(&list, b.List());
  EXPECT_EQ(1, list.IndexOf(b));
}

TEST(NamedObjList, GetItemOutsideTheListRaises) {
  TNamedObjList list;
  list.CreateItem<TNamedObj>("a");
  EXPECT_EQ("a", list.GetItem(0).Name());
  for (int32_t bad : {-1, 1, 5}) {
    try {
      list.GetItem(bad);
      FAIL() << bad;
    } catch (const ETrawlexError& e) {
      EXPECT_EQ("List index out of bounds (" + std::to_string(bad) + ")", std::string(e.what()));
    }
  }
}

TEST(NamedObjList, ExtractedItemIsNotDestroyedByTheListAndItsNameIsFree) {
  Destroyed = 0;
  std::unique_ptr<TNamedObj> kept;
  {
    TNamedObjList list;
    TNamedObj& a = list.CreateItem<TCountedObj>("pos");
    kept = list.Extract(a);
    ASSERT_EQ(&a, kept.get());
    EXPECT_EQ(0, list.Count());
    EXPECT_EQ(nullptr, list.Extract(a));  // not in the list any more: nothing happens
    list.CreateItem<TCountedObj>("POS");
    EXPECT_EQ(1, list.Count());
  }
  EXPECT_EQ(1, Destroyed);
  kept.reset();
  EXPECT_EQ(2, Destroyed);
}

}  // namespace
}  // namespace trawlex
