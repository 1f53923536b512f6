#include "rtl/classes.h"

#include <algorithm>

#include "rtl/cp932.h"
#include "rtl/exception.h"

namespace rtl {

// ---- TComponent ----

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

void TComponent::DestroyComponents() {
  destroying_ = true;
  // Each one removes itself from our list as it goes.
  while (!components_.empty())
    delete components_.back();
}

TComponent::~TComponent() {
  destroying_ = true;
  // Tell everyone who asked, then forget them (and make them forget us). The owner is told once,
  // when this component leaves it below, even if it asked as well.
  while (!freeNotifies_.empty()) {
    TComponent* c = freeNotifies_.back();
    freeNotifies_.pop_back();
    auto& theirs = c->freeNotifies_;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
    if (c != owner_) c->Notification(this, TOperation::opRemove);
  }
  DestroyComponents();
  if (owner_) owner_->RemoveComponent(this);
}

void TComponent::InsertComponent(TComponent* c) {
  components_.push_back(c);
  c->owner_ = this;
  Notification(c, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* c) {
  Notification(c, TOperation::opRemove);
  components_.erase(std::remove(components_.begin(), components_.end(), c), components_.end());
  c->owner_ = nullptr;
}

void TComponent::SetOwner(TComponent* owner) {
  if (owner == owner_) return;
  if (owner_) owner_->RemoveComponent(this);
  if (owner) owner->InsertComponent(this);
}

void TComponent::FreeNotification(TComponent* c) {
  if (!c || c == this) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), c) == freeNotifies_.end()) {
    freeNotifies_.push_back(c);
    c->freeNotifies_.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* c) {
  if (!c) return;
  freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), c),
                      freeNotifies_.end());
  c->freeNotifies_.erase(std::remove(c->freeNotifies_.begin(), c->freeNotifies_.end(), this),
                         c->freeNotifies_.end());
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  return components_[index];
}

void TComponent::BeginLoading() {
  state_.Include(TComponentStateItem::csLoading);
  for (TComponent* c : components_)
    c->BeginLoading();
}

void TComponent::EndLoading() {
  // A copy: a Loaded may add components (which are not loading).
  const std::vector<TComponent*> owned = components_;
  for (TComponent* c : owned)
    c->EndLoading();
  if (state_.Contains(TComponentStateItem::csLoading)) Loaded();
}

void TComponent::Loaded() {
  state_.Exclude(TComponentStateItem::csLoading);
}

void TComponent::SetDesigning(bool designing) {
  if (designing)
    state_.Include(TComponentStateItem::csDesigning);
  else
    state_.Exclude(TComponentStateItem::csDesigning);
  for (TComponent* c : components_)
    c->SetDesigning(designing);
}

// ---- TStringList ----

TStringList::~TStringList() {
  Clear();
}

void TStringList::CheckIndex(int index) const {
  if (index < 0 || index >= Count())
    throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
}

const std::string& TStringList::Strings(int index) const {
  CheckIndex(index);
  return items_[index].s;
}

void TStringList::SetString(int index, std::string s) {
  CheckIndex(index);
  items_[index].s = std::move(s);
}

TObject* TStringList::Objects(int index) const {
  CheckIndex(index);
  return items_[index].obj;
}

void TStringList::SetObject(int index, TObject* obj) {
  CheckIndex(index);
  items_[index].obj = obj;
}

int TStringList::AddObject(std::string s, TObject* obj) {
  items_.push_back({std::move(s), obj});
  return Count() - 1;
}

void TStringList::InsertObject(int index, std::string s, TObject* obj) {
  if (index < 0 || index > Count())
    throw EStringListError("List index out of bounds (" + std::to_string(index) + ")");
  items_.insert(items_.begin() + index, Item{std::move(s), obj});
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  TObject* obj = items_[index].obj;
  items_.erase(items_.begin() + index);
  if (OwnsObjects) delete obj;
}

void TStringList::Exchange(int a, int b) {
  CheckIndex(a);
  CheckIndex(b);
  std::swap(items_[a], items_[b]);
}

void TStringList::Move(int from, int to) {
  if (from == to) return;
  CheckIndex(from);
  CheckIndex(to);
  Item it = std::move(items_[from]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(it));
}

void TStringList::Clear() {
  std::vector<Item> old;
  old.swap(items_);
  if (OwnsObjects)
    for (auto& it : old)
      delete it.obj;
}

void TStringList::Assign(const TStringList& other) {
  if (&other == this) return;
  Clear();
  items_ = other.items_;
}

int TStringList::IndexOf(std::string_view s) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& x = items_[i].s;
    if (CaseSensitive ? x == s : SameText(x, s)) return i;
  }
  return -1;
}

int TStringList::IndexOfObject(const TObject* obj) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[i].obj == obj) return i;
  return -1;
}

std::string TStringList::Text() const {
  std::string r;
  for (auto& it : items_) {
    r += it.s;
    r += "\r\n";
  }
  return r;
}

void TStringList::SetText(std::string_view text) {
  Clear();
  size_t i = 0;
  while (i < text.size()) {
    size_t start = i;
    while (i < text.size() && text[i] != '\r' && text[i] != '\n')
      ++i;
    Add(std::string(text.substr(start, i - start)));
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') ++i;
  }
}

// ---- TCollection ----

int TCollectionItem::Index() const {
  return collection_ ? collection_->IndexOf(this) : -1;
}

void TCollectionItem::SetIndex(int index) {
  int cur = Index();
  if (cur >= 0 && cur != index) collection_->Move(cur, index);
}

void TCollectionItem::Changed() {
  if (collection_) collection_->Changed(this);
}

TCollection::~TCollection() {
  // Items go before the collection; nothing is notified while it is being destroyed.
  ++updateCount_;
  items_.clear();
}

void TCollection::CheckIndex(int index) const {
  if (index < 0 || index >= Count())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

TCollectionItem* TCollection::Items(int index) const {
  CheckIndex(index);
  return items_[index].get();
}

TCollectionItem* TCollection::Add() {
  return Insert(Count());
}

TCollectionItem* TCollection::Insert(int index) {
  if (index < 0 || index > Count())
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  auto item = factory_(this);
  TCollectionItem* p = item.get();
  items_.insert(items_.begin() + index, std::move(item));
  Changed(nullptr);
  return p;
}

void TCollection::Delete(int index) {
  CheckIndex(index);
  auto item = std::move(items_[index]);
  items_.erase(items_.begin() + index);
  item.reset();
  Changed(nullptr);
}

void TCollection::Clear() {
  if (items_.empty()) return;
  BeginUpdate();
  items_.clear();
  EndUpdate();
}

int TCollection::IndexOf(const TCollectionItem* item) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[i].get() == item) return i;
  return -1;
}

void TCollection::Move(int from, int to) {
  CheckIndex(from);
  CheckIndex(to);
  if (from == to) return;
  auto item = std::move(items_[from]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(item));
  Changed(nullptr);
}

void TCollection::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) Update(nullptr);
}

void TCollection::Changed(TCollectionItem* item) {
  if (updateCount_ == 0) Update(item);
}

}  // namespace rtl
