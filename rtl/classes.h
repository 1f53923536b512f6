// The class-library basics the components stand on: a polymorphic object base, component
// ownership with free notification, an ordered string list with optional objects, and an owning
// collection of items. Objects here belong to one thread; none of them locks.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/set.h"

namespace rtl {

// Base of everything that can be stored as an object reference (string-list objects, owners).
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
};

enum class TOperation { opInsert, opRemove };

// What a component is going through: csLoading while its properties are being put in place
// (setters then only record their values, and Loaded acts on them), csDesigning while it is
// edited in a designer rather than run (it then acts on nothing outside itself).
enum class TComponentStateItem { csLoading, csDesigning };
using TComponentState = TSet<TComponentStateItem>;

}  // namespace rtl

// The plain event of the components: only the sender.
using TNotifyEvent = std::function<void(rtl::TObject* Sender)>;

namespace rtl {

// A component may have an owner; the owner frees the components it owns when it is destroyed,
// newest first. Components told about another one's destruction through FreeNotification get
// Notification(other, opRemove) before it goes, so they can drop their references to it.
class TComponent : public TObject {
 public:
  // The new component is inserted into owner's list when owner is not null; the owner then frees
  // it (unless it is deleted first, which removes it from the owner).
  explicit TComponent(TComponent* owner = nullptr);
  ~TComponent() override;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  // REQUIRES: 0 <= index < ComponentCount() (else EListError).
  TComponent* Components(int index) const;

  // Asks to be told (Notification(c, opRemove)) when c is destroyed. Mutual and idempotent; an
  // owner hears of an owned component's destruction once even when it asked as well.
  void FreeNotification(TComponent* c);
  void RemoveFreeNotification(TComponent* c);

  // Moves this component to another owner (null: no owner).
  void SetOwner(TComponent* owner);

  std::string Name;
  long Tag = 0;

  // Frees the owned components, newest first, and marks this one as being destroyed. The base
  // destructor does it too, but by then a derived class's members are gone: a derived class whose
  // components call back into it (events, notifications) calls this first in its own destructor.
  void DestroyComponents();

  // True once destruction has begun.
  bool Destroying() const { return destroying_; }

  TComponentState ComponentState() const { return state_; }
  // Marks this component and every component it owns (at any depth) as loading.
  void BeginLoading();
  // Ends the loading begun by BeginLoading: the owned components' Loaded first (depth first, in
  // the order they were added), then this one's. An exception from a Loaded passes on; the
  // components after it stay loading.
  void EndLoading();
  // Marks this component and every component it owns as designed (or no longer).
  void SetDesigning(bool designing);

 protected:
  // Called for components this one owns or asked to be notified about.
  virtual void Notification(TComponent* component, TOperation operation) {}
  // Runs once all properties are in place after loading. The base clears csLoading; an override
  // calls it first and then acts on the values its setters recorded.
  virtual void Loaded();

 private:
  void InsertComponent(TComponent* c);
  void RemoveComponent(TComponent* c);

  TComponent* owner_ = nullptr;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  bool destroying_ = false;
  TComponentState state_;
};

// Ordered strings, each with an optional object reference (not owned unless OwnsObjects).
// IndexOf compares with ASCII letters folded unless CaseSensitive is set.
class TStringList : public TObject {
 public:
  TStringList() = default;
  ~TStringList() override;

  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES for the indexed calls: 0 <= index < Count() (else EStringListError).
  const std::string& Strings(int index) const;
  void SetString(int index, std::string s);
  TObject* Objects(int index) const;
  void SetObject(int index, TObject* obj);
  const std::string& operator[](int index) const { return Strings(index); }

  int Add(std::string s) { return AddObject(std::move(s), nullptr); }
  int AddObject(std::string s, TObject* obj);
  // REQUIRES: 0 <= index <= Count().
  void Insert(int index, std::string s) { InsertObject(index, std::move(s), nullptr); }
  void InsertObject(int index, std::string s, TObject* obj);
  void Delete(int index);
  void Exchange(int a, int b);
  void Move(int from, int to);
  void Clear();
  // Copies other's strings and object references (the objects are shared, not copied: at most
  // one of the two lists may own them).
  void Assign(const TStringList& other);

  // Index of the first entry equal to s, or -1.
  int IndexOf(std::string_view s) const;
  int IndexOfObject(const TObject* obj) const;

  // The strings joined, each followed by CR LF; setting splits at CR LF, LF or CR.
  std::string Text() const;
  void SetText(std::string_view text);

  bool CaseSensitive = false;
  bool OwnsObjects = false;

 private:
  struct Item {
    std::string s;
    TObject* obj;
  };
  void CheckIndex(int index) const;
  std::vector<Item> items_;
};

class TCollection;

// An item of a TCollection; its Index is its position and can be set to move it.
class TCollectionItem : public TObject {
 public:
  explicit TCollectionItem(TCollection* collection) : collection_(collection) {}
  TCollection* Collection() const { return collection_; }
  int Index() const;
  void SetIndex(int index);

 protected:
  // Tells the collection this item changed.
  void Changed();

 private:
  TCollection* collection_;
};

// An ordered collection that owns its items. Add() makes a new item with the factory given at
// construction. Update(item) runs after each change (item null: the whole collection changed),
// unless BeginUpdate calls are open; EndUpdate of the last one calls Update(nullptr).
class TCollection : public TObject {
 public:
  using Factory = std::function<std::unique_ptr<TCollectionItem>(TCollection*)>;
  explicit TCollection(Factory factory) : factory_(std::move(factory)) {}
  ~TCollection() override;

  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count() (else EListError).
  TCollectionItem* Items(int index) const;
  TCollectionItem* Add();
  TCollectionItem* Insert(int index);
  void Delete(int index);
  void Clear();
  int IndexOf(const TCollectionItem* item) const;
  void Move(int from, int to);

  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

 protected:
  virtual void Update(TCollectionItem* item) {}

 private:
  friend class TCollectionItem;
  void Changed(TCollectionItem* item);
  void CheckIndex(int index) const;

  Factory factory_;
  std::vector<std::unique_ptr<TCollectionItem>> items_;
  int updateCount_ = 0;
};

}  // namespace rtl
