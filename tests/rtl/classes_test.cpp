#include "rtl/classes.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "rtl/exception.h"

namespace rtl {
namespace {

using Log = std::vector<std::string>;

// A component that writes its destruction and the notifications it gets into a shared log. It
// frees its own components first, as a derived owner must, so notifications still reach it.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::string name, Log& log) : TComponent(owner), log_(log) {
    Name = std::move(name);
  }
  ~Probe() override {
    DestroyComponents();
    log_.push_back("free " + Name);
  }

 protected:
  void Notification(TComponent* c, TOperation op) override {
    if (op == TOperation::opRemove) log_.push_back(Name + " sees " + c->Name + " go");
  }

 private:
  Log& log_;
};

TEST(Component, OwnerFreesWhatItOwnsNewestFirst) {
  Log log;
  auto* owner = new Probe(nullptr, "O", log);
  new Probe(owner, "A", log);
  new Probe(owner, "B", log);
  auto* c = new Probe(owner, "C", log);
  ASSERT_EQ(owner->ComponentCount(), 3);
  EXPECT_EQ(owner->Components(2), c);
  EXPECT_EQ(c->Owner(), owner);

  delete c;  // leaves its owner
  EXPECT_EQ(log, (Log{"free C", "O sees C go"}));
  EXPECT_EQ(owner->ComponentCount(), 2);

  log.clear();
  delete owner;
  EXPECT_EQ(log, (Log{"free B", "O sees B go", "free A", "O sees A go", "free O"}));
}

// A component that logs its Loaded with the states it sees there.
class Loader : public TComponent {
 public:
  Loader(TComponent* owner, std::string name, Log& log) : TComponent(owner), log_(log) {
    Name = std::move(name);
  }

 protected:
  void Loaded() override {
    TComponent::Loaded();
    const bool ownerLoading =
        Owner() && Owner()->ComponentState().Contains(TComponentStateItem::csLoading);
    log_.push_back(Name + (ownerLoading ? " loaded, owner loading" : " loaded"));
  }

 private:
  Log& log_;
};

TEST(Component, LoadingReachesOwnedComponentsAndEndsWithTheirLoadedFirst) {
  Log log;
  Loader root(nullptr, "R", log);
  auto* a = new Loader(&root, "A", log);
  new Loader(a, "A1", log);
  auto* b = new Loader(&root, "B", log);
  root.EndLoading();  // not loading: no Loaded
  EXPECT_TRUE(log.empty());

  root.BeginLoading();
  EXPECT_TRUE(b->ComponentState().Contains(TComponentStateItem::csLoading));
  root.EndLoading();
  EXPECT_EQ(log, (Log{"A1 loaded, owner loading", "A loaded, owner loading",
                      "B loaded, owner loading", "R loaded"}));
  EXPECT_TRUE(root.ComponentState().Empty());
  EXPECT_TRUE(a->Components(0)->ComponentState().Empty());

  root.SetDesigning(true);
  EXPECT_TRUE(a->Components(0)->ComponentState().Contains(TComponentStateItem::csDesigning));
  root.SetDesigning(false);
  EXPECT_TRUE(b->ComponentState().Empty());
}

TEST(Component, FreeNotificationReachesBothSidesOnce) {
  Log log;
  auto* a = new Probe(nullptr, "A", log);
  auto* b = new Probe(nullptr, "B", log);
  auto* c = new Probe(nullptr, "C", log);
  a->FreeNotification(b);
  a->FreeNotification(b);  // asking twice is one request
  b->FreeNotification(a);
  c->FreeNotification(a);
  c->RemoveFreeNotification(a);

  delete b;
  EXPECT_EQ(log, (Log{"free B", "A sees B go"}));
  log.clear();
  delete a;  // must not reach the freed B, nor C which withdrew
  EXPECT_EQ(log, (Log{"free A"}));
  delete c;
}

