// The library's owning lists. TDesignList holds TDesignItems in order (the failure actions of a
// service, the entries of an access list) and reloads them from their source through Refresh.
// TObjectList keeps objects sorted for a binary search (the SID store's entries), equal ones
// side by side. Both free their items when they own them. One thread at a time.
#pragma once

#include <vector>

#include "rtl/classes.h"

class TDesignList;

// An item of a TDesignList; List is the list it was made for.
class TDesignItem : public rtl::TObject {
 public:
  explicit TDesignItem(TDesignList* List) : list_(List) {}
  TDesignList* List() const { return list_; }

 private:
  TDesignList* list_;
};

class TDesignList : public rtl::TObject {
 public:
  explicit TDesignList(rtl::TObject* Owner) : owner_(Owner) {}
  // Frees the items when it owns them. Never throws.
  ~TDesignList() override;

  int Count() const { return static_cast<int>(items_.size()); }
  // Appends item; its index. The list takes ownership when OwnsItems.
  int Add(TDesignItem* item);
  // REQUIRES (for the indexed calls): 0 <= index < Count().
  TDesignItem* Items(int index) const { return items_[static_cast<size_t>(index)]; }
  rtl::TObject* Owner() const { return owner_; }

  // Removes the entry at index, freeing its item when owning and the entry is not empty.
  virtual void Delete(int index);
  // Frees every non-empty item when owning, then removes every entry.
  virtual void Clear();
  // Reloads the items from their source.
  virtual void Refresh() = 0;

  bool OwnsItems = true;

 protected:
  std::vector<TDesignItem*> items_;

 private:
  rtl::TObject* owner_;
};

// Compares an item of the list with a key: negative, zero or positive.
using TListCompare = int (*)(rtl::TObject* Item, const void* Key);

class TObjectList : public rtl::TObject {
 public:
  // The number is kept and not used.
  explicit TObjectList(int Capacity = 0) : capacity_(Capacity) {}
  // Frees the items when it owns them. Never throws.
  ~TObjectList() override;

  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES (for the indexed calls): 0 <= index < Count(); for Insert 0 <= index <= Count().
  rtl::TObject* Items(int index) const { return items_[static_cast<size_t>(index)]; }
  void Insert(int index, rtl::TObject* item);
  // Binary search for Key over the sorted items: true when an equal item is there. Index is the
  // first of the equal items, or where Key would be inserted.
  bool Find(const void* Key, TListCompare Compare, int& Index) const;
  // Inserts item where Find puts it (before an equal item); its index.
  int AddSorted(rtl::TObject* item, TListCompare Compare);
  virtual void Delete(int index);
  virtual void Clear();

  bool OwnsObjects = true;
  bool Duplicates = true;  // equal items are accepted (the mode the library uses)

 private:
  std::vector<rtl::TObject*> items_;
  int capacity_;
};
