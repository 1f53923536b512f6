// The owning lists and the version tests.
#include "svcctl/lists.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <vector>

#include "svcctl/osversion.h"
#include "tests/support/env.h"

namespace {

// An item that counts its destructions and carries a key.
struct Tracked : TDesignItem {
  Tracked(TDesignList* list, int* freed) : TDesignItem(list), freed_(freed) {}
  ~Tracked() override { ++*freed_; }
  int* freed_;
};

struct TestList : TDesignList {
  using TDesignList::TDesignList;
  void Refresh() override {}
};

struct Keyed : rtl::TObject {
  Keyed(int k, int* freed = nullptr) : key(k), freed_(freed) {}
  ~Keyed() override {
    if (freed_) ++*freed_;
  }
  int key;
  int* freed_;
};

int CompareKey(rtl::TObject* item, const void* key) {
  return static_cast<Keyed*>(item)->key - *static_cast<const int*>(key);
}
int CompareItems(rtl::TObject* item, const void* other) {
  return static_cast<Keyed*>(item)->key - static_cast<const Keyed*>(other)->key;
}

TEST(DesignList, OwningAndNotOwning) {
  int freed = 0;
  {
    TestList list(nullptr);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(list.Add(new Tracked(&list, &freed)), i);
    EXPECT_EQ(list.Items(2)->List(), &list);
    list.Delete(1);
    EXPECT_EQ(freed, 1);
    EXPECT_EQ(list.Count(), 3);
    list.Clear();
    EXPECT_EQ(freed, 4);
    EXPECT_EQ(list.Count(), 0);
    list.Add(new Tracked(&list, &freed));
  }
  EXPECT_EQ(freed, 5);  // destruction frees what is left

  Tracked kept(nullptr, &freed);
  {
    TestList list(nullptr);
    list.OwnsItems = false;
    list.Add(&kept);
    list.Add(&kept);
    list.Delete(0);
    list.Clear();
    list.Add(&kept);
  }
  EXPECT_EQ(freed, 5);
}

TEST(ObjectList, FindAndAddSorted) {
  TObjectList list;
  int index = -1;
  const int five = 5, one = 1, nine = 9;
  EXPECT_FALSE(list.Find(&five, CompareKey, index));
  EXPECT_EQ(index, 0);

  list.AddSorted(new Keyed(5), CompareItems);
  EXPECT_FALSE(list.Find(&one, CompareKey, index));
  EXPECT_EQ(index, 0);
  EXPECT_FALSE(list.Find(&nine, CompareKey, index));
  EXPECT_EQ(index, 1);
  EXPECT_TRUE(list.Find(&five, CompareKey, index));
  EXPECT_EQ(index, 0);

  for (int k : {3, 5, 7, 5, 1})
    list.AddSorted(new Keyed(k), CompareItems);
  std::vector<int> keys;
  for (int i = 0; i < list.Count(); ++i)
    keys.push_back(static_cast<Keyed*>(list.Items(i))->key);
  EXPECT_EQ(keys, (std::vector<int>{1, 3, 5, 5, 5, 7}));
  EXPECT_TRUE(list.Find(&five, CompareKey, index));
  EXPECT_EQ(index, 2);  // the first of the equal ones

  // An equal item goes before the ones already there.
  auto* newest = new Keyed(5);
  EXPECT_EQ(list.AddSorted(newest, CompareItems), 2);
  EXPECT_EQ(list.Items(2), newest);
}

TEST(ObjectList, OwningAndNotOwning) {
  int freed = 0;
  {
    TObjectList list;
    list.Insert(0, new Keyed(1, &freed));
    list.Insert(0, new Keyed(2, &freed));
    list.Insert(1, new Keyed(3, &freed));
    list.Delete(0);
    EXPECT_EQ(freed, 1);
    EXPECT_EQ(static_cast<Keyed*>(list.Items(0))->key, 3);
  }
  EXPECT_EQ(freed, 3);
  Keyed kept(1, &freed);
  {
    TObjectList list;
    list.OwnsObjects = false;
    list.Insert(0, &kept);
    list.Clear();
    list.Insert(0, &kept);
  }
  EXPECT_EQ(freed, 3);
}

TEST(OSVersion, TheThreeTests) {
  const struct {
    const char* version;
    bool nt, win2000OrLater, win2000Family;
  } rows[] = {
      {"2.5.1", true, true, true},     // XP
      {"2.6.0", true, true, false},    // Vista
      {"2.4.0", true, false, false},   // NT 4.0
      {"1.4.10", false, false, false}  // 98
  };
  for (const auto& r : rows) {
    testsupport::ScopedEnv env("KELVADON_WINVER", r.version);
    EXPECT_EQ(IsWinNT(), r.nt) << r.version;
    EXPECT_EQ(IsWin2000OrLater(), r.win2000OrLater) << r.version;
    EXPECT_EQ(IsWin2000Family(), r.win2000Family) << r.version;
  }
}

}  // namespace