TEST(Component, SiblingsWatchingEachOtherFreeCleanly) {
  Log log;
  auto* owner = new Probe(nullptr, "O", log);
  auto* a = new Probe(owner, "A", log);
  auto* b = new Probe(owner, "B", log);
  a->FreeNotification(b);
  b->FreeNotification(owner);  // watching its own owner
  delete owner;
  // The owner hears of B once, although B also asked to be watched by it.
  EXPECT_EQ(log, (Log{"free B", "A sees B go", "O sees B go", "free A", "O sees A go", "free O"}));
}

TEST(Component, SetOwnerMovesOwnership) {
  Log log;
  auto* first = new Probe(nullptr, "First", log);
  auto* second = new Probe(nullptr, "Second", log);
  auto* a = new Probe(first, "A", log);
  auto* b = new Probe(first, "B", log);
  a->SetOwner(second);
  b->SetOwner(nullptr);
  EXPECT_EQ(a->Owner(), second);
  EXPECT_EQ(b->Owner(), nullptr);
  EXPECT_EQ(first->ComponentCount(), 0);
  EXPECT_EQ(second->ComponentCount(), 1);
  EXPECT_THROW(first->Components(0), EListError);

  log.clear();
  delete first;
  EXPECT_EQ(log, (Log{"free First"}));
  log.clear();
  delete second;
  EXPECT_EQ(log, (Log{"free A", "Second sees A go", "free Second"}));
  delete b;
}

// An object that counts the live instances, to see who frees what.
struct Counted : TObject {
  explicit Counted(int& live) : live_(live) { ++live_; }
  ~Counted() override { --live_; }
  int& live_;
};

// The list "abcd" (each string with its own object) after an operation, as strings and as the
// names of the objects in order ("." for none).
TEST(StringList, OperationsKeepObjectsWithTheirStrings) {
  struct Case {
    const char* what;
    std::function<void(TStringList&)> op;
    const char* strings;
    const char* objects;
  } cases[] = {
      {"insert first", [](TStringList& l) { l.Insert(0, "x"); }, "xabcd", ".abcd"},
      {"insert last", [](TStringList& l) { l.Insert(4, "x"); }, "abcdx", "abcd."},
      {"add", [](TStringList& l) { EXPECT_EQ(l.Add("x"), 4); }, "abcdx", "abcd."},
      {"delete first", [](TStringList& l) { l.Delete(0); }, "bcd", "bcd"},
      {"delete last", [](TStringList& l) { l.Delete(3); }, "abc", "abc"},
      {"exchange", [](TStringList& l) { l.Exchange(0, 3); }, "dbca", "dbca"},
      {"move forward", [](TStringList& l) { l.Move(0, 2); }, "bcad", "bcad"},
      {"move back", [](TStringList& l) { l.Move(3, 0); }, "dabc", "dabc"},
      {"move nowhere", [](TStringList& l) { l.Move(1, 1); }, "abcd", "abcd"},
      {"set string", [](TStringList& l) { l.SetString(1, "x"); }, "axcd", "abcd"},
      {"set object", [](TStringList& l) { l.SetObject(1, nullptr); }, "abcd", "a.cd"},
      {"clear", [](TStringList& l) { l.Clear(); }, "", ""},
  };
  std::map<char, TObject*> objects;
  std::vector<std::unique_ptr<TObject>> keep;
  for (char ch : std::string("abcd")) {
    keep.push_back(std::make_unique<TObject>());
    objects[ch] = keep.back().get();
  }
  for (const auto& c : cases) {
    TStringList list;
    for (char ch : std::string("abcd"))
      list.AddObject(std::string(1, ch), objects[ch]);
    c.op(list);
    std::string strings, objs;
    for (int i = 0; i < list.Count(); ++i) {
      strings += list[i];
      char name = '.';
      for (auto& [n, o] : objects)
        if (list.Objects(i) == o) name = n;
      objs += name;
    }
    EXPECT_EQ(strings, c.strings) << c.what;
    EXPECT_EQ(objs, c.objects) << c.what;
  }
}

