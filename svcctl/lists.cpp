#include "svcctl/lists.h"

// ---- TDesignList ----

TDesignList::~TDesignList() {
  if (!OwnsItems) return;
  for (TDesignItem* item : items_)
    delete item;
}

int TDesignList::Add(TDesignItem* item) {
  items_.push_back(item);
  return Count() - 1;
}

void TDesignList::Delete(int index) {
  TDesignItem* item = items_[static_cast<size_t>(index)];
  items_.erase(items_.begin() + index);
  if (OwnsItems) delete item;
}

void TDesignList::Clear() {
  std::vector<TDesignItem*> items;
  items.swap(items_);
  if (!OwnsItems) return;
  for (TDesignItem* item : items)
    delete item;
}

// ---- TObjectList ----

TObjectList::~TObjectList() {
  if (!OwnsObjects) return;
  for (rtl::TObject* item : items_)
    delete item;
}

void TObjectList::Insert(int index, rtl::TObject* item) {
  items_.insert(items_.begin() + index, item);
}

bool TObjectList::Find(const void* Key, TListCompare Compare, int& Index) const {
  // high reaches -1 in an empty list or below the first item: the bounds are signed, and only
  // the halving is done unsigned.
  int low = 0;
  int high = Count() - 1;
  bool found = false;
  while (low <= high) {
    const int middle =
        static_cast<int>((static_cast<unsigned>(low) + static_cast<unsigned>(high)) >> 1);
    const int c = Compare(items_[static_cast<size_t>(middle)], Key);
    if (c < 0) {
      low = middle + 1;
    } else {
      high = middle - 1;
      if (c == 0) {
        found = true;
        if (!Duplicates) low = middle;
      }
    }
  }
  Index = low;
  return found;
}

int TObjectList::AddSorted(rtl::TObject* item, TListCompare Compare) {
  int index = 0;
  Find(item, Compare, index);
  Insert(index, item);
  return index;
}

void TObjectList::Delete(int index) {
  rtl::TObject* item = items_[static_cast<size_t>(index)];
  items_.erase(items_.begin() + index);
  if (OwnsObjects) delete item;
}

void TObjectList::Clear() {
  std::vector<rtl::TObject*> items;
  items.swap(items_);
  if (!OwnsObjects) return;
  for (rtl::TObject* item : items)
    delete item;
}
