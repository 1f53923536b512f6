#include "svcctl/accesslist.h"

#include <algorithm>
#include <utility>

#include "svcctl/abstrsec.h"
#include "svcctl/ntexception.h"

namespace {

// The flags whose bit is the system's own, and the two that exchange places.
constexpr BYTE kSameBits = 0x01 | 0x02 | 0x10;  // object inherit, container, inherited
constexpr BYTE kInheritOnlyHere = 0x04, kInheritOnlySystem = 0x08;
constexpr BYTE kNoPropagateHere = 0x08, kNoPropagateSystem = 0x04;

}  // namespace

BYTE AceFlagsToByte(TAceFlags flags, TAceType type) {
  const BYTE bits = static_cast<BYTE>(flags.Bits());
  BYTE out = bits & kSameBits;
  if (bits & kInheritOnlyHere) out |= kInheritOnlySystem;
  if (bits & kNoPropagateHere) out |= kNoPropagateSystem;
  if (type == actAuditSuccess || type == actAuditFull) out |= SUCCESSFUL_ACCESS_ACE_FLAG;
  if (type == actAuditFailure || type == actAuditFull) out |= FAILED_ACCESS_ACE_FLAG;
  return out;
}

TAceFlags AceFlagsFromByte(BYTE flags) {
  uint32_t bits = flags & kSameBits;
  if (flags & kInheritOnlySystem) bits |= kInheritOnlyHere;
  if (flags & kNoPropagateSystem) bits |= kNoPropagateHere;
  return TAceFlags::FromBits(bits);
}

TAceType AceTypeOf(const ACE_HEADER& header) {
  switch (header.AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
      return actAccessAllowed;
    case ACCESS_DENIED_ACE_TYPE:
      return actAccessDenied;
    case SYSTEM_AUDIT_ACE_TYPE: {
      const bool success = header.AceFlags & SUCCESSFUL_ACCESS_ACE_FLAG;
      const bool failure = header.AceFlags & FAILED_ACCESS_ACE_FLAG;
      if (success && failure) return actAuditFull;
      if (success) return actAuditSuccess;
      if (failure) return actAuditFailure;
      return actAccessAllowed;
    }
    default:
      RaiseInvalidAceType();
  }
}

void RaiseInvalidAceType() {
  RaiseNTException("Invalid AceType parameter", -1);
}

// ---- TAccessItem ----

TAccessItem::TAccessItem(TAccessList* list, int position)
    : TDesignItem(list), list_(list), position_(position) {}

template <typename T>
void TAccessItem::Change(T& field, const T& value) {
  if (field == value) return;
  T old = std::move(field);
  field = value;
  try {
    list_->Changed();
  } catch (...) {
    field = std::move(old);
    throw;
  }
}

void TAccessItem::SetAceType(TAceType value) {
  Change(aceType_, value);
}
void TAccessItem::SetUserName(const std::string& value) {
  Change(userName_, value);
}
void TAccessItem::SetMask(uint32_t value) {
  Change(mask_, value);
}
void TAccessItem::SetFlags(TAceFlags value) {
  Change(flags_, value);
}

std::string TAccessItem::NamePath() const {
  return list_->NamePath() + "[" + std::to_string(position_) + "]";
}

// ---- TAccessList ----

TAccessList::TAccessList(TNTAbstractSecurity* security)
    : TDesignList(security), security_(security) {}

template <typename Undo>
void TAccessList::WriteOrUndo(Undo undo) {
  try {
    Changed();
  } catch (...) {
    undo();
    throw;
  }
}

TAccessItem* TAccessList::NewItem(const std::string& userName, uint32_t mask, TAceType aceType,
                                  TAceFlags flags, int position) {
  if (!Accepts(aceType)) RaiseInvalidAceType();
  auto* item = new TAccessItem(this, position);
  item->aceType_ = aceType;
  item->userName_ = userName;
  item->mask_ = mask;
  item->flags_ = flags;
  return item;
}

TAccessItem* TAccessList::Add(const std::string& userName, uint32_t mask, TAceType aceType,
                              TAceFlags flags) {
  TAccessItem* item = NewItem(userName, mask, aceType, flags, Count());
  items_.push_back(item);
  WriteOrUndo([&] {
    items_.pop_back();
    delete item;
  });
  return item;
}

void TAccessList::Delete(int index) {
  TDesignItem* item = items_[static_cast<size_t>(index)];
  items_.erase(items_.begin() + index);
  WriteOrUndo([&] { items_.insert(items_.begin() + index, item); });
  if (OwnsItems) delete item;
}

void TAccessList::Clear() {
  std::vector<TDesignItem*> items;
  items.swap(items_);
  WriteOrUndo([&] { items_.swap(items); });
  if (!OwnsItems) return;
  for (TDesignItem* item : items)
    delete item;
}

void TAccessList::ReplaceItems(std::vector<TAccessItem*> items) {
  std::vector<TDesignItem*> old(items.begin(), items.end());
  old.swap(items_);
  if (!OwnsItems) return;
  for (TDesignItem* item : old)
    delete item;
}

// ---- the two lists ----

TAccessList* TAccessControlList::Reload() {
  return Security()->AccessList();
}

void TAccessControlList::Changed() {
  if (!Loading) Security()->WriteAccessList(*this);
}

std::string TAccessControlList::NamePath() const {
  return Security()->Name + ".AccessList";
}

bool TAccessControlList::Accepts(TAceType type) const {
  return type == actAccessAllowed || type == actAccessDenied;
}

TAccessList* TAuditList::Reload() {
  return Security()->SystemAudit();
}

void TAuditList::Changed() {
  if (!Loading) Security()->WriteAuditList(*this);
}

std::string TAuditList::NamePath() const {
  return Security()->Name + ".SystemAudit";
}

bool TAuditList::Accepts(TAceType type) const {
  return type == actAuditSuccess || type == actAuditFailure || type == actAuditFull;
}