TEST(StringList, IndexOutOfRangeThrows) {
  const std::function<void(TStringList&)> ops[] = {
      [](TStringList& l) { l.Strings(-1); },       [](TStringList& l) { l.Strings(2); },
      [](TStringList& l) { l.Objects(2); },        [](TStringList& l) { l.SetString(2, ""); },
      [](TStringList& l) { l.SetObject(-1, {}); }, [](TStringList& l) { l.Insert(3, ""); },
      [](TStringList& l) { l.Insert(-1, ""); },    [](TStringList& l) { l.Delete(2); },
      [](TStringList& l) { l.Exchange(0, 2); },    [](TStringList& l) { l.Move(2, 0); },
      [](TStringList& l) { l.Move(0, 2); },
  };
  for (size_t i = 0; i < std::size(ops); ++i) {
    TStringList list;
    list.Add("a");
    list.Add("b");
    try {
      ops[i](list);
      ADD_FAILURE() << "operation " << i << " did not throw";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.ClassName(), "EStringListError") << "operation " << i;
    }
    EXPECT_EQ(list.Text(), "a\r\nb\r\n") << "operation " << i << " changed the list";
  }
}

TEST(StringList, IndexOfFoldsAsciiOnly) {
  TStringList list;
  TObject marker;
  list.Add("Alpha");
  list.AddObject("\x83\x41x", &marker);  // アx
  list.Add("alpha");
  EXPECT_EQ(list.IndexOf("ALPHA"), 0);
  EXPECT_EQ(list.IndexOf("\x83\x41X"), 1);
  EXPECT_EQ(list.IndexOf("\x83\x61x"), -1);  // ヂx: differs from アx only in a trail byte
  EXPECT_EQ(list.IndexOf("Alph"), -1);
  EXPECT_EQ(list.IndexOfObject(&marker), 1);
  EXPECT_EQ(list.IndexOfObject(nullptr), 0);
  list.CaseSensitive = true;
  EXPECT_EQ(list.IndexOf("ALPHA"), -1);
  EXPECT_EQ(list.IndexOf("alpha"), 2);
}

TEST(StringList, OwnedObjectsAreFreedExactlyOnce) {
  int live = 0;
  {
    TStringList list;
    list.OwnsObjects = true;
    for (int i = 0; i < 4; ++i)
      list.AddObject("s", new Counted(live));
    list.Add("no object");
    list.Delete(0);
    EXPECT_EQ(live, 3);
    list.Exchange(0, 2);
    list.Move(0, 3);
    EXPECT_EQ(live, 3);
  }
  EXPECT_EQ(live, 0);

  TStringList list;
  list.OwnsObjects = true;
  list.AddObject("s", new Counted(live));
  list.Clear();
  EXPECT_EQ(live, 0);

  Counted kept(live);
  TStringList borrowing;
  borrowing.AddObject("s", &kept);
  borrowing.Delete(0);
  borrowing.AddObject("s", &kept);
  borrowing.Clear();
  EXPECT_EQ(live, 1);
}

TEST(StringList, AssignCopiesStringsAndObjects) {
  TObject o;
  TStringList a, b;
  a.AddObject("one", &o);
  a.Add("two");
  b.Add("old");
  b.Assign(a);
  a.SetString(0, "changed");
  a.Delete(1);
  ASSERT_EQ(b.Count(), 2);
  EXPECT_EQ(b[0], "one");
  EXPECT_EQ(b.Objects(0), &o);
  EXPECT_EQ(b[1], "two");
  b.Assign(b);
  EXPECT_EQ(b.Count(), 2);
}

TEST(StringList, TextSplitsAtAnyLineBreak) {
  struct Case {
    const char* text;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\rc", {"a", "b", "c"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"\r\n", {""}},
      {"a\n\rb", {"a", "", "b"}},
      {"\x83\x5C\r\n\x83\x41", {"\x83\x5C", "\x83\x41"}},
  };
  for (const auto& c : cases) {
    TStringList list;
    list.Add("stale");
    list.SetText(c.text);
    std::vector<std::string> got;
    std::string joined;
    for (int i = 0; i < list.Count(); ++i) {
      got.push_back(list[i]);
      joined += list[i] + "\r\n";
    }
    EXPECT_EQ(got, c.lines) << c.text;
    EXPECT_EQ(list.Text(), joined);
  }
}

// An item that counts the live items; Touch reports a change of its own.
class Item : public TCollectionItem {
 public:
  Item(TCollection* c, int& live) : TCollectionItem(c), live_(live) { ++live_; }
  ~Item() override { --live_; }
  void Touch() { Changed(); }
  int Value = 0;

 private:
  int& live_;
};

// A collection whose Update calls are logged: "all" for the whole, else the item's Value.
class ItemList : public TCollection {
 public:
  explicit ItemList(int& live)
      : TCollection([&live](TCollection* c) { return std::make_unique<Item>(c, live); }) {}
  Item* At(int i) const { return static_cast<Item*>(Items(i)); }
  std::string Order() const {
    std::string s;
    for (int i = 0; i < Count(); ++i)
      s += std::to_string(At(i)->Value);
    return s;
  }
  Log log;

 protected:
  void Update(TCollectionItem* item) override {
    log.push_back(item ? std::to_string(static_cast<Item*>(item)->Value) : "all");
  }
};

class CollectionTest : public ::testing::Test {
 protected:
  // Fills the collection with items valued 1, 2, 3 and forgets the updates that caused.
  void SetUp() override {
    for (int v = 1; v <= 3; ++v)
      static_cast<Item*>(items->Add())->Value = v;
    items->log.clear();
  }
  int live = 0;
  std::unique_ptr<ItemList> items = std::make_unique<ItemList>(live);
};

TEST_F(CollectionTest, ChangesAreReportedAndItemsOwned) {
  EXPECT_EQ(live, 3);
  auto* x = static_cast<Item*>(items->Insert(1));
  x->Value = 9;
  EXPECT_EQ(x->Collection(), items.get());
  EXPECT_EQ(x->Index(), 1);
  EXPECT_EQ(items->Order(), "1923");
  x->Touch();
  x->SetIndex(3);
  EXPECT_EQ(items->Order(), "1239");
  items->Delete(0);
  EXPECT_EQ(items->Order(), "239");
  EXPECT_EQ(live, 3);
  EXPECT_EQ(items->log, (Log{"all", "9", "all", "all"}));
  items.reset();
  EXPECT_EQ(live, 0);
}

TEST_F(CollectionTest, UpdatesWaitForTheLastEndUpdate) {
  items->BeginUpdate();
  items->BeginUpdate();
  items->Add();
  items->At(0)->Touch();
  items->Move(0, 2);
  items->EndUpdate();
  EXPECT_TRUE(items->log.empty());
  items->EndUpdate();
  items->EndUpdate();  // unbalanced: ignored
  EXPECT_EQ(items->log, (Log{"all"}));
  EXPECT_EQ(items->UpdateCount(), 0);
  items->Clear();
  EXPECT_EQ(live, 0);
  EXPECT_EQ(items->log, (Log{"all", "all"}));
}

TEST_F(CollectionTest, IndexOutOfRangeThrows) {
  const std::function<void(ItemList&)> ops[] = {
      [](ItemList& c) { c.Items(3); },           [](ItemList& c) { c.Items(-1); },
      [](ItemList& c) { c.Delete(3); },          [](ItemList& c) { c.Insert(4); },
      [](ItemList& c) { c.Move(0, 3); },         [](ItemList& c) { c.Move(-1, 0); },
      [](ItemList& c) { c.At(0)->SetIndex(5); },
  };
  for (size_t i = 0; i < std::size(ops); ++i) {
    EXPECT_THROW(ops[i](*items), EListError) << "operation " << i;
    EXPECT_EQ(items->Order(), "123") << "operation " << i;
  }
  EXPECT_EQ(live, 3);
}

}  // namespace
}  // namespace rtl
